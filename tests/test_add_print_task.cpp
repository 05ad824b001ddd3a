// "add_print_task": the command always answered from the host's result, a
// file path that does not fit refused with an answer, and the peer's result.
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
