// Heartbeat: pacing, silence supervision, the outbound text and the inbound
// handler. Time is injected and ticks are called directly: no test waits.
#include "ReplyText.h"
#include "Session.h"

using testsupport::Header;
using testsupport::Json;
using testsupport::Message;

namespace {

QTime g_now;
QTime FakeNow() { return g_now; }

} // namespace

class HeartbeatTest : public SessionTest
{
protected:
    void Start(int nClientMode)
    {
        InitSession(nClientMode);
        __SCLOUD_LINK_CONTEXT& link = OrlinTestAccess::Link(*session);
        g_now = QTime(12, 0, 0);
        link.pfnNow = &FakeNow;
        link.tLastHeartBeat = g_now;
    }
    void SetStatus(int iDeviceStatus, int iTaskId = 0)
    {
        __SCLOUD_UPGRADE_REPORT_PARAM st = OrlinTestAccess::Report(*session);
        st.iDeviceStatus = iDeviceStatus;
        st.iTaskId = iTaskId;
        OrlinTestAccess::SetReport(*session, st);
    }
    // One tick; returns the timer's interval after it.
    int Tick(int secondsLater)
    {
        g_now = g_now.addSecs(secondsLater);
        session->SendHeartBeatPacket();
        return OrlinTestAccess::Timer(*session)->interval();
    }
    QJsonObject LastHeartbeat()
    {
        const auto sends = fakewyln::Calls("Send");
        EXPECT_FALSE(sends.empty());
        return sends.empty() ? QJsonObject() : testsupport::Parse(sends.back().payload);
    }
    int OvertimeLines() const { return owner.CountLog("Recv heartbeat packet overtime!"); }
};

TEST_F(HeartbeatTest, PacingFollowsDeviceStatusAndSilence)
{
    Start(0);
    struct Step { const char* what; int status; int secs; bool peerBeat; int interval; int state; };
    const Step steps[] = {
        {"idle stays normal", 1, 3, false, 3000, 0},
        {"busy goes fast", 2, 3, false, 1000, 1},
        {"still busy stays fast", 2, 1, false, 1000, 1},
        {"idle again", 1, 1, false, 3000, 0},
        {"exactly 10 s is alive", 1, 2, false, 3000, 0},
        {"11 s of silence", 1, 3, false, 10000, -1},
        {"silence continues", 1, 10, false, 10000, -1},
        {"a beat restores normal", 1, 1, true, 3000, 0},
        {"busy after recovery", 2, 3, false, 1000, 1},
        {"silence while fast", 2, 12, false, 10000, -1},
    };
    for (const Step& s : steps) {
        SetStatus(s.status);
        if (s.peerBeat)
            Deliver(Message(Header(3), QJsonObject()));
        EXPECT_EQ(s.interval, Tick(s.secs)) << s.what;
        EXPECT_EQ(s.state, OrlinTestAccess::HeartState(*session)) << s.what;
    }
    // The overtime line repeats at every silent tick.
    EXPECT_EQ(3, OvertimeLines());
    // A beat just before midnight is fresh just after it.
    OrlinTestAccess::Link(*session).tLastHeartBeat = QTime(23, 59, 58);
    g_now = QTime(0, 0, 5);
    session->SendHeartBeatPacket();
    EXPECT_EQ(3, OvertimeLines());
}

TEST_F(HeartbeatTest, ClientModeOneNeverTimesOut)
{
    Start(1);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(3000, Tick(60));
    EXPECT_EQ(0, OvertimeLines());
    EXPECT_EQ(5u, fakewyln::Calls("Send").size());  // sent at every tick
}

