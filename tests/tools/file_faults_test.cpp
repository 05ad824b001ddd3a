// File transfers that meet faults, over a real broker with the real printer
// and console: the broker killed mid-transfer, the console killed and run
// again, a folder the printer cannot write (chunks out of order, twice or
// damaged: the receiver's and the library's own tests). The printer's events
// are read from its --json lines. ORLIN_FILE_FAULTS_MIB sets the file size
// (default 48 MiB, eight chunks).
#include "BrokerLauncher.h"
#include "ChunkText.h"
#include "ToolProcess.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#ifdef __linux__
#include <unistd.h>
#endif

namespace {

QString password(const QString& user)
{
    return user + "-faults-pw";
}

struct Env
{
    QTemporaryDir dir;
    std::unique_ptr<tools::BrokerLauncher> broker;
    QProcess printer;
    tools::JsonLines printerEvents;  // the printer runs with --json
    QString files;
};
Env* g = nullptr;

class FileFaults : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        g = new Env;
        tools::BrokerSetup setup;
        setup.shippedConfDir = ORLIN_WYLN_CONF_DIR;
        setup.needsOwnBroker = true;  // killed and restarted
        for (const char* u : {"printer-01", "console"})
            setup.users.push_back({u, password(u)});
        g->broker = tools::makeBroker(setup);
        if (!g->broker->unavailable().isEmpty())
            return;  // every test skips
        ASSERT_TRUE(g->broker->start()) << g->broker->errorText().toStdString();
        g->files = g->dir.path() + "/files";
        g->printer.setProcessEnvironment(tools::accountEnvironment("printer-01", password("printer-01")));
        g->printer.setProcessChannelMode(QProcess::MergedChannels);
        g->printer.start(QString(ORLIN_TOOLS_DIR) + "/orlin_printer",
                         {"--host", g->broker->host(), "--port", QString::number(g->broker->port()), "--id",
                          "printer-01", "--files-dir", g->files, "--log", g->dir.path() + "/printer.log", "--json"});
        ASSERT_TRUE(waitPrinter("online", {}, 10000));
    }
    void SetUp() override
    {
        if (!g->broker->unavailable().isEmpty())
            GTEST_SKIP() << g->broker->unavailable().toStdString();
    }
    static void TearDownTestSuite()
    {
        g->printer.terminate();
        g->printer.waitForFinished(5000);
        g->broker->stop();
        delete g;
        g = nullptr;
    }

    static void readPrinter()
    {
        g->printer.waitForReadyRead(0);
        g->printerEvents.feed(g->printer.readAll());
    }
    // Waits for a printer event named `event` with these members.
    static bool waitPrinter(const QString& event, const QJsonObject& fields, int ms)
    {
        QElapsedTimer t;
        t.start();
        for (readPrinter(); !g->printerEvents.has(event, fields) && t.elapsed() < ms; readPrinter())
            g->printer.waitForReadyRead(100);
        return g->printerEvents.has(event, fields);
    }

    qint64 fileSize() const
    {
        const int mib = qEnvironmentVariableIntValue("ORLIN_FILE_FAULTS_MIB");
        return mib > 0 ? qint64(mib) * 1048576 : 8LL * tools::kChunkBytes;
    }
    // A file of `size` pseudo-random bytes in the test's folder; md5 gets
    // its MD5 in hex.
    QString writeFile(const QString& name, qint64 size, QString& md5)
    {
        const QString path = g->dir.path() + "/" + name;
        EXPECT_TRUE(tools::writeRandomFile(path, size, qHash(name), md5));
        return path;
    }

    // Runs send-file; `atHalf` runs once half the file is acknowledged.
    // Returns the exit code (-1: killed) and the JSON result.
    int sendFile(const QString& path, QJsonObject& result, const std::function<void(QProcess&)>& atHalf = {},
                 QString* errText = nullptr)
    {
        QProcess c;
        c.setProcessEnvironment(tools::accountEnvironment("console", password("console")));
        c.start(QString(ORLIN_TOOLS_DIR) + "/orlin_console",
                {"send-file", "printer-01", path, "--host", g->broker->host(), "--port",
                 QString::number(g->broker->port()), "--json", "--timeout", "2000", "--window", "3"});
        QByteArray err;
        bool fired = !atHalf;
        const QRegularExpression percent("\\]\\s+(\\d+)%");
        QElapsedTimer t;
        t.start();
        while (c.state() != QProcess::NotRunning && t.elapsed() < 240000) {
            c.waitForFinished(20);
            err += c.readAllStandardError();
            readPrinter();
            if (fired)
                continue;
            int last = 0;
            for (auto it = percent.globalMatch(QString::fromUtf8(err)); it.hasNext();)
                last = it.next().captured(1).toInt();
            if (last >= 50 && last < 100) {
                fired = true;
                atHalf(c);
            }
        }
        EXPECT_TRUE(fired) << "never saw half of the file acknowledged";
        err += c.readAllStandardError();
        if (errText)
            *errText = QString::fromUtf8(err);
        result = QJsonDocument::fromJson(c.readAllStandardOutput().trimmed().split('\n').last()).object();
        return c.exitStatus() == QProcess::NormalExit ? c.exitCode() : -1;
    }

    void expectReceived(const QString& name, qint64 size, const QString& md5, const QJsonObject& r)
    {
        EXPECT_TRUE(r.value("ok").toBool()) << QJsonDocument(r).toJson().constData();
        EXPECT_EQ(r.value("md5").toString(), md5);
        const QString path = g->files + "/" + name;
        EXPECT_TRUE(waitPrinter("file_received", {{"path", path}, {"size", size}, {"md5", md5}}, 5000));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Md5).toHex(), md5.toLatin1());
    }
};

