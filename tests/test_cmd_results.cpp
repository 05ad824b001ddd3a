// Commands answered with the host's code and text ("check_before_print",
// "config_wifi_info", "upgrade"), and the fixed-width texts these requests
// carry to the host.
#include "ReplyText.h"
#include "Session.h"

#include <algorithm>
#include <cstring>
#include <vector>

using testsupport::BodyText;
using testsupport::Command;
using testsupport::JsonValue;

TEST_F(SessionTest, CodeAndMessageReplies)
{
    const std::string full(260, 'z');  // fills szMsg without a terminator
    const struct {
        const char* func;
        int code;
        const char* msg;
        std::string body;
    } rows[] = {
        {"check_before_print", 0, nullptr, R"({"data":{"code":0,"msg":""},"func":"check_before_print"})"},
        {"check_before_print", -3, "no ink \xC3\xA9", R"({"data":{"code":-3,"msg":"no ink é"},"func":"check_before_print"})"},
        {"config_wifi_info", 7, "joined", R"({"data":{"code":7,"msg":"joined"},"func":"config_wifi_info"})"},
        {"upgrade", 5, "flashing", R"({"data":{"msg":"flashing","ret_type":5},"func":"upgrade"})"},
        {"upgrade", 1, full.c_str(), "{\"data\":{\"msg\":\"" + full + "\",\"ret_type\":1},\"func\":\"upgrade\"}"},
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
            if (r.msg)
                memcpy(p->szMsg, r.msg, std::min(strlen(r.msg), sizeof(p->szMsg)));
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

// Whole fields, zero bytes included: a text longer than its field fills it
// with no terminator, and a UTF-8 character is never split.
TEST_F(SessionTest, RequestTextsAreCutFullWidth)
{
    const std::string a31(31, 'a'), longPath = "C:/fw/" + std::string(300, 'p');
    const std::string none32(32, '\0'), none260(260, '\0');
    const struct {
        const char* func;
        QJsonValue data;
        int sVer;
        std::vector<std::string> fields;  // wifi: name, password, ip; upgrade: file_path
    } rows[] = {
        {"config_wifi_info", JsonValue(R"({"name":"home","password":"pw","ip_in_wifi":"10.0.0.7"})"), 6,
         {"home" + std::string(256, '\0'), "pw" + std::string(30, '\0'), "10.0.0.7" + std::string(24, '\0')}},
        {"config_wifi_info", JsonValue(R"({"password":"0123456789abcdef0123456789ABCDEF-tail-xx","ip_in_wifi":10})"), 6,
         {none260, "0123456789abcdef0123456789ABCDEF", none32}},
        {"config_wifi_info", QJsonObject{{"password", QString::fromUtf8((a31 + "\xC3\xA9").c_str())}}, 6,
         {none260, a31 + '\xC3', none32}},  // full width: cut at the 32nd byte
        {"config_wifi_info", QJsonObject{{"name", QString(300, QLatin1Char('n'))}}, 6,
         {std::string(260, 'n'), none32, none32}},
        {"config_wifi_info", JsonValue(R"([{"name":"home","password":"pw","ip_in_wifi":"10.0.0.7"}])"), 0,
         {none260, none32, none32}},
        {"upgrade", JsonValue(R"({"file_path":"C:/fw/a.bin","type":2})"), 6, {"C:/fw/a.bin" + std::string(249, '\0')}},
        {"upgrade", JsonValue(R"({"file_path":12,"type":1})"), 6, {none260}},
        {"upgrade", JsonValue(R"([{"file_path":"x.bin"},{"type":3}])"), 6, {"x.bin" + std::string(255, '\0')}},
        {"upgrade", QJsonObject{{"file_path", QString::fromStdString(longPath)}}, 6, {longPath.substr(0, 260)}},
    };
    InitSession();
    for (const auto& r : rows) {
        std::vector<std::pair<int, std::vector<std::string>>> got;
        owner.onConfigWifiInfo = [&](__SCLOUD_CONFIG_WIFI_INFO* c, __SCLOUD_CMD_RESULT*) {
            got.push_back({c->sVer, {std::string(c->szName, sizeof(c->szName)),
                                     std::string(c->szPassword, sizeof(c->szPassword)),
                                     std::string(c->szIpInWifi, sizeof(c->szIpInWifi))}});
        };
        owner.onUpgrade = [&](__SCLOUD_UPGRADE* c, __SCLOUD_CMD_RESULT*) {
            got.push_back({c->sVer, {std::string(c->szFilePath, sizeof(c->szFilePath))}});
        };
        Deliver(Command(0, r.func, r.data, QStringLiteral("6")));
        ASSERT_EQ(1u, got.size()) << r.func << " " << r.fields[0].substr(0, 40);
        EXPECT_EQ(std::make_pair(r.sVer, r.fields), got[0]) << r.func << " " << r.fields[0].substr(0, 40);
    }
}
