// Device reports: change detection, the outbound text, the stored status
// record, and the inbound report.
#include "ReplyText.h"
#include "Session.h"

#include <cstring>

using fakewyln::Calls;
using testsupport::Json;
using testsupport::Text;
typedef __SCLOUD_UPGRADE_REPORT_PARAM Param;

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

// body.data of the i-th report sent so far.
QJsonObject ReportData(size_t i = 0)
{
    return testsupport::Parse(Calls("Send").at(i).payload).value("body").toObject().value("data").toObject();
}

} // namespace

typedef SessionTest ReportTest;

TEST_F(ReportTest, WhatMakesAReportGo)
{
    // Each row starts from a fresh session and makes the same call once per
    // entry of sent: the number of reports that call sends.
    const struct { const char* what; void (*edit)(Param&); std::vector<size_t> sent; } rows[] = {
        {"the defaults send nothing", [](Param&) {}, {0}},
        {"a new status sends once, the same again nothing", [](Param& p) { p.iConnectStatus = 1; }, {1, 0}},
        {"while printing every call sends", [](Param& p) { p.iDeviceStatus = 2; p.iTaskId = 5; }, {1, 1, 1}},
        {"printing without a task sends only for the change", [](Param& p) { p.iDeviceStatus = 2; }, {1, 0}},
        {"head temperature alone", [](Param& p) { p.iHeadTempStatus = 3; }, {1, 0}},
        {"automatic flash alone", [](Param& p) { p.iAutoFlashStatus = 1; }, {1}},
        {"print status alone", [](Param& p) { p.iPrintStatus = 4; }, {1}},
        {"upgrade progress alone", [](Param& p) { p.iUpgradeProcess = 40; }, {1}},
        {"device status alone", [](Param& p) { p.iDeviceStatus = 3; }, {1}},
        {"print fields while idle", [](Param& p) { p.iTaskId = 9; p.iProgress = 3; p.iPrintSpanTime = 8; }, {0}},
        {"sVer alone", [](Param& p) { p.sVer = 9; }, {0}},
    };
    for (const auto& r : rows) {
        fakewyln::Reset();
        session.reset(new Orlin);
        InitSession();
        for (size_t i = 0; i < r.sent.size(); ++i) {
            fakewyln::GetState().calls.clear();
            Param p;
            r.edit(p);
            EXPECT_EQ(0, session->UpgradeReportParam(&p, 0)) << r.what;
            EXPECT_EQ(r.sent[i], Calls("Send").size()) << r.what << ", call " << i;
        }
    }
}

TEST_F(ReportTest, TheReportTextExactly)
{
    InitSession();
    Param p;
    p.sVer = 9;  // never taken
    p.iHeadTempStatus = 7;
    ASSERT_EQ(0, session->UpgradeReportParam(&p, 0));
    ASSERT_EQ(1u, Calls("Send").size());
    EXPECT_EQ(3000, Calls("Send")[0].nArg);
    const std::string text = testsupport::MaskFresh(Calls("Send")[0].payload);
    EXPECT_EQ(R"({"body":{"auto_flash_status":0,"connect_status":0,"data":{"error_info":[],"print_info":{},)"
              R"("upgrade_info":{"process":0}},"device_status":1,"func":"report","head_temp_status":7},)"
              R"("header":{"msg_id":"ID","msg_type":2,"source_id":"127.0.0.1:1883","target_id":"wyln",)"
              R"("timestamp":T,"version":"3"}})", text);
    EXPECT_TRUE(owner.Logs().empty());
}

