// Integration tests of the wyln plug-in against a private broker of each
// kind: mosquitto, and an ejabberd node; and against two nodes.
#include "MosquittoFixture.h"
#include "Presence.h"
#include "WylnTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <thread>

#if !defined(_WIN32)
#  include <arpa/inet.h>
#  include <netinet/in.h>
#  include <sys/socket.h>
#  include <unistd.h>
#endif

using namespace wyln_test;

namespace {

// ejabberd wants a password from every client; its test node lets any
// unregistered identifier in with any password.
const char kAnyPassword[] = "anonymous";

class WylnTransport : public ::testing::TestWithParam<BrokerKind>
{
protected:
    WylnTransport() : broker(BrokerOptions{{}, {}, nullptr, GetParam()}) {}

    void SetUp() override
    {
        ASSERT_NE(plugin.creator, nullptr);
        WYLN_START_BROKER(broker);
    }

    bool ejabberd() const { return GetParam() == BrokerKind::Ejabberd; }

    std::unique_ptr<Peer> loggedIn(const std::string& id = std::string())
    {
        auto p = std::make_unique<Peer>(plugin.creator);
        EXPECT_EQ(p->login(broker.port(), id), 0) << "login as '" << id << "'";
        return p;
    }

    CleanWylnEnv env;
    ScopedEnv password{"WYLN_PASSWORD", GetParam() == BrokerKind::Ejabberd ? kAnyPassword : nullptr};
    // ejabberd does not announce its limit; the plug-in is told it.
    ScopedEnv maxPacket{"WYLN_MAX_PACKET_SIZE", GetParam() == BrokerKind::Ejabberd ? "16777216" : nullptr};
    TestBroker broker;
    Plugin plugin;
};

TEST_P(WylnTransport, LoginIssuesOrKeepsIdentifiersAndPublishesPresence)
{
    auto issued = loggedIn();
    EXPECT_EQ(issued->id().size(), 36u);
    EXPECT_NE(loggedIn()->id(), issued->id());
    auto named = loggedIn("client-7");
    EXPECT_EQ(named->id(), "client-7");

    // As the service's presence watcher sees it (mosquitto: anonymously).
    Inbox seen;
    tools::PresenceWatcher watcher([&](const QString& id, bool online) {
        if (id == "client-7")
            seen.add(Message{online ? "online" : "offline", id.toStdString()});
    });
    ASSERT_TRUE(watcher.start(testBrokerHost(), broker.port(), ejabberd() ? "watcher" : "", kAnyPassword));
    ASSERT_TRUE(seen.waitFor(1, 2000));
    EXPECT_EQ(seen.messages()[0].data, "online");
    named->destroy();
    ASSERT_TRUE(seen.waitFor(2, 2000));
    EXPECT_EQ(seen.messages()[1].data, "offline");
}

TEST_P(WylnTransport, MalformedOrRefusedIdentifiersGiveEightThenApplyIdRecovers)
{
    // The full rules are covered by the unit tests; these reach Login.
    for (const std::string& bad : {std::string("a/b"), std::string("a+b"), std::string("caf\xC3"),
                                   std::string(WYLN_ID_MAX_LEN + 1, 'x')}) {
        SCOPED_TRACE(bad);
        Peer p(plugin.creator);
        ASSERT_EQ(p->Connect(testBrokerHost(), broker.port()), 0);
        char id[WYLN_ID_BUFFER];
        // The longest case fills the whole buffer without a terminator.
        std::memcpy(id, bad.data(), std::min(bad.size(), sizeof(id)));
        if (bad.size() < sizeof(id))
            id[bad.size()] = '\0';
        EXPECT_EQ(p->Login(id, &p.sink, 0), 8);
        ASSERT_EQ(p->ApplyId("", id, 0), 0);
        EXPECT_EQ(p->Login(id, &p.sink, 0), 0);
    }

    // An identifier the broker refuses (CONNACK 0x85); ApplyId honours the
    // prefix it wants. (ejabberd's refusals are in the access tests.)
    if (ejabberd())
        return;
    TestBroker prefixed(BrokerOptions{{}, "clientid_prefixes c-"});
    WYLN_START_BROKER(prefixed);
    ScopedEnv prefix("WYLN_ID_PREFIX", "c-");
    Peer p(plugin.creator);
    EXPECT_EQ(p.login(prefixed.port(), "intruder"), 8);
    ASSERT_EQ(p->ApplyId("", p.idBuffer(), 0), 0);
    EXPECT_EQ(p.id().rfind("c-", 0), 0u) << p.id();
    EXPECT_EQ(p->Login(p.idBuffer(), &p.sink, 0), 0);
}

TEST_P(WylnTransport, RoundTripBothWaysWithTheConfiguredServiceCarriesTheSendersIdentity)
{
    ScopedEnv serviceId("WYLN_SERVICE_ID", "svc-2");
    auto service = loggedIn("svc-2");
    auto defaultService = loggedIn("wyln");
    auto client = loggedIn();

    ASSERT_EQ((*client)->Send("hello service", 2000), 0);
    ASSERT_TRUE(service->sink.waitFor(1, 2000));
    EXPECT_EQ(service->sink.messages()[0].data, "hello service");
    EXPECT_EQ(service->sink.messages()[0].peer, client->id());

    const std::string binary("a\0b\xff\0", 5);
    ASSERT_EQ((*service)->SendTo(client->id().c_str(), binary.data(), static_cast<int>(binary.size()), 2000), 0);
    ASSERT_EQ((*service)->SendTo(client->id().c_str(), "", 0, 2000), 0);
    ASSERT_TRUE(client->sink.waitFor(2, 2000));
    EXPECT_EQ(client->sink.messages()[0].data, binary);
    EXPECT_EQ(client->sink.messages()[0].peer, "svc-2");
    EXPECT_EQ(client->sink.messages()[1].data, "");
    EXPECT_EQ(defaultService->sink.count(), 0u);
}

TEST_P(WylnTransport, TwelveMebibyteMessagesArriveIntactAndOversizedOnesFailFast)
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
    ASSERT_TRUE(b->sink.waitFor(2, 2000));
    EXPECT_EQ(b->sink.messages().size(), 2u);
    EXPECT_EQ(b->sink.messages()[1].data, "small");
}