TEST_F(HeartbeatTest, OutboundTextByteForByte)
{
    Start(0);
    Tick(1);
    EXPECT_EQ(R"({"body":{"connect_status":0,"device_status":1,"print_info":{}},"header":{"msg_id":"ID","msg_type":3,)"
              R"("source_id":"127.0.0.1:1883","target_id":"wyln","timestamp":T,"version":"3"}})",
              testsupport::MaskFresh(fakewyln::Calls("Send").back().payload));
    EXPECT_EQ(3000, fakewyln::Calls("Send").back().nArg);

    // Printing with a task: the seven print members.
    __SCLOUD_UPGRADE_REPORT_PARAM st = OrlinTestAccess::Report(*session);
    st.iDeviceStatus = 2;
    st.iTaskId = 7;
    st.iProgress = 40;
    strcpy(st.szCapacity, "1.5GB");
    strcpy(st.szPrintedArea, "2.0m2");
    st.iPrintStatus = 3;
    st.iPrintDoneCopys = 1;
    st.iTotalPrintCopys = 4;
    st.iPrintSpanTime = 99;  // not a heartbeat member
    OrlinTestAccess::SetReport(*session, st);
    Tick(1);
    EXPECT_EQ(Json(R"({"connect_status":0,"device_status":2,"print_info":{"capacity":"1.5GB","print_done_copys":1,)"
                   R"("print_status":3,"printed_area":"2.0m2","progress":40,"task_id":7,"total_print_copys":4}})"),
              LastHeartbeat().value(QStringLiteral("body")).toObject());

    // Busy without a task: empty print_info.
    SetStatus(2, 0);
    Tick(1);
    EXPECT_EQ(Json(R"({})"),
              LastHeartbeat().value(QStringLiteral("body")).toObject().value(QStringLiteral("print_info")).toObject());

    fakewyln::Script("Send", {1001});
    Tick(1);
    EXPECT_EQ(1, owner.CountLog("send heartbeat packet faild!"));
}

TEST_F(HeartbeatTest, InboundHeartbeatUpdatesThePeerRecord)
{
    Start(0);
    const struct {
        const char* name;
        const char* body;
        int deviceStatus;
        int taskId;
        const char* capacity;
        std::vector<std::string> logs;
    } rows[] = {
        {"empty keeps defaults", R"({})", 1, 0, "", {}},
        {"status and print info", R"({"device_status":2,"print_info":{"task_id":5,"capacity":"abc"}})", 2, 5, "abc", {}},
        {"absent members keep earlier values", R"({"connect_status":4})", 2, 5, "abc", {}},
        {"print_info as a string changes nothing", R"({"print_info":"x"})", 2, 5, "abc", {}},
        {"task_id outside print_info is ignored", R"({"task_id":9})", 2, 5, "abc", {}},
        {"capacity of another type is ignored", R"({"print_info":{"capacity":12}})", 2, 5, "abc", {}},
        {"fraction reads as 0", R"({"device_status":1.5})", 0, 5, "abc", {}},
        {"capacity cut to 31", R"({"print_info":{"capacity":"0123456789012345678901234567890123456789"}})", 0, 5,
         "0123456789012345678901234567890", {}},
        {"message is logged", R"({"message":"hello \u00e9"})", 0, 5, "0123456789012345678901234567890", {"hello \xC3\xA9"}},
    };
    __SCLOUD_UPGRADE_REPORT_PARAM seen;
    owner.onReport = [&](__SCLOUD_UPGRADE_REPORT_PARAM* p) {
        seen = *p;
        return false;  // ignored for heartbeats
    };
    for (const auto& r : rows) {
        owner.Clear();
        g_now = g_now.addSecs(20);
        Deliver(Message(Header(3), Json(r.body)));
        EXPECT_EQ(r.logs, owner.Logs()) << r.name;
        EXPECT_EQ(std::vector<std::string>{"OnReport"}, owner.Events()) << r.name;
        EXPECT_EQ(r.deviceStatus, seen.iDeviceStatus) << r.name;
        EXPECT_EQ(r.taskId, seen.iTaskId) << r.name;
        EXPECT_STREQ(r.capacity, seen.szCapacity) << r.name;
        EXPECT_EQ(g_now, OrlinTestAccess::Link(*session).tLastHeartBeat) << r.name;
    }
    EXPECT_TRUE(fakewyln::Sent().empty());
}

