// Device reports: change detection, the outbound text, the guarded status
// record, and the inbound report.
#include "Session.h"

#include <QMetaObject>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

using fakewyln::Calls;
using fakewyln::Script;
using testsupport::Json;

namespace {

SCLOUD_ERROR_INFO Entry(int code, const char* text)
{
    SCLOUD_ERROR_INFO e;
    memset(&e, 0, sizeof(e));
    e.iCode = code;
    strncpy(e.szMsg, text, sizeof(e.szMsg) - 1);
    return e;
}

// The Base64 of all 260 bytes of a text.
QString MsgText(const char* text)
{
    QByteArray b(260, '\0');
    memcpy(b.data(), text, strlen(text));
    return QString::fromLatin1(b.toBase64());
}

} // namespace

class ReportTest : public SessionTest
{
protected:
    // The bodies of the reports sent so far.
    std::vector<QJsonObject> Reports()
    {
        std::vector<QJsonObject> out;
        for (const fakewyln::Call& c : Calls("Send"))
            out.push_back(testsupport::Parse(c.payload));
        return out;
    }
};

TEST_F(ReportTest, WhatMakesAReportGo)
{
    // Each row starts from a fresh session; every step is one call, and the
    // number of reports it sends.
    typedef void (*Edit)(__SCLOUD_UPGRADE_REPORT_PARAM&);
    struct Step { Edit edit; int sent; };
    const struct { const char* what; std::vector<Step> steps; } rows[] = {
        {"the defaults send nothing", {{[](__SCLOUD_UPGRADE_REPORT_PARAM&) {}, 0}}},
        {"a new status sends once, the same status again nothing",
         {{[](__SCLOUD_UPGRADE_REPORT_PARAM& p) { p.iConnectStatus = 1; }, 1},
          {[](__SCLOUD_UPGRADE_REPORT_PARAM& p) { p.iConnectStatus = 1; }, 0}}},
        {"while printing every call sends",
         {{[](__SCLOUD_UPGRADE_REPORT_PARAM& p) { p.iDeviceStatus = 2; p.iTaskId = 5; }, 1},
          {[](__SCLOUD_UPGRADE_REPORT_PARAM& p) { p.iDeviceStatus = 2; p.iTaskId = 5; }, 1},
          {[](__SCLOUD_UPGRADE_REPORT_PARAM& p) { p.iDeviceStatus = 2; p.iTaskId = 5; }, 1}}},
        {"printing without a task sends only for the change",
         {{[](__SCLOUD_UPGRADE_REPORT_PARAM& p) { p.iDeviceStatus = 2; }, 1},
          {[](__SCLOUD_UPGRADE_REPORT_PARAM& p) { p.iDeviceStatus = 2; }, 0}}},
        {"head temperature alone", {{[](__SCLOUD_UPGRADE_REPORT_PARAM& p) { p.iHeadTempStatus = 3; }, 1}}},
        {"automatic flash alone", {{[](__SCLOUD_UPGRADE_REPORT_PARAM& p) { p.iAutoFlashStatus = 1; }, 1}}},
        {"print status alone", {{[](__SCLOUD_UPGRADE_REPORT_PARAM& p) { p.iPrintStatus = 4; }, 1}}},
        {"upgrade progress alone", {{[](__SCLOUD_UPGRADE_REPORT_PARAM& p) { p.iUpgradeProcess = 40; }, 1}}},
        {"device status alone", {{[](__SCLOUD_UPGRADE_REPORT_PARAM& p) { p.iDeviceStatus = 3; }, 1}}},
        {"print fields alone while idle send nothing",
         {{[](__SCLOUD_UPGRADE_REPORT_PARAM& p) { p.iTaskId = 9; p.iProgress = 3; p.iPrintSpanTime = 8; }, 0}}},
        {"sVer alone sends nothing", {{[](__SCLOUD_UPGRADE_REPORT_PARAM& p) { p.sVer = 9; }, 0}}},
    };
    for (const auto& r : rows) {
        fakewyln::Reset();
        session.reset(new Orlin);
        InitSession();
        for (size_t i = 0; i < r.steps.size(); ++i) {
            fakewyln::GetState().calls.clear();
            __SCLOUD_UPGRADE_REPORT_PARAM p;
            r.steps[i].edit(p);
            EXPECT_EQ(0, session->UpgradeReportParam(&p, 0)) << r.what;
            EXPECT_EQ(size_t(r.steps[i].sent), Calls("Send").size()) << r.what << ", step " << i;
        }
    }
}

