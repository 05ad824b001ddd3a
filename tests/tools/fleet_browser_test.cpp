// orlin_fleet's page in headless Chromium, driven through chromedriver's
// WebDriver protocol: while the simulated printer prints, its card shows
// "printing" and a rising progress; a file sent to it appears among the
// transfers; a printer whose name and error text are markup shows them as
// text. A screenshot of the page is saved.
#include "FleetTestSupport.h"
#include "ToolProcess.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace fleet_test;

namespace {

const QString kMarkupName = R"(<img src=x onerror="document.title='owned'">)";
const QString kMarkupError = R"(<script>document.title='owned'</script><b>overheated</b> & "stop")";

// The few WebDriver commands the test needs.
class WebDriver
{
public:
    ~WebDriver()
    {
        if (!session_.empty() && http_)
            http_->Delete(("/session/" + session_).c_str());
        proc_.terminate();
        if (!proc_.waitForFinished(3000))
            proc_.kill();
        proc_.waitForFinished(1000);
    }

    bool start(const QString& profileDir)
    {
        const int port = tools::freeLoopbackPort();
        proc_.start("/usr/bin/chromedriver", {QString("--port=%1").arg(port)});
        if (!proc_.waitForStarted(5000) || !waitUntil([port] { return tools::portAccepts("127.0.0.1", port); }, 10000))
            return false;
        http_ = std::make_unique<httplib::Client>("127.0.0.1", port);
        http_->set_read_timeout(60, 0);
        const QJsonArray args{"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                              "--disable-background-networking", "--disable-component-update", "--disable-sync",
                              "--disable-dev-shm-usage", "--window-size=1200,900", "--user-data-dir=" + profileDir};
        const QJsonObject caps{{"capabilities",
                                QJsonObject{{"alwaysMatch",
                                             QJsonObject{{"browserName", "chrome"},
                                                         {"goog:chromeOptions",
                                                          QJsonObject{{"binary", "/usr/bin/chromium"}, {"args", args}}}}}}}};
        session_ = call("POST", "/session", caps).toObject().value("sessionId").toString().toStdString();
        return !session_.empty();
    }

    bool open(const QString& url) { return call("POST", path("/url"), QJsonObject{{"url", url}}).isNull(); }
    QJsonValue run(const QString& script) { return call("POST", path("/execute/sync"), QJsonObject{{"script", script}, {"args", QJsonArray()}}); }
    QByteArray screenshot() { return QByteArray::fromBase64(call("GET", path("/screenshot"), {}).toString().toLatin1()); }
    QString lastError() const { return error_; }

private:
    std::string path(const char* p) const { return "/session/" + session_ + p; }

    QJsonValue call(const char* method, const std::string& p, const QJsonObject& body)
    {
        const std::string text = QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString();
        auto r = std::string(method) == "GET" ? http_->Get(p.c_str()) : http_->Post(p.c_str(), text, "application/json");
        if (!r) {
            error_ = "no answer from chromedriver";
            return QJsonValue::Undefined;
        }
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object();
        if (r->status != 200)
            error_ = QString::fromStdString(r->body);
        return o.value("value");
    }

    QProcess proc_;
    std::unique_ptr<httplib::Client> http_;
    std::string session_;
    QString error_;
};

// The card of one printer, found by the text of its heading.
const char* const kCardScript = R"JS(
  const name = %1;
  for (const card of document.querySelectorAll('#cards article')) {
    if (card.querySelector('h3').textContent !== name) continue;
    return {state: card.querySelector('.state').textContent, progress: card.querySelector('progress').value,
            errors: Array.from(card.querySelectorAll('.errors li')).map(li => li.textContent),
            text: card.textContent};
  }
  return null;)JS";

