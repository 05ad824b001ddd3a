// The whole system over a real broker: the demo's job, with every reply
// checked by the scenario, then the received file compared byte for byte.
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

    EXPECT_EQ(s.steps().size(), 13u);
    for (const auto& st : s.steps())
        EXPECT_TRUE(st.ok) << st.name.toStdString();

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

} // namespace
