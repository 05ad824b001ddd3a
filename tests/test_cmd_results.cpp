// Commands answered with the host's code and text: "check_before_print",
// "config_wifi_info" and "upgrade". Also the routing of every answering
// device command and the array warnings of the whole family.
#include "ReplyText.h"
#include "Session.h"

#include <cstring>
#include <vector>

using testsupport::BodyText;
using testsupport::Command;
using testsupport::JsonValue;

namespace {

QJsonValue Data(const char* text)
{
    return text ? JsonValue(text) : QJsonValue(QJsonValue::Undefined);
}

std::string Field(const char* p, size_t n)
{
    return std::string(p, n);
}

} // namespace

TEST_F(SessionTest, CodeAndMessageReplies)
{
    const std::string full(260, 'z');  // a message that fills szMsg without a terminator
    const struct {
        const char* func;
        int code;
        const char* msg;
        std::string body;
    } rows[] = {
        {"check_before_print", 0, nullptr, R"({"data":{"code":0,"msg":""},"func":"check_before_print"})"},
        {"check_before_print", -3, "no ink \xC3\xA9", R"({"data":{"code":-3,"msg":"no ink é"},"func":"check_before_print"})"},
        {"config_wifi_info", 0, nullptr, R"({"data":{"code":0,"msg":""},"func":"config_wifi_info"})"},
        {"config_wifi_info", 7, "joined", R"({"data":{"code":7,"msg":"joined"},"func":"config_wifi_info"})"},
        {"upgrade", 0, nullptr, R"({"data":{"msg":"","ret_type":0},"func":"upgrade"})"},
        {"upgrade", 5, "flashing", R"({"data":{"msg":"flashing","ret_type":5},"func":"upgrade"})"},
        {"upgrade", 1, "full", "{\"data\":{\"msg\":\"" + full + "\",\"ret_type\":1},\"func\":\"upgrade\"}"},
    };
    InitSession();
    for (const auto& r : rows) {
        fakewyln::GetState().calls.clear();
        owner.Clear();
        bool zeroed = true;
        auto answer = [&](__SCLOUD_CMD_RESULT* p) {
            for (size_t i = 0; i < sizeof(p->szMsg); ++i)
                zeroed = zeroed && p->szMsg[i] == 0;
            zeroed = zeroed && p->sVer == 0 && p->iCode == 0;
            p->iCode = r.code;
            if (r.msg && std::string(r.msg) == "full")
                memset(p->szMsg, 'z', sizeof(p->szMsg));
            else if (r.msg)
                memcpy(p->szMsg, r.msg, strlen(r.msg));  // short texts: the rest stays zero
        };
        owner.onCheckBeforePrint = [&](__SCLOUD_CHECK_BEFORE_PRINT*, __SCLOUD_CMD_RESULT* p) { answer(p); };
        owner.onConfigWifiInfo = [&](__SCLOUD_CONFIG_WIFI_INFO*, __SCLOUD_CMD_RESULT* p) { answer(p); };
        owner.onUpgrade = [&](__SCLOUD_UPGRADE*, __SCLOUD_CMD_RESULT* p) { answer(p); };
        Deliver(Command(0, r.func, JsonValue("{}")));
        const auto replies = Replies();
        ASSERT_EQ(1u, replies.size()) << r.func;
        EXPECT_EQ(r.body, BodyText(replies[0])) << r.func << " " << r.code;
        EXPECT_TRUE(zeroed) << r.func;
        EXPECT_TRUE(owner.Logs().empty()) << r.func;  // reply texts are not logged
    }
}

// Each answering command replies once, to the sender, with the request's
// version and msg_id, and passes a failed send through unmapped.
TEST_F(SessionTest, DeviceCommandsReplyToTheSenderOnce)
{
    const char* funcs[] = {"load_param", "load_device_info", "check_before_print", "config_wifi_info",
                           "statistics", "upgrade"};
    InitSession();
    for (const char* f : funcs) {
        for (int sendResult : {0, 1501}) {
            fakewyln::GetState().calls.clear();
            owner.Clear();
            fakewyln::Script("SendTo", {sendResult});
            Deliver(Command(0, f, JsonValue("{}"), QStringLiteral("12")), "peer-A");
            const auto calls = fakewyln::Calls("SendTo");
            ASSERT_EQ(1u, calls.size()) << f;
            EXPECT_EQ("peer-A", calls[0].target) << f;
            EXPECT_EQ(3000, calls[0].nArg) << f;
            const QJsonObject body = ReplyBody(calls[0].payload);
            EXPECT_EQ(QString::fromUtf8(f), body.value(QStringLiteral("func")).toString());
            const QJsonObject h = testsupport::Parse(calls[0].payload).value(QStringLiteral("header")).toObject();
            EXPECT_EQ(QStringLiteral("12"), h.value(QStringLiteral("version")).toString()) << f;
            EXPECT_EQ(sendResult != 0, owner.HasLogContaining("Recv json data handle fail,errcode=1501")) << f;
        }
    }
}

