// "set_task_param": -2 for values the command did not carry, the reply from
// the host's result, and a response whose task id is not passed on.
#include "TaskWire.h"

#include <cstring>

using fakewyln::Calls;
using testsupport::Command;
using testsupport::Json;
using testsupport::JsonValue;
using namespace taskwire;

TEST_F(SessionTest, SetTaskParamCommand)
{
    InitSession();
    const struct {
        const char* name;
        QJsonValue data;
        std::vector<int> seen;  // sVer, task, mode index, copies
    } rows[] = {
        {"mode index absent", Json(R"({"task_id":5,"print_copys":3})"), {9, 5, -2, 3}},
        {"present but null is 0, not -2", Json(R"({"print_mode_index":null})"), {9, 0, 0, -2}},
        {"fraction and string are 0", Json(R"({"print_mode_index":1.5,"print_copys":"3"})"), {9, 0, 0, 0}},
        {"data an array", JsonValue(R"([{"task_id":5}])"), {0, 0, -2, -2}},
    };
    for (const auto& r : rows) {
        fakewyln::GetState().calls.clear();
        std::vector<int> seen;
        owner.onSetTaskParam = [&](__SCLOUD_SET_TASK_PARAM* c, __SCLOUD_TASK_RESULT* res) {
            seen = {c->sVer, c->iTaskId, c->iPrintModeIndex, c->iPrintCopys};
            *res = {0, c->iTaskId, 4, "\xE2\x9C\x93 done"};
        };
        Deliver(Command(0, "set_task_param", r.data, "9"));
        EXPECT_EQ(r.seen, seen) << r.name;
        EXPECT_EQ("{\"data\":{\"code\":4,\"msg\":\"\xE2\x9C\x93 done\",\"task_id\":" + std::to_string(r.seen[1]) +
                      "},\"func\":\"set_task_param\"}",
                  BodyText(Calls("SendTo").at(0).payload))
            << r.name;
    }
    // A message that fills its field is sent up to the field's end.
    fakewyln::GetState().calls.clear();
    owner.onSetTaskParam = [](__SCLOUD_SET_TASK_PARAM*, __SCLOUD_TASK_RESULT* res) {
        memset(res->szMsg, 'z', sizeof(res->szMsg));
    };
    Deliver(Command(0, "set_task_param", Json("{}")));
    EXPECT_EQ("{\"data\":{\"code\":0,\"msg\":\"" + std::string(260, 'z') + "\",\"task_id\":0},\"func\":\"set_task_param\"}",
              BodyText(Calls("SendTo").at(0).payload));
    EXPECT_TRUE(owner.Logs().empty());
}
