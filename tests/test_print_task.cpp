// "print": the outbound request, the inbound command with its task registry
// and reply, and the print result that arrives as a "getClient" reply.
#include "TaskWire.h"

#include <cstring>

using fakewyln::Calls;
using testsupport::Command;
using testsupport::Json;
using testsupport::JsonValue;
using namespace taskwire;

TEST_F(SessionTest, StartPrintingTaskRequest)
{
    __SCLOUD_PRINT_TASK a = {1, 2, 0, 7, 0, 0, 0, 0.1f, 210.0f, "D:/a.prn"};
    __SCLOUD_PRINT_TASK b = {-2, 5, 6, -4, 7, -8, 9, -1.5f, 0.0f, ""};
    memset(b.szFilePath, 'p', sizeof(b.szFilePath));  // no terminator: sent up to the field's end
    const struct {
        const char* name;
        int mode;
        const char* target;
        __SCLOUD_PRINT_TASK task;
        int sendResult, expected;
        const char* version;
        std::string data;
    } rows[] = {
        {"float widened as double", 0, "peer-P", a, 0, 0, "1.0",
         R"({"bidirect_offset":0,"file_path":"D:/a.prn","print_count":0,"print_scheme_id":0,"step_offset":0,)"
         R"("task_id":7,"type":2,"workstation_h":210,"workstation_w":0.10000000149011612})"},
        {"every field, null target, mode 1", 1, nullptr, b, 1304, 7, "-2.0",
         R"({"bidirect_offset":-8,"file_path":")" + std::string(260, 'p') +
             R"(","print_count":6,"print_scheme_id":7,"step_offset":9,"task_id":-4,"type":5,"workstation_h":0,)"
             R"("workstation_w":-1.5})"},
    };
    for (const auto& r : rows) {
        SetUp();
        InitSession(r.mode);
        fakewyln::Script("SendTo", {r.sendResult});
        __SCLOUD_PRINT_TASK task = r.task;
        EXPECT_EQ(r.expected, session->StartPrintingTask(r.target, &task, 1234)) << r.name;
        EXPECT_EQ(r.mode ? 1u : 0u, Calls("ApplyId").size()) << r.name;
        const auto sent = Calls("SendTo");
        ASSERT_EQ(1u, sent.size()) << r.name;
        EXPECT_EQ(R"({"data":)" + r.data + R"(,"func":"print"})", BodyText(sent[0].payload)) << r.name;
        EXPECT_EQ(r.target == nullptr, sent[0].bNullTarget) << r.name;
        EXPECT_EQ(1234, sent[0].nArg) << r.name;
        EXPECT_EQ(r.version, HeaderValue(sent[0].payload, "version")) << r.name;
        EXPECT_EQ("0", HeaderValue(sent[0].payload, "msg_type")) << r.name;
        EXPECT_EQ(r.target ? r.target : "", HeaderValue(sent[0].payload, "target_id")) << r.name;
        EXPECT_EQ(sent[0].payload, owner.Logs().at(0)) << r.name;
    }
    // A failed id application sends and logs nothing but its code.
    fakewyln::Script("ApplyId", {1002});
    fakewyln::GetState().calls.clear();
    EXPECT_EQ(2, session->StartPrintingTask("peer-P", &a, 10));
    EXPECT_TRUE(Calls("SendTo").empty());
}

TEST_F(SessionTest, PrintCommandFields)
{
    InitSession();
    const struct {
        const char* name;
        const char* data;
        const char* version;
        __SCLOUD_PRINT_TASK expected;
    } rows[] = {
        {"every key, 3-byte path keeps the task id",
         R"({"type":2,"task_id":9,"file_path":"a.p","print_scheme_id":3,"print_count":4,"bidirect_offset":-5,)"
         R"("step_offset":6,"workstation_w":0.5,"workstation_h":1e3})",
         "2", {2, 2, 4, 9, 3, -5, 6, 0.5f, 1000.0f, "a.p"}},
        {"fractional version gives 0", R"({"task_id":1})", "1.0", {0, 0, 0, 1, 0, 0, 0, 0, 0, ""}},
        {"wrong types give zero", R"({"type":"2","print_count":2.5,"task_id":true,"workstation_h":"3","file_path":5})",
         "65537", {1, 0, 0, 0, 0, 0, 0, 0, 0, ""}},
        {"data not an object", R"([{"type":2,"task_id":9}])", "1", {1, 0, 0, 0, 0, 0, 0, 0, 0, ""}},
    };
    for (const auto& r : rows) {
        __SCLOUD_PRINT_TASK seen;
        memset(&seen, 0x5A, sizeof(seen));
        owner.onPrint = [&](__SCLOUD_PRINT_TASK* t, __SCLOUD_PRINT_RESULT*) { seen = *t; return true; };
        Deliver(Command(0, "print", JsonValue(r.data), QString::fromUtf8(r.version)));
        __SCLOUD_PRINT_TASK want = r.expected;
        // Compared whole: padding aside, every field and the zero tail of the path.
        EXPECT_EQ(0, memcmp(&want.iType, &seen.iType, sizeof(seen) - offsetof(__SCLOUD_PRINT_TASK, iType))) << r.name;
        EXPECT_EQ(want.sVer, seen.sVer) << r.name;
    }
    EXPECT_TRUE(Snapshot(*session).empty());
}

