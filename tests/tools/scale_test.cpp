// The whole job across two broker nodes: the printer on the first node, the
// service and the consoles on the second one, for a two-node ejabberd
// cluster and for a mosquitto bridge pair. Then the printer's node dies: the
// printer's plug-in moves to the other node under the same identifier, the
// printer answers again within 10 s, and a file sent after that arrives.
#include "ScenarioTestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

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
