// orlin_fleet's HTTP API over a real broker: JSON shapes, the event stream,
// a printer that goes offline, 100 printers, the access token, requests
// that are not HTTP, too long or too slow, and --monitor under the shipped
// access rules of each kind of broker.
#include "FleetTestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace fleet_test;

namespace {

class FleetApi : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FLEET_START_BROKER(broker);
        port = fleet.start(*broker, {"--read-timeout", "1", "--request-deadline", "500"});
        ASSERT_NE(port, 0) << fleet.errors().toStdString();
        http = std::make_unique<httplib::Client>("127.0.0.1", port);
    }

    std::unique_ptr<tools::BrokerLauncher> broker = openBroker();
    FleetProcess fleet;
    int port = 0;
    std::unique_ptr<httplib::Client> http;
};

// A peer-chosen name and an error text full of markup travel as plain JSON
// strings; the page shows them as text (see the browser test).
const QString kMarkupName = R"m(<img src=x onerror="alert(1)">&amp;'")m";
const QString kMarkupError = R"(</li><script>alert("e")</script><b>hot</b>)";

TEST_F(FleetApi, ShapesStreamAndOffline)
{
    // The stream, from before anything happened.
    std::atomic<bool> streaming{true};
    std::string stream;
    std::mutex streamMutex;
    std::thread reader([&] {
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(20, 0);
        c.Get("/api/events", [&](const char* data, size_t n) {
            std::lock_guard<std::mutex> lock(streamMutex);
            stream.append(data, n);
            return streaming.load();
        });
    });
    auto streamed = [&](const std::string& what) {
        std::lock_guard<std::mutex> lock(streamMutex);
        return stream.find(what) != std::string::npos;
    };

    ASSERT_TRUE(waitUntil([&] { return streamed("retry: 1000\n\n"); }, 5000));

    FakePrinter p;
    ASSERT_TRUE(p.start(*broker, kMarkupName));
    ASSERT_EQ(p.heartbeat(QJsonObject{{"device_status", 1}, {"connect_status", 1}}), 0);
    QJsonObject r = printing(7, 40);
    r["data"] = QJsonObject{{"print_info", r["data"].toObject()["print_info"]},
                            {"error_info", QJsonArray{errorEntry(9, kMarkupError)}}};
    ASSERT_EQ(p.report(r), 0);
    ASSERT_EQ(p.taskStatus(1001, 1), 0);

    QJsonObject f;
    ASSERT_TRUE(waitUntil([&] {
        f = getJson(*http, "/api/fleet");
        return f.value("task_updates").toArray().size() == 1;
    }, 5000)) << QJsonDocument(f).toJson().toStdString();
    const QStringList fleetKeys{"clients", "counters", "now_ms", "printers", "seq", "task_updates", "transfers"};
    EXPECT_EQ(f.keys(), fleetKeys);
    ASSERT_EQ(f.value("printers").toArray().size(), 1);
    const QJsonObject pr = f.value("printers").toArray()[0].toObject();
    const QStringList printerKeys{"auto_flash_status", "capacity", "connect_status", "device_status", "done_copies", "errors",
                                  "head_temp_status", "heartbeats", "id", "last_heartbeat_ms", "last_report_ms",
                                  "last_seen_ms", "online", "presence_known", "print_status", "printed_area", "progress",
                                  "remain_s", "reports", "span_s", "state", "task_id", "total_copies", "upgrade_process"};
    EXPECT_EQ(pr.keys(), printerKeys);
    EXPECT_EQ(pr.value("id").toString(), kMarkupName);
    EXPECT_EQ(pr.value("state").toString(), "printing");
    EXPECT_EQ(pr.value("progress").toInt(), 40);
    EXPECT_EQ(pr.value("errors").toArray()[0].toObject(), (QJsonObject{{"code", 9}, {"msg", kMarkupError}}));
    EXPECT_TRUE(pr.value("presence_known").toBool());
    EXPECT_EQ(f.value("task_updates").toArray()[0].toObject().value("id").toInt(), 1001);
    EXPECT_GE(f.value("counters").toObject().value("reports_in").toInt(), 1);

    // One printer, by its name percent-encoded in the path.
    int status = 0;
    const std::string path = "/api/printers/" + QUrl::toPercentEncoding(kMarkupName).toStdString();
    const QJsonObject one = getJson(*http, path, &status);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(one.keys(), (QStringList{"now_ms", "printer", "task_updates", "transfers"}));
    EXPECT_EQ(one.value("printer").toObject().value("id").toString(), kMarkupName);
    EXPECT_EQ(one.value("task_updates").toArray().size(), 1);

    // Unknown printers and paths, other methods.
    for (const char* unknown : {"/api/printers/nobody", "/nothing", "/api/fleet/x", "/api/printers/"}) {
        getJson(*http, unknown, &status);
        EXPECT_EQ(status, 404) << unknown;
    }
    auto post = http->Post("/api/fleet", "{}", "application/json");
    ASSERT_TRUE(post);
    EXPECT_NE(post->status, 200);
    auto page = http->Get("/");
    ASSERT_TRUE(page);
    EXPECT_NE(page->get_header_value("Content-Security-Policy").find("default-src 'none'"), std::string::npos);
    EXPECT_EQ(page->get_header_value("X-Content-Type-Options"), "nosniff");

    // The stream carried the report and the update as they came.
    EXPECT_TRUE(waitUntil([&] { return streamed("event: task_status\n") && streamed("\"progress\":40"); }, 2000));

    // A clean logout leaves "offline" on presence.
    p.peer.stop();
    EXPECT_TRUE(waitUntil([&] {
        const QJsonArray ps = getJson(*http, "/api/fleet").value("printers").toArray();
        return !ps.isEmpty() && ps[0].toObject().value("state").toString() == "offline";
    }, 5000));
    EXPECT_TRUE(waitUntil([&] { return streamed("\"state\":\"offline\""); }, 2000));
    streaming = false;
    fleet.stop();
    reader.join();
}

