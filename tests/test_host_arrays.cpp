// Commands answered from host-allocated arrays: "load_param",
// "load_device_info" and "statistics". Replies are checked byte for byte,
// arrays for their way back through OnFreeMemory.
#include "ReplyText.h"
#include "Session.h"

#include <algorithm>
#include <cstring>
#include <vector>

using testsupport::BodyText;
using testsupport::Command;
using testsupport::JsonValue;

namespace {

QJsonValue Data(const char* text)
{
    return text ? JsonValue(text) : QJsonValue(QJsonValue::Undefined);
}

template <size_t N>
void Put(char (&field)[N], const char* text)
{
    memcpy(field, text, std::min(strlen(text), N));
}

} // namespace

// ---- load_param ------------------------------------------------------------

TEST_F(SessionTest, LoadParamRepliesWithSchemesAndCanvasesAndLogsTheReply)
{
    __SCLOUD_PRINT_SCHEME schemes[2] = {};
    Put(schemes[0].szPrintSchemeName, "Fast");
    schemes[0].iPrintSchemeId = 1;
    Put(schemes[1].szPrintSchemeName, "Fein \xC3\xA9");
    schemes[1].iPrintSchemeId = -7;
    __SCLOUD_CANVAS canvases[2] = {{0.1f, 600.0f}, {1200.5f, 1e-3f}};

    const struct {
        const char* name;
        int nSchemes;
        __SCLOUD_PRINT_SCHEME* pSchemes;
        int nCanvases;
        __SCLOUD_CANVAS* pCanvases;
        const char* body;
        std::vector<void*> freed;
    } rows[] = {
        {"untouched", 0, nullptr, 0, nullptr,
         R"({"data":{"canvas":[],"print_scheme":[]},"func":"load_param"})", {}},
        {"two schemes, no canvas", 2, schemes, 0, nullptr,
         R"({"data":{"canvas":[],"print_scheme":[{"print_scheme_id":1,"print_scheme_name":"Fast"},)"
         R"({"print_scheme_id":-7,"print_scheme_name":"Fein é"}]},"func":"load_param"})",
         {schemes}},
        {"canvases widened from float", 0, nullptr, 2, canvases,
         R"({"data":{"canvas":[{"canvas_h":600,"canvas_w":0.10000000149011612},)"
         R"({"canvas_h":0.0010000000474974513,"canvas_w":1200.5}],"print_scheme":[]},"func":"load_param"})",
         {canvases}},
        {"both, counted down to one each", 1, schemes, 1, canvases,
         R"({"data":{"canvas":[{"canvas_h":600,"canvas_w":0.10000000149011612}],)"
         R"("print_scheme":[{"print_scheme_id":1,"print_scheme_name":"Fast"}]},"func":"load_param"})",
         {schemes, canvases}},
        {"negative counts read nothing, free nothing", -1, schemes, -5, canvases,
         R"({"data":{"canvas":[],"print_scheme":[]},"func":"load_param"})", {}},
        {"positive count with a null array", 3, nullptr, 0, canvases,
         R"({"data":{"canvas":[],"print_scheme":[]},"func":"load_param"})", {}},
    };
    InitSession();
    for (const auto& r : rows) {
        fakewyln::GetState().calls.clear();
        owner.Clear();
        owner.onLoadParam = [&](__SCLOUD_LOAD_PARAM*, __SCLOUD_LOAD_PARAM_RESULT* p) {
            p->iSchemeCount = r.nSchemes;
            p->pSchemes = r.pSchemes;
            p->iCanvasCount = r.nCanvases;
            p->pCanvases = r.pCanvases;
        };
        Deliver(Command(0, "load_param", JsonValue("{\"param_type\":1}")));
        const auto replies = Replies();
        ASSERT_EQ(1u, replies.size()) << r.name;
        EXPECT_EQ(r.body, BodyText(replies[0])) << r.name;
        EXPECT_EQ(r.freed, owner.Freed()) << r.name;
        EXPECT_EQ(std::vector<std::string>{replies[0]}, owner.Logs()) << r.name;
    }
}

