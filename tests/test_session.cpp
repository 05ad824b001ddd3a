// Session life: Init sequences, failure returns, Exit and the error-code map.
#include "ReplyText.h"
#include "Session.h"

#include <QTimer>

#include <atomic>
#include <thread>

using fakewyln::Call;
using fakewyln::Calls;
using fakewyln::Script;

namespace {

std::vector<std::string> Ops()
{
    std::vector<std::string> ops;
    for (const Call& c : Calls())
        ops.push_back(c.op);
    return ops;
}

} // namespace

TEST(ErrorCodeMap, EveryRowAndItsLogLine)
{
    // The ends of each range of the table, and the codes just outside them.
    const struct { int transport; int library; } rows[] = {
        {0, 0}, {1001, 1}, {1005, 15}, {1251, 16}, {1301, 4}, {1310, 13}, {1501, 21}, {1507, 27},
        {8, -1}, {1006, -1}, {1250, -1}, {1311, -1}, {1500, -1}, {1508, -1}, {-1, -1}, {1000, -1},
    };
    Orlin o;
    RecordingOwner owner;
    fakewyln::Reset();
    ASSERT_EQ(0, o.Init(&owner, "h", 1, 0, 0));
    for (const auto& r : rows) {
        owner.Clear();
        EXPECT_EQ(r.library, OrlinTestAccess::GetErrorCode(o, r.transport)) << r.transport;
        EXPECT_EQ(std::vector<std::string>{"[SendPrintPrnFile]_GetErrorCode:iRetErrCode=" + std::to_string(r.transport)},
                  owner.Logs());
    }
}

TEST_F(SessionTest, FiveArgumentInitCallsTransportInOrder)
{
    ASSERT_EQ(0, session->Init(&owner, "abc", 80, 0x12345, 3));
    EXPECT_EQ((std::vector<std::string>{"NewInterface", "CreateClient", "Connect", "Login"}), Ops());
    EXPECT_EQ(3, Calls("CreateClient")[0].nArg);
    EXPECT_EQ("abc", Calls("Connect")[0].target);
    EXPECT_EQ(80, Calls("Connect")[0].nArg);
    EXPECT_EQ("", Calls("Login")[0].target);  // always an empty buffer
    EXPECT_EQ(0x12345, Calls("Login")[0].nArg);
    EXPECT_EQ("abc:80", OrlinTestAccess::SourceId(*session));
    ASSERT_NE(nullptr, OrlinTestAccess::Timer(*session));
    EXPECT_EQ(3000, OrlinTestAccess::Timer(*session)->interval());
    EXPECT_TRUE(OrlinTestAccess::Timer(*session)->isActive());
    EXPECT_TRUE(owner.Logs().empty());
}

TEST_F(SessionTest, FiveArgumentInitFailures)
{
    const struct { const char* op; int transport; int expected; } rows[] = {
        {"Connect", 1001, 1},
        {"Connect", 77, -1},
        {"Login", 8, -1},  // no second attempt in this overload
        {"Login", 1310, 13},
    };
    for (const auto& r : rows) {
        fakewyln::Reset();
        owner.Clear();
        Orlin o;
        Script(r.op, {r.transport});
        EXPECT_EQ(r.expected, o.Init(&owner, "h", 1, 0, 0)) << r.op << " " << r.transport;
        EXPECT_EQ(1, owner.CountLog("[SendPrintPrnFile]_GetErrorCode:iRetErrCode=" + std::to_string(r.transport)));
        EXPECT_EQ(1u, Calls("Login").size() + (std::string(r.op) == "Connect" ? 1 : 0));
        EXPECT_EQ(nullptr, OrlinTestAccess::Timer(o));
        EXPECT_EQ(-1, o.SendData("x", "y", 1, 10));
    }
}