TEST_F(FleetApi, HundredPrinters)
{
    std::vector<std::unique_ptr<FakePrinter>> printers;
    for (int i = 0; i < 100; ++i) {
        printers.push_back(std::make_unique<FakePrinter>());
        ASSERT_TRUE(printers.back()->start(*broker, QString("p%1").arg(i, 3, 10, QLatin1Char('0'))));
    }
    for (int round = 1; round <= 3; ++round)
        for (auto& p : printers)
            ASSERT_EQ(p->report(printing(1, round * 10)), 0);
    QJsonArray ps;
    ASSERT_TRUE(waitUntil([&] {
        ps = getJson(*http, "/api/fleet").value("printers").toArray();
        return ps.size() == 100
               && std::all_of(ps.begin(), ps.end(), [](const QJsonValue& v) { return v.toObject().value("progress").toInt() == 30; });
    }, 10000)) << ps.size();
    EXPECT_EQ(ps[0].toObject().value("id").toString(), "p000");
    EXPECT_EQ(ps[99].toObject().value("reports").toInt(), 3);
}

// Sends raw bytes (at once, or one every trickleMs) and reads until the
// server closes; false when it is still open after waitMs, or when a trickle
// ran to its end without an answer.
bool closedAfter(int port, const std::string& bytes, int waitMs, std::string* reply, int trickleMs,
                 std::atomic<int>& connected)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0)
        return false;
    ++connected;
    timeval tv{waitMs / 1000, (waitMs % 1000) * 1000};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    size_t sent = 0;
    bool answered = false;
    while (sent < bytes.size() && !answered) {
        const ssize_t n = ::send(s, bytes.data() + sent, trickleMs ? 1 : bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;  // the server may close before it has read everything
        sent += static_cast<size_t>(n);
        pollfd p{s, POLLIN, 0};
        answered = trickleMs && poll(&p, 1, trickleMs) != 0;
    }
    if (trickleMs && !answered) {
        close(s);
        return false;
    }
    char buf[4096];
    bool closed = false;
    for (;;) {
        const ssize_t n = recv(s, buf, sizeof(buf), 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) {
            closed = true;
            break;
        }
        if (n < 0)
            break;
        if (reply)
            reply->append(buf, static_cast<size_t>(n));
    }
    close(s);
    return closed;
}

