// "updateTaskStatus": the registry lookup and removal, and the request and
// its target in each client mode. The registry shared between the transport's
// thread and the host's is exercised by the stress test.
#include "TaskWire.h"

#include "messages/TaskStatus.h"

using fakewyln::Calls;
using testsupport::Command;
using testsupport::Json;
using namespace taskwire;

namespace {

std::string StatusBody(int id, int status)
{
    return "{\"data\":{\"id\":" + std::to_string(id) + ",\"status\":" + std::to_string(status) +
           "},\"func\":\"updateTaskStatus\"}";
}

} // namespace

TEST(TaskRegistry, LookupAndRemoval)
{
    const struct {
        const char* name;
        Registry before;
        int key;
        int taskId;
        const char* peer;
        Registry afterRemoval;
    } rows[] = {
        {"a task id is not a key", {{"P", {{1234, 7}}}}, 1234, -1, "", {{"P", {{1234, 7}}}}},
        {"the later record wins", {{"P", {{1, 50}}}, {"Q", {{2, 50}}}}, 50, 2, "Q", {{"P", {{1, 50}}}, {"Q", {}}}},
        {"the following pair moves up", {{"P", {{1, 10}, {2, 20}, {3, 30}}}}, 20, 2, "P", {{"P", {{1, 10}, {3, 30}}}}},
        {"task id -1 passes to the previous record", {{"P", {{4, 50}}}, {"Q", {{-1, 50}}}}, 50, 4, "P",
         {{"P", {}}, {"Q", {{-1, 50}}}}},
        {"a record's -1 pair hides its earlier ones", {{"P", {{4, 50}, {-1, 50}}}}, 50, -1, "",
         {{"P", {{4, 50}, {-1, 50}}}}},
        {"only the peer's latest record loses a pair", {{"P", {{1, 50}}}, {"Q", {}}, {"P", {{2, 50}}}}, 50, 2, "P",
         {{"P", {{1, 50}}}, {"Q", {}}, {"P", {}}}},
    };
    for (const auto& r : rows) {
        std::vector<SCloudTaskRecord> v = Records(r.before);
        const orlin::SCloudTaskLookup found = orlin::FindPeerTask(v, r.key);
        EXPECT_EQ(r.taskId, found.iTaskId) << r.name;
        EXPECT_EQ(r.peer, found.strPeerId) << r.name;
        orlin::ForgetPeerTask(v, found.strPeerId, r.key);
        EXPECT_EQ(r.afterRemoval, Entries(v)) << r.name;
    }
}

TEST_F(SessionTest, UpgradePrintStatusTargets)
{
    const struct {
        const char* name;
        int mode;
        std::vector<int> keys;  // updates sent one after another with the status below
        int status;
        std::vector<std::string> bodies, headerTargets, sentTo;
    } rows[] = {
        {"mode 0: to the service whatever the header names", 0, {1234, 999}, 1,
         {StatusBody(7, 1), StatusBody(-1, 1)}, {"P", ""}, {"svc-1", "svc-1"}},
        {"mode 1: to the task's peer", 1, {1234, 999}, 1, {StatusBody(7, 1), StatusBody(-1, 1)}, {"P", ""}, {"P", ""}},
        {"status 2 forgets the task", 1, {1234, 1234}, 2, {StatusBody(7, 2), StatusBody(-1, 2)}, {"P", ""},
         {"P", ""}},
    };
    for (const auto& r : rows) {
        SetUp();
        InitSession(r.mode);
        Deliver(Command(0, "getClient", Json(R"({"type":100,"id":"svc-1"})")));
        Deliver(CommandFrom("P", "print", QJsonObject{{"task_id", 7}, {"file_path", "D:/a.prn"}}));
        OrlinTestAccess::Link(*session).vecTaskRecord[0].vecPairs[0].iKey = 1234;
        fakewyln::GetState().calls.clear();
        owner.Clear();
        for (int key : r.keys) {
            __SCLOUD_UPGRADE_PRINT_STATUS st = {5, key, r.status};
            EXPECT_EQ(0, session->UpgradePrintStatus(&st, 777)) << r.name;
        }
        const auto sent = Calls("SendTo");
        ASSERT_EQ(r.keys.size(), sent.size()) << r.name;
        for (size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(r.bodies[i], BodyText(sent[i].payload)) << r.name << i;
            EXPECT_EQ(r.headerTargets[i], HeaderValue(sent[i].payload, "target_id")) << r.name << i;
            EXPECT_EQ(r.sentTo[i], sent[i].target) << r.name << i;
            EXPECT_EQ("1", HeaderValue(sent[i].payload, "version")) << r.name;
            EXPECT_EQ("0", HeaderValue(sent[i].payload, "msg_type")) << r.name;
            EXPECT_EQ(777, sent[i].nArg);
            EXPECT_EQ(sent[i].payload, owner.Logs().at(2 * i)) << r.name;
        }
        EXPECT_EQ(r.mode ? r.keys.size() : 0u, Calls("ApplyId").size()) << r.name;
    }
}

TEST_F(SessionTest, UpgradePrintStatusForgetsAlsoWhenApplyIdFails)
{
    InitSession(1);
    OrlinTestAccess::Link(*session).vecTaskRecord = Records({{"P", {{7, 1234}, {8, 99}}}});
    fakewyln::Script("ApplyId", {1003});
    __SCLOUD_UPGRADE_PRINT_STATUS st = {1, 1234, 2};
    EXPECT_EQ(3, session->UpgradePrintStatus(&st, 3000));
    EXPECT_TRUE(Calls("SendTo").empty());
    EXPECT_EQ((Registry{{"P", {{8, 99}}}}), Snapshot(*session));
}
