// Credentials and the shipped access rules against a private broker of each
// kind; TLS against mosquitto.
#include "MosquittoFixture.h"
#include "WylnTestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using namespace wyln_test;

namespace {

const std::vector<std::pair<std::string, std::string>> kUsers{{"alice", "a-pass"}, {"bob", "b-pass"}, {"eve", "e-pass"}};

// The shipped access rules of each kind: mosquitto's ACL file with the user
// name as client id, ejabberd's own access rules of the node configuration.
class WylnAcl : public ::testing::TestWithParam<BrokerKind>
{
protected:
    static BrokerOptions options(BrokerKind kind)
    {
        BrokerOptions o{kUsers, "acl_file " WYLN_SHIPPED_ACL "\nuse_username_as_clientid true"};
        if (kind == BrokerKind::Ejabberd)
            o = BrokerOptions{kUsers, "", nullptr, kind, WYLN_SHIPPED_CONF_DIR};
        return o;
    }
    WylnAcl() : broker(options(GetParam())) {}

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

    // Runs mosquitto_pub or mosquitto_sub (MQTT 5, QoS 1) against the broker
    // as `user` with client id `id`; returns what it printed.
    std::string cli(const std::string& tool, const std::string& user, const std::string& password,
                    const std::string& id, const std::string& args)
    {
        const std::string out = dir.filePath("cli.out").toStdString();
        std::system(("timeout 10 " + tool + " -V mqttv5 -q 1 -h 127.0.0.1 -p " + std::to_string(broker.port())
                     + " -u '" + user + "' -P '" + password + "' -i '" + id + "' " + args + " >'" + out + "' 2>&1")
                        .c_str());
        return readFile(out);
    }

    CleanWylnEnv env;
    TestBroker broker;
    Plugin plugin;
    QTemporaryDir dir;
};

TEST_P(WylnAcl, LoginRefusalsGiveEight)
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
        {"identifier's password wrong", nullptr, "nope", "alice"},
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

// Third-party clients (mosquitto_pub, mosquitto_sub) try to send under
// another name and to read another's inbox; only honest traffic reaches
// the plug-in's client.
TEST_P(WylnAcl, AnotherClientsInboxAndNameAreOutOfReach)
{
    auto alice = as("alice", "a-pass");
    auto bob = as("bob", "b-pass");
    ASSERT_EQ(alice->login(broker.port()), 0);
    ASSERT_EQ(bob->login(broker.port(), "bob"), 0);

    const struct
    {
        const char* name;
        const char* user;
        const char* password;
        const char* id;
        const char* topic;
    } forged[] = {
        {"another's name as sender", "eve", "e-pass", "eve", "p2p/bob/alice"},
        {"a level below another's name", "eve", "e-pass", "eve", "p2p/bob/alice/x"},
        {"another's name as client id", "eve", "e-pass", "alice", "p2p/bob/alice"},
        {"a wrong password", "alice", "e-pass", "alice", "p2p/bob/alice"},
        {"another's presence", "eve", "e-pass", "eve", "presence/alice"},
    };
    for (const auto& f : forged) {
        SCOPED_TRACE(f.name);
        cli("mosquitto_pub", f.user, f.password, f.id, std::string("-t ") + f.topic + " -m forged");
    }
    // eve listens on bob's inbox and on everything while alice writes to bob.
    std::string inbox, all;
    std::thread listener([&] { inbox = cli("mosquitto_sub", "eve", "e-pass", "eve-1", "-v -W 3 -t 'p2p/bob/#'"); });
    std::thread listener2([&] { all = cli("mosquitto_sub", "eve", "e-pass", "eve-2", "-v -W 3 -t '#'"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    cli("mosquitto_pub", "eve", "e-pass", "eve", "-t p2p/bob/eve -m 'from eve'");
    ASSERT_EQ((*alice)->SendTo("bob", "secret", 6, 2000), 0);
    ASSERT_TRUE(bob->sink.waitFor(2, 3000));
    listener.join();
    listener2.join();

    auto got = bob->sink.messages();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].peer + ":" + got[0].data, "eve:from eve");
    EXPECT_EQ(got[1].peer + ":" + got[1].data, "alice:secret");
    EXPECT_EQ(inbox.find("secret"), std::string::npos) << inbox;
    EXPECT_EQ(all.find("secret"), std::string::npos) << all;
    EXPECT_EQ(all.find("forged"), std::string::npos) << all;
}

INSTANTIATE_TEST_SUITE_P(, WylnAcl, ::testing::Values(BrokerKind::Mosquitto, BrokerKind::Ejabberd),
                         [](const ::testing::TestParamInfo<BrokerKind>& k) { return kindName(k.param); });

TEST(WylnTls, OnlyAVerifiedConnectionLogsInAndCarriesMessages)
{
    CleanWylnEnv env;
    ScopedEnv timeout("WYLN_CONNECT_TIMEOUT_MS", "2000");
#if defined(_WIN32)
    GTEST_SKIP() << "makes its CA with the openssl program and needs a TLS broker of its own";
#endif
    QTemporaryDir certs;
    TestCa good, other;
    ASSERT_TRUE(makeTestCa(certs.path().toStdString(), "good", good) && makeTestCa(certs.path().toStdString(), "other", other));
    TestBroker broker(BrokerOptions{{}, "", &good});
    WYLN_START_BROKER(broker);
    Plugin plugin;
    ASSERT_NE(plugin.creator, nullptr);

    const std::string missing = certs.filePath("missing.crt").toStdString();
    const struct
    {
        const char* name;
        const char* cafile;
        const char* host;
    } refused[] = {
        {"certificate from another CA", other.caCert.c_str(), "127.0.0.1"},
        {"missing CA file", missing.c_str(), "127.0.0.1"},
        // 127.1 needs no /etc/hosts to resolve, and is a name to the
        // certificate check, not the address 127.0.0.1.
        {"host name not in certificate", good.caCert.c_str(), "127.1"},
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