TEST_F(ReportTest, PrintFieldsAreStoredWhilePrintingAndKeptAfterwards)
{
    InitSession();
    Param p;
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
              Text(ReportData().value("print_info").toObject()));

    // Printing ends: the print fields stay stored, the report's print_info is empty.
    Param idle;
    idle.iPrintStatus = 1;
    ASSERT_EQ(0, session->UpgradeReportParam(&idle, 0));
    const Param s = OrlinTestAccess::Report(*session);
    EXPECT_EQ(5, s.iTaskId);
    EXPECT_EQ(42, s.iProgress);
    EXPECT_EQ(std::string(31, 'z'), s.szPrintedArea);
    EXPECT_EQ(QJsonObject(), ReportData(1).value("print_info").toObject());

    // Printing again without a task reports the fields last stored.
    Param noTask;
    noTask.iDeviceStatus = 2;
    noTask.iPrintStatus = 1;
    ASSERT_EQ(0, session->UpgradeReportParam(&noTask, 0));
    EXPECT_EQ(5, ReportData(2).value("print_info").toObject().value("task_id").toInt());
}

TEST_F(ReportTest, ErrorEntriesGoLastToFirstAsAll260Bytes)
{
    InitSession();
    const char* texts[] = {"A", "B", "\xE5\x96\xB7\xE5\xA4\xB4"};
    SCLOUD_ERROR_INFO entries[3] = {Entry(1, texts[0]), Entry(2, texts[1]), Entry(3, texts[2])};
    Param p;
    p.iErrorCount = 3;
    p.pErrorInfo = entries;
    ASSERT_EQ(0, session->UpgradeReportParam(&p, 0));
    ASSERT_EQ(0, session->UpgradeReportParam(&p, 0));  // entries always send
    ASSERT_EQ(2u, Calls("Send").size());
    const QJsonArray errors = ReportData().value("error_info").toArray();
    ASSERT_EQ(3, errors.size());
    for (int i = 0; i < 3; ++i) {
        const QString msg = errors[i].toObject().value("msg").toString();
        EXPECT_EQ(3 - i, errors[i].toObject().value("code").toInt());
        EXPECT_EQ(MsgText(texts[2 - i]), msg);
    }
    EXPECT_EQ(3, OrlinTestAccess::Report(*session).iErrorCount);
    EXPECT_EQ(nullptr, OrlinTestAccess::Report(*session).pErrorInfo);  // never the host's entries

    // A later call without entries keeps the count and sends an empty list.
    Param none;
    none.iConnectStatus = 2;
    ASSERT_EQ(0, session->UpgradeReportParam(&none, 0));
    EXPECT_EQ(3, OrlinTestAccess::Report(*session).iErrorCount);
    EXPECT_TRUE(ReportData(2).value("error_info").toArray().isEmpty());
}

TEST_F(ReportTest, FailedSendIsLoggedAndTheStatusStaysStored)
{
    InitSession();
    fakewyln::Script("Send", {1003});
    Param p;
    p.iConnectStatus = 1;
    EXPECT_EQ(0, session->UpgradeReportParam(&p, 0));
    EXPECT_EQ((std::vector<std::string>{"send Report packet faild!"}), owner.Logs());
    EXPECT_EQ(0, session->UpgradeReportParam(&p, 0));
    EXPECT_EQ(1u, Calls("Send").size());
    EXPECT_EQ(-1, session->UpgradeReportParam(nullptr, 0));
}