TEST_F(SessionTest, LoadParamTakesTheFirstRecordAndZeroesTheResult)
{
    const struct {
        const char* data;
        const char* version;
        int sVer;
        int paramType;
    } rows[] = {
        {"[{\"param_type\":2},{\"param_type\":3}]", "5", 5, 2},
        {"{\"param_type\":4}", "5", 5, 4},
        {"{\"param_type\":\"4\"}", "5", 5, 0},
        {"[]", "5", 0, 0},
        {nullptr, "5", 5, 0},
    };
    InitSession();
    for (const auto& r : rows) {
        std::vector<std::pair<int, int>> got;
        bool zeroed = false;
        owner.onLoadParam = [&](__SCLOUD_LOAD_PARAM* c, __SCLOUD_LOAD_PARAM_RESULT* p) {
            got.emplace_back(c->sVer, c->iParamType);
            zeroed = p->sVer == 0 && p->iSchemeCount == 0 && !p->pSchemes && p->iCanvasCount == 0 && !p->pCanvases;
        };
        Deliver(Command(0, "load_param", Data(r.data), QString::fromUtf8(r.version)));
        ASSERT_EQ(1u, got.size()) << (r.data ? r.data : "<none>");
        EXPECT_EQ(std::make_pair(r.sVer, r.paramType), got[0]) << (r.data ? r.data : "<none>");
        EXPECT_TRUE(zeroed);
    }
}

// ---- load_device_info ------------------------------------------------------

TEST_F(SessionTest, LoadDeviceInfoRepliesWithBoardSoftwareAndPresentCardLists)
{
    __SCLOUD_CARD_INFO hb[1] = {};
    hb[0].iIndex = 0;
    Put(hb[0].szCardType, "HB");
    Put(hb[0].szLogicType, "L1");
    Put(hb[0].szHardwareType, "H1");
    Put(hb[0].szLogicVer, "1.2");
    Put(hb[0].szMcnVer, "3.4");
    __SCLOUD_CARD_INFO db[2] = {};
    db[0].iIndex = 1;
    Put(db[0].szCardType, "DB");
    db[1].iIndex = 2;
    memset(db[1].szMcnVer, 'm', sizeof(db[1].szMcnVer));  // full field, no terminator
    __SCLOUD_CARD_INFO eb[1] = {};
    eb[0].iIndex = 9;

    const std::string emptyBoard =
        R"("mb_info":{"configure_ver":"","mb_logic_ver":"","mb_program_ver":"","mb_serial":"","mb_sn_id":"","paramter_ver":""},)"
        R"("soft_info":{"data_process_ver":"","dev_manager_ver":"","soft_ver":""})";
    const std::string card0 = R"({"card_type":"","hardware_type":"","index":)";
    const struct {
        const char* name;
        int nHb, nDb, nEb;
        bool texts;
        std::string body;
        std::vector<void*> freed;
    } rows[] = {
        {"untouched", 0, 0, 0, false, "{\"data\":{" + emptyBoard + "},\"func\":\"load_device_info\"}", {}},
        {"texts only", 0, 0, 0, true,
         R"({"data":{"mb_info":{"configure_ver":"c","mb_logic_ver":"ml","mb_program_ver":"mp","mb_serial":"ser",)"
         R"("mb_sn_id":")" + std::string(64, 's') + R"(","paramter_ver":"p"},)"
         R"("soft_info":{"data_process_ver":"dp","dev_manager_ver":"dm","soft_ver":"sv"}},"func":"load_device_info"})",
         {}},
        {"db only", 0, 2, 0, false,
         "{\"data\":{\"db_info\":[{\"card_type\":\"DB\",\"hardware_type\":\"\",\"index\":1,\"logic_type\":\"\","
         "\"logic_ver\":\"\",\"mcn_ver\":\"\"}," + card0 + "2,\"logic_type\":\"\",\"logic_ver\":\"\",\"mcn_ver\":\"" +
             std::string(32, 'm') + "\"}]," + emptyBoard + "},\"func\":\"load_device_info\"}",
         {db}},
        {"all three lists", 1, 1, 1, false,
         "{\"data\":{\"db_info\":[{\"card_type\":\"DB\",\"hardware_type\":\"\",\"index\":1,\"logic_type\":\"\","
         "\"logic_ver\":\"\",\"mcn_ver\":\"\"}],\"eb_info\":[" + card0 +
             "9,\"logic_type\":\"\",\"logic_ver\":\"\",\"mcn_ver\":\"\"}],"
             "\"hb_info\":[{\"card_type\":\"HB\",\"hardware_type\":\"H1\",\"index\":0,\"logic_type\":\"L1\","
             "\"logic_ver\":\"1.2\",\"mcn_ver\":\"3.4\"}]," + emptyBoard + "},\"func\":\"load_device_info\"}",
         {hb, db, eb}},
    };
    InitSession();
    for (const auto& r : rows) {
        fakewyln::GetState().calls.clear();
        owner.Clear();
        owner.onLoadDeviceInfo = [&](__SCLOUD_LOAD_DEVICE_INFO*, __SCLOUD_LOAD_DEVICE_INFO_RESULT* p) {
            if (r.texts) {
                memset(p->szMbSnId, 's', sizeof(p->szMbSnId));  // full field, no terminator
                Put(p->szMbSerial, "ser");
                Put(p->szMbLogicVer, "ml");
                Put(p->szMbProgramVer, "mp");
                Put(p->szConfigureVer, "c");
                Put(p->szParamterVer, "p");
                Put(p->szSoftVer, "sv");
                Put(p->szDevManagerVer, "dm");
                Put(p->szDataProcessVer, "dp");
            }
            p->iHbCount = r.nHb;
            p->pHbInfo = hb;
            p->iDbCount = r.nDb;
            p->pDbInfo = db;
            p->iEbCount = r.nEb;
            p->pEbInfo = eb;
        };
        Deliver(Command(0, "load_device_info", JsonValue("{}")));
        const auto replies = Replies();
        ASSERT_EQ(1u, replies.size()) << r.name;
        EXPECT_EQ(r.body, BodyText(replies[0])) << r.name;
        EXPECT_EQ(r.freed, owner.Freed()) << r.name;
        EXPECT_TRUE(owner.Logs().empty()) << r.name;  // the reply text is not logged
    }
}