TEST_F(ReportTest, TheReportTextExactly)
{
    InitSession();
    __SCLOUD_UPGRADE_REPORT_PARAM p;
    p.sVer = 9;  // never taken
    p.iHeadTempStatus = 7;
    ASSERT_EQ(0, session->UpgradeReportParam(&p, 0));
    const auto sends = Calls("Send");
    ASSERT_EQ(1u, sends.size());
    EXPECT_EQ(3000, sends[0].nArg);
    const QJsonObject m = testsupport::Parse(sends[0].payload);
    EXPECT_EQ(R"({"auto_flash_status":0,"connect_status":0,"data":{"error_info":[],"print_info":{},)"
              R"("upgrade_info":{"process":0}},"device_status":1,"func":"report","head_temp_status":7})",
              testsupport::Text(m.value("body").toObject()));
    const QJsonObject h = m.value("header").toObject();
    EXPECT_EQ(QStringLiteral("3"), h.value("version").toString());
    EXPECT_EQ(2, h.value("msg_type").toInt(-1));
    EXPECT_EQ(QStringLiteral("wyln"), h.value("target_id").toString());
    EXPECT_EQ(QStringLiteral("127.0.0.1:1883"), h.value("source_id").toString());
    EXPECT_EQ(36, h.value("msg_id").toString().size());
    EXPECT_EQ(sends[0].payload, testsupport::Text(m));  // compact, keys ascending
    EXPECT_TRUE(owner.Logs().empty());
}

TEST_F(ReportTest, PrintFieldsAreStoredWhilePrintingAndKeptAfterwards)
{
    InitSession();
    __SCLOUD_UPGRADE_REPORT_PARAM p;
    p.iDeviceStatus = 2;
    p.iTaskId = 5;
    p.iProgress = 42;
    p.iPrintStatus = 1;
    p.iPrintDoneCopys = 2;
    p.iTotalPrintCopys = 6;
    p.iPrintSpanTime = 70;
    p.iPrintRemainTime = 30;
    strcpy(p.szCapacity, "1.5L");
    memset(p.szPrintedArea, 'z', sizeof(p.szPrintedArea));  // not terminated: cut to 31
    ASSERT_EQ(0, session->UpgradeReportParam(&p, 0));
    EXPECT_EQ(R"({"capacity":"1.5L","print_Remain_time":30,"print_done_copys":2,"print_span_time":70,)"
              R"("print_status":1,"printed_area":"zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz","progress":42,"task_id":5,)"
              R"("total_print_copys":6})",
              testsupport::Text(Reports()[0].value("body").toObject().value("data").toObject().value("print_info").toObject()));

    // Printing ends: the print fields stay stored, the report's print_info is empty.
    __SCLOUD_UPGRADE_REPORT_PARAM idle;
    idle.iPrintStatus = 1;
    fakewyln::GetState().calls.clear();
    ASSERT_EQ(0, session->UpgradeReportParam(&idle, 0));
    const __SCLOUD_UPGRADE_REPORT_PARAM s = OrlinTestAccess::Report(*session);
    EXPECT_EQ(5, s.iTaskId);
    EXPECT_EQ(42, s.iProgress);
    EXPECT_EQ(std::string(31, 'z'), s.szPrintedArea);
    EXPECT_EQ(QJsonObject(), Reports()[0].value("body").toObject().value("data").toObject().value("print_info").toObject());

    // Printing again without a task reports the fields last stored.
    __SCLOUD_UPGRADE_REPORT_PARAM noTask;
    noTask.iDeviceStatus = 2;
    noTask.iPrintStatus = 1;
    fakewyln::GetState().calls.clear();
    ASSERT_EQ(0, session->UpgradeReportParam(&noTask, 0));
    EXPECT_EQ(5, Reports()[0].value("body").toObject().value("data").toObject().value("print_info").toObject()
                     .value("task_id").toInt());
}