TEST_F(SessionTest, ArrayWarningsOfTheDeviceFamily)
{
    const char* kDeviceInfo = "Recv json data handle warning,load device info data is arr";
    const char* kCheck = "Recv json data handle warning,check before print data is arr";
    const char* kUpgrade = "Recv json data handle warning,upgrade data is arr";
    const struct {
        const char* func;
        const char* data;
        const char* warning;  // nullptr: nothing logged
    } rows[] = {
        {"load_device_info", "[{}]", kDeviceInfo},
        {"check_before_print", "[{}]", kCheck},
        {"check_before_print", "[]", kCheck},
        {"check_before_print", "{}", nullptr},
        {"check_before_print", "5", nullptr},
        {"upgrade", "[{}]", kUpgrade},
        {"upgrade", "[]", kUpgrade},
        {"upgrade", nullptr, nullptr},
        // the others take arrays without a word
        {"config_wifi_info", "[{}]", nullptr},
        {"statistics", "[{}]", nullptr},
        {"load_param", "[{}]", nullptr},
        {"clean", "[{}]", nullptr},
        {"motor_run", "[{}]", nullptr},
    };
    InitSession();
    for (const auto& r : rows) {
        owner.Clear();
        Deliver(Command(0, r.func, Data(r.data)));
        std::vector<std::string> warnings;  // "load_param" also logs its reply
        for (const std::string& line : owner.Logs())
            if (line.find("warning") != std::string::npos)
                warnings.push_back(line);
        EXPECT_EQ(r.warning ? std::vector<std::string>{r.warning} : std::vector<std::string>{}, warnings)
            << r.func << " " << (r.data ? r.data : "<none>");
    }
}

TEST_F(SessionTest, CheckBeforePrintReadsTheFirstRecord)
{
    const struct {
        const char* data;
        int sVer;
        double w, h;
        int scheme;
    } rows[] = {
        {"{\"canvas_w\":1200.5,\"canvas_h\":0.1,\"print_scheme_id\":2.5}", 4, 1200.5, 0.1, 0},
        {"[{\"print_scheme_id\":4},{\"print_scheme_id\":5}]", 4, 0.0, 0.0, 4},
        {"{\"canvas_w\":\"12\",\"canvas_h\":null,\"print_scheme_id\":3}", 4, 0.0, 0.0, 3},
        {"[]", 0, 0.0, 0.0, 0},
        {nullptr, 4, 0.0, 0.0, 0},
    };
    InitSession();
    for (const auto& r : rows) {
        std::vector<std::tuple<int, double, double, int>> got;
        owner.onCheckBeforePrint = [&](__SCLOUD_CHECK_BEFORE_PRINT* c, __SCLOUD_CMD_RESULT*) {
            got.emplace_back(c->sVer, c->dCanvasW, c->dCanvasH, c->iPrintSchemeId);
        };
        Deliver(Command(0, "check_before_print", Data(r.data), QStringLiteral("4")));
        ASSERT_EQ(1u, got.size());
        EXPECT_EQ(std::make_tuple(r.sVer, r.w, r.h, r.scheme), got[0]) << (r.data ? r.data : "<none>");
    }
}

// ---- config_wifi_info ----------------------------------------------------------