TEST_P(WylnTransport, BadTargetsAndArgumentsGetCodesAtOnce)
{
    auto a = loggedIn("args");
    const std::string tooLong(WYLN_ID_MAX_LEN + 1, 't');
    const struct
    {
        const char* target;
        const char* data;
        int len;
        int expected;
    } cases[] = {
        {nullptr, "x", 1, WYLN_E_BAD_TARGET},         {"", "x", 1, WYLN_E_BAD_TARGET},
        {"a/b", "x", 1, WYLN_E_BAD_TARGET},           {"+", "x", 1, WYLN_E_BAD_TARGET},
        {"#", "x", 1, WYLN_E_BAD_TARGET},             {tooLong.c_str(), "x", 1, WYLN_E_BAD_TARGET},
        {"peer", nullptr, 3, WYLN_E_INVALID_ARGUMENT}, {"peer", "x", -1, WYLN_E_INVALID_ARGUMENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target ? c.target : "(null)");
        auto start = Clock::now();
        EXPECT_EQ((*a)->SendTo(c.target, c.data, c.len, 3000), c.expected) << c.len;
        EXPECT_LT(elapsedMs(start), 100);
    }
    EXPECT_EQ((*a)->Send(nullptr, 3000), WYLN_E_INVALID_ARGUMENT);
    EXPECT_EQ((*a)->Login(nullptr, &a->sink, 0), WYLN_E_INVALID_ARGUMENT);
    EXPECT_EQ((*a)->ApplyId("", nullptr, 0), WYLN_E_INVALID_ARGUMENT);
}

