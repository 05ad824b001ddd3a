// The console's protocol pieces: client filters, status extraction; the
// broker launcher's choice and configuration; passwords from files.
#include "Console.h"
#include "MosquittoLauncher.h"
#include "ToolOptions.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tuple>

#ifndef ORLIN_WYLN_CONF_DIR
#define ORLIN_WYLN_CONF_DIR ""
#endif

using namespace console;

namespace {

TEST(ClientFilter, AppliesEveryCriterionOfAGetClientRequest)
{
    ClientRecord service{"wyln", 100, 1, "", ""};
    ClientRecord printer{"printer-01", 0, 1, "", ""};
    ClientRecord gone{"old", 0, 0, "", ""};
    struct Case
    {
        const char* filter;
        bool service, printer, gone;
    } cases[] = {
        {R"({})", true, true, true},
        {R"({"status":1,"type":[100]})", true, false, false},  // the library's start-up request
        {R"({"type":[]})", true, true, true},
        {R"({"status":-1})", true, true, true},
        {R"({"status":0})", false, false, true},
        {R"({"id":"printer-01"})", false, true, false},
        {R"({"id":""})", true, true, true},
        {R"({"name":"old"})", false, false, true},
        {R"({"type":[0,100],"status":1})", true, true, false},
    };
    for (const auto& c : cases) {
        const QJsonObject f = QJsonDocument::fromJson(c.filter).object();
        EXPECT_EQ(std::make_tuple(clientMatches(service, f), clientMatches(printer, f), clientMatches(gone, f)),
                  std::make_tuple(c.service, c.printer, c.gone))
            << c.filter;
    }
}

TEST(DeviceStatusOf, ReadsHeartbeatsAndBothReportForms)
{
    struct Case
    {
        const char* name;
        int msgType;
        const char* body;
        bool valid;
        int status, task, progress, done, total;
    } cases[] = {
        {"heartbeat printing", 3,
         R"({"device_status":2,"connect_status":1,"print_info":{"task_id":4,"progress":60,"print_done_copys":1,"total_print_copys":2}})",
         true, 2, 4, 60, 1, 2},
        {"heartbeat idle, empty print_info", 3, R"({"device_status":1,"print_info":{}})", true, 1, 0, 0, 0, 0},
        {"heartbeat without status", 3, R"({"message":"hi"})", false, 0, 0, 0, 0, 0},
        {"report as the library sends it", 2,
         R"({"func":"report","device_status":2,"data":{"print_info":{"task_id":9,"progress":100,"print_done_copys":3,"total_print_copys":3}}})",
         true, 2, 9, 100, 3, 3},
        {"report with device_doing", 2, R"({"func":"report","data":{"device_doing":5}})", true, 5, 0, 0, 0, 0},
        {"notification of another func", 2, R"({"func":"other","device_status":2})", false, 0, 0, 0, 0, 0},
        {"a request", 0, R"({"func":"report","device_status":2})", false, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const DeviceStatus s = statusOf(c.msgType, QJsonDocument::fromJson(c.body).object());
        EXPECT_EQ(s.valid, c.valid) << c.name;
        EXPECT_EQ(std::make_tuple(s.deviceStatus, s.taskId, s.progress, s.doneCopies, s.totalCopies),
                  std::make_tuple(c.status, c.task, c.progress, c.done, c.total))
            << c.name;
    }
}

TEST(MosquittoLauncherConfig, KeepsTheShippedRulesOnOneLoopbackListener)
{
    QFile f(QString(ORLIN_WYLN_CONF_DIR) + "/mosquitto.conf");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << f.fileName().toStdString();
    const QString conf = tools::loopbackMosquittoConfig(QString::fromUtf8(f.readAll()), "/tmp/x", 40123, false);
    const QStringList lines = conf.split('\n');
    EXPECT_FALSE(conf.contains("@CONFDIR@"));
    EXPECT_EQ(lines.filter(QRegularExpression("^listener ")), QStringList{"listener 40123 127.0.0.1"});
    // The TLS listener and its settings are gone; the shared rules stay.
    EXPECT_TRUE(lines.filter(QRegularExpression("^(cafile|certfile|keyfile|tls_version)")).isEmpty());
    for (const char* kept : {"allow_anonymous false", "password_file /tmp/x/passwd", "acl_file /tmp/x/wyln.acl",
                             "use_username_as_clientid true", "max_packet_size 16777216"})
        EXPECT_TRUE(lines.contains(kept)) << kept;
    EXPECT_FALSE(lines.contains("user root"));
    EXPECT_TRUE(tools::loopbackMosquittoConfig("", "/d", 1, true).startsWith("user root\n"));
}

TEST(BrokerChoice, TheEnvironmentsBrokerUnlessTheSetupNeedsItsOwn)
{
    const struct
    {
        const char *host, *port;  // the environment (nullptr: unset)
        bool needsOwn;
        bool shared, unavailable;
        const char* wantHost;
        int wantPort;  // 0: an own broker, not started yet
    } cases[] = {
        {nullptr, nullptr, false, false, false, "127.0.0.1", 0},
        {nullptr, nullptr, true, false, false, "127.0.0.1", 0},
        {"10.1.2.3", "1999", false, true, false, "10.1.2.3", 1999},
        {nullptr, "1999", false, true, false, "127.0.0.1", 1999},
        {"broker.test", nullptr, false, true, false, "broker.test", 1883},
        {"10.1.2.3", "1999", true, true, true, "10.1.2.3", 1999},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.host ? c.host : "-") + " " + (c.port ? c.port : "-") + (c.needsOwn ? " own" : ""));
        c.host ? qputenv(tools::kBrokerHostVariable, c.host) : qunsetenv(tools::kBrokerHostVariable);
        c.port ? qputenv(tools::kBrokerPortVariable, c.port) : qunsetenv(tools::kBrokerPortVariable);
        tools::BrokerSetup setup;
        setup.needsOwnBroker = c.needsOwn;
        const auto broker = tools::makeBroker(setup);
        EXPECT_EQ(broker->shared(), c.shared);
        EXPECT_EQ(!broker->unavailable().isEmpty(), c.unavailable);
        EXPECT_EQ(broker->host(), c.wantHost);
        EXPECT_EQ(broker->port(), c.wantPort);
        if (c.unavailable) {
            EXPECT_FALSE(broker->start(0));
        }
    }
    qunsetenv(tools::kBrokerHostVariable);
    qunsetenv(tools::kBrokerPortVariable);
}

TEST(PasswordFile, GivesItsFirstLineWithoutTheLineEnd)
{
    QTemporaryDir dir;
    const struct
    {
        QByteArray content, password;
    } cases[] = {{"s3cret\n", "s3cret"}, {"s3cret\r\nnext\n", "s3cret"}, {"s3cret", "s3cret"}, {"\n", ""}};
    for (const auto& c : cases) {
        QFile f(dir.filePath("pw"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.content);
        f.close();
        qunsetenv("ORLIN_TEST_PW");
        ASSERT_TRUE(tools::setCredentials(QString(), f.fileName(), "ORLIN_TEST_USER", "ORLIN_TEST_PW"));
        EXPECT_EQ(qgetenv("ORLIN_TEST_PW"), c.password) << c.content.constData();
    }
    EXPECT_FALSE(tools::setCredentials(QString(), dir.filePath("missing"), "ORLIN_TEST_USER", "ORLIN_TEST_PW"));
    EXPECT_EQ(qgetenv("ORLIN_TEST_PW"), QByteArray());
}

} // namespace
