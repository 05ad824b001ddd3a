// The receive path: frame checks, the JSON branch, routing by message type
// and "func", and the log lines each produces.
#include "Session.h"

#include "wire/Frame.h"

using testsupport::Command;
using testsupport::Header;
using testsupport::Message;

namespace {

std::string Frame(const std::string& payload, uint16_t cmdType = 1, uint16_t cmdVer = 0)
{
    std::string f(20 + payload.size(), '\0');
    orlin::BuildFrame(&f[0], static_cast<unsigned int>(f.size()), payload.data(), cmdType, 0);
    f[4] = static_cast<char>(cmdVer & 0xFF);
    f[5] = static_cast<char>(cmdVer >> 8);
    return f;
}

const char* const kFail = "Recv json data handle fail,errcode=";

} // namespace

TEST_F(SessionTest, FramedPackets)
{
    InitSession();
    std::string payload;
    const char* payloadSeen = nullptr;
    owner.onRecvPacket = [&](const char* peer, const char* p) {
        EXPECT_STREQ("peer-F", peer);
        // The payload's length sits in the frame, eight bytes before it.
        uint32_t n;
        memcpy(&n, p - 8, 4);
        payload.assign(p, n);
        payloadSeen = p;
        return true;
    };

    std::string crcOff = Frame("123456789");
    crcOff[16] = static_cast<char>(crcOff[16] + 1);
    std::string lenOff = Frame("abc");
    lenOff[12] = 4;

    const struct { const char* name; std::string data; std::vector<std::string> logs; bool delivered; } rows[] = {
        {"good", Frame("123456789"), {"Recv msg,ID=peer-F,Name=,CmdVer=0,CmdType=1"}, true},
        {"empty frame", Frame(""), {"Recv msg,ID=peer-F,Name=,CmdVer=0,CmdType=1"}, true},
        {"crc off by one", crcOff, {"CRC failed"}, false},
        {"length field wrong", lenOff, {"recv packate len failed"}, false},
        {"magic but short", std::string("WLYN\0\0\0\0", 8), {"len"}, false},
        {"other version", Frame("x", 1, 1), {"Recv msg,ID=peer-F,Name=,CmdVer=1,CmdType=1"}, false},
        {"other type", Frame("x", 7, 0), {"Recv msg,ID=peer-F,Name=,CmdVer=0,CmdType=7"}, false},
        // Three bytes of the magic are not a frame: the JSON branch takes them.
        {"three magic bytes", "WLY", {"JsonDoc is null", std::string(kFail) + "33"}, false},
    };
    for (const auto& r : rows) {
        owner.Clear();
        payloadSeen = nullptr;
        fakewyln::Deliver(r.data, "peer-F");
        EXPECT_EQ(r.logs, owner.Logs()) << r.name;
        EXPECT_EQ(r.delivered, payloadSeen != nullptr) << r.name;
    }
    EXPECT_TRUE(fakewyln::Sent().empty());  // frames are never answered

    owner.Clear();
    owner.onRecvPacket = [](const char*, const char*) { return false; };
    fakewyln::Deliver(Frame("x"), "peer-F", "printer");
    EXPECT_EQ((std::vector<std::string>{"Recv msg,ID=peer-F,Name=printer,CmdVer=0,CmdType=1",
                                        "Recv data handle fail,errcode=35"}),
              owner.Logs());
}

TEST_F(SessionTest, EveryPacketIsNotifiedAndItsSenderRecorded)
{
    InitSession();
    const std::string hb = Message(Header(3), QJsonObject());
    Deliver(hb, "peer-Z");
    Sink().OnRecv(nullptr, 5, "peer-N", nullptr);
    const auto notes = fakewyln::Calls("NotifyRecv");
    ASSERT_EQ(2u, notes.size());
    EXPECT_EQ("peer-Z", notes[0].target);
    EXPECT_EQ(hb, notes[0].payload);
    EXPECT_EQ("peer-N", notes[1].target);
    EXPECT_EQ(1, owner.CountLog("pData is NULL"));
    // A null packet leaves the recorded sender alone.
    EXPECT_STREQ("peer-Z", Sink().PeerId());

    // A sender identifier is kept to 259 characters.
    char longId[300];
    memset(longId, 'q', sizeof(longId));
    longId[299] = 0;
    Sink().OnRecv(hb.data(), static_cast<int>(hb.size()), longId, nullptr);
    EXPECT_EQ(259u, strlen(Sink().PeerId()));
}

TEST_F(SessionTest, JsonBranchResultsAndLogLines)
{
    InitSession();
    const std::string hb = Message(Header(3), QJsonObject());
    const std::string unknown = Command(0, "no_such_func");
    const std::string noHeader = R"({"body":{"func":"print"}})";
    const struct { const char* name; std::string text; int len; std::vector<std::string> logs; int reports; } rows[] = {
        {"not json", "{oops", -1, {"JsonDoc is null", std::string(kFail) + "33"}, 0},
        {"empty text", "", -1, {"JsonDoc is null", std::string(kFail) + "33"}, 0},
        {"zero length", hb, 0, {"JsonDoc is null", std::string(kFail) + "33"}, 0},
        {"no header", noHeader, -1, {std::string(kFail) + "28"}, 0},
        {"scalar array element", "[5]", -1, {std::string(kFail) + "28"}, 0},
        {"empty array", "[]", -1, {}, 0},
        {"unknown then headerless", "[" + unknown + "," + noHeader + "]", -1, {std::string(kFail) + "28"}, 0},
        {"failing then good", "[" + noHeader + "," + hb + "]", -1, {}, 1},
        {"two heartbeats", "[" + hb + "," + hb + "]", -1, {}, 2},
        // The text ends at the first zero byte, and at nLen bytes.
        {"zero inside", hb + std::string("\0garbage", 8), -1, {}, 1},
        {"cut by length", hb + "garbage", static_cast<int>(hb.size()), {}, 1},
        {"unknown func", unknown, -1, {}, 0},
        {"near-miss func", Command(0, "Print"), -1, {}, 0},
        {"trailing space func", Command(0, "print "), -1, {}, 0},
        {"request without func", Message(Header(0), QJsonObject()), -1, {}, 0},
        {"reply print is ignored", Command(1, "print", testsupport::Json(R"({"type":1})")), -1, {}, 0},
        {"notification not report", Command(2, "other"), -1, {}, 0},
        {"unknown msg_type", Command(9, "print"), -1, {}, 0},
    };
    for (const auto& r : rows) {
        owner.Clear();
        const int len = r.len < 0 ? static_cast<int>(r.text.size()) : r.len;
        Sink().OnRecv(r.text.data(), len, "peer-A", nullptr);
        EXPECT_EQ(r.logs, owner.Logs()) << r.name;
        int reports = 0;
        for (const std::string& e : owner.Events())
            reports += e == "OnReport";
        EXPECT_EQ(r.reports, reports) << r.name;
        EXPECT_TRUE(fakewyln::Sent().empty()) << r.name;
    }
}