TEST_P(WylnTransport, WithoutBrokerOrLoginCallsFailWithCodesQuickly)
{
    Peer p(plugin.creator);
    auto start = Clock::now();
    EXPECT_EQ(p->SendTo("peer", "x", 1, 3000), WYLN_E_NOT_LOGGED_IN);
    EXPECT_EQ(p->Send("x", 3000), WYLN_E_NOT_LOGGED_IN);
    EXPECT_EQ(p->Login(p.idBuffer(), &p.sink, 0), WYLN_E_NOT_CONNECTED);  // Connect not called
    EXPECT_EQ(p->Connect(nullptr, broker.port()), WYLN_E_INVALID_ARGUMENT);
    EXPECT_EQ(p->Connect("127.0.0.1", 0), WYLN_E_INVALID_ARGUMENT);
    EXPECT_EQ(p->Connect("127.0.0.1", tools::freeLoopbackPort()), WYLN_E_NOT_CONNECTED);
    EXPECT_EQ(p->Login(p.idBuffer(), &p.sink, 0), WYLN_E_NOT_CONNECTED);
    EXPECT_LT(elapsedMs(start), 1000);
}

TEST_P(WylnTransport, RepliesFromInsideOnRecvUnderLoad)
{
    auto service = loggedIn("wyln");
    auto client = loggedIn("loaded");
    IWylnClient* svc = service->client();
    std::atomic<int> replyFailures{0}, sendFailures{0};
    service->sink.hook = [&](const char* data, int len, const char* peer) {
        if (svc->SendTo(peer, data, len, 2000) != 0)
            ++replyFailures;
    };
    const int perThread = 400;
    auto sender = [&](IWylnClient* from, const std::string& tag, bool viaSend) {
        for (int i = 0; i < perThread; ++i) {
            std::string m = tag + std::to_string(i);
            if ((viaSend ? from->Send(m.c_str(), 5000)
                         : from->SendTo("loaded", m.data(), static_cast<int>(m.size()), 5000)) != 0)
                ++sendFailures;
        }
    };
    // Two host threads of the client and one of the service send while the
    // service's callback replies.
    std::thread t1(sender, client->client(), "a", true), t2(sender, client->client(), "b", true),
        t3(sender, svc, "s", false);
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
}

