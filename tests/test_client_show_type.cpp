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
        EXPECT_EQ(r.body, BodyText(Calls("SendTo").at(0).payload)) << r.name;
    }
}
