// The whole system over a real broker: the demo's job, with every reply
// checked by the scenario, then the received file compared byte for byte.
// AcrossNodes: the whole job across two broker nodes: the printer on the
// first node, the service and the consoles on the second one, for a two-node
// ejabberd cluster and for a mosquitto bridge pair. Then the printer's node
// dies: the printer's plug-in moves to the other node under the same
// identifier, the printer answers again within 10 s, and a file sent after
// that arrives.
#include "ScenarioTestSupport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

QByteArray md5Of(const QString& path)
{
    QFile f(path);
    QCryptographicHash h(QCryptographicHash::Md5);
    return f.open(QIODevice::ReadOnly) && h.addData(&f) ? h.result() : QByteArray();
}

TEST(EndToEnd, FullPrintJobThroughBrokerServiceAndPrinter)
{
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    QStringList transcript;
    demo::Scenario s(testScenario(work.path(), transcript));
    ASSERT_TRUE(s.run()) << s.failure().toStdString() << "\n" << transcript.join('\n').toStdString();

    EXPECT_EQ(s.steps().size(), 13u);  // run() passes only when every step did

    // The printer's copy is the file that was sent, under its own name in the
    // printer's files directory, with no temporary file left behind.
    const auto& sum = s.summary();
    EXPECT_EQ(sum.receivedPath, work.path() + "/printer-files/demo-job.prn");
    EXPECT_EQ(QFile(sum.receivedPath).size(), 40 * 1048576);
    EXPECT_FALSE(md5Of(sum.sentFile).isEmpty());
    EXPECT_EQ(md5Of(sum.receivedPath), md5Of(sum.sentFile));
    EXPECT_FALSE(QFile::exists(work.path() + "/printer-files/.demo-job.prn.part"));

    // The library's log lines reached the printer's log with a time prefix.
    QFile log(work.path() + "/printer.log");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString first = QString::fromUtf8(log.readLine());
    EXPECT_TRUE(QRegularExpression(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )").match(first).hasMatch()) << first.toStdString();

    // Task-status updates travelled to the service under the peer's own id.
    const auto& service = sum.serviceEvents;
    for (int status : {1, 2})
        EXPECT_TRUE(std::any_of(service.begin(), service.end(),
                                [&](const QJsonObject& e) { return demo::isTaskStatus(e, "printer-01", 1001, status); }))
            << status;
    // The printer's start-up client query was answered with the service as
    // the type-100 record.
    EXPECT_TRUE(std::any_of(service.begin(), service.end(), [](const QJsonObject& e) {
        const QJsonObject filter = e.value("message").toObject().value("body").toObject().value("data").toObject();
        return e.value("event") == "get_client" && e.value("from") == "printer-01" && e.value("answered") == 1
               && filter == QJsonDocument::fromJson(R"({"status":1,"type":[100]})").object();
    }));
}

class AcrossNodes : public ::testing::TestWithParam<tools::BrokerKind>
{
};

TEST_P(AcrossNodes, FullJobThenTheMoveToTheOtherNode)
{
    if (tools::sharedBrokerFromEnvironment())
        GTEST_SKIP() << "needs brokers of its own; ORLIN_BROKER_HOST/ORLIN_BROKER_PORT name a shared one";
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    QStringList transcript;
    demo::ScenarioConfig c = testScenario(work.path(), transcript);
    if (qEnvironmentVariableIntValue("ORLIN_SCALE_FILE_MIB") > 0)
        c.fileMiB = qEnvironmentVariableIntValue("ORLIN_SCALE_FILE_MIB");
    c.brokerKind = GetParam();
    c.failover = true;
    demo::Scenario s(c);
    ASSERT_TRUE(s.run()) << s.failure().toStdString() << "\n" << transcript.join('\n').toStdString();
    EXPECT_EQ(s.steps().size(), 16u);

    // The file's MD5 was checked by its step; heartbeats and reports crossed
    // the nodes to the service.
    const auto& sum = s.summary();
    EXPECT_EQ(sum.printerMd5, sum.sentMd5);
    for (const char* event : {"heartbeat", "report"})
        EXPECT_TRUE(std::any_of(sum.serviceEvents.begin(), sum.serviceEvents.end(), [&](const QJsonObject& e) {
            return e.value("event") == event && e.value("from") == "printer-01";
        })) << event;
    EXPECT_FALSE(sum.watchEvents.empty());
}

INSTANTIATE_TEST_SUITE_P(, AcrossNodes,
                         ::testing::Values(tools::BrokerKind::EjabberdCluster, tools::BrokerKind::MosquittoBridge),
                         [](const ::testing::TestParamInfo<tools::BrokerKind>& k) {
                             return k.param == tools::BrokerKind::EjabberdCluster ? "EjabberdCluster" : "MosquittoBridge";
                         });

} // namespace