QJsonObject card(WebDriver& wd, const QString& name)
{
    const QString quoted = QString::fromUtf8(QJsonDocument(QJsonArray{name}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
    return wd.run(QString(kCardScript).arg(quoted)).toObject();
}

TEST(FleetBrowser, CardShowsPrintingWithRisingProgressAndMarkupAsText)
{
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    auto broker = openBroker();
    FLEET_START_BROKER(broker);
    FleetProcess fleet;
    const int port = fleet.start(*broker, {"--monitor"});
    ASSERT_NE(port, 0) << fleet.errors().toStdString();

    // The simulated printer, with a print file already in its directory.
    const QString files = work.path() + "/files";
    QDir().mkpath(files);
    QFile job(files + "/job.prn");
    ASSERT_TRUE(job.open(QIODevice::WriteOnly) && job.write(QByteArray(4096, 'x')) == 4096);
    job.close();
    QProcess printer;
    printer.start(QString(ORLIN_TOOLS_DIR) + "/orlin_printer",
                  {"--host", broker->host(), "--port", QString::number(broker->port()), "--id", "printer-01", "--files-dir",
                   files, "--log", work.path() + "/printer.log", "--step-ms", "250", "--json"});
    tools::JsonLines printerEvents;
    ASSERT_TRUE(waitUntil([&] {
        printerEvents.feed(printer.readAllStandardOutput());
        return printerEvents.has("online");
    }, 10000));

    FakePrinter markup;
    ASSERT_TRUE(markup.start(*broker, kMarkupName));
    ASSERT_EQ(markup.report(QJsonObject{{"device_status", 1},
                                        {"data", QJsonObject{{"error_info", QJsonArray{errorEntry(7, kMarkupError)}}}}}),
              0);

    WebDriver wd;
    ASSERT_TRUE(wd.start(work.path() + "/profile")) << wd.lastError().toStdString();
    ASSERT_TRUE(wd.open(QString("http://127.0.0.1:%1/").arg(port))) << wd.lastError().toStdString();
    ASSERT_TRUE(waitUntil([&] { return !card(wd, "printer-01").isEmpty(); }, 10000)) << wd.lastError().toStdString();

    // Four copies of five steps of 250 ms: five seconds of printing.
    FakePrinter client;
    ASSERT_TRUE(client.start(*broker, "client-01"));
    tools::Inbound reply;
    ASSERT_TRUE(client.peer.request("printer-01", "print",
                                    QJsonObject{{"task_id", 1001}, {"type", 1}, {"file_path", "job.prn"}, {"print_scheme_id", 1},
                                                {"print_count", 4}, {"workstation_w", 600}, {"workstation_h", 400}},
                                    5000, reply));
    int first = -1, last = -1;
    waitUntil([&] {
        const QJsonObject c = card(wd, "printer-01");
        if (c.value("state").toString() != "printing")
            return false;
        const int progress = c.value("progress").toInt();
        if (first < 0)
            first = progress;
        last = progress;
        return last > first;
    }, 10000);
    EXPECT_GE(first, 0) << "the card never showed \"printing\"";
    EXPECT_GT(last, first);

    // A file sent from the client to the printer shows up as a transfer
    // (--monitor: the open test broker lets the fleet read every message).
    const QByteArray b64 = QByteArray(3000, 'y').toBase64();
    ASSERT_TRUE(client.peer.request("printer-01", "file_transfer",
                                    QJsonObject{{"file_name", "sent.prn"}, {"file_size", 3000}, {"chunk_size", b64.size()},
                                                {"md5", QString(QCryptographicHash::hash(b64, QCryptographicHash::Md5).toBase64())},
                                                {"total_chunks", 1}, {"chunk_index", 0}, {"data", QString(b64)}},
                                    5000, reply));
    EXPECT_EQ(reply.body.value("data").toObject().value("code").toInt(-1), 0);
    const char* const lastTransfer =
        "const r = document.querySelector('#transfers tbody tr');"
        "return r ? Array.from(r.cells).map(c => c.textContent).join('|') : ''";
    QString row;
    EXPECT_TRUE(waitUntil([&] { return (row = wd.run(lastTransfer).toString()).endsWith("|client-01|printer-01|sent.prn|3000 B|1 / 1|1 acknowledged"); }, 5000))
        << row.toStdString();

    // The markup printer's name and error are text, and nothing of them ran.
    const QJsonObject m = card(wd, kMarkupName);
    ASSERT_FALSE(m.isEmpty());
    EXPECT_EQ(m.value("errors").toArray(), QJsonArray{"7: " + kMarkupError});
    EXPECT_EQ(wd.run("return document.querySelectorAll('#cards img, #cards script, #cards b').length").toInt(-1), 0);
    EXPECT_NE(wd.run("return document.title").toString(), "owned");

    // A report reaches the card while the page stays open.
    QElapsedTimer sent;
    sent.start();
    ASSERT_EQ(markup.report(printing(77, 42)), 0);
    EXPECT_TRUE(waitUntil([&] { return card(wd, kMarkupName).value("progress").toInt() == 42; }, 5000));
    std::printf("report to card: %lld ms\n", static_cast<long long>(sent.elapsed()));

    const QByteArray png = wd.screenshot();
    EXPECT_TRUE(png.startsWith("\x89PNG"));
    QFile shot(ORLIN_FLEET_SCREENSHOT);
    EXPECT_TRUE(shot.open(QIODevice::WriteOnly) && shot.write(png) == png.size());
    std::printf("screenshot: %s\n", ORLIN_FLEET_SCREENSHOT);

    printer.terminate();
    printer.waitForFinished(5000);
}

} // namespace