TEST_F(ReportTest, ErrorEntriesGoLastToFirstAsAll260Bytes)
{
    InitSession();
    SCLOUD_ERROR_INFO entries[3] = {Entry(1, "A"), Entry(2, "B"), Entry(3, "\xE5\x96\xB7\xE5\xA4\xB4")};
    __SCLOUD_UPGRADE_REPORT_PARAM p;
    p.iErrorCount = 3;
    p.pErrorInfo = entries;
    ASSERT_EQ(0, session->UpgradeReportParam(&p, 0));
    ASSERT_EQ(0, session->UpgradeReportParam(&p, 0));  // entries always send
    const auto reports = Reports();
    ASSERT_EQ(2u, reports.size());
    const QJsonArray errors = reports[0].value("body").toObject().value("data").toObject().value("error_info").toArray();
    ASSERT_EQ(3, errors.size());
    const char* texts[] = {"\xE5\x96\xB7\xE5\xA4\xB4", "B", "A"};
    for (int i = 0; i < 3; ++i) {
        const QJsonObject e = errors[i].toObject();
        EXPECT_EQ(3 - i, e.value("code").toInt());
        const QString msg = e.value("msg").toString();
        EXPECT_EQ(348, msg.size());
        EXPECT_TRUE(msg.endsWith("=") && !msg.endsWith("=="));
        EXPECT_EQ(MsgText(texts[i]), msg);
    }
    const __SCLOUD_UPGRADE_REPORT_PARAM s = OrlinTestAccess::Report(*session);
    EXPECT_EQ(3, s.iErrorCount);
    EXPECT_EQ(nullptr, s.pErrorInfo);  // never the host's entries

    // A later call without entries keeps the count and sends an empty list.
    __SCLOUD_UPGRADE_REPORT_PARAM none;
    none.iConnectStatus = 2;
    fakewyln::GetState().calls.clear();
    ASSERT_EQ(0, session->UpgradeReportParam(&none, 0));
    EXPECT_EQ(3, OrlinTestAccess::Report(*session).iErrorCount);
    EXPECT_TRUE(Reports()[0].value("body").toObject().value("data").toObject().value("error_info").toArray().isEmpty());
}

TEST_F(ReportTest, FailedSendIsLoggedAndTheStatusStaysStored)
{
    InitSession();
    Script("Send", {1003});
    __SCLOUD_UPGRADE_REPORT_PARAM p;
    p.iConnectStatus = 1;
    EXPECT_EQ(0, session->UpgradeReportParam(&p, 0));
    EXPECT_EQ((std::vector<std::string>{"send Report packet faild!"}), owner.Logs());
    EXPECT_EQ(0, session->UpgradeReportParam(&p, 0));
    EXPECT_EQ(1u, Calls("Send").size());

    Orlin fresh;
    EXPECT_EQ(-1, fresh.UpgradeReportParam(&p, 0));
    EXPECT_EQ(-1, session->UpgradeReportParam(nullptr, 0));
}

TEST_F(ReportTest, TheSlotIsReachableByName)
{
    InitSession();
    std::vector<SCLOUD_ERROR_INFO> v{Entry(4, "x"), Entry(5, "y")};
    ASSERT_TRUE(QMetaObject::invokeMethod(session.get(), "SendReportInfo", Qt::DirectConnection,
                                          QGenericArgument("std::vector<SCLOUD_ERROR_INFO>", &v)));
    const QJsonArray errors = Reports().at(0).value("body").toObject().value("data").toObject().value("error_info").toArray();
    ASSERT_EQ(2, errors.size());
    EXPECT_EQ(5, errors[0].toObject().value("code").toInt());
}

