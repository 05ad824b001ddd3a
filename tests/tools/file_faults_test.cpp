// File transfers that meet faults, over a real broker with the real printer
// and console: the broker killed mid-transfer, the console killed and run
// again, duplicated, out-of-order and damaged chunks, a folder the printer
// cannot write. ORLIN_FILE_FAULTS_MIB sets the file size (default 48 MiB,
// eight chunks).
#include "BrokerLauncher.h"
#include "ChunkText.h"
#include "WylnPeer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#ifdef __linux__
#include <unistd.h>
#endif

namespace {

QString password(const QString& user)
{
    return user + "-faults-pw";
}

QProcessEnvironment envFor(const QString& user)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("WYLN_CONF");
    env.insert("WYLN_USERNAME", user);
    env.insert("WYLN_PASSWORD", password(user));
    return env;
}

QByteArray makeFile(qint64 size, quint64 seed)
{
    QByteArray b(static_cast<int>(size), Qt::Uninitialized);
    quint64 x = seed;
    for (int i = 0; i < b.size(); ++i) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        b[i] = static_cast<char>(x >> 56);
    }
    return b;
}

QString md5Hex(const QByteArray& b)
{
    return QString::fromLatin1(QCryptographicHash::hash(b, QCryptographicHash::Md5).toHex());
}

struct Env
{
    QTemporaryDir dir;
    std::unique_ptr<tools::BrokerLauncher> broker;
    QProcess printer;
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
        for (const char* u : {"printer-01", "console", "tester"})
            setup.users.push_back({u, password(u)});
        g->broker = tools::makeBroker(setup);
        if (!g->broker->unavailable().isEmpty())
            return;  // every test skips
        ASSERT_TRUE(g->broker->start()) << g->broker->errorText().toStdString();
        g->files = g->dir.path() + "/files";
        g->printer.setProcessEnvironment(envFor("printer-01"));
        g->printer.setProcessChannelMode(QProcess::MergedChannels);
        g->printer.start(QString(ORLIN_TOOLS_DIR) + "/orlin_printer",
                         {"--host", g->broker->host(), "--port", QString::number(g->broker->port()), "--id",
                          "printer-01", "--files-dir", g->files, "--log", g->dir.path() + "/printer.log"});
        ASSERT_TRUE(waitPrinter("online as", 10000));
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

    static QByteArray& printerOut()
    {
        static QByteArray out;
        g->printer.waitForReadyRead(0);
        out += g->printer.readAll();
        return out;
    }
    static bool waitPrinter(const QString& text, int ms)
    {
        QElapsedTimer t;
        t.start();
        while (!printerOut().contains(text.toUtf8()) && t.elapsed() < ms)
            g->printer.waitForReadyRead(100);
        return printerOut().contains(text.toUtf8());
    }

    qint64 fileSize() const
    {
        const int mib = qEnvironmentVariableIntValue("ORLIN_FILE_FAULTS_MIB");
        return mib > 0 ? qint64(mib) * 1048576 : 8LL * tools::kChunkBytes;
    }
    QString writeFile(const QString& name, const QByteArray& content)
    {
        const QString path = g->dir.path() + "/" + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
        return path;
    }

