// The task commands answered from the host's result and the peer's results:
// "add_print_task" (a file path that does not fit refused with an answer),
// "set_task_param" (-2 for values the command did not carry; a response's
// task id is not passed on) and "client_show_type" (the type read only from
// a data object).
#include "TaskWire.h"

#include <cstring>

using fakewyln::Calls;
using testsupport::Command;
using testsupport::Json;
using testsupport::JsonValue;
using namespace taskwire;

TEST_F(SessionTest, AddPrintTaskCommand)
{
    InitSession();
    const std::string tooLong = "{\"file_path\":\"" + std::string(258, 'a') + "\xC3\xA9\"}";
    const std::string refusedBody = R"({"data":{"code":29,"msg":"file_path too long","task_id":0},"func":"add_print_task"})";
    const struct {
        const char* name;
        QJsonValue data;
        std::string seen;  // "sVer path"; "-": host not called
        std::string body;
        std::vector<std::string> logs;
    } rows[] = {
        {"path", Json(R"({"file_path":"D:/b.prn"})"), "3 D:/b.prn",
         R"({"data":{"code":-1,"msg":"queued","task_id":8},"func":"add_print_task"})", {}},
        {"data an array: nothing read", JsonValue(R"([{"file_path":"D:/b.prn"}])"), "0 ",
         R"({"data":{"code":-1,"msg":"queued","task_id":8},"func":"add_print_task"})", {}},
        {"path a number: version still read", Json(R"({"file_path":5})"), "3 ",
         R"({"data":{"code":-1,"msg":"queued","task_id":8},"func":"add_print_task"})", {}},
        {"path cut inside a character: refused", Json(tooLong.c_str()), "-", refusedBody, {kFail + "29"}},
    };
    for (const auto& r : rows) {
        fakewyln::GetState().calls.clear();
        owner.Clear();
        std::string seen = "-";
        owner.onAddPrintTask = [&](__SCLOUD_ADD_PRINT_TASK* c, __SCLOUD_TASK_RESULT* res) {
            seen = std::to_string(c->sVer) + " " + c->szFilePath;
            *res = {0, 8, -1, "queued"};
        };
        Deliver(Command(0, "add_print_task", r.data, "3"));
        EXPECT_EQ(r.seen, seen) << r.name;
        ASSERT_EQ(1u, Calls("SendTo").size()) << r.name;
        EXPECT_EQ(r.body, BodyText(Calls("SendTo")[0].payload)) << r.name;
        EXPECT_EQ(r.logs, owner.Logs()) << r.name;
    }
    // A host that leaves the result gets zeros and an empty message across.
    fakewyln::GetState().calls.clear();
    owner.onAddPrintTask = nullptr;
    Deliver(Command(0, "add_print_task"));
    EXPECT_EQ(R"({"data":{"code":0,"msg":"","task_id":0},"func":"add_print_task"})", BodyText(Calls("SendTo").at(0).payload));
}

// The peers' results of add_print_task, set_task_param and client_show_type.
TEST_F(SessionTest, TaskResultResponses)
{
    InitSession();
    const struct {
        const char* name;
        std::string message;
        bool accept;
        std::string seen;  // "sVer task code msg" (no task for client_show_type); "-": not called
        std::vector<std::string> logs;
    } rows[] = {
        {"result", Command(1, "add_print_task", Json(R"({"task_id":7,"code":3,"msg":"ok"})"), "2"), true, "2 7 3 ok",
         {}},
        {"fractional code, msg not a string", Command(1, "add_print_task", Json(R"({"code":1.5,"msg":4})")), true,
         "1 0 0 ", {}},
        {"long msg cut before its terminator",
         Command(1, "add_print_task", QJsonObject{{"msg", QString(400, 'm')}}), true, "1 0 0 " + std::string(259, 'm'),
         {}},
        {"refused", Command(1, "add_print_task", Json("{}")), false, "1 0 0 ", {kFail + "35"}},
        {"data a scalar", Command(1, "add_print_task", JsonValue("3")), true, "-", {kFail + "28"}},
        {"set_task_param: task id not passed on",
         Command(1, "set_task_param", Json(R"({"task_id":7,"code":-3,"msg":"ok"})"), "5"), true, "5 0 -3 ok", {}},
        {"set_task_param refused", Command(1, "set_task_param", Json("{}")), false, "1 0 0 ", {kFail + "35"}},
        {"set_task_param data null", Command(1, "set_task_param", JsonValue("null")), true, "-", {kFail + "28"}},
        {"client_show_type", Command(1, "client_show_type", Json(R"({"code":3,"msg":"ok"})"), "2"), true, "2 3 ok", {}},
        {"client_show_type refused", Command(1, "client_show_type", Json("{}")), false, "1 0 ", {kFail + "35"}},
        {"client_show_type data an array", Command(1, "client_show_type", JsonValue("[]")), true, "-", {kFail + "28"}},
    };
    for (const auto& r : rows) {
        owner.Clear();
        std::string seen = "-";
        auto task = [&](__SCLOUD_TASK_RESULT* p) {
            seen = std::to_string(p->sVer) + " " + std::to_string(p->iTaskId) + " " + std::to_string(p->iCode) + " " +
                   std::string(p->szMsg, strnlen(p->szMsg, sizeof(p->szMsg)));
            return r.accept;
        };
        owner.onAddPrintTaskResult = task;
        owner.onSetTaskParamResult = task;
        owner.onClientShowTypeResult = [&](__SCLOUD_CMD_RESULT* p) {
            seen = std::to_string(p->sVer) + " " + std::to_string(p->iCode) + " " + p->szMsg;
            return r.accept;
        };
        Deliver(r.message);
        EXPECT_EQ(r.seen, seen) << r.name;
        EXPECT_EQ(r.logs, owner.Logs()) << r.name;
    }
}

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

TEST_F(SessionTest, ClientShowTypeCommand)
{
    InitSession();
    const struct {
        const char* name;
        QJsonValue data;
        std::vector<int> seen;  // sVer, iType
        const char* msg;
        std::string body;
    } rows[] = {
        {"type", Json(R"({"type":2})"), {6, 2}, "shown", R"({"data":{"code":1,"msg":"shown"},"func":"client_show_type"})"},
        {"type a string", Json(R"({"type":"2"})"), {6, 0}, "", R"({"data":{"code":1,"msg":""},"func":"client_show_type"})"},
        {"no data", QJsonValue(QJsonValue::Undefined), {0, 0}, "a\"b\\c\n",
         R"({"data":{"code":1,"msg":"a\"b\\c\n"},"func":"client_show_type"})"},
    };
    for (const auto& r : rows) {
        fakewyln::GetState().calls.clear();
        std::vector<int> seen;
        owner.onClientShowType = [&](__SCLOUD_CLIENT_SHOW_TYPE* c, __SCLOUD_CMD_RESULT* res) {
            seen = {c->sVer, c->iType};
            res->iCode = 1;
            strcpy(res->szMsg, r.msg);
        };
        Deliver(Command(0, "client_show_type", r.data, "6"));
        EXPECT_EQ(r.seen, seen) << r.name;
        EXPECT_EQ(r.body, BodyText(Calls("SendTo").at(0).payload)) << r.name;
    }
}
