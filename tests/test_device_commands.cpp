// Device commands. Those answered from host-allocated arrays ("load_param",
// "load_device_info", "statistics"): replies byte for byte, arrays on their
// way back through OnFreeMemory. How the machine actions and the device
// commands read their requests: each host callback seen as its numeric
// fields in order (sVer first), against absent, unusable and array-shaped
// data, with the family's warning or refusal line. The five machine actions
// never answer; the others answer once.
#include "ReplyText.h"
#include "Session.h"

#include <cstring>
#include <limits>
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

TEST_F(SessionTest, RequestsReadTheirRecordWithDefaultsWarningsAndRefusals)
{
    const double inf = std::numeric_limits<float>::infinity();
    const std::string fail = "Recv json data handle fail,errcode=";
    const std::string warn = "Recv json data handle warning,";
    const std::string kInfoArr = warn + "load device info data is arr", kCheckArr = warn + "check before print data is arr",
                      kUpgradeArr = warn + "upgrade data is arr";
    const struct {
        const char* func;
        const char* data;  // nullptr: no "data" key
        const char* version;
        std::vector<double> fields;  // empty: the host is not called
        std::string log;             // "": no warning or failure line
        bool sigAnswer;
    } rows[] = {
        // motor_run: sVer, motor, dir, run_len, speed, acc_len, run_type, iRunType
        {"motor_run", "{\"speed\":2.5}", "7", {7, 0, 1, 0, 2.5, 1, 0, 0}, "", true},
        {"motor_run", "{\"motor\":3,\"dir\":-1,\"run_len\":12.25,\"speed\":0.1,\"acc_len\":4,\"run_type\":2,\"iRunType\":2.75}",
         "2", {2, 3, -1, 12.25, 0.1f, 4, 2, 2.75}, "", true},
        // present but unusable: 0, not the default
        {"motor_run", "{\"dir\":\"1\",\"speed\":null,\"acc_len\":true}", "1", {1, 0, 0, 0, 0, 0, 0, 0}, "", true},
        {"motor_run", "{\"run_type\":2.75,\"motor\":1e12}", "1", {1, 0, 1, 0, 1, 1, 0, 0}, "", true},
        {"motor_run", "{\"speed\":1e300}", "1", {1, 0, 1, 0, inf, 1, 0, 0}, "", true},
        {"motor_run", "[{\"speed\":2.5,\"dir\":0}]", "7", {0, 0, 1, 0, 1, 1, 0, 0}, "", true},
        {"motor_run", nullptr, "7", {0, 0, 1, 0, 1, 1, 0, 0}, "", true},
        {"motor_run", "{}", "1.0", {0, 0, 1, 0, 1, 1, 0, 0}, "", true},
        {"motor_run", "{}", "65537", {1, 0, 1, 0, 1, 1, 0, 0}, "", true},
        // clean: sVer, type, head_num
        {"clean", "[{\"type\":1,\"head_num\":3},{\"type\":2}]", "4", {4, 1, 3}, "", true},
        {"clean", "[]", "4", {0, 0, -1}, "", true},
        {"clean", nullptr, "4", {4, 0, -1}, "", true},
        {"clean", "[5]", "4", {4, 0, -1}, "", true},
        {"clean", "{\"head_num\":\"3\",\"type\":0.5}", "4", {4, 0, 0}, "", true},
        // load_ink: sVer, head_num
        {"load_ink", "{}", "9", {9, -1}, "", true},
        {"load_ink", "[{\"head_num\":2}]", "9", {9, 2}, "", true},
        {"load_ink", "[]", "9", {0, -1}, "", true},
        {"load_ink", "{\"head_num\":null}", "9", {9, 0}, "", true},
        // run_machine: sVer, type
        {"run_machine", "{\"type\":3}", "x", {0, 3}, "", true},
        {"run_machine", "[{\"type\":3},{\"type\":4}]", "2", {2, 3}, "", true},
        {"run_machine", "\"go\"", "2", {2, 0}, "", true},
        // sig: sVer, sig_type; an object only, and the host may refuse
        {"sig", "{\"sig_type\":6}", "3", {3, 6}, "", true},
        {"sig", "{}", "3", {3, 0}, "", true},
        {"sig", "{\"sig_type\":6}", "3", {3, 6}, fail + "35", false},
        {"sig", "[{\"sig_type\":1}]", "3", {}, fail + "28", true},
        {"sig", nullptr, "3", {}, fail + "28", true},
        {"sig", "1", "3", {}, fail + "28", true},
        // load_param: sVer, param_type
        {"load_param", "[{\"param_type\":2},{\"param_type\":3}]", "5", {5, 2}, "", true},
        {"load_param", "{\"param_type\":\"4\"}", "5", {5, 0}, "", true},
        {"load_param", "[]", "5", {0, 0}, "", true},
        // load_device_info: sVer, info_type; arrays are read but warned of
        {"load_device_info", "[{\"info_type\":3}]", "2", {2, 3}, kInfoArr, true},
        {"load_device_info", "[]", "2", {0, 0}, kInfoArr, true},
        {"load_device_info", "{\"info_type\":3.5}", "2", {2, 0}, "", true},
        {"load_device_info", "\"x\"", "2", {2, 0}, "", true},
        // statistics: sVer, year, month, day
        {"statistics", nullptr, "3", {3, 2024, 1, 1}, "", true},
        {"statistics", "[]", "3", {0, 2024, 1, 1}, "", true},
        {"statistics", "{\"year\":2025,\"month\":3,\"day\":17}", "3", {3, 2025, 3, 17}, "", true},
        {"statistics", "{\"month\":12}", "3", {3, 2024, 12, 1}, "", true},
        {"statistics", "[{\"day\":9},{\"day\":10}]", "3", {3, 2024, 1, 9}, "", true},
        {"statistics", "{\"year\":\"2025\",\"month\":null,\"day\":1.5}", "3", {3, 0, 0, 0}, "", true},
        {"statistics", "{\"year\":2025}", "v3", {0, 2025, 1, 1}, "", true},
        // check_before_print: sVer, canvas_w, canvas_h, print_scheme_id
        {"check_before_print", "{\"canvas_w\":1200.5,\"canvas_h\":0.1,\"print_scheme_id\":2.5}", "4", {4, 1200.5, 0.1, 0}, "", true},
        {"check_before_print", "[{\"print_scheme_id\":4},{\"print_scheme_id\":5}]", "4", {4, 0, 0, 4}, kCheckArr, true},
        {"check_before_print", "{\"canvas_w\":\"12\",\"canvas_h\":null,\"print_scheme_id\":3}", "4", {4, 0, 0, 3}, "", true},
        {"check_before_print", "[]", "4", {0, 0, 0, 0}, kCheckArr, true},
        {"check_before_print", "5", "4", {4, 0, 0, 0}, "", true},
        // upgrade: sVer, type (its path: test_cmd_results)
        {"upgrade", "{\"type\":2}", "8", {8, 2}, "", true},
        {"upgrade", "{\"type\":1.5}", "8", {8, 0}, "", true},
        {"upgrade", "[{\"file_path\":\"x.bin\"},{\"type\":3}]", "8", {8, 0}, kUpgradeArr, true},
        {"upgrade", "[]", "8", {0, 0}, kUpgradeArr, true},
        {"upgrade", nullptr, "8", {8, 0}, "", true},
        // config_wifi_info: sVer; an array is taken without a word, as zeros
        {"config_wifi_info", "[{\"name\":\"home\"}]", "6", {0}, "", true},
    };
    const char* const answering[] = {"load_param", "load_device_info", "statistics", "check_before_print",
                                     "upgrade", "config_wifi_info"};
    InitSession();
    for (const auto& r : rows) {
        fakewyln::GetState().calls.clear();
        owner.Clear();
        std::vector<std::vector<double>> got;
        owner.onMotorRun = [&](__SCLOUD_MOTOR_RUN* p) {
            got.push_back({double(p->sVer), double(p->iMotor), double(p->iDir), p->fRunLen, p->fSpeed, p->fAccLen,
                           double(p->iRunType), p->fIRunType});
        };
        owner.onClean = [&](__SCLOUD_CLEAN* p) { got.push_back({double(p->sVer), double(p->iType), double(p->iHeadNum)}); };
        owner.onLoadInk = [&](__SCLOUD_LOAD_INK* p) { got.push_back({double(p->sVer), double(p->iHeadNum)}); };
        owner.onRunMachine = [&](__SCLOUD_RUN_MACHINE* p) { got.push_back({double(p->sVer), double(p->iType)}); };
        owner.onSig = [&](__SCLOUD_SIG* p) {
            got.push_back({double(p->sVer), double(p->iSigType)});
            return r.sigAnswer;
        };
        bool zeroed = true;  // every result reaches the host zeroed
        owner.onLoadParam = [&](__SCLOUD_LOAD_PARAM* c, __SCLOUD_LOAD_PARAM_RESULT* p) {
            got.push_back({double(c->sVer), double(c->iParamType)});
            zeroed = p->sVer == 0 && p->iSchemeCount == 0 && !p->pSchemes && p->iCanvasCount == 0 && !p->pCanvases;
        };
        owner.onLoadDeviceInfo = [&](__SCLOUD_LOAD_DEVICE_INFO* c, __SCLOUD_LOAD_DEVICE_INFO_RESULT*) {
            got.push_back({double(c->sVer), double(c->iInfoType)});
        };
        owner.onStatistics = [&](__SCLOUD_STATISTICS* c, __SCLOUD_STATISTICS_RESULT* p) {
            got.push_back({double(c->sVer), double(c->iYear), double(c->iMonth), double(c->iDay)});
            zeroed = p->iTaskCount == 0 && !p->pTaskInfo && p->fTotalInk == 0;
        };
        owner.onCheckBeforePrint = [&](__SCLOUD_CHECK_BEFORE_PRINT* c, __SCLOUD_CMD_RESULT*) {
            got.push_back({double(c->sVer), c->dCanvasW, c->dCanvasH, double(c->iPrintSchemeId)});
        };
        owner.onUpgrade = [&](__SCLOUD_UPGRADE* c, __SCLOUD_CMD_RESULT*) { got.push_back({double(c->sVer), double(c->iType)}); };
        owner.onConfigWifiInfo = [&](__SCLOUD_CONFIG_WIFI_INFO* c, __SCLOUD_CMD_RESULT*) { got.push_back({double(c->sVer)}); };

        Deliver(Command(0, r.func, r.data ? JsonValue(r.data) : QJsonValue(QJsonValue::Undefined),
                        QString::fromUtf8(r.version)));
        const std::string what = std::string(r.func) + " " + (r.data ? r.data : "<none>") + " v" + r.version;
        if (r.fields.empty()) {
            EXPECT_TRUE(got.empty()) << what;
        } else {
            ASSERT_EQ(1u, got.size()) << what;
            EXPECT_EQ(r.fields, got[0]) << what;
        }
        EXPECT_TRUE(zeroed) << what;
        std::vector<std::string> lines;  // load_param also logs its reply
        for (const std::string& l : owner.Logs())
            if (l.rfind("Recv json", 0) == 0)
                lines.push_back(l);
        EXPECT_EQ(r.log.empty() ? std::vector<std::string>{} : std::vector<std::string>{r.log}, lines) << what;
        bool answers = false;
        for (const char* f : answering)
            answers = answers || std::strcmp(f, r.func) == 0;
        EXPECT_EQ(answers ? 1u : 0u, Replies().size()) << what;
    }
}
