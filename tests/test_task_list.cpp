// "get_task_list_info": the reply built from the host's arrays, each array
// handed back in order, and the peer's list read into arrays the library
// owns.
#include "TaskWire.h"

#include <cstring>

using fakewyln::Calls;
using testsupport::Command;
using testsupport::Json;
using testsupport::JsonValue;
using namespace taskwire;

namespace {

// The host's arrays, owned by the test until they come back.
struct HostList
{
    __SCLOUD_PRINT_MODE modes0[2] = {{"fast", 0}, {"", 1}};
    __SCLOUD_PRINT_MODE modes1[1] = {{"\xC3\xA9t\xC3\xA9", -3}};
    __SCLOUD_PRINT_TASK_INFO waiting[2] = {{11, 1, 2, modes0, 1, 2, 3, 0.1, 2.5, 300, -4, "C:/t.png", "job \"one\""},
                                           {12, 2, 1, modes1, 0, 0, 1, 0, 0, 0, 0, "", "two"}};
    __SCLOUD_HISTORY_TASK_INFO history[1] = {{21, 5, "slow", 4, 1.25, 2, 3, 4, "h.png", "old"}};
    HostList() { memset(modes0[1].szName, 'q', sizeof(modes0[1].szName)); }  // fills the field
};

} // namespace

TEST_F(SessionTest, TaskListReplyAndReleaseOrder)
{
    InitSession();
    HostList host;
    std::vector<int> cmd;
    owner.onGetTaskListInfo = [&](__SCLOUD_GET_TASK_LIST_INFO* c, __SCLOUD_GET_TASK_LIST_INFO_RESULT* r) {
        cmd = {c->sVer, c->iType};
        *r = {0, 2, host.waiting, 1, host.history};
    };
    Deliver(Command(0, "get_task_list_info", Json(R"({"type":3})"), "7"));
    EXPECT_EQ((std::vector<int>{7, 3}), cmd);
    ASSERT_EQ(1u, Calls("SendTo").size());
    EXPECT_EQ(
        R"({"data":{"history_list":{"task_count":1,"task_info":[{"print_h":1.25,"print_mode":"slow","print_w":2,)"
        R"("task_h":3,"task_id":21,"task_index":5,"task_name":"old","task_status":4,"task_w":4,"thumb_path":"h.png"}]},)"
        R"("print_list":{"task_count":2,"task_info":[{"cur_mode":1,"print_copys":3,"print_h":0.1,)"
        R"("print_mode":[{"index":0,"name":"fast"},{"index":1,"name":"qqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqq"}],)"
        R"("print_w":2.5,"task_h":300,"task_id":11,"task_index":1,"task_name":"job \"one\"","task_status":2,)"
        R"("task_w":-4,"thumb_path":"C:/t.png"},{"cur_mode":0,"print_copys":1,"print_h":0,)"
        R"("print_mode":[{"index":-3,"name":"été"}],"print_w":0,"task_h":0,"task_id":12,"task_index":2,)"
        R"("task_name":"two","task_status":0,"task_w":0,"thumb_path":""}]}},"func":"get_task_list_info"})",
        BodyText(Calls("SendTo")[0].payload));
    EXPECT_EQ((std::vector<void*>{host.modes0, host.modes1, host.waiting, host.history}), owner.Freed());
}

TEST_F(SessionTest, TaskListReplyWhenCountsAndArraysDisagree)
{
    InitSession();
    HostList host;
    __SCLOUD_PRINT_MODE* m0 = host.modes0;
    __SCLOUD_PRINT_TASK_INFO* w = host.waiting;
    __SCLOUD_HISTORY_TASK_INFO* h = host.history;
    const struct {
        const char* name;
        __SCLOUD_GET_TASK_LIST_INFO_RESULT list;
        int modeCount0;
        __SCLOUD_PRINT_MODE* modes0;
        std::string sizes;  // waiting count/entries/modes of entry 0, history count/entries
        std::vector<void*> freed;
    } rows[] = {
        {"counts without arrays", {0, 2, nullptr, 1, nullptr}, 2, m0, "2/0/-,1/0", {}},
        {"arrays without counts", {0, 0, w, -1, h}, 2, m0, "0/0/-,-1/0", {w, h}},
        {"modes: zero count, array still released", {0, 1, w, 0, nullptr}, 0, m0, "1/1/0,0/0", {m0, w}},
        {"modes: count without array", {0, 1, w, 0, nullptr}, 2, nullptr, "1/1/0,0/0", {w}},
        {"unvisited entries keep their modes", {0, 1, w, 1, h}, 2, m0, "1/1/2,1/1", {m0, w, h}},
    };
    for (const auto& r : rows) {
        fakewyln::GetState().calls.clear();
        owner.Clear();
        host.waiting[0].iPrintModeCount = r.modeCount0;
        host.waiting[0].pPrintMode = r.modes0;
        owner.onGetTaskListInfo = [&](__SCLOUD_GET_TASK_LIST_INFO*, __SCLOUD_GET_TASK_LIST_INFO_RESULT* res) {
            *res = r.list;
        };
        Deliver(Command(0, "get_task_list_info", JsonValue("[]")));
        const QJsonObject msg = testsupport::Parse(Calls("SendTo").at(0).payload);
        const QJsonObject data = msg["body"]["data"].toObject();
        const QJsonArray tasks = data["print_list"]["task_info"].toArray();
        const std::string sizes =
            std::to_string(data["print_list"]["task_count"].toInt()) + "/" + std::to_string(tasks.size()) + "/" +
            (tasks.isEmpty() ? "-" : std::to_string(tasks[0]["print_mode"].toArray().size())) + "," +
            std::to_string(data["history_list"]["task_count"].toInt()) + "/" +
            std::to_string(data["history_list"]["task_info"].toArray().size());
        EXPECT_EQ(r.sizes, sizes) << r.name;
        EXPECT_EQ(r.freed, owner.Freed()) << r.name;
    }
}