TEST_F(SessionTest, SevenArgumentInitSequences)
{
    const struct {
        const char* name;
        int mode;
        const char* id;
        std::initializer_list<int> login;
        std::initializer_list<int> apply;
        int expected;
        std::vector<std::string> ops;
        int reapplyLogs;
    } rows[] = {
        {"mode 0, empty id: apply first", 0, "", {0}, {0}, 0,
         {"NewInterface", "CreateClient", "Connect", "ApplyId", "Login", "Send"}, 0},
        {"mode 0, given id: straight to login", 0, "mine", {0}, {}, 0,
         {"NewInterface", "CreateClient", "Connect", "Login", "Send"}, 0},
        {"mode 1, empty id: straight to login", 1, "", {0}, {}, 0,
         {"NewInterface", "CreateClient", "Connect", "Login", "ApplyId", "Send"}, 0},
        {"refused id: one re-apply and one more login", 0, "mine", {8, 0}, {0}, 0,
         {"NewInterface", "CreateClient", "Connect", "Login", "ApplyId", "Login", "Send"}, 1},
        {"refused twice: 8 maps to -1", 0, "mine", {8, 8}, {0}, -1,
         {"NewInterface", "CreateClient", "Connect", "Login", "ApplyId", "Login"}, 1},
        {"re-apply fails", 0, "mine", {8}, {1002}, 2,
         {"NewInterface", "CreateClient", "Connect", "Login", "ApplyId"}, 1},
        {"first apply fails", 0, "", {}, {1003}, 3,
         {"NewInterface", "CreateClient", "Connect", "ApplyId"}, 0},
    };
    for (const auto& r : rows) {
        fakewyln::Reset();
        owner.Clear();
        Script("Login", r.login);
        Script("ApplyId", r.apply);
        char id[260] = {0};
        strcpy(id, r.id);
        Orlin o;
        EXPECT_EQ(r.expected, o.Init(&owner, "h", 1, 5, "apply-info", id, r.mode)) << r.name;
        EXPECT_EQ(r.ops, Ops()) << r.name;
        EXPECT_EQ(r.reapplyLogs, owner.CountLog("ID init faild,reapply id")) << r.name;
        if (r.expected == 0) {
            EXPECT_EQ(std::string(id), OrlinTestAccess::SourceId(o)) << r.name;
            EXPECT_EQ("apply-info", OrlinTestAccess::ApplyInfo(o));
            EXPECT_NE(nullptr, OrlinTestAccess::Timer(o));
        }
    }
}

TEST_F(SessionTest, SevenArgumentInitAsksForTheServiceClientAndFailsWithIt)
{
    char id[260] = "dev-9";
    ASSERT_EQ(0, session->Init(&owner, "h", 1, 0, "", id, 0));
    const auto sends = Calls("Send");
    ASSERT_EQ(1u, sends.size());
    EXPECT_EQ(3000, sends[0].nArg);
    EXPECT_EQ(R"({"body":{"data":{"status":1,"type":[100]},"func":"getClient"},"header":{"msg_id":"ID","msg_type":0,)"
              R"("source_id":"dev-9","target_id":"","timestamp":T,"version":"1"}})",
              testsupport::MaskFresh(sends[0].payload));
    // The request text is logged, then its mapped result.
    EXPECT_EQ(sends[0].payload, owner.Logs().at(0));
    EXPECT_EQ("[SendPrintPrnFile]_GetErrorCode:iRetErrCode=0", owner.Logs().at(1));

    // When the query fails, so does Init; the mapped code 14 is logged once
    // more by Init.
    owner.Clear();
    Script("Send", {1004});
    EXPECT_EQ(-1, session->Init(&owner, "h", 1, 0, "", id, 0));
    EXPECT_EQ(1, owner.CountLog("[SendPrintPrnFile]_GetErrorCode:iRetErrCode=1004"));
    EXPECT_EQ(1, owner.CountLog("[SendPrintPrnFile]_GetErrorCode:iRetErrCode=14"));
    EXPECT_EQ(nullptr, OrlinTestAccess::Timer(*session));
}

TEST_F(SessionTest, CreateClientNullReturns12)
{
    fakewyln::GetState().createNullClient = true;
    EXPECT_EQ(12, session->Init(&owner, "h", 1, 0, 0));
    EXPECT_EQ(1, owner.CountLog("m_pWylnClient create failed"));
    session->Exit();
    EXPECT_EQ(1, fakewyln::GetState().releaseCount);
    EXPECT_EQ(0, fakewyln::GetState().destroyCount);
}

TEST_F(SessionTest, InitOnAThreadWithoutAnEventLoopSaysSoOnce)
{
    const std::string line = "Init: no Qt event loop on this thread, heartbeats will not be sent";
    std::thread([&] {
        RecordingOwner host;
        Orlin s;
        EXPECT_EQ(0, s.Init(&host, "h", 1, 0, 0));
        EXPECT_EQ(1, host.CountLog(line));
        s.Exit();
    }).join();
    ASSERT_EQ(0, session->Init(&owner, "h", 1, 0, 0));  // the test's main thread has one
    EXPECT_EQ(0, owner.CountLog(line));
}

TEST_F(SessionTest, ExitWhileTheTransportDeliversNeverReachesTheDestroyedClient)
{
    InitSession();
    WYLN::IWylnOwner* sink = fakewyln::GetState().sink;  // as the transport holds it
    auto notified = [] { return fakewyln::Calls("NotifyRecv").size(); };
    std::atomic<bool> exited{false};
    std::thread transport([&] {
        const std::string beat = testsupport::Message(testsupport::Header(3), QJsonObject{});
        char peer[260] = "service";
        // A transport whose thread is still delivering while, and just after,
        // the client goes away.
        for (int after = 0; after < 200;) {
            after += exited ? 1 : 0;
            sink->OnRecv(beat.data(), static_cast<int>(beat.size()), peer, nullptr);
        }
    });
    while (notified() < 50)
        std::this_thread::yield();
    session->Exit();
    const size_t atExit = notified();
    exited = true;
    transport.join();
    EXPECT_EQ(atExit, notified()) << "a packet delivered after Exit reached the destroyed client";
    EXPECT_EQ(1, fakewyln::GetState().destroyCount);
}