TEST_F(FleetApi, BadRequestsAreClosedAndTheServerGoesOn)
{
    const struct
    {
        const char* name;
        std::string bytes;
        const char* status;      // expected start of the reply, "" for none
        int trickleMs = 0;       // a byte every so often
        int clients = 1;         // at once
    } cases[] = {
        {"not HTTP", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11) + "\r\n\r\n", "HTTP/1.1 400"},
        {"garbage line", "hello there\r\n\r\n", "HTTP/1.1 400"},
        {"request line too long", "GET /" + std::string(100000, 'a') + " HTTP/1.1\r\n\r\n", "HTTP/1.1 414"},
        {"header too long", "GET / HTTP/1.1\r\nX: " + std::string(100000, 'b') + "\r\n\r\n", ""},
        {"too slow: stops in the middle", "GET /api/fleet HTTP/1.1\r\nHost: x\r\n", ""},
        {"too slow: a byte every 100 ms", "GET /api/fleet HTTP/1.1\r\nX: " + std::string(60, 'c'), "", 100},
        {"more trickling clients than threads", "GET / HTTP/1.1\r\nX: " + std::string(60, 'c'), "", 100, 30},
    };
    // Each is closed by the request deadline (500 ms), the read timeout (1 s)
    // or, beyond 8 from one address, by the next, and meanwhile the API
    // answers.
    http->set_read_timeout(3, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<int> connected{0};
        std::vector<std::string> replies(c.clients);
        std::vector<char> closed(c.clients);
        std::vector<std::thread> clients;
        for (int i = 0; i < c.clients; ++i)
            clients.emplace_back([&, i] { closed[i] = closedAfter(port, c.bytes, 4000, &replies[i], c.trickleMs, connected); });
        EXPECT_TRUE(waitUntil([&] { return connected == c.clients; }, 5000));
        int status = 0;
        getJson(*http, "/api/fleet", &status);
        EXPECT_EQ(status, 200);
        for (int i = 0; i < c.clients; ++i) {
            clients[i].join();
            EXPECT_TRUE(closed[i]);
            EXPECT_EQ(replies[i].compare(0, strlen(c.status), c.status), 0) << replies[i].substr(0, 40);
        }
    }
}

TEST(FleetToken, RequiredWhenSet)
{
    std::unique_ptr<tools::BrokerLauncher> broker = openBroker();
    FLEET_START_BROKER(broker);
    QTemporaryDir dir;
    QFile token(dir.filePath("token"));
    ASSERT_TRUE(token.open(QIODevice::WriteOnly) && token.write("s3cret\n") == 7);
    token.close();
    FleetProcess fleet;
    const int port = fleet.start(*broker, {"--token-file", token.fileName()});
    ASSERT_NE(port, 0);
    httplib::Client c("127.0.0.1", port);
    const struct
    {
        const char* path;
        httplib::Headers headers;
        int status;
    } cases[] = {
        {"/api/fleet", {}, 401},
        {"/", {}, 401},
        {"/api/fleet", {{"Authorization", "Bearer wrong"}}, 401},
        {"/api/fleet", {{"Authorization", "Bearer s3cret"}}, 200},
        {"/api/fleet?token=s3cret", {}, 200},
        {"/api/fleet", {{"Cookie", "a=b; orlin_fleet_token=s3cret"}}, 200},
    };
    for (const auto& k : cases) {
        auto r = c.Get(k.path, k.headers);
        ASSERT_TRUE(r) << k.path;
        EXPECT_EQ(r->status, k.status) << k.path;
    }
    auto r = c.Get("/?token=s3cret");
    ASSERT_TRUE(r);
    EXPECT_NE(r->get_header_value("Set-Cookie").find("orlin_fleet_token=s3cret"), std::string::npos);
}