    // Runs send-file; `atHalf` runs once half the file is acknowledged.
    // Returns the exit code (-1: killed) and the JSON result.
    int sendFile(const QString& path, QJsonObject& result, const std::function<void(QProcess&)>& atHalf = {},
                 QString* errText = nullptr)
    {
        QProcess c;
        c.setProcessEnvironment(envFor("console"));
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
            printerOut();
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

    void expectReceived(const QString& name, const QByteArray& content, const QJsonObject& r)
    {
        EXPECT_TRUE(r.value("ok").toBool()) << QJsonDocument(r).toJson().constData();
        EXPECT_EQ(r.value("md5").toString(), md5Hex(content));
        EXPECT_TRUE(waitPrinter(QString("file received: %1/%2 size=%3 md5=%4")
                                    .arg(g->files, name)
                                    .arg(content.size())
                                    .arg(md5Hex(content)),
                                5000));
        QFile f(g->files + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_TRUE(f.readAll() == content);
    }
};

TEST_F(FileFaults, BrokerKilledMidTransferOnlyUnacknowledgedChunksTravelAgain)
{
    const QByteArray content = makeFile(fileSize(), 1);
    QJsonObject r;
    const int rc = sendFile(writeFile("broker.prn", content), r, [](QProcess&) {
        g->broker->kill();
        QThread::msleep(1000);
        ASSERT_TRUE(g->broker->start());
    });
    EXPECT_EQ(rc, 0);
    expectReceived("broker.prn", content, r);
    // At most the window (3) and the chunk being sent when the link went.
    EXPECT_LE(r.value("chunks_resent").toInt(), 4);
}

TEST_F(FileFaults, ConsoleKilledAndRunAgainCarriesOn)
{
    const QByteArray content = makeFile(fileSize(), 2);
    const QString path = writeFile("console.prn", content);
    QJsonObject r;
    EXPECT_EQ(sendFile(path, r, [](QProcess& c) { c.kill(); }), -1);
    QString err;
    EXPECT_EQ(sendFile(path, r, {}, &err), 0) << err.toStdString();
    expectReceived("console.prn", content, r);
    const int total = r.value("total_chunks").toInt();
    EXPECT_GE(r.value("chunks_held").toInt(), total / 2 - 1);  // half was acknowledged before the kill
    EXPECT_EQ(r.value("chunks_sent").toInt(), total - r.value("chunks_held").toInt());

    // Sent once more when complete: nothing travels.
    EXPECT_EQ(sendFile(path, r), 0);
    EXPECT_EQ(r.value("chunks_sent").toInt(), 0);
    EXPECT_EQ(r.value("chunks_held").toInt(), total);
}

TEST_F(FileFaults, DuplicatedOutOfOrderAndDamagedChunks)
{
    const qint64 size = 2LL * tools::kChunkBytes + 1000;
    const QByteArray content = makeFile(size, 3);
    tools::WylnPeer peer;
    std::mutex m;
    std::condition_variable cv;
    std::map<QString, int> codes;
    peer.setHandler([&](const tools::Inbound& in) {
        std::lock_guard<std::mutex> lock(m);
        codes[in.msgId] = in.body.value("data").toObject().value("code").toInt(-1);
        cv.notify_all();
    });
    qputenv("WYLN_USERNAME", "tester");
    qputenv("WYLN_PASSWORD", password("tester").toUtf8());
    ASSERT_EQ(peer.start(g->broker->host(), g->broker->port(), "tester"), 0) << peer.errorText().toStdString();

    const tools::ChunkWriter w("chunks.prn", size);
    auto header = [&] {
        tools::ChunkHeader h;
        h.msgId = tools::newMsgId();
        h.source = peer.id();
        h.target = "printer-01";
        return h;
    };
    auto ask = [&](const QByteArray& text) {
        const QString id = QString::fromLatin1(text.mid(text.indexOf("\"msg_id\":\"") + 10, 36));
        EXPECT_EQ(peer.sendTo("printer-01", text, 10000), 0);
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, std::chrono::seconds(20), [&] { return codes.count(id) > 0; }) ? codes[id] : -1;
    };
    auto chunk = [&](int i, int wrongDigestOf = -1) {
        QByteArray text;
        unsigned char d[tools::kDigestLen];
        const auto* bytes = reinterpret_cast<const unsigned char*>(content.constData());
        if (wrongDigestOf >= 0) {  // another chunk's digest on this chunk's text
            w.write(wrongDigestOf, bytes + qint64(wrongDigestOf) * tools::kChunkBytes,
                    tools::chunkBytes(size, wrongDigestOf), header(), text, d);
            const QByteArray other = "\"md5\":\"" + tools::digestText(d).toLatin1();
            w.write(i, bytes + qint64(i) * tools::kChunkBytes, tools::chunkBytes(size, i), header(), text, d);
            const int at = text.indexOf("\"md5\":\"");
            text.replace(at, other.size(), other);
            return text;
        }
        w.write(i, bytes + qint64(i) * tools::kChunkBytes, tools::chunkBytes(size, i), header(), text, d);
        return text;
    };
    auto query = [&](int i) {
        QByteArray text;
        unsigned char d[tools::kDigestLen];
        w.write(i, reinterpret_cast<const unsigned char*>(content.constData()) + qint64(i) * tools::kChunkBytes,
                tools::chunkBytes(size, i), header(), text, d);
        return w.query(i, d, header());
    };

    EXPECT_EQ(ask(w.query(tools::kWholeFile, nullptr, header())), tools::kNotHeld);
    EXPECT_EQ(ask(chunk(2)), tools::kHeld);                 // out of order
    EXPECT_EQ(ask(chunk(0)), tools::kHeld);
    EXPECT_EQ(ask(chunk(0)), tools::kHeld);                 // duplicated
    EXPECT_EQ(ask(chunk(1, 0)), tools::kRefused);           // wrong MD5: refused, never written
    EXPECT_EQ(ask(query(1)), tools::kNotHeld);
    EXPECT_EQ(ask(w.query(tools::kWholeFile, nullptr, header())), tools::kPartlyHeld);
    EXPECT_FALSE(QFile::exists(g->files + "/chunks.prn"));
    EXPECT_EQ(ask(chunk(1)), tools::kHeld);
    EXPECT_EQ(ask(w.query(tools::kWholeFile, nullptr, header())), tools::kHeld);
    QFile f(g->files + "/chunks.prn");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll() == content);
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
    const QByteArray content = makeFile(1000, 4);
    QJsonObject r;
    QString err;
    const int rc = sendFile(writeFile("readonly.prn", content), r, {}, &err);
    QProcess::execute("chattr", {"-i", g->files});
    QFile::setPermissions(g->files, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(err.contains("refused chunk 0 of 1 with code 3")) << err.toStdString();
    EXPECT_TRUE(waitPrinter("cannot store readonly.prn in " + g->files, 2000));
}
#endif

} // namespace