TEST_F(SessionTest, SecondInitReleasesTheFirstAndKeepsOneHeartbeat)
{
    InitSession();
    ASSERT_EQ(0, session->Init(&owner, "h2", 2, 0, 0));
    EXPECT_EQ(1, fakewyln::GetState().destroyCount);
    EXPECT_EQ(1, fakewyln::GetState().releaseCount);
    // One timer, connected once: one tick sends one heartbeat.
    fakewyln::GetState().calls.clear();
    QTimer* t = OrlinTestAccess::Timer(*session);
    ASSERT_NE(nullptr, t);
    QMetaObject::invokeMethod(t, "timeout", Qt::DirectConnection);
    EXPECT_EQ(1u, Calls("Send").size());
    EXPECT_EQ("h2:2", OrlinTestAccess::SourceId(*session));
    // Exit releases the second client, then the factory; twice is harmless.
    EXPECT_EQ(0, session->Exit());
    EXPECT_EQ(0, session->Exit());
    session.reset();
    EXPECT_EQ((std::vector<std::string>{"Send", "DestroyClient", "ReleaseInterface"}), Ops());
    EXPECT_EQ(2, fakewyln::GetState().destroyCount);
    EXPECT_EQ(2, fakewyln::GetState().releaseCount);
}

TEST_F(SessionTest, OperationsBeforeInitAreRefused)
{
    __SCLOUD_PRINT_TASK task = {};
    __SCLOUD_UPGRADE_PRINT_STATUS st = {};
    __SCLOUD_UPGRADE_REPORT_PARAM rp;
    __EM_CLOUD_MODULE_TYPE t = EM_CLOUD_MODULE_SERVICE;
    const struct { const char* op; std::function<int()> call; } rows[] = {
        {"SendData", [&] { return session->SendData(nullptr, "x", 1, 10); }},
        {"StartPrintingTask", [&] { return session->StartPrintingTask("p", &task, 10); }},
        {"SendPrintPrnFile", [&] { return session->SendPrintPrnFile("p", nullptr, 10); }},
        {"SendMsgToGetSourceIdFromMsg", [&] { return session->SendMsgToGetSourceIdFromMsg("", "", 1, &t, 1, "", 10); }},
        {"UpgradeReportParam", [&] { return session->UpgradeReportParam(&rp, 0); }},
        {"UpgradePrintStatus", [&] { return session->UpgradePrintStatus(&st, 10); }},
    };
    // Without a host nothing is called, in either form.
    ASSERT_EQ(11, session->Init(nullptr, "h", 1, 0, 0));
    char id[260] = {0};
    EXPECT_EQ(11, session->Init(nullptr, "h", 1, 0, "info", id, 0));
    EXPECT_TRUE(Calls().empty());
    RecordingOwner o;
    Script("Connect", {1001});
    ASSERT_EQ(1, session->Init(&o, "h", 1, 0, 0));  // client exists, login never happened
    o.Clear();
    for (const auto& r : rows) {
        EXPECT_EQ(-1, r.call()) << r.op;
        EXPECT_EQ(1, o.CountLog(std::string(r.op) + " refused: session not initialised")) << r.op;
    }
    EXPECT_TRUE(Calls("Send").empty());
    EXPECT_TRUE(Calls("SendTo").empty());
    EXPECT_TRUE(Calls("ApplyId").empty());
}

TEST_F(SessionTest, SendDataChoosesSendOrSendTo)
{
    InitSession();
    Script("SendTo", {1502});
    EXPECT_EQ(22, session->SendData("peer-B", "abc\0def", 7, 1234));
    EXPECT_EQ(0, session->SendData(nullptr, "text", 999, 55));
    const auto sent = fakewyln::Sent();
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ("SendTo", sent[0].op);
    EXPECT_EQ("peer-B", sent[0].target);
    EXPECT_EQ(std::string("abc\0def", 7), sent[0].payload);
    EXPECT_EQ(1234, sent[0].nArg);
    EXPECT_EQ("Send", sent[1].op);  // nLen ignored: the text goes up to its zero
    EXPECT_EQ("text", sent[1].payload);
    EXPECT_EQ(55, sent[1].nArg);
    EXPECT_EQ((std::vector<std::string>{"[SendPrintPrnFile]_GetErrorCode:iRetErrCode=1502",
                                        "[SendPrintPrnFile]_GetErrorCode:iRetErrCode=0"}),
              owner.Logs());
}