// The heartbeat's view of the record is always one whole status: never the
// task of one and the texts of the other.
TEST_F(ReportTest, SnapshotsNeverSeeAHalfWrittenStatus)
{
    InitSession();
    fakewyln::GetState().onSend = nullptr;
    std::atomic<bool> stop(false);
    std::atomic<int> torn(0);
    std::thread reader([&] {
        while (!stop) {
            const __SCLOUD_UPGRADE_REPORT_PARAM s = OrlinTestAccess::Report(*session);
            const char expect = s.iTaskId == 1 ? 'a' : 'b';
            if (s.iTaskId != 0 && (s.szCapacity[0] != expect || s.szPrintedArea[30] != expect || s.iProgress != s.iTaskId))
                ++torn;
        }
    });
    for (int i = 0; i < 2000; ++i) {
        __SCLOUD_UPGRADE_REPORT_PARAM p;
        p.iDeviceStatus = 2;
        p.iTaskId = 1 + (i & 1);
        p.iProgress = p.iTaskId;
        memset(p.szCapacity, p.iTaskId == 1 ? 'a' : 'b', 31);
        memset(p.szPrintedArea, p.iTaskId == 1 ? 'a' : 'b', 31);
        session->UpgradeReportParam(&p, 0);
        if (i % 200 == 0)
            fakewyln::GetState().calls.clear();
    }
    stop = true;
    reader.join();
    EXPECT_EQ(0, torn.load());
}

// ---- inbound --------------------------------------------------------------------

class InboundReportTest : public SessionTest
{
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        InitSession();
        owner.onReport = [this](__SCLOUD_UPGRADE_REPORT_PARAM* p) {
            seen = *p;
            entries.assign(p->pErrorInfo, p->pErrorInfo + p->iErrorCount);
            return answer;
        };
    }
    void DeliverReport(const QJsonValue& data)
    {
        owner.Clear();
        entries.clear();
        Deliver(testsupport::Command(2, "report", data));
    }

    std::string Seen() const
    {
        const __SCLOUD_UPGRADE_REPORT_PARAM& p = seen;
        char buf[256];
        snprintf(buf, sizeof(buf), "v%d status %d,%d,%d,%d upgrade %d print %d,%d,%d,%d,%d,%d,%d %s/%s errors %d,%d",
                 p.sVer, p.iDeviceStatus, p.iConnectStatus, p.iAutoFlashStatus, p.iHeadTempStatus, p.iUpgradeProcess,
                 p.iTaskId, p.iProgress, p.iPrintStatus, p.iPrintDoneCopys, p.iTotalPrintCopys, p.iPrintSpanTime,
                 p.iPrintRemainTime, p.szCapacity, p.szPrintedArea, p.iErrorCount, p.pErrorInfo != nullptr);
        return buf;
    }

    __SCLOUD_UPGRADE_REPORT_PARAM seen;
    std::vector<SCLOUD_ERROR_INFO> entries;
    bool answer = true;
};

TEST_F(InboundReportTest, DataMustBeAnObject)
{
    const struct { const char* what; QJsonValue data; } rows[] = {
        {"array", QJsonArray{QJsonObject()}},
        {"missing", QJsonValue(QJsonValue::Undefined)},
        {"string", QStringLiteral("x")},
        {"null", QJsonValue()},
    };
    for (const auto& r : rows) {
        DeliverReport(r.data);
        EXPECT_TRUE(owner.Events().empty()) << r.what;
        EXPECT_EQ((std::vector<std::string>{"Recv json data handle fail,errcode=28"}), owner.Logs()) << r.what;
    }
    EXPECT_TRUE(Calls("SendTo").empty());
}