TEST_F(SessionTest, LoadDeviceInfoReadsTheFirstRecordAndWarnsOnArrays)
{
    const struct {
        const char* data;
        int sVer;
        int infoType;
        bool warned;
    } rows[] = {
        {"[{\"info_type\":3}]", 2, 3, true},
        {"[]", 0, 0, true},
        {"{\"info_type\":3}", 2, 3, false},
        {"{\"info_type\":3.5}", 2, 0, false},
        {nullptr, 2, 0, false},
        {"\"x\"", 2, 0, false},
    };
    InitSession();
    for (const auto& r : rows) {
        owner.Clear();
        std::vector<std::pair<int, int>> got;
        owner.onLoadDeviceInfo = [&](__SCLOUD_LOAD_DEVICE_INFO* c, __SCLOUD_LOAD_DEVICE_INFO_RESULT*) {
            got.emplace_back(c->sVer, c->iInfoType);
        };
        Deliver(Command(0, "load_device_info", Data(r.data), QStringLiteral("2")));
        ASSERT_EQ(1u, got.size());
        EXPECT_EQ(std::make_pair(r.sVer, r.infoType), got[0]) << (r.data ? r.data : "<none>");
        EXPECT_EQ(r.warned ? std::vector<std::string>{"Recv json data handle warning,load device info data is arr"}
                           : std::vector<std::string>{},
                  owner.Logs());
    }
}

// ---- statistics ----------------------------------------------------------------

TEST_F(SessionTest, StatisticsDateDefaults)
{
    const struct {
        const char* data;
        const char* version;
        std::vector<int> expected;  // sVer, year, month, day
    } rows[] = {
        {"{}", "3", {3, 2024, 1, 1}},
        {nullptr, "3", {3, 2024, 1, 1}},
        {"[]", "3", {0, 2024, 1, 1}},
        {"{\"year\":2025,\"month\":3,\"day\":17}", "3", {3, 2025, 3, 17}},
        {"{\"month\":12}", "3", {3, 2024, 12, 1}},
        {"[{\"day\":9},{\"day\":10}]", "3", {3, 2024, 1, 9}},
        {"{\"year\":\"2025\",\"month\":null,\"day\":1.5}", "3", {3, 0, 0, 0}},
        {"{\"year\":2025}", "v3", {0, 2025, 1, 1}},
    };
    InitSession();
    for (const auto& r : rows) {
        std::vector<std::vector<int>> got;
        owner.onStatistics = [&](__SCLOUD_STATISTICS* c, __SCLOUD_STATISTICS_RESULT*) {
            got.push_back({c->sVer, c->iYear, c->iMonth, c->iDay});
        };
        Deliver(Command(0, "statistics", Data(r.data), QString::fromUtf8(r.version)));
        ASSERT_EQ(1u, got.size());
        EXPECT_EQ(r.expected, got[0]) << (r.data ? r.data : "<none>");
    }
}

