// "client_show_type": the type read only from a data object, the reply from
// the host's code and message, and the peer's result.
#include "TaskWire.h"

#include <cstring>

using fakewyln::Calls;
using testsupport::Command;
using testsupport::Json;
using testsupport::JsonValue;
using namespace taskwire;

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
        EXPECT_EQ(r.body, Body(Calls("SendTo").at(0).payload)) << r.name;
        ReplyBody(Calls("SendTo")[0].payload);
    }
}

TEST_F(SessionTest, ClientShowTypeResponse)
{
    InitSession();
    const struct {
        const char* name;
        std::string message;
        bool accept;
        std::string seen;  // "sVer code msg"; "-": not called
        std::vector<std::string> logs;
    } rows[] = {
        {"code and msg", Command(1, "client_show_type", Json(R"({"code":3,"msg":"ok"})"), "2"), true, "2 3 ok", {}},
        {"no msg", Command(1, "client_show_type", Json(R"({"code":3})")), true, "1 3 ", {}},
        {"refused", Command(1, "client_show_type", Json("{}")), false, "1 0 ", {kFail + "35"}},
        {"data an array", Command(1, "client_show_type", JsonValue("[]")), true, "-", {kFail + "28"}},
    };
    for (const auto& r : rows) {
        owner.Clear();
        std::string seen = "-";
        owner.onClientShowTypeResult = [&](__SCLOUD_CMD_RESULT* p) {
            seen = std::to_string(p->sVer) + " " + std::to_string(p->iCode) + " " + p->szMsg;
            return r.accept;
        };
        Deliver(r.message);
        EXPECT_EQ(r.seen, seen) << r.name;
        EXPECT_EQ(r.logs, owner.Logs()) << r.name;
    }
}