TEST_F(SessionTest, WifiTextsAreCutFullWidth)
{
    const std::string a31(31, 'a');
    const struct {
        const char* name;
        QJsonValue data;
        int sVer;
        std::string name260, password32, ip32;  // whole fields, zero bytes included
    } rows[] = {
        {"plain", JsonValue(R"({"name":"home","password":"pw","ip_in_wifi":"10.0.0.7"})"), 6,
         "home" + std::string(256, '\0'), "pw" + std::string(30, '\0'), "10.0.0.7" + std::string(24, '\0')},
        {"40-byte password: 32 bytes, no terminator",
         JsonValue(R"({"password":"0123456789abcdef0123456789ABCDEF-tail-xx"})"), 6, std::string(260, '\0'),
         "0123456789abcdef0123456789ABCDEF", std::string(32, '\0')},
        {"31 bytes and a two-byte character: never split",
         QJsonObject{{QStringLiteral("password"), QString::fromUtf8((a31 + "\xC3\xA9").c_str())}}, 6,
         std::string(260, '\0'), a31 + '\0', std::string(32, '\0')},
        {"260-byte name fills its field",
         QJsonObject{{QStringLiteral("name"), QString(300, QLatin1Char('n'))}}, 6, std::string(260, 'n'),
         std::string(32, '\0'), std::string(32, '\0')},
        {"empty password, numeric ip", JsonValue(R"({"password":"","ip_in_wifi":10})"), 6, std::string(260, '\0'),
         std::string(32, '\0'), std::string(32, '\0')},
        {"array holding the object: all zero",
         JsonValue(R"([{"name":"home","password":"pw","ip_in_wifi":"10.0.0.7"}])"), 0, std::string(260, '\0'),
         std::string(32, '\0'), std::string(32, '\0')},
        {"missing data: all zero", QJsonValue(QJsonValue::Undefined), 0, std::string(260, '\0'),
         std::string(32, '\0'), std::string(32, '\0')},
    };
    InitSession();
    for (const auto& r : rows) {
        fakewyln::GetState().calls.clear();
        std::vector<std::tuple<int, std::string, std::string, std::string>> got;
        owner.onConfigWifiInfo = [&](__SCLOUD_CONFIG_WIFI_INFO* c, __SCLOUD_CMD_RESULT*) {
            got.emplace_back(c->sVer, Field(c->szName, sizeof(c->szName)), Field(c->szPassword, sizeof(c->szPassword)),
                             Field(c->szIpInWifi, sizeof(c->szIpInWifi)));
        };
        Deliver(Command(0, "config_wifi_info", r.data, QStringLiteral("6")));
        ASSERT_EQ(1u, got.size()) << r.name;
        EXPECT_EQ(std::make_tuple(r.sVer, r.name260, r.password32, r.ip32), got[0]) << r.name;
        EXPECT_EQ(1u, Replies().size()) << r.name;
    }
}

// Whatever happens to the command, the password appears in no log line.
TEST_F(SessionTest, WifiPasswordIsNeverLogged)
{
    const std::string pw = "Sup3r-S3cret";
    const std::string data = "{\"name\":\"home\",\"password\":\"" + pw + "\",\"ip_in_wifi\":\"1.2.3.4\"}";
    const std::string ok = Command(0, "config_wifi_info", JsonValue(data.c_str()));
    const std::string arr = Command(0, "config_wifi_info", JsonValue(("[" + data + "]").c_str()));
    const std::vector<std::string> inputs = {
        ok,
        arr,
        "[" + ok + "," + ok + "]",
        ok.substr(0, ok.size() - 1),  // not JSON any more
    };
    InitSession();
    for (int sendResult : {0, 1302}) {
        for (const std::string& in : inputs) {
            owner.Clear();
            fakewyln::Script("SendTo", {sendResult, sendResult});
            owner.onConfigWifiInfo = [&](__SCLOUD_CONFIG_WIFI_INFO*, __SCLOUD_CMD_RESULT* p) {
                strcpy(p->szMsg, "done");
            };
            Deliver(in);
            for (const std::string& line : owner.Logs())
                EXPECT_EQ(std::string::npos, line.find(pw)) << line;
        }
    }
    for (const std::string& reply : Replies())
        EXPECT_EQ(std::string::npos, reply.find(pw));
}

// ---- upgrade -------------------------------------------------------------------

TEST_F(SessionTest, UpgradeReadsPathAndType)
{
    const std::string longPath = "C:/fw/" + std::string(300, 'p');
    const struct {
        const char* name;
        QJsonValue data;
        int sVer;
        std::string path260;
        int type;
    } rows[] = {
        {"path and type", JsonValue(R"({"file_path":"C:/fw/a.bin","type":2})"), 8,
         "C:/fw/a.bin" + std::string(249, '\0'), 2},
        {"numeric path", JsonValue(R"({"file_path":12,"type":1})"), 8, std::string(260, '\0'), 1},
        {"array holding the object", JsonValue(R"([{"file_path":"x.bin"},{"type":3}])"), 8,
         "x.bin" + std::string(255, '\0'), 0},
        {"long path fills the field", QJsonObject{{QStringLiteral("file_path"), QString::fromStdString(longPath)}},
         8, longPath.substr(0, 260), 0},
        {"fractional type", JsonValue(R"({"type":1.5})"), 8, std::string(260, '\0'), 0},
        {"empty array", JsonValue("[]"), 0, std::string(260, '\0'), 0},
    };
    InitSession();
    for (const auto& r : rows) {
        std::vector<std::tuple<int, std::string, int>> got;
        owner.onUpgrade = [&](__SCLOUD_UPGRADE* c, __SCLOUD_CMD_RESULT*) {
            got.emplace_back(c->sVer, Field(c->szFilePath, sizeof(c->szFilePath)), c->iType);
        };
        Deliver(Command(0, "upgrade", r.data, QStringLiteral("8")));
        ASSERT_EQ(1u, got.size()) << r.name;
        EXPECT_EQ(std::make_tuple(r.sVer, r.path260, r.type), got[0]) << r.name;
    }
}
