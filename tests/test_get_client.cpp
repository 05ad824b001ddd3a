// Inbound "getClient" lists: the "message" check, record shapes, the service
// record that becomes the target of task-status updates, full-width texts.
#include "TaskWire.h"

#include <cstring>

using testsupport::Command;
using namespace taskwire;

namespace {

// A full-width field: up to its first zero, or the whole field.
template <size_t N>
std::string Field(const char (&f)[N])
{
    const void* z = memchr(f, 0, N);
    return std::string(f, z ? static_cast<const char*>(z) - f : N);
}

} // namespace

TEST_F(SessionTest, InboundClientList)
{
    InitSession();
    const std::vector<std::string> failed = {"Recv msg is faild", kFail + "30"};
    const struct {
        const char* name;
        const char* body;
        std::vector<std::string> listed;  // "type,status,id,name,create,update"; {"-"}: host not called
        std::string target;               // was "keep" before
        std::vector<std::string> logs;
    } rows[] = {
        {"service taken out of the list",
         R"({"message":"success","data":[{"type":3,"status":1,"id":"c1","name":"n","create_time":"t",)"
         R"("update_time":"u"},{"type":100,"id":"svc"},{"type":4}]})",
         {"3,1,c1,n,t,u", "4,0,,,,"}, "svc", {}},
        {"single object, no message", R"({"data":{"type":6,"id":"x"}})", {"6,0,x,,,"}, "keep", {}},
        {"missing data: one empty record", R"({})", {"0,0,,,,"}, "keep", {}},
        {"wrong types", R"({"data":[{"type":"3","status":1.5,"id":12,"name":null},4]})", {"0,0,,,,", "0,0,,,,"},
         "keep", {}},
        {"only services: the last wins", R"({"data":[{"type":100,"id":"a"},{"type":100,"id":"b"}]})", {}, "b", {}},
        {"service without a string id", R"({"data":[{"type":100,"id":"a"},{"type":100,"id":5}]})", {}, "", {}},
        {"message differs in case", R"({"message":"Success","data":{"type":100,"id":"z"}})", {"-"}, "keep", failed},
        {"message not a string", R"({"message":null})", {"-"}, "keep", failed},
    };
    for (const auto& r : rows) {
        owner.Clear();
        OrlinTestAccess::Link(*session).strTargetId = "keep";
        std::vector<std::string> listed = {"-"};
        owner.onGetClient = [&](__SCLOUD_GET_CLIENT* p) {
            listed.clear();
            EXPECT_EQ(1, p->sVer);
            EXPECT_EQ(p->iCount == 0, p->pClients == nullptr);
            for (int i = 0; i < p->iCount; ++i) {
                const __SCLOUD_CLIENT_INFO& c = p->pClients[i];
                listed.push_back(std::to_string(c.iType) + "," + std::to_string(c.iStatus) + "," + Field(c.szId) + "," +
                                 Field(c.szName) + "," + Field(c.szCreateTime) + "," + Field(c.szUpdateTime));
            }
        };
        QJsonObject body = testsupport::Json(r.body);
        body.insert("func", "getClient");
        Deliver(testsupport::Message(testsupport::Header(0), body));
        EXPECT_EQ(r.listed, listed) << r.name;
        EXPECT_EQ(r.target, TargetId(*session)) << r.name;
        EXPECT_EQ(r.logs, owner.Logs()) << r.name;
    }
}

TEST_F(SessionTest, InboundClientTextsAreFullWidth)
{
    InitSession();
    const std::string e = "\xC3\xA9";
    const struct { std::string text, id, name; } rows[] = {
        {std::string(32, 'i'), std::string(32, 'i'), std::string(32, 'i')},  // fills szId: no terminator
        {std::string(300, 'n'), std::string(32, 'n'), std::string(260, 'n')},
        {std::string(31, 'a') + e + std::string(300, 'b'), std::string(31, 'a') + e[0],
         std::string(31, 'a') + e + std::string(227, 'b')},  // a character across the end is cut
    };
    for (const auto& r : rows) {
        __SCLOUD_CLIENT_INFO seen;
        memset(&seen, 0x5A, sizeof(seen));
        owner.onGetClient = [&](__SCLOUD_GET_CLIENT* p) {
            if (p->iCount == 1)
                seen = p->pClients[0];
        };
        const QString text = QString::fromStdString(r.text);
        Deliver(Command(0, "getClient", QJsonObject{{"id", text}, {"name", text}}));
        EXPECT_EQ(r.id, Field(seen.szId));
        EXPECT_EQ(r.name, Field(seen.szName));
        EXPECT_EQ(std::string(32, '\0'), std::string(seen.szUpdateTime, 32));
        Deliver(Command(0, "getClient", QJsonObject{{"type", 100}, {"id", text}}));
        EXPECT_EQ(r.id, TargetId(*session));  // the service's id is cut the same way
    }
}
