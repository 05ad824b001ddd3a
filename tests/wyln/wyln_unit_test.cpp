// Identifier rules, topic parsing and configuration parsing of the plug-in.
#include "Wyln.h"
#include "WylnConfig.h"
#include "WylnTopic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

using namespace wyln;

TEST(WylnIds, ValidityRules)
{
    const struct
    {
        std::string id;
        bool valid;
    } cases[] = {
        {"wyln", true}, {"0f8e2c1a-7d2b-4c51-9a8e-3f1b2c4d5e6f", true}, {"caf\xC3\xA9", true}, {"with space", true},
        {std::string(WYLN_ID_MAX_LEN, 'a'), true}, {std::string(WYLN_ID_MAX_LEN + 1, 'a'), false},
        // Not one topic level, or not a printable UTF-8 string.
        {"", false}, {"a/b", false}, {"a+", false}, {"#", false}, {"tab\t", false}, {"del\x7f", false},
        {"caf\xC3", false}, {"\xC0\xAF", false}, {"\xED\xA0\x80", false} /* a UTF-16 surrogate */,
        {"\xF4\x90\x80\x80", false} /* beyond U+10FFFF */, {std::string("nul\0inside", 10), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(isValidId(c.id), c.valid);
    }
    EXPECT_FALSE(isValidId(static_cast<const char*>(nullptr)));
}

TEST(WylnIds, BufferWithoutTerminatorIsNotReadBeyondItsEnd)
{
    char buf[WYLN_ID_BUFFER];
    std::memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(boundedIdLength(buf), -1);
    EXPECT_FALSE(isValidId(buf));
    buf[WYLN_ID_MAX_LEN] = '\0';
    EXPECT_EQ(boundedIdLength(buf), WYLN_ID_MAX_LEN);
    EXPECT_TRUE(isValidId(buf));

    EXPECT_TRUE(copyIdToBuffer(std::string(WYLN_ID_MAX_LEN, 'y'), buf));
    EXPECT_EQ(buf[WYLN_ID_MAX_LEN], '\0');
    EXPECT_FALSE(copyIdToBuffer(std::string(WYLN_ID_BUFFER, 'z'), buf));
    EXPECT_EQ(buf[0], 'y');
}

TEST(WylnTopics, SenderIsTheLastLevelOfOwnInboxOnly)
{
    const struct
    {
        const char* topic;
        bool accepted;
        const char* sender;
    } cases[] = {
        {"p2p/me/alice", true, "alice"}, {"p2p/me/", false, ""},      {"p2p/me", false, ""},
        {"p2p/me/a/b", false, ""},       {"p2p/mex/alice", false, ""}, {"p2p/m/alice", false, ""},
        {"p2p/other/alice", false, ""},  {"presence/me", false, ""},   {"P2P/me/alice", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.topic);
        std::string sender = "unchanged";
        EXPECT_EQ(senderFromTopic(c.topic, "me", sender), c.accepted);
        EXPECT_EQ(sender, c.accepted ? c.sender : "unchanged");
    }
    std::string s;
    EXPECT_TRUE(senderFromTopic(p2pTopic("me", "bob").c_str(), "me", s));
    EXPECT_EQ(s, "bob");
    EXPECT_EQ(inboxFilter("me"), "p2p/me/+");
    EXPECT_EQ(presenceTopic("me"), "presence/me");
}

namespace {

Config parseWith(const std::string& file, const std::map<std::string, std::string>& env)
{
    return Config::parse(file, [&](const std::string& name, std::string& value) {
        auto it = env.find(name);
        if (it == env.end())
            return false;
        value = it->second;
        return true;
    });
}

} // namespace

TEST(WylnConfig, FileValuesAndEnvironmentOverrides)
{
    Config c = parseWith("# comment\n"
                         "  service_id = svc \n"
                         "username=alice\n"
                         "password = p=w\n"
                         "keepalive=60\r\n"
                         "max_packet_size=1048576\n"
                         "cafile=/etc/ca.crt\n"
                         "presence=off\n"
                         "brokers = 127.0.0.1:1884, node-2:1883 [::1]:1885\n"
                         "future_key=ignored\n",
                         {{"WYLN_KEEPALIVE", "15"}, {"WYLN_ID_PREFIX", "c-"}});
    EXPECT_TRUE(c.error.empty()) << c.error;
    EXPECT_EQ(c.serviceId, "svc");
    EXPECT_EQ(c.username, "alice");
    EXPECT_EQ(c.password, "p=w");
    EXPECT_EQ(c.keepaliveS, 15);
    EXPECT_EQ(c.maxPacketSize, 1048576);
    EXPECT_EQ(c.idPrefix, "c-");
    EXPECT_TRUE(c.tls());
    EXPECT_FALSE(c.presence);
    const std::vector<std::pair<std::string, int>> brokers{{"127.0.0.1", 1884}, {"node-2", 1883}, {"::1", 1885}};
    EXPECT_EQ(c.brokers, brokers);
}

TEST(WylnConfig, MalformedValuesAreReported)
{
    const struct
    {
        const char* file;
        const char* mentions;
    } cases[] = {
        {"keepalive=abc", "keepalive"},
        {"keepalive=2", "keepalive"},
        {"connect_timeout_ms=-5", "connect_timeout_ms"},
        {"service_id=a/b", "service_id"},
        {"id_prefix=x#", "id_prefix"},
        {"presence=maybe", "presence"},
        {"reconnect_delay_min=10\nreconnect_delay_max=5", "reconnect_delay_max"},
        {"username=u+", "username"},
        {"max_packet_size=-1", "max_packet_size"},
        {"brokers=host", "brokers"},
        {"brokers=host:0", "brokers"},
        {"brokers=a:1,:2", "brokers"},
        {"brokers=::1:1883", "brokers"},
        {"just words", "line 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Config cfg = parseWith(c.file, {});
        EXPECT_NE(cfg.error.find(c.mentions), std::string::npos) << cfg.error;
    }
}