// --monitor with the shipped configuration: a chunk from one peer to another
// reaches the fleet whose presence user is fleet-monitor, and not the fleet
// of an ordinary user (ejabberd refuses that subscription and the fleet says
// so; mosquitto grants it and delivers nothing).
class FleetMonitor : public ::testing::TestWithParam<tools::BrokerKind>
{
};

TEST_P(FleetMonitor, OnlyTheMonitorUserSeesOtherPeersTransfers)
{
    tools::BrokerSetup setup;
    setup.kind = GetParam();
    setup.shippedConfDir = ORLIN_WYLN_CONF_DIR;
    setup.users = {{"wyln", "w-pass"}, {"fleet-monitor", "m-pass"}, {"console", "c-pass"}, {"printer-a", "p-pass"},
                   {"eve", "e-pass"}};
    setup.needsOwnBroker = true;
    std::unique_ptr<tools::BrokerLauncher> broker = tools::makeBroker(setup);
    FLEET_START_BROKER(broker);
    auto login = [&](tools::WylnPeer& p, const char* user, const char* password) {
        qputenv("WYLN_USERNAME", user);
        qputenv("WYLN_PASSWORD", password);
        const int rc = p.start(broker->host(), broker->port(), user);
        qunsetenv("WYLN_USERNAME");
        qunsetenv("WYLN_PASSWORD");
        return rc;
    };
    tools::WylnPeer console, printer;
    ASSERT_EQ(login(console, "console", "c-pass"), 0);
    ASSERT_EQ(login(printer, "printer-a", "p-pass"), 0);
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("WYLN_USERNAME", "wyln");
    env.insert("WYLN_PASSWORD", "w-pass");

    const struct
    {
        const char* user;
        const char* password;
        bool sees;
    } rows[] = {{"fleet-monitor", "m-pass", true}, {"eve", "e-pass", false}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.user);
        QFile pw(dir.filePath(r.user));
        ASSERT_TRUE(pw.open(QIODevice::WriteOnly) && pw.write(r.password) > 0);
        pw.close();
        FleetProcess fleet;
        fleet.process().setProcessEnvironment(env);
        const int port = fleet.start(*broker, {"--monitor", "--presence-user", r.user, "--presence-password-file", pw.fileName()});
        ASSERT_NE(port, 0) << fleet.errors().toStdString();
        httplib::Client http("127.0.0.1", port);
        // Presence is subscribed after the messages: once printer-a is seen,
        // the broker has answered both.
        ASSERT_TRUE(waitUntil([&] {
            return getJson(http, "/api/fleet").value("clients").toArray().contains(QJsonObject{{"id", "printer-a"}, {"online", true}});
        }, 5000));
        ASSERT_EQ(console.sendTo("printer-a", tools::buildMessage("file_transfer",
                                                                  QJsonObject{{"file_name", "job.prn"}, {"file_size", 3},
                                                                              {"total_chunks", 1}, {"chunk_index", 0},
                                                                              {"data", "eHl6"}},
                                                                  0, "console", "printer-a")),
                  0);
        QJsonArray transfers;
        waitUntil([&] { return !(transfers = getJson(http, "/api/fleet").value("transfers").toArray()).isEmpty(); },
                  r.sees ? 5000 : 1000);
        if (r.sees) {
            ASSERT_EQ(transfers.size(), 1);
            EXPECT_EQ(transfers[0].toObject().value("from").toString() + ">" + transfers[0].toObject().value("to").toString(),
                      "console>printer-a");
        } else {
            EXPECT_TRUE(transfers.isEmpty());
        }
        const bool refusal = !r.sees && GetParam() == tools::BrokerKind::Ejabberd;
        EXPECT_EQ(fleet.errors().contains("refused the presence connection's subscription to p2p/+/+"), refusal)
            << fleet.errors().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(, FleetMonitor, ::testing::Values(tools::BrokerKind::Mosquitto, tools::BrokerKind::Ejabberd),
                         [](const ::testing::TestParamInfo<tools::BrokerKind>& k) {
                             return k.param == tools::BrokerKind::Mosquitto ? "Mosquitto" : "Ejabberd";
                         });

} // namespace