TEST_P(WylnTransport, ReconnectsAfterTheBrokerRestarts)
{
    if (broker.shared())
        GTEST_SKIP() << "stops and starts the broker";
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

    ASSERT_TRUE(broker.start()) << broker.lastError();
    start = Clock::now();
    bool delivered = false;
    while (!delivered && elapsedMs(start) < 10000) {
        if ((*client)->Send("back", 500) == 0)
            delivered = service->sink.waitForData("back", 500);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // A "lost" send that the client had queued before it noticed the loss
    // may arrive too, before or after "back".
    ASSERT_TRUE(delivered);
    // The service's subscription is back as well.
    ASSERT_EQ((*service)->SendTo("roamer", "reply", 5, 3000), 0);
    EXPECT_TRUE(client->sink.waitFor(1, 3000));
}

TEST_P(WylnTransport, TwoConnectionsUnderOneIdentifierSettleOnTheLaterOne)
{
    if (ejabberd())
        GTEST_SKIP() << "the silent take-over is mosquitto's; not run against ejabberd";
    auto older = loggedIn("twin");
    auto later = loggedIn("twin");
    auto watcher = loggedIn("watcher");
    auto result = [&](Peer& p) { return p->SendTo("watcher", "x", 1, 500); };
    // The older one reconnects once, finds the later login's presence and
    // stops; the later one, thrown out by that reconnect, comes back.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(result(*later), 0) << "after " << 3000 + i * 200 << " ms";
        EXPECT_EQ(result(*older), WYLN_E_SESSION_TAKEN_OVER) << "after " << 3000 + i * 200 << " ms";
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

// A broker's host that stops answering between Connect and Login: a listener
// that never accepts, whose backlog the Connect check has filled, so the
// system drops every further connection attempt unanswered.
// Linux behaviour: Windows refuses such attempts instead.
#if !defined(_WIN32)
TEST(WylnLogin, IsBoundedByTheTimeOutWhenTheBrokerStopsAnswering)
{
    CleanWylnEnv env;
    ScopedEnv timeout("WYLN_CONNECT_TIMEOUT_MS", "1000");
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);

    Plugin plugin;
    Peer p(plugin.creator);
    ASSERT_EQ(p->Connect("127.0.0.1", ntohs(addr.sin_port)), 0);
    const auto start = Clock::now();
    EXPECT_EQ(p->Login(p.idBuffer(), &p.sink, 0), WYLN_E_TIMEOUT);
    EXPECT_LT(elapsedMs(start), 2500);
    close(listener);
}
#endif

INSTANTIATE_TEST_SUITE_P(, WylnTransport, ::testing::Values(BrokerKind::Mosquitto, BrokerKind::Ejabberd),
                         [](const ::testing::TestParamInfo<BrokerKind>& k) { return kindName(k.param); });

// Two broker nodes, a cluster or a bridge pair: a client on the first node
// (with the second one configured) sends to a client on the second one while
// the first node dies. The send reports success only for a message that
// arrives; the sender moves to the second node under the same identifier
// and reaches the peer again.
class WylnNodes : public ::testing::TestWithParam<BrokerKind>
{
protected:
    void SetUp() override
    {
        ASSERT_NE(plugin.creator, nullptr);
        WYLN_START_BROKER(broker);
    }

    static BrokerOptions options(BrokerKind kind)
    {
        BrokerOptions o;
        o.kind = kind;
        o.shippedConfDir = WYLN_SHIPPED_CONF_DIR;
        o.users = {{"sender", "nodes-pw"}, {"receiver", "nodes-pw"}, {"late", "nodes-pw"}};
        return o;
    }

    CleanWylnEnv env;
    ScopedEnv password{"WYLN_PASSWORD", "nodes-pw"};
    ScopedEnv maxPacket{"WYLN_MAX_PACKET_SIZE", "16777216"};
    TestBroker broker{options(GetParam())};
    Plugin plugin;
};

TEST_P(WylnNodes, NodeDyingMidTransferIsReportedAndTheSenderMovesOn)
{
    const std::string second = "127.0.0.1:" + std::to_string(broker.port(1));
    ScopedEnv brokers("WYLN_BROKERS", second.c_str());
    Peer sender(plugin.creator), receiver(plugin.creator);
    ASSERT_EQ(sender.login(broker.port(0), "sender"), 0);
    ASSERT_EQ(receiver.login(broker.port(1), "receiver"), 0);
    ASSERT_EQ(sender->SendTo("receiver", "first", 5, 3000), 0);
    ASSERT_TRUE(receiver.sink.waitFor(1, 3000));

    const std::string big(12 * 1024 * 1024, 'm');
    int rc = -1;
    const auto start = Clock::now();
    std::thread send([&] { rc = sender->SendTo("receiver", big.data(), static_cast<int>(big.size()), 5000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    broker.killNode(0);
    send.join();
    EXPECT_LT(elapsedMs(start), 6000);
    // Success means it arrived; otherwise the documented codes.
    const bool arrived = receiver.sink.waitFor(2, 3000);
    if (rc == 0)
        EXPECT_TRUE(arrived);
    else
        EXPECT_TRUE(rc == WYLN_E_NOT_CONNECTED || rc == WYLN_E_TIMEOUT) << rc;

    // Within 10 s the sender is on the second node under the same name.
    const auto moved = Clock::now();
    bool delivered = false;
    while (!delivered && elapsedMs(moved) < 10000) {
        const size_t before = receiver.sink.count();
        if (sender->SendTo("receiver", "after", 5, 1000) == 0)
            delivered = receiver.sink.waitFor(before + 1, 1000);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(delivered);
    EXPECT_EQ(receiver.sink.messages().back().peer, "sender");
    EXPECT_EQ(receiver.sink.messages().back().data, "after");
    // Its inbox moved with it, and Connect goes to a listed node when the
    // given one is down.
    ASSERT_EQ(receiver->SendTo("sender", "back", 4, 3000), 0);
    EXPECT_TRUE(sender.sink.waitFor(1, 3000));
    Peer late(plugin.creator);
    EXPECT_EQ(late.login(broker.port(0), "late"), 0);
}

INSTANTIATE_TEST_SUITE_P(, WylnNodes, ::testing::Values(BrokerKind::EjabberdCluster, BrokerKind::MosquittoBridge),
                         [](const ::testing::TestParamInfo<BrokerKind>& k) { return kindName(k.param); });

} // namespace
