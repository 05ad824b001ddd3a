// Stress: the transport's thread delivers print commands, client lists,
// reports and heartbeats while the host's thread calls the session's
// operations and runs the heartbeat: its event loop lets the heartbeat timer
// fire, and it calls the heartbeat slot itself every 64 rounds. Nothing may
// be lost: every inbound message reaches its callback, every print command
// is answered, every send the host made and every heartbeat reach the
// transport. Built with ThreadSanitizer, the run must be free of reports.
//
// ORLIN_STRESS_MESSAGES sets the number of inbound messages (default 1000000).
#include "NullOwner.h"
#include "Session.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

using namespace testsupport;

namespace {

// Counts the callbacks it is given; keeps the first failure lines.
class CountingOwner : public NullOwner
{
public:
    std::atomic<long> prints{0}, clientLists{0}, clients{0}, reports{0};

    std::vector<std::string> Failures() const
    {
        std::lock_guard<std::mutex> l(mu);
        return failures;
    }

    void OnLog(const char* szText) override
    {
        const std::string s(szText);
        if (s.find("fail") == std::string::npos && s.find("overtime") == std::string::npos)
            return;
        std::lock_guard<std::mutex> l(mu);
        if (failures.size() < 10)
            failures.push_back(s);
    }
    void OnGetClient(__SCLOUD_GET_CLIENT* p) override
    {
        ++clientLists;
        clients += p->iCount;
    }
    bool OnPrint(__SCLOUD_PRINT_TASK*, __SCLOUD_PRINT_RESULT* r) override
    {
        ++prints;
        r->iType = 1;
        return true;
    }
    bool OnReport(__SCLOUD_UPGRADE_REPORT_PARAM*) override
    {
        ++reports;
        return true;
    }

private:
    mutable std::mutex mu;
    std::vector<std::string> failures;
};

} // namespace