class InboundReportTest : public SessionTest
{
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        InitSession();
        owner.onReport = [this](Param* p) {
            char buf[256];
            snprintf(buf, sizeof(buf), "v%d status %d,%d,%d,%d upgrade %d print %d,%d,%d,%d,%d,%d,%d %s/%s errors %d",
                     p->sVer, p->iDeviceStatus, p->iConnectStatus, p->iAutoFlashStatus, p->iHeadTempStatus,
                     p->iUpgradeProcess, p->iTaskId, p->iProgress, p->iPrintStatus, p->iPrintDoneCopys,
                     p->iTotalPrintCopys, p->iPrintSpanTime, p->iPrintRemainTime, p->szCapacity, p->szPrintedArea,
                     p->iErrorCount);
            seen = buf;
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

    std::string seen;
    std::vector<SCLOUD_ERROR_INFO> entries;
    bool answer = true;
};

TEST_F(InboundReportTest, DataMustBeAnObject)
{
    for (const QJsonValue& data : {QJsonValue(QJsonArray{QJsonObject()}), QJsonValue(QJsonValue::Undefined),
                                   QJsonValue(QStringLiteral("x")), QJsonValue()}) {
        DeliverReport(data);
        EXPECT_TRUE(owner.Events().empty()) << data.type();
        EXPECT_EQ((std::vector<std::string>{"Recv json data handle fail,errcode=28"}), owner.Logs()) << data.type();
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
    EXPECT_EQ("v3 status 2,1,4,5 upgrade 60 print 8,50,3,1,2,11,12 0123456789012345678901234567890/2m2 errors 0",
              seen);  // capacity cut to 31

    // Absent keys keep their values; present keys of the wrong type give 0.
    DeliverReport(Json(R"({"device_doing":1,"connect_status":"x","print_info":{"progress":2.5,"capacity":7},
        "head_temp_status":null})"));
    EXPECT_EQ("v3 status 1,0,4,0 upgrade 60 print 8,0,3,1,2,11,12 0123456789012345678901234567890/2m2 errors 0",
              seen);
    EXPECT_TRUE(owner.Logs().empty());

    answer = false;
    DeliverReport(QJsonObject());
    EXPECT_EQ((std::vector<std::string>{"Recv json data handle fail,errcode=35"}), owner.Logs());
    EXPECT_TRUE(Calls("SendTo").empty());
}

TEST_F(InboundReportTest, ErrorEntriesOf348CharactersAgainstOtherLengths)
{
    const std::string full = MsgText("nozzle blocked").toStdString();
    const std::string unpadded = QByteArray(261, 'q').toBase64().toStdString();  // 348 characters giving 261 bytes
    const struct { const char* what; QJsonValue entry; int code; std::string msg; std::string logged; } rows[] = {
        {"348 characters", QJsonObject{{"code", 9}, {"msg", full.c_str()}}, 9, "nozzle blocked", full},
        {"three characters", QJsonObject{{"code", 2}, {"msg", "abc"}}, 2, "", "abc"},
        {"349 characters", QJsonObject{{"msg", (full + "A").c_str()}}, 0, "", full + "A"},
        {"348 characters, not Base64", QJsonObject{{"msg", QString(348, '*')}}, 0, "", std::string(348, '*')},
        {"348 characters giving 261 bytes", QJsonObject{{"msg", unpadded.c_str()}}, 0, std::string(260, 'q'), unpadded},
        {"percent signs stay", QJsonObject{{"msg", "%1%2%3"}}, 0, "", "%1%2%3"},
        {"msg not a string: no line", QJsonObject{{"code", 4}, {"msg", 5}}, 4, "", ""},
        {"entry not an object", QJsonValue(17), 0, "", ""},
    };
    for (const auto& r : rows) {
        DeliverReport(QJsonObject{{"error_info", QJsonArray{r.entry, QJsonObject{{"code", 77}}}}});
        ASSERT_EQ(2u, entries.size()) << r.what;  // in the order received
        EXPECT_EQ(77, entries[1].iCode);
        EXPECT_EQ(r.code, entries[0].iCode) << r.what;
        EXPECT_EQ(r.msg, std::string(entries[0].szMsg, strnlen(entries[0].szMsg, sizeof(entries[0].szMsg)))) << r.what;
        EXPECT_EQ(r.logged.empty() ? std::vector<std::string>{}
                                   : std::vector<std::string>{"len = " + std::to_string(r.logged.size()) + ",msg=" +
                                                              r.logged + ",_MAX_PATH=260;"},
                  owner.Logs()) << r.what;
    }
    // The list lives only for the call.
    EXPECT_EQ(0, Sink().PeerParam().iErrorCount);
    EXPECT_EQ(nullptr, Sink().PeerParam().pErrorInfo);
}
