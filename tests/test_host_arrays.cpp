// Commands answered from host-allocated arrays: "load_param",
// "load_device_info" and "statistics". Replies are checked byte for byte,
// arrays for their way back through OnFreeMemory.
#include "ReplyText.h"
#include "Session.h"

#include <cstring>
#include <vector>

using testsupport::BodyText;
using testsupport::Command;
using testsupport::JsonValue;

TEST_F(SessionTest, ArrayRepliesAreExactAndEveryArrayGoesBack)
{
    __SCLOUD_PRINT_SCHEME schemes[2] = {{"Fast", 1}, {"Fein \xC3\xA9", -7}};
    __SCLOUD_CANVAS canvases[2] = {{0.1f, 600.0f}, {1200.5f, 1e-3f}};
    __SCLOUD_LOAD_PARAM_RESULT lpSome = {0, 2, schemes, 1, canvases};  // one canvas of two
    __SCLOUD_LOAD_PARAM_RESULT lpNegative = {0, -1, schemes, -5, canvases};
    __SCLOUD_LOAD_PARAM_RESULT lpNull = {0, 3, nullptr, 0, nullptr};

    __SCLOUD_CARD_INFO hb[1] = {{0, "HB", "L1", "H1", "1.2", "3.4"}};
    __SCLOUD_CARD_INFO db[2] = {{1, "DB", "", "", "", ""}, {2, "", "", "", "", ""}};
    __SCLOUD_CARD_INFO eb[1] = {{9, "", "", "", "", ""}};
    memset(db[1].szMcnVer, 'm', sizeof(db[1].szMcnVer));  // full field, no terminator
    // Counts of 0: the lists are neither read nor freed.
    __SCLOUD_LOAD_DEVICE_INFO_RESULT diNone = {0, "", "", "", "", "", "", "", "", "", 0, hb, 0, db, 0, eb};
    __SCLOUD_LOAD_DEVICE_INFO_RESULT diAll = {0, "", "ser", "ml", "mp", "c", "p", "sv", "dm", "dp", 1, hb, 2, db, 1, eb};
    memset(diAll.szMbSnId, 's', sizeof(diAll.szMbSnId));  // full field, no terminator

    __SCLOUD_TASK_STATISTICS tasks[1] = {{"job-1", 2.0f, 0.1f, 1.5f, 0.2f, 0.0f, -1.0f}};
    __SCLOUD_STATISTICS_RESULT stOne = {0, 0.3f, 7.0f, 2.5f, 1, tasks};
    __SCLOUD_STATISTICS_RESULT stNegative = {0, 0, 0, 0, -3, tasks};

    const std::string noCanvas = R"({"data":{"canvas":[],"print_scheme":[]},"func":"load_param"})";
    const std::string emptyBoard =
        R"("mb_info":{"configure_ver":"","mb_logic_ver":"","mb_program_ver":"","mb_serial":"","mb_sn_id":"","paramter_ver":""},)"
        R"("soft_info":{"data_process_ver":"","dev_manager_ver":"","soft_ver":""})";
    const struct {
        const char* func;
        const void* result;
        std::string body;
        std::vector<void*> freed;
    } rows[] = {
        {"load_param", &lpSome,
         R"({"data":{"canvas":[{"canvas_h":600,"canvas_w":0.10000000149011612}],"print_scheme":[)"
         R"({"print_scheme_id":1,"print_scheme_name":"Fast"},{"print_scheme_id":-7,"print_scheme_name":"Fein é"}]},)"
         R"("func":"load_param"})",
         {schemes, canvases}},
        {"load_param", &lpNegative, noCanvas, {}},
        {"load_param", &lpNull, noCanvas, {}},
        {"load_device_info", &diNone, "{\"data\":{" + emptyBoard + "},\"func\":\"load_device_info\"}", {}},
        {"load_device_info", &diAll,
         R"({"data":{"db_info":[{"card_type":"DB","hardware_type":"","index":1,"logic_type":"","logic_ver":"","mcn_ver":""},)"
         R"({"card_type":"","hardware_type":"","index":2,"logic_type":"","logic_ver":"","mcn_ver":")" +
             std::string(32, 'm') +
             R"("}],"eb_info":[{"card_type":"","hardware_type":"","index":9,"logic_type":"","logic_ver":"","mcn_ver":""}],)"
             R"("hb_info":[{"card_type":"HB","hardware_type":"H1","index":0,"logic_type":"L1","logic_ver":"1.2","mcn_ver":"3.4"}],)"
             R"("mb_info":{"configure_ver":"c","mb_logic_ver":"ml","mb_program_ver":"mp","mb_serial":"ser","mb_sn_id":")" +
             std::string(64, 's') +
             R"(","paramter_ver":"p"},"soft_info":{"data_process_ver":"dp","dev_manager_ver":"dm","soft_ver":"sv"}},)"
             R"("func":"load_device_info"})",
         {hb, db, eb}},
        {"statistics", &stOne,
         R"({"data":{"task_info":[{"c":0.20000000298023224,"k":1.5,"m":0,"print_area":2,)"
         R"("print_len":0.10000000149011612,"task_name":"job-1","y":-1}],)"
         R"("total_area":7,"total_ink":0.30000001192092896,"total_len":2.5},"func":"statistics"})",
         {tasks}},
        {"statistics", &stNegative,
         R"({"data":{"task_info":[],"total_area":0,"total_ink":0,"total_len":0},"func":"statistics"})", {}},
    };
    InitSession();
    for (const auto& r : rows) {
        fakewyln::GetState().calls.clear();
        owner.Clear();
        owner.onLoadParam = [&](__SCLOUD_LOAD_PARAM*, __SCLOUD_LOAD_PARAM_RESULT* p) {
            *p = *static_cast<const __SCLOUD_LOAD_PARAM_RESULT*>(r.result);
        };
        owner.onLoadDeviceInfo = [&](__SCLOUD_LOAD_DEVICE_INFO*, __SCLOUD_LOAD_DEVICE_INFO_RESULT* p) {
            *p = *static_cast<const __SCLOUD_LOAD_DEVICE_INFO_RESULT*>(r.result);
        };
        owner.onStatistics = [&](__SCLOUD_STATISTICS*, __SCLOUD_STATISTICS_RESULT* p) {
            *p = *static_cast<const __SCLOUD_STATISTICS_RESULT*>(r.result);
        };
        Deliver(Command(0, r.func, JsonValue("{}")));
        const auto replies = Replies();
        ASSERT_EQ(1u, replies.size()) << r.func;
        EXPECT_EQ(r.body, BodyText(replies[0])) << r.func;
        EXPECT_EQ(r.freed, owner.Freed()) << r.func;
        // Only load_param logs its reply.
        const bool logged = std::strcmp(r.func, "load_param") == 0;
        EXPECT_EQ(logged ? replies : std::vector<std::string>{}, owner.Logs()) << r.func;
    }
}