TEST(Stress, TransportHostAndHeartbeatAtOnce)
{
    const char* env = getenv("ORLIN_STRESS_MESSAGES");
    const long total = env && *env ? atol(env) : 1000000;
    ASSERT_GT(total, 0);
    fakewyln::Reset();
    CountingOwner owner;
    std::atomic<long> repliesToPeer{0}, hostSends{0}, serviceSends{0}, heartbeatSends{0};
    fakewyln::GetState().onSend = [&](const fakewyln::Call& c) {
        if (c.op == "Send") {
            ++serviceSends;
            heartbeatSends += c.payload.find("\"msg_type\":3") != std::string::npos;
        }
        else if (c.target == "peer-A")
            ++repliesToPeer;
        else if (c.target == "peer-B")
            ++hostSends;
    };

    // The four inbound shapes, in turn. Print commands use 64 task ids so
    // that the per-peer registry stays small while keys keep being looked up.
    std::vector<std::string> prints;
    for (int id = 1; id <= 64; ++id)
        prints.push_back(Command(0, "print", QJsonObject{{"type", 1}, {"task_id", id}, {"print_count", 2},
                                                         {"file_path", QStringLiteral("/jobs/job-%1.prn").arg(id)}}));
    const std::string clientList = Message(Header(0), Json(R"({"func":"getClient","message":"success","data":[
        {"type":3,"status":1,"id":"c1","name":"desk","create_time":"t","update_time":"u"},
        {"type":4,"status":0,"id":"c2","name":"phone"},{"type":100,"status":1,"id":"svc"}]})"));
    const std::string report = Command(2, "report", Json(R"({"device_status":2,"device_doing":1,
        "print_info":{"task_id":3,"progress":40,"capacity":"1.5","printed_area":"2.0"},"upgrade_info":{"process":0}})"));
    const std::string heartbeat = Message(Header(3), Json(R"({"device_status":1,"connect_status":1})"));
    Orlin session;
    ASSERT_EQ(0, session.Init(&owner, "127.0.0.1", 1883, 7, 0));
    long ticks = 0, beatCalls = 0;
    QObject::connect(OrlinTestAccess::Timer(session), &QTimer::timeout, [&] { ++ticks; });
    const auto started = std::chrono::steady_clock::now();

    long sentPrints = 0, sentLists = 0, sentReports = 0, sentBeats = 0;
    std::atomic<bool> done{false};
    std::thread transport([&] {
        for (long i = 0; i < total; ++i) {
            switch (i % 4) {
            case 0: fakewyln::Deliver(prints[static_cast<size_t>(i / 4) % prints.size()], "peer-A"); ++sentPrints; break;
            case 1: fakewyln::Deliver(clientList, "service"); ++sentLists; break;
            case 2: fakewyln::Deliver(report, "peer-A"); ++sentReports; break;
            default: fakewyln::Deliver(heartbeat, "service"); ++sentBeats; break;
            }
            // The fake records every call; keep its memory flat.
            if (i % 4096 == 0) {
                std::lock_guard<std::recursive_mutex> lock(fakewyln::GetState().mu);
                fakewyln::GetState().calls.clear();
            }
        }
        done = true;
    });

    // The host's thread: every operation the host has, round after round.
    long hostCalls = 0, hostOk = 0, rounds = 0;
    __SCLOUD_PRINT_TASK task{};
    task.sVer = 1;
    task.iType = 1;
    task.iPrintCount = 1;
    strcpy(task.szFilePath, "/jobs/outbound.prn");
    __SCLOUD_UPGRADE_REPORT_PARAM status{};
    __EM_CLOUD_MODULE_TYPE types[] = {EM_CLOUD_MODULE_SERVICE};
    while (!done) {
        ++rounds;
        task.iTaskId = static_cast<int>(rounds % 1000);
        hostCalls += 2;
        hostOk += session.SendData("peer-B", "ping", 4, 1000) == 0;
        hostOk += session.StartPrintingTask("peer-B", &task, 1000) == 0;

        status.iDeviceStatus = rounds % 2 ? 2 : 1;
        status.iTaskId = static_cast<int>(rounds % 7) + 1;
        status.iProgress = static_cast<int>(rounds % 100);
        EXPECT_EQ(0, session.UpgradeReportParam(&status, 0));

        __SCLOUD_UPGRADE_PRINT_STATUS ps{};
        ps.sVer = 1;
        ps.iTaskId = static_cast<int>(rounds % 64) + 1;
        ps.iStatus = 1;
        EXPECT_EQ(0, session.UpgradePrintStatus(&ps, 1000));
        EXPECT_EQ(0, session.SendMsgToGetSourceIdFromMsg("", "", 1, types, 1, "", 1000));

        QCoreApplication::processEvents();  // the heartbeat timer
        if (rounds % 64 == 0) {
            session.SendHeartBeatPacket();
            ++beatCalls;
        }
    }
    transport.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    session.Exit();

    printf("%ld inbound messages in %.1f s (%.0f/s); %ld host rounds; %ld service sends; heartbeats: %ld "
           "timer ticks, %ld direct calls\n",
           total, seconds, total / seconds, rounds, serviceSends.load(), ticks, beatCalls);
    EXPECT_GT(beatCalls, 0);
    EXPECT_EQ(ticks + beatCalls, heartbeatSends.load()) << "every heartbeat reaches the transport";
    EXPECT_EQ(sentPrints, owner.prints.load());
    EXPECT_EQ(sentPrints, repliesToPeer.load()) << "every print command is answered";
    EXPECT_EQ(sentLists, owner.clientLists.load());
    EXPECT_EQ(sentLists * 2, owner.clients.load()) << "the service record is not listed";
    EXPECT_EQ(sentReports + sentBeats, owner.reports.load());
    EXPECT_EQ(hostCalls, hostOk);
    EXPECT_EQ(hostOk, hostSends.load()) << "every host send reaches the transport";
    EXPECT_EQ(std::vector<std::string>(), owner.Failures());
}