TEST_F(SessionTest, PrintCommandReply)
{
    InitSession();
    const struct {
        const char* name;
        std::string message;
        bool accept;
        std::string body;  // empty: no reply
        std::vector<std::string> logs;
    } rows[] = {
        {"accepted", Command(0, "print", Json("{}")), true, R"({"data":{"task_id":42,"type":-2147483648},"func":"print"})",
         {}},
        {"refused", Command(0, "print", Json("{}")), false, "", {kFail + "35"}},
        {"no data", Command(0, "print"), true, "", {kFail + "28"}},
    };
    for (const auto& r : rows) {
        fakewyln::GetState().calls.clear();
        owner.Clear();
        owner.onPrint = [&](__SCLOUD_PRINT_TASK*, __SCLOUD_PRINT_RESULT* res) {
            res->iTaskId = 42;
            res->iType = INT32_MIN;
            return r.accept;
        };
        Deliver(r.message, "peer-A");
        const auto sent = Calls("SendTo");
        ASSERT_EQ(r.body.empty() ? 0u : 1u, sent.size()) << r.name;
        if (!r.body.empty()) {
            EXPECT_EQ(r.body, BodyText(sent[0].payload)) << r.name;
            EXPECT_EQ("peer-A", sent[0].target);
        }
        EXPECT_EQ(r.logs, owner.Logs()) << r.name;  // the reply itself is not logged
    }
}

TEST_F(SessionTest, PrintCommandRegistry)
{
    InitSession();
    int key = 0;
    owner.onPrint = [&](__SCLOUD_PRINT_TASK* t, __SCLOUD_PRINT_RESULT*) { key = t->iTaskId; return true; };
    auto print = [&](const char* peer, int taskId, const char* path) {
        Deliver(CommandFrom(peer, "print", QJsonObject{{"task_id", taskId}, {"file_path", path}}));
        return key;
    };
    const int k9 = print("P", 9, "a.prn");
    const int k10 = print("P", 10, "a.prn");
    const int q9 = print("Q", 9, "b.prn");
    EXPECT_EQ(k9, print("P", 9, "other.prn"));  // same peer and task: same key
    const int lower9 = print("p", 9, "abcd");    // peers compare case-sensitively
    EXPECT_EQ(9, print("P", 9, "a.p"));          // too short to name a print file
    EXPECT_EQ((Registry{{"P", {{9, k9}, {10, k10}}}, {"Q", {{9, q9}}}, {"p", {{9, lower9}}}}), Snapshot(*session));
}

TEST_F(SessionTest, PrintCommandPathThatDoesNotFit)
{
    const std::string e = "\xC3\xA9";  // two bytes, one character
    const struct { std::string path; bool delivered; } rows[] = {
        {std::string(259, 'a'), true},
        {std::string(260, 'a'), false},
        {std::string(257, 'a') + e, true},
        {std::string(258, 'a') + e, false},  // the character would end on the terminator
    };
    for (const auto& r : rows) {
        SetUp();
        InitSession();
        std::string seen;
        owner.onPrint = [&](__SCLOUD_PRINT_TASK* t, __SCLOUD_PRINT_RESULT*) { seen = t->szFilePath; return true; };
        Deliver(Command(0, "print", QJsonObject{{"task_id", 5}, {"file_path", QString::fromStdString(r.path)}}));
        EXPECT_EQ(r.delivered ? r.path : "", seen) << r.path.size();
        EXPECT_EQ(r.delivered ? 1u : 0u, Calls("SendTo").size()) << r.path.size();
        EXPECT_EQ(r.delivered ? 1u : 0u, Snapshot(*session).size()) << r.path.size();
        EXPECT_EQ(r.delivered ? 0 : 1, owner.CountLog(kFail + "29")) << r.path.size();
    }
}

TEST_F(SessionTest, PrintResultArrivesAsGetClientReply)
{
    InitSession();
    const struct {
        const char* name;
        std::string message;
        bool accept;
        std::vector<int> seen;  // sVer, iType, iTaskId; empty: not called
        std::vector<std::string> logs;
    } rows[] = {
        {"result", Command(1, "getClient", Json(R"({"type":3,"task_id":12})"), "4"), true, {4, 3, 12}, {}},
        {"wrong types", Command(1, "getClient", Json(R"({"type":"3","task_id":1.5})")), true, {1, 0, 0}, {}},
        {"refused", Command(1, "getClient", Json(R"({"type":3})")), false, {1, 3, 0}, {kFail + "35"}},
        {"no data", Command(1, "getClient"), true, {}, {kFail + "28"}},
        {"a print reply is not routed", Command(1, "print", Json(R"({"type":3})")), true, {}, {}},
    };
    for (const auto& r : rows) {
        owner.Clear();
        std::vector<int> seen;
        owner.onPrintResult = [&](__SCLOUD_PRINT_RESULT* p) {
            seen = {p->sVer, p->iType, p->iTaskId};
            return r.accept;
        };
        Deliver(r.message);
        EXPECT_EQ(r.seen, seen) << r.name;
        EXPECT_EQ(r.logs, owner.Logs()) << r.name;
    }
    EXPECT_TRUE(Calls("SendTo").empty());
}
