// Integration tests of the wyln plug-in against a private mosquitto broker.
#include "MosquittoFixture.h"
#include "WylnTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <thread>

using namespace wyln_test;

namespace {

const uint32_t kMaxPacket = 16 * 1024 * 1024;

BrokerOptions defaultBroker()
{
    BrokerOptions o;
    o.maxPacketSize = kMaxPacket;
    return o;
}

class WylnTransport : public ::testing::Test
{
protected:
    explicit WylnTransport(BrokerOptions options = defaultBroker()) : broker(std::move(options)) {}

    void SetUp() override
    {
        ASSERT_NE(plugin.creator, nullptr);
        ASSERT_TRUE(broker.start()) << broker.lastError();
    }

    std::unique_ptr<Peer> loggedIn(const std::string& id = std::string())
    {
        auto p = std::make_unique<Peer>(plugin.creator);
        int rc = p->login(broker.port(), id);
        EXPECT_EQ(rc, 0) << "login as '" << id << "'";
        return p;
    }

    CleanWylnEnv env;
    MosquittoBroker broker;
    Plugin plugin;
};

TEST_F(WylnTransport, LoginIssuesAnIdentifierOrKeepsTheGivenOne)
{
    auto issued = loggedIn();
    EXPECT_EQ(issued->id().size(), 36u);
    auto again = loggedIn();
    EXPECT_NE(again->id(), issued->id());
    auto named = loggedIn("client-7");
    EXPECT_EQ(named->id(), "client-7");
}

TEST_F(WylnTransport, MalformedIdentifiersAreRefusedWithEightThenApplyIdRecovers)
{
    const std::string tooLong(WYLN_ID_MAX_LEN + 1, 'x');
    const struct
    {
        const char* name;
        std::string id;
    } cases[] = {
        // The full rules are covered by the unit tests; these reach Login.
        {"slash", "a/b"}, {"wildcard", "a+b"}, {"invalid utf-8", "caf\xC3"}, {"too long", tooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Peer p(plugin.creator);
        ASSERT_EQ(p->Connect("127.0.0.1", broker.port()), 0);
        char id[WYLN_ID_BUFFER];
        // The longest case fills the whole buffer without a terminator.
        std::memcpy(id, c.id.data(), std::min(c.id.size(), sizeof(id)));
        if (c.id.size() < sizeof(id))
            id[c.id.size()] = '\0';
        EXPECT_EQ(p->Login(id, &p.sink, 0), 8);
        ASSERT_EQ(p->ApplyId("", id, 0), 0);
        EXPECT_EQ(p->Login(id, &p.sink, 0), 0);
    }
}

class WylnPrefixedBroker : public WylnTransport
{
protected:
    static BrokerOptions options()
    {
        BrokerOptions o = defaultBroker();
        o.extraGlobal = "clientid_prefixes c-";
        return o;
    }
    WylnPrefixedBroker() : WylnTransport(options()) {}
};

TEST_F(WylnPrefixedBroker, IdentifierRefusedByTheBrokerGivesEightAndApplyIdGetsAnAcceptedOne)
{
    ScopedEnv prefix("WYLN_ID_PREFIX", "c-");
    Peer p(plugin.creator);
    EXPECT_EQ(p.login(broker.port(), "intruder"), 8);
    ASSERT_EQ(p->ApplyId("", p.idBuffer(), 0), 0);
    EXPECT_EQ(p.id().rfind("c-", 0), 0u) << p.id();
    EXPECT_EQ(p->Login(p.idBuffer(), &p.sink, 0), 0);
}

TEST_F(WylnTransport, RoundTripBothWaysCarriesTheSendersIdentity)
{
    auto service = loggedIn("wyln");
    auto client = loggedIn();

    ASSERT_EQ((*client)->Send("hello service", 2000), 0);
    ASSERT_TRUE(service->sink.waitFor(1, 2000));
    EXPECT_EQ(service->sink.messages()[0].data, "hello service");
    EXPECT_EQ(service->sink.messages()[0].peer, client->id());

    const std::string binary("a\0b\xff\0", 5);
    ASSERT_EQ((*service)->SendTo(client->id().c_str(), binary.data(), static_cast<int>(binary.size()), 2000), 0);
    ASSERT_TRUE(client->sink.waitFor(1, 2000));
    EXPECT_EQ(client->sink.messages()[0].data, binary);
    EXPECT_EQ(client->sink.messages()[0].peer, "wyln");

    ASSERT_EQ((*service)->SendTo(client->id().c_str(), "", 0, 2000), 0);
    ASSERT_TRUE(client->sink.waitFor(2, 2000));
    EXPECT_EQ(client->sink.messages()[1].data, "");
}

TEST_F(WylnTransport, SendGoesToTheConfiguredService)
{
    ScopedEnv service("WYLN_SERVICE_ID", "svc-2");
    auto svc = loggedIn("svc-2");
    auto defaultSvc = loggedIn("wyln");
    auto client = loggedIn();
    ASSERT_EQ((*client)->Send("to svc-2", 2000), 0);
    ASSERT_TRUE(svc->sink.waitFor(1, 2000));
    EXPECT_EQ(svc->sink.messages()[0].peer, client->id());
    EXPECT_EQ(defaultSvc->sink.count(), 0u);
}

TEST_F(WylnTransport, TwelveMebibyteMessagesArriveIntactAndOversizedOnesFailFast)
{
    auto a = loggedIn("big-a");
    auto b = loggedIn("big-b");
    std::string big(12 * 1024 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 2654435761u) >> 13);

    ASSERT_EQ((*a)->SendTo("big-b", big.data(), static_cast<int>(big.size()), 10000), 0);
    ASSERT_EQ((*b)->SendTo("big-a", big.data(), static_cast<int>(big.size()), 10000), 0);
    ASSERT_TRUE(b->sink.waitFor(1, 10000));
    ASSERT_TRUE(a->sink.waitFor(1, 10000));
    EXPECT_TRUE(b->sink.messages()[0].data == big);
    EXPECT_TRUE(a->sink.messages()[0].data == big);

    std::string over(kMaxPacket, 'x');
    auto start = Clock::now();
    EXPECT_EQ((*a)->SendTo("big-b", over.data(), static_cast<int>(over.size()), 5000), WYLN_E_MESSAGE_TOO_LARGE);
    EXPECT_EQ((*a)->Send(over.c_str(), 5000), WYLN_E_MESSAGE_TOO_LARGE);
    EXPECT_LT(elapsedMs(start), 500);
    // The connection is still usable afterwards.
    EXPECT_EQ((*a)->SendTo("big-b", "small", 5, 2000), 0);
    EXPECT_TRUE(b->sink.waitFor(2, 2000));
}

TEST_F(WylnTransport, BadTargetsAndArgumentsGetCodesAtOnce)
{
    auto a = loggedIn("args");
    const std::string tooLong(WYLN_ID_MAX_LEN + 1, 't');
    const struct
    {
        const char* name;
        const char* target;
        const char* data;
        int len;
        int expected;
    } cases[] = {
        {"null target", nullptr, "x", 1, WYLN_E_BAD_TARGET},
        {"empty target", "", "x", 1, WYLN_E_BAD_TARGET},
        {"slash", "a/b", "x", 1, WYLN_E_BAD_TARGET},
        {"plus", "+", "x", 1, WYLN_E_BAD_TARGET},
        {"hash", "#", "x", 1, WYLN_E_BAD_TARGET},
        {"too long", tooLong.c_str(), "x", 1, WYLN_E_BAD_TARGET},
        {"null data with length", "peer", nullptr, 3, WYLN_E_INVALID_ARGUMENT},
        {"negative length", "peer", "x", -1, WYLN_E_INVALID_ARGUMENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto start = Clock::now();
        EXPECT_EQ((*a)->SendTo(c.target, c.data, c.len, 3000), c.expected);
        EXPECT_LT(elapsedMs(start), 100);
    }
    EXPECT_EQ((*a)->Send(nullptr, 3000), WYLN_E_INVALID_ARGUMENT);
    EXPECT_EQ((*a)->Login(nullptr, &a->sink, 0), WYLN_E_INVALID_ARGUMENT);
    EXPECT_EQ((*a)->ApplyId("", nullptr, 0), WYLN_E_INVALID_ARGUMENT);
}

TEST_F(WylnTransport, WithoutBrokerOrLoginCallsFailWithCodesQuickly)
{
    Peer p(plugin.creator);
    auto start = Clock::now();
    EXPECT_EQ(p->SendTo("peer", "x", 1, 3000), WYLN_E_NOT_LOGGED_IN);
    EXPECT_EQ(p->Send("x", 3000), WYLN_E_NOT_LOGGED_IN);
    EXPECT_EQ(p->Login(p.idBuffer(), &p.sink, 0), WYLN_E_NOT_CONNECTED);  // Connect not called
    EXPECT_EQ(p->Connect(nullptr, broker.port()), WYLN_E_INVALID_ARGUMENT);
    EXPECT_EQ(p->Connect("127.0.0.1", 0), WYLN_E_INVALID_ARGUMENT);

    int deadPort = MosquittoBroker::freePort();
    EXPECT_EQ(p->Connect("127.0.0.1", deadPort), WYLN_E_NOT_CONNECTED);
    EXPECT_EQ(p->Login(p.idBuffer(), &p.sink, 0), WYLN_E_NOT_CONNECTED);
    EXPECT_LT(elapsedMs(start), 1000);
}

TEST_F(WylnTransport, RepliesFromInsideOnRecvUnderLoad)
{
    auto service = loggedIn("wyln");
    auto client = loggedIn("loaded");
    IWylnClient* svc = service->client();
    std::atomic<int> replyFailures{0};
    // The service answers every packet from inside its receive callback.
    service->sink.hook = [&](const char* data, int len, const char* peer) {
        if (svc->SendTo(peer, data, len, 2000) != 0)
            ++replyFailures;
    };

    const int perThread = 400;
    std::atomic<int> sendFailures{0};
    auto sender = [&](IWylnClient* from, const std::string& tag, bool viaSend) {
        for (int i = 0; i < perThread; ++i) {
            std::string m = tag + std::to_string(i);
            int rc = viaSend ? from->Send(m.c_str(), 5000)
                             : from->SendTo("loaded", m.data(), static_cast<int>(m.size()), 5000);
            if (rc != 0)
                ++sendFailures;
        }
    };
    // Two host threads of the client and one of the service at the same time
    // as the service's callback replies.
    std::thread t1(sender, client->client(), "a", true);
    std::thread t2(sender, client->client(), "b", true);
    std::thread t3(sender, svc, "s", false);
    t1.join();
    t2.join();
    t3.join();
    EXPECT_EQ(sendFailures.load(), 0);

    ASSERT_TRUE(client->sink.waitFor(3 * perThread, 10000)) << client->sink.count();
    EXPECT_EQ(replyFailures.load(), 0);
    std::set<std::string> seen;
    for (const auto& m : client->sink.messages()) {
        EXPECT_EQ(m.peer, "wyln");
        seen.insert(m.data);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(3 * perThread));
    EXPECT_TRUE(seen.count("a0") && seen.count("b399") && seen.count("s399"));
}

TEST_F(WylnTransport, ReconnectsAfterTheBrokerRestarts)
{
    ScopedEnv delayMax("WYLN_RECONNECT_DELAY_MAX", "1");
    auto service = loggedIn("wyln");
    auto client = loggedIn("roamer");

    broker.stop();
    auto start = Clock::now();
    int rc = 0;
    // The link loss is noticed within moments; sends then fail with a code.
    while (rc == 0 && elapsedMs(start) < 3000)
        rc = (*client)->Send("lost", 300);
    EXPECT_TRUE(rc == WYLN_E_NOT_CONNECTED || rc == WYLN_E_TIMEOUT) << rc;
    EXPECT_LT(elapsedMs(start), 3000);

    ASSERT_TRUE(broker.start()) << broker.lastError();
    start = Clock::now();
    bool delivered = false;
    while (!delivered && elapsedMs(start) < 10000) {
        if ((*client)->Send("back", 500) == 0)
            delivered = service->sink.waitFor(1, 500);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(delivered);
    EXPECT_EQ(service->sink.messages().back().data, "back");
    // The service's subscription is back as well.
    ASSERT_EQ((*service)->SendTo("roamer", "reply", 5, 3000), 0);
    EXPECT_TRUE(client->sink.waitFor(1, 3000));
}

TEST_F(WylnTransport, PresenceIsOnlineAfterLoginAndOfflineAfterDestroy)
{
    auto client = loggedIn("present");
    RawClient watcher("watcher");
    ASSERT_TRUE(watcher.connect(broker.port()));
    ASSERT_TRUE(watcher.subscribe("presence/present"));
    ASSERT_TRUE(watcher.waitFor(1, 2000));
    EXPECT_EQ(watcher.messages()[0].data, "online");
    client->destroy();
    ASSERT_TRUE(watcher.waitFor(2, 2000));
    EXPECT_EQ(watcher.messages()[1].data, "offline");
}

} // namespace