TEST_F(InboundReportTest, FieldsAndKeptValues)
{
    DeliverReport(Json(R"({"device_doing":2,"connect_status":1,"auto_flash_status":4,"head_temp_status":5,
        "upgrade_info":{"process":60},
        "print_info":{"task_id":8,"progress":50,"print_status":3,"print_done_copys":1,"total_print_copys":2,
                      "print_span_time":11,"print_Remain_time":12,"capacity":"0123456789012345678901234567890123456789",
                      "printed_area":"2m2"}})"));
    ASSERT_EQ((std::vector<std::string>{"OnReport"}), owner.Events());
    EXPECT_EQ("v3 status 2,1,4,5 upgrade 60 print 8,50,3,1,2,11,12 0123456789012345678901234567890/2m2 errors 0,0",
              Seen());  // capacity cut to 31

    // Absent keys keep their values; present keys of the wrong type give 0;
    // the state values outside data are not read.
    DeliverReport(Json(R"({"device_doing":1,"connect_status":"x","print_info":{"progress":2.5,"capacity":7},
        "head_temp_status":null})"));
    EXPECT_EQ("v3 status 1,0,4,0 upgrade 60 print 8,0,3,1,2,11,12 0123456789012345678901234567890/2m2 errors 0,0",
              Seen());
    EXPECT_TRUE(owner.Logs().empty());

    answer = false;
    DeliverReport(QJsonObject());
    EXPECT_EQ((std::vector<std::string>{"Recv json data handle fail,errcode=35"}), owner.Logs());
    EXPECT_TRUE(Calls("SendTo").empty());
}

TEST_F(InboundReportTest, ErrorEntriesOf348CharactersAgainstOtherLengths)
{
    const QString full = MsgText("nozzle blocked");
    QByteArray all261(261, 'q');  // 348 characters without padding: 261 bytes, the first 260 kept
    const QString unpadded = QString::fromLatin1(all261.toBase64());
    const struct { const char* what; QJsonValue entry; int code; std::string msg; std::string log; } rows[] = {
        {"348 characters", QJsonObject{{"code", 9}, {"msg", full}}, 9, "nozzle blocked",
         "len = 348,msg=" + full.toStdString() + ",_MAX_PATH=260;"},
        {"three characters", QJsonObject{{"code", 2}, {"msg", "abc"}}, 2, "", "len = 3,msg=abc,_MAX_PATH=260;"},
        {"349 characters", QJsonObject{{"msg", full + "A"}}, 0, "", "len = 349,msg=" + full.toStdString() + "A,_MAX_PATH=260;"},
        {"348 characters, not Base64", QJsonObject{{"msg", QString(348, '*')}}, 0, "",
         "len = 348,msg=" + std::string(348, '*') + ",_MAX_PATH=260;"},
        {"348 characters giving 261 bytes", QJsonObject{{"msg", unpadded}}, 0, std::string(260, 'q'),
         "len = 348,msg=" + unpadded.toStdString() + ",_MAX_PATH=260;"},
        {"percent signs stay", QJsonObject{{"msg", "%1%2%3"}}, 0, "", "len = 6,msg=%1%2%3,_MAX_PATH=260;"},
        {"msg not a string: no line", QJsonObject{{"code", 4}, {"msg", 5}}, 4, "", ""},
        {"entry not an object", QJsonValue(17), 0, "", ""},
    };
    for (const auto& r : rows) {
        DeliverReport(QJsonObject{{"error_info", QJsonArray{r.entry}}});
        ASSERT_EQ(1u, entries.size()) << r.what;
        EXPECT_EQ(r.code, entries[0].iCode) << r.what;
        EXPECT_EQ(r.msg, std::string(entries[0].szMsg, strnlen(entries[0].szMsg, sizeof(entries[0].szMsg)))) << r.what;
        EXPECT_EQ(r.log.empty() ? std::vector<std::string>{} : std::vector<std::string>{r.log}, owner.Logs()) << r.what;
    }

    // Order is kept; the list lives only for the call.
    DeliverReport(QJsonObject{{"error_info", QJsonArray{QJsonObject{{"code", 1}}, QJsonObject{{"code", 2}}, QJsonObject{{"code", 3}}}}});
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ(1, entries[0].iCode);
    EXPECT_EQ(3, entries[2].iCode);
    EXPECT_EQ(0, Sink().m_stPeerParam.iErrorCount);
    EXPECT_EQ(nullptr, Sink().m_stPeerParam.pErrorInfo);
}