TEST_F(SessionTest, TaskListResponse)
{
    InitSession();
    auto waitingText = [](const __SCLOUD_PRINT_TASK_INFO& t) {
        std::string s = std::to_string(t.iTaskId) + "," + std::to_string(t.iCurMode) + "," +
                        std::to_string(t.iPrintCopys) + "," + std::to_string(t.dPrintH) + "," + t.szTaskName + "," +
                        std::to_string(t.iPrintModeCount) + (t.pPrintMode ? "" : "-");
        for (int j = 0; j < t.iPrintModeCount && t.pPrintMode; ++j)
            s += ":" + std::string(t.pPrintMode[j].szName) + "=" + std::to_string(t.pPrintMode[j].iIndex);
        return s;
    };
    const struct {
        const char* name;
        const char* data;
        std::string seen;  // "ver waiting history", null arrays as "-", then each entry
        std::vector<std::string> logs;
    } rows[] = {
        {"full",
         R"({"print_list":{"task_count":1,"task_info":[{"task_id":1,"cur_mode":3,"print_copys":5,"print_h":0.5,)"
         R"("task_name":"n","print_mode":[{"name":"a","index":1},{"name":7,"index":2.9},5]}]},)"
         R"("history_list":{"task_count":1,"task_info":[{"task_id":9,"print_mode":"m","task_w":1.5}]}})",
         "12 1 1 | 1,3,5,0.500000,n,3:a=1:=2:=0 | h9,m,1.500000", {}},
        {"fewer elements than counted", R"({"print_list":{"task_count":3,"task_info":[{"task_id":1}]}})",
         "12 3 0- | 1,0,0,0.000000,,0- | 0,0,0,0.000000,,0- | 0,0,0,0.000000,,0-", {}},
        {"more elements than counted", R"({"print_list":{"task_count":1,"task_info":[{"task_id":1},{"task_id":2}]}})",
         "12 1 0- | 1,0,0,0.000000,,0-", {}},
        {"task_info an object", R"({"print_list":{"task_count":2,"task_info":{}}})", "12 2- 0-", {}},
        {"negative count", R"({"print_list":{"task_count":-1,"task_info":[{}]}})", "12 -1- 0-", {}},
        {"copies cut towards zero, cur_mode integral only",
         R"({"print_list":{"task_count":1,"task_info":[{"print_copys":3.7,"cur_mode":3.7}]}})",
         "12 1 0- | 0,0,3,0.000000,,0-", {}},
        {"history an array, waiting still read", R"({"history_list":[{}],"print_list":{"task_count":1,"task_info":[7]}})",
         "12 1 0- | 0,0,0,0.000000,,0-", {}},
        {"peer's count beyond memory", R"({"print_list":{"task_count":2147483647,"task_info":[{}]}})",
         "12 2147483647- 0-", {}},
    };
    for (const auto& r : rows) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        if (std::string(r.name) == "peer's count beyond memory")
            continue;  // the sanitizers' allocators abort instead of failing
#endif
        owner.Clear();
        std::string seen;
        owner.onGetTaskListInfoResult = [&](__SCLOUD_GET_TASK_LIST_INFO_RESULT* p) {
            seen = std::to_string(p->sVer) + " " + std::to_string(p->iPrintTaskCount) + (p->pPrintTaskInfo ? "" : "-") +
                   " " + std::to_string(p->iHistoryTaskCount) + (p->pHistoryTaskInfo ? "" : "-");
            for (int i = 0; i < p->iPrintTaskCount && p->pPrintTaskInfo; ++i)
                seen += " | " + waitingText(p->pPrintTaskInfo[i]);
            for (int i = 0; i < p->iHistoryTaskCount && p->pHistoryTaskInfo; ++i)
                seen += " | h" + std::to_string(p->pHistoryTaskInfo[i].iTaskId) + "," +
                        p->pHistoryTaskInfo[i].szPrintMode + "," + std::to_string(p->pHistoryTaskInfo[i].dTaskW);
            // A host that rewrites the structure must not change what the
            // library releases afterwards.
            p->pPrintTaskInfo = nullptr;
            p->iPrintTaskCount = 1000;
            return true;
        };
        Deliver(Command(1, "get_task_list_info", Json(r.data), "12"));
        EXPECT_EQ(r.seen, seen) << r.name;
        EXPECT_TRUE(owner.Freed().empty()) << r.name;
        EXPECT_EQ(r.logs, owner.Logs()) << r.name;
    }
    owner.onGetTaskListInfoResult = [](__SCLOUD_GET_TASK_LIST_INFO_RESULT*) { return false; };
    Deliver(Command(1, "get_task_list_info", Json("{}")));
    Deliver(Command(1, "get_task_list_info", JsonValue("[{}]")));
    EXPECT_EQ((std::vector<std::string>{kFail + "35", kFail + "28"}), owner.Logs());
}