TEST_F(SessionTest, StatisticsRepliesWithTasksAndTotals)
{
    __SCLOUD_TASK_STATISTICS tasks[1] = {};
    Put(tasks[0].szTaskName, "job-1");
    tasks[0].fPrintArea = 2.0f;
    tasks[0].fPrintLen = 0.1f;
    tasks[0].fK = 1.5f;
    tasks[0].fC = 0.2f;
    tasks[0].fM = 0.0f;
    tasks[0].fY = -1.0f;

    const struct {
        const char* name;
        int nTasks;
        __SCLOUD_TASK_STATISTICS* pTasks;
        float fInk, fArea, fLen;
        const char* body;
        std::vector<void*> freed;
    } rows[] = {
        {"untouched", 0, nullptr, 0, 0, 0,
         R"({"data":{"task_info":[],"total_area":0,"total_ink":0,"total_len":0},"func":"statistics"})", {}},
        {"one task, floats widened", 1, tasks, 0.3f, 7.0f, 2.5f,
         R"({"data":{"task_info":[{"c":0.20000000298023224,"k":1.5,"m":0,"print_area":2,)"
         R"("print_len":0.10000000149011612,"task_name":"job-1","y":-1}],)"
         R"("total_area":7,"total_ink":0.30000001192092896,"total_len":2.5},"func":"statistics"})",
         {tasks}},
        {"negative count", -3, tasks, 0, 0, 0,
         R"({"data":{"task_info":[],"total_area":0,"total_ink":0,"total_len":0},"func":"statistics"})", {}},
    };
    InitSession();
    for (const auto& r : rows) {
        fakewyln::GetState().calls.clear();
        owner.Clear();
        owner.onStatistics = [&](__SCLOUD_STATISTICS*, __SCLOUD_STATISTICS_RESULT* p) {
            p->iTaskCount = r.nTasks;
            p->pTaskInfo = r.pTasks;
            p->fTotalInk = r.fInk;
            p->fTotalArea = r.fArea;
            p->fTotalLen = r.fLen;
        };
        Deliver(Command(0, "statistics", JsonValue("{}")));
        const auto replies = Replies();
        ASSERT_EQ(1u, replies.size()) << r.name;
        EXPECT_EQ(r.body, BodyText(replies[0])) << r.name;
        EXPECT_EQ(r.freed, owner.Freed()) << r.name;
        EXPECT_TRUE(owner.Logs().empty()) << r.name;
    }
}

// A failed send is the handler's result, logged by the router; the arrays
// are back with the host before the send in every case.
TEST_F(SessionTest, HostArraysGoBackEvenWhenTheReplyFails)
{
    __SCLOUD_PRINT_SCHEME scheme = {};
    __SCLOUD_CARD_INFO card = {};
    __SCLOUD_TASK_STATISTICS task = {};
    owner.onLoadParam = [&](__SCLOUD_LOAD_PARAM*, __SCLOUD_LOAD_PARAM_RESULT* p) {
        p->iSchemeCount = 1;
        p->pSchemes = &scheme;
    };
    owner.onLoadDeviceInfo = [&](__SCLOUD_LOAD_DEVICE_INFO*, __SCLOUD_LOAD_DEVICE_INFO_RESULT* p) {
        p->iEbCount = 1;
        p->pEbInfo = &card;
    };
    owner.onStatistics = [&](__SCLOUD_STATISTICS*, __SCLOUD_STATISTICS_RESULT* p) {
        p->iTaskCount = 1;
        p->pTaskInfo = &task;
    };
    const struct {
        const char* func;
        void* array;
        bool logsReply;
    } rows[] = {
        {"load_param", &scheme, true},
        {"load_device_info", &card, false},
        {"statistics", &task, false},
    };
    InitSession();
    for (const auto& r : rows) {
        fakewyln::GetState().calls.clear();
        owner.Clear();
        bool freedBeforeSend = false;
        fakewyln::GetState().onSend = [&](const fakewyln::Call&) { freedBeforeSend = owner.Freed().size() == 1; };
        fakewyln::Script("SendTo", {1302});
        Deliver(Command(0, r.func, JsonValue("{}")));
        fakewyln::GetState().onSend = nullptr;
        EXPECT_TRUE(freedBeforeSend) << r.func;
        EXPECT_EQ(std::vector<void*>{r.array}, owner.Freed()) << r.func;
        const auto logs = owner.Logs();
        ASSERT_EQ(r.logsReply ? 2u : 1u, logs.size()) << r.func;
        EXPECT_EQ("Recv json data handle fail,errcode=1302", logs.back()) << r.func;
    }
}