// Each answering command replies once, to the sender, with the request's
// version, and passes a failed send through unmapped; host arrays are back
// with the host before the send, whatever the send gives.
TEST_F(SessionTest, DeviceCommandsReplyOnceToTheSenderAndFreeArraysFirst)
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
        std::vector<void*> freed;
    } rows[] = {
        {"load_param", {&scheme}}, {"load_device_info", {&card}}, {"statistics", {&task}},
        {"check_before_print", {}}, {"config_wifi_info", {}}, {"upgrade", {}},
    };
    InitSession();
    for (const auto& r : rows) {
        for (int sendResult : {0, 1501}) {
            fakewyln::GetState().calls.clear();
            owner.Clear();
            std::vector<void*> freedAtSend;
            fakewyln::GetState().onSend = [&](const fakewyln::Call&) { freedAtSend = owner.Freed(); };
            fakewyln::Script("SendTo", {sendResult});
            Deliver(Command(0, r.func, JsonValue("{}"), QStringLiteral("12")), "peer-A");
            fakewyln::GetState().onSend = nullptr;
            const auto calls = fakewyln::Calls("SendTo");
            ASSERT_EQ(1u, calls.size()) << r.func;
            EXPECT_EQ("peer-A", calls[0].target) << r.func;
            EXPECT_EQ(3000, calls[0].nArg) << r.func;
            EXPECT_EQ(QString::fromUtf8(r.func), ReplyBody(calls[0].payload).value("func").toString());
            const QJsonObject h = testsupport::Parse(calls[0].payload).value("header").toObject();
            EXPECT_EQ(QStringLiteral("12"), h.value("version").toString()) << r.func;
            EXPECT_EQ(r.freed, freedAtSend) << r.func;
            EXPECT_EQ(r.freed, owner.Freed()) << r.func;
            const auto logs = owner.Logs();
            EXPECT_EQ(sendResult != 0, !logs.empty() && logs.back() == "Recv json data handle fail,errcode=1501")
                << r.func;
        }
    }
}