TEST_F(FileFaults, BrokerKilledMidTransferOnlyUnacknowledgedChunksTravelAgain)
{
    QString md5;
    const QString path = writeFile("broker.prn", fileSize(), md5);
    QJsonObject r;
    const int rc = sendFile(path, r, [](QProcess&) {
        g->broker->kill();
        QThread::msleep(1000);
        ASSERT_TRUE(g->broker->start());
    });
    EXPECT_EQ(rc, 0);
    expectReceived("broker.prn", fileSize(), md5, r);
    // At most the window (3) and the chunk being sent when the link went.
    EXPECT_LE(r.value("chunks_resent").toInt(), 4);
}

TEST_F(FileFaults, ConsoleKilledAndRunAgainCarriesOn)
{
    QString md5;
    const QString path = writeFile("console.prn", fileSize(), md5);
    QJsonObject r;
    EXPECT_EQ(sendFile(path, r, [](QProcess& c) { c.kill(); }), -1);
    QString err;
    EXPECT_EQ(sendFile(path, r, {}, &err), 0) << err.toStdString();
    expectReceived("console.prn", fileSize(), md5, r);
    const int total = r.value("total_chunks").toInt();
    EXPECT_GE(r.value("chunks_held").toInt(), total / 2 - 1);  // half was acknowledged before the kill
    EXPECT_EQ(r.value("chunks_sent").toInt(), total - r.value("chunks_held").toInt());

    // Sent once more when complete: nothing travels.
    EXPECT_EQ(sendFile(path, r), 0);
    EXPECT_EQ(r.value("chunks_sent").toInt(), 0);
    EXPECT_EQ(r.value("chunks_held").toInt(), total);
}

#ifdef __linux__
TEST_F(FileFaults, ReadOnlyFolderFailsWithAClearMessage)
{
    // Root writes through permission bits; the immutable attribute stops it.
    if (QProcess::execute("chattr", {"+i", g->files}) != 0) {
        if (geteuid() == 0)
            GTEST_SKIP() << "chattr +i is not available and root ignores permission bits";
        QFile::setPermissions(g->files, QFile::ReadOwner | QFile::ExeOwner);
    }
    QString md5, err;
    const QString path = writeFile("readonly.prn", 1000, md5);
    QJsonObject r;
    const int rc = sendFile(path, r, {}, &err);
    QProcess::execute("chattr", {"-i", g->files});
    QFile::setPermissions(g->files, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(err.contains("refused chunk 0 of 1 with code 3")) << err.toStdString();
    ASSERT_TRUE(waitPrinter("file_error", {{"file_name", "readonly.prn"}}, 2000));
    for (const QJsonObject& e : g->printerEvents.events()) {
        if (e.value("event") == "file_error") {
            EXPECT_TRUE(e.value("text").toString().startsWith("cannot store readonly.prn in " + g->files))
                << QJsonDocument(e).toJson().constData();
        }
    }
}
#endif

} // namespace
