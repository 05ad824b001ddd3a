// Credentials, the shipped ACL and TLS, against a private mosquitto broker.
#include "MosquittoFixture.h"
#include "WylnTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using namespace wyln_test;

namespace {

class WylnAcl : public ::testing::Test
{
protected:
    static BrokerOptions options()
    {
        return BrokerOptions{{{"alice", "a-pass"}, {"bob", "b-pass"}, {"eve", "e-pass"}},
                             "acl_file " WYLN_SHIPPED_ACL "\nuse_username_as_clientid true"};
    }
    WylnAcl() : broker(options()) {}

    void SetUp() override
    {
        ASSERT_NE(plugin.creator, nullptr);
        WYLN_START_BROKER(broker);
    }

    // A plug-in connection using the given credentials.
    std::unique_ptr<Peer> as(const char* user, const char* password)
    {
        ScopedEnv u("WYLN_USERNAME", user);
        ScopedEnv p("WYLN_PASSWORD", password);
        return std::make_unique<Peer>(plugin.creator);
    }

    CleanWylnEnv env;
    MosquittoBroker broker;
    Plugin plugin;
};

TEST_F(WylnAcl, LoginRefusalsGiveEight)
{
    const struct
    {
        const char* name;
        const char* user;
        const char* password;
        const char* id;
    } cases[] = {
        {"wrong password", "alice", "nope", ""},
        {"unknown user", "mallory", "x", ""},
        {"no credentials", nullptr, nullptr, "anon"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto p = as(c.user, c.password);
        EXPECT_EQ(p->login(broker.port(), c.id), 8);
    }
    // An identifier other than the user name is refused; ApplyId then hands
    // out the one that will be accepted.
    auto alice = as("alice", "a-pass");
    ASSERT_EQ(alice->login(broker.port(), "bob"), 8);
    ASSERT_EQ((*alice)->ApplyId("", alice->idBuffer(), 0), 0);
    EXPECT_EQ(alice->id(), "alice");
    EXPECT_EQ((*alice)->Login(alice->idBuffer(), &alice->sink, 0), 0);
}

TEST_F(WylnAcl, AnotherClientsInboxAndNameAreOutOfReach)
{
    auto alice = as("alice", "a-pass");
    auto bob = as("bob", "b-pass");
    ASSERT_EQ(alice->login(broker.port()), 0);
    EXPECT_EQ(alice->id(), "alice");
    ASSERT_EQ(bob->login(broker.port(), "bob"), 0);

    RawClient eve("eve");
    ASSERT_TRUE(eve.connect(broker.port(), "eve", "e-pass"));
    for (const char* filter : {"p2p/bob/#", "p2p/+/alice", "#"})
        eve.subscribe(filter);
    EXPECT_EQ(eve.publish("p2p/bob/alice", "from alice, honest"), MQTT_RC_NOT_AUTHORIZED);
    EXPECT_EQ(eve.publish("p2p/bob/alice/x", "deeper"), MQTT_RC_NOT_AUTHORIZED);
    // Eve's own name is fine; its arrival proves the path works.
    EXPECT_LT(eve.publish("p2p/bob/eve", "from eve"), 0x80);
    ASSERT_EQ((*alice)->SendTo("bob", "secret", 6, 2000), 0);
    ASSERT_TRUE(bob->sink.waitFor(2, 2000));
    // Give the broker time to (wrongly) forward more.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto got = bob->sink.messages();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].peer + ":" + got[0].data, "eve:from eve");
    EXPECT_EQ(got[1].peer + ":" + got[1].data, "alice:secret");
    // Only presence may reach eve.
    for (const auto& m : eve.messages())
        EXPECT_EQ(m.peer.rfind("presence/", 0), 0u) << m.peer;
}

TEST(WylnTls, OnlyAVerifiedConnectionLogsInAndCarriesMessages)
{
    CleanWylnEnv env;
    ScopedEnv timeout("WYLN_CONNECT_TIMEOUT_MS", "2000");
    TempDir certs;
    TestCa good, other;
    ASSERT_TRUE(makeTestCa(certs.path(), "good", good) && makeTestCa(certs.path(), "other", other));
    MosquittoBroker broker(BrokerOptions{{}, "", &good});
    WYLN_START_BROKER(broker);
    Plugin plugin;
    ASSERT_NE(plugin.creator, nullptr);

    const std::string missing = certs.file("missing.crt");
    const struct
    {
        const char* name;
        const char* cafile;
        const char* host;
    } refused[] = {
        {"certificate from another CA", other.caCert.c_str(), "127.0.0.1"},
        {"missing CA file", missing.c_str(), "127.0.0.1"},
        {"host name not in certificate", good.caCert.c_str(), "localhost"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        ScopedEnv ca("WYLN_CAFILE", c.cafile);
        Peer p(plugin.creator);
        auto start = Clock::now();
        EXPECT_EQ(p.login(broker.port(), "tls-x", c.host), WYLN_E_TLS);
        EXPECT_LT(elapsedMs(start), 3000);
    }
    // Without TLS the client cannot speak to the TLS listener at all.
    EXPECT_NE(Peer(plugin.creator).login(broker.port(), "plain"), 0);

    ScopedEnv ca("WYLN_CAFILE", good.caCert.c_str());
    Peer a(plugin.creator), b(plugin.creator);
    ASSERT_EQ(a.login(broker.port(), "tls-a"), 0);
    ASSERT_EQ(b.login(broker.port(), "tls-b"), 0);
    ASSERT_EQ(a->SendTo("tls-b", "over tls", 8, 2000), 0);
    ASSERT_TRUE(b.sink.waitFor(1, 2000));
    EXPECT_EQ(b.sink.messages()[0].peer, "tls-a");
}

} // namespace
