// The fleet's bookkeeping without a network: what each message does to a
// printer's record, presence and silence, bounded histories, transfers, the
// event hub's catch-up, and the access checks.
#include "FleetServer.h"
#include "FleetState.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace fleet;

namespace {

QJsonObject obj(const char* json)
{
    return QJsonDocument::fromJson(json).object();
}

QJsonObject printerOf(const FleetState& s, const QString& id)
{
    QJsonObject o;
    return s.printerJson(id, 0, o) ? o.value("printer").toObject() : QJsonObject();
}

// The library's error entry: all 260 bytes of the text field in Base64.
QString fieldBase64(const QByteArray& text)
{
    QByteArray field(260, '\0');
    field.replace(0, text.size(), text);
    return QString::fromLatin1(field.toBase64());
}

TEST(FleetState, MessagesUpdateThePrinterRecord)
{
    const QString err = fieldBase64("head <b>hot</b>");
    const struct
    {
        const char* name;
        int msgType;
        QJsonObject body;
        QJsonObject expected;      // a subset of the printer's JSON
    } cases[] = {
        {"heartbeat while printing", 3,
         obj(R"({"device_status":2,"connect_status":1,"print_info":{"task_id":7,"progress":40,"print_done_copys":1,"total_print_copys":3,"printed_area":"0.5 m2"}})"),
         obj(R"({"state":"printing","task_id":7,"progress":40,"done_copies":1,"total_copies":3,"printed_area":"0.5 m2","heartbeats":1,"reports":0})")},
        {"heartbeat with print_info not an object", 3, obj(R"({"device_status":1,"print_info":"x","task_id":9})"),
         obj(R"({"state":"idle","task_id":0,"progress":0})")},
        {"report as the library sends it", 2,
         obj(R"({"func":"report","device_status":2,"connect_status":1,"head_temp_status":3,"data":{"print_info":{"task_id":5,"progress":60,"print_span_time":12,"print_Remain_time":8,"capacity":"82%"},"upgrade_info":{"process":4},"error_info":[]}})"),
         obj(R"({"state":"printing","task_id":5,"progress":60,"span_s":12,"remain_s":8,"capacity":"82%","head_temp_status":3,"upgrade_process":4,"reports":1,"errors":[]})")},
        {"report as a peer sends it", 2,
         obj(R"({"func":"report","data":{"device_doing":4,"connect_status":2,"print_info":{"progress":1.5}}})"),
         obj(R"({"state":"status 4","device_status":4,"connect_status":2,"progress":0})")},
        {"report errors: Base64 field decoded, other text kept", 2,
         QJsonObject{{"func", "report"},
                     {"data", QJsonObject{{"error_info", QJsonArray{QJsonObject{{"code", 12}, {"msg", err}},
                                                                   QJsonObject{{"code", 3}, {"msg", "abc"}}, 5}}}}},
         obj(R"({"errors":[{"code":12,"msg":"head <b>hot</b>"},{"code":3,"msg":"abc"},{"code":0,"msg":""}]})")},
        {"texts kept to their bounds", 2,
         QJsonObject{{"func", "report"},
                     {"data", QJsonObject{{"print_info", QJsonObject{{"capacity", QString(100, 'c')}}},
                                          {"error_info", QJsonArray{QJsonObject{{"msg", QString(100000, 'e')}}}}}}},
         QJsonObject{{"capacity", QString(64, 'c')}, {"errors", QJsonArray{QJsonObject{{"code", 0}, {"msg", QString(260, 'e')}}}}}},
        {"task-status update counts as a sign of life only", 0,
         obj(R"({"func":"updateTaskStatus","data":{"id":1001,"status":2}})"),
         obj(R"({"online":true,"heartbeats":0,"reports":0})")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FleetState s;
        const Events ev = s.onMessage("p1", "wyln", c.msgType, c.body, 1000);
        ASSERT_FALSE(ev.empty());
        const QJsonObject p = printerOf(s, "p1");
        for (auto it = c.expected.begin(); it != c.expected.end(); ++it)
            EXPECT_EQ(p.value(it.key()), it.value()) << it.key().toStdString() << " in "
                                                      << QJsonDocument(p).toJson(QJsonDocument::Compact).toStdString();
    }
}

TEST(FleetState, ErrorsAreReplacedByEachReportAndKeptOtherwise)
{
    FleetState s;
    s.onMessage("p1", "wyln", 2, obj(R"({"func":"report","data":{"error_info":[{"code":1,"msg":"x"}]}})"), 1);
    s.onMessage("p1", "wyln", 3, obj(R"({"device_status":1})"), 2);
    EXPECT_EQ(printerOf(s, "p1").value("errors").toArray().size(), 1);
    s.onMessage("p1", "wyln", 2, obj(R"({"func":"report","data":{"error_info":[]}})"), 3);
    EXPECT_TRUE(printerOf(s, "p1").value("errors").toArray().isEmpty());
}

TEST(FleetState, PresenceAndSilenceDecideOnline)
{
    FleetState::Limits l;
    l.silenceMs = 10000;
    FleetState s(l);
    s.onMessage("heard", "wyln", 3, obj(R"({"device_status":1})"), 1000);
    s.onMessage("watched", "wyln", 3, obj(R"({"device_status":1})"), 1000);
    s.onPresence("watched", true, 1000);
    EXPECT_TRUE(s.tick(11000).empty());
    // Silence turns off only a printer whose presence is not known.
    const Events ev = s.tick(11001);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(printerOf(s, "heard").value("state").toString(), "offline");
    EXPECT_EQ(printerOf(s, "watched").value("state").toString(), "idle");
    EXPECT_EQ(s.onPresence("watched", false, 12000).size(), 1u);
    EXPECT_EQ(printerOf(s, "watched").value("state").toString(), "offline");
    EXPECT_TRUE(s.onPresence("watched", false, 12001).empty());
    // Hearing from it again brings it back.
    s.onMessage("watched", "wyln", 3, obj(R"({"device_status":1})"), 13000);
    EXPECT_TRUE(printerOf(s, "watched").value("online").toBool());
    // Presence alone makes a client, not a printer.
    s.onPresence("console", true, 13000);
    const QJsonObject f = s.fleetJson(13000);
    EXPECT_EQ(f.value("printers").toArray().size(), 2);
    EXPECT_EQ(f.value("clients").toArray(), QJsonArray{obj(R"({"id":"console","online":true})")});
}

TEST(FleetState, HistoriesAreBoundedNewestLast)
{
    FleetState::Limits l;
    l.taskUpdates = 3;
    l.transfers = 2;
    l.printers = 2;
    FleetState s(l);
    for (int i = 1; i <= 5; ++i)
        s.onMessage("p1", "wyln", 0, QJsonObject{{"func", "updateTaskStatus"}, {"data", QJsonObject{{"id", i}, {"status", 1}}}}, i);
    for (int i = 1; i <= 3; ++i)
        s.onMessage("c", "p1", 0, QJsonObject{{"func", "file_transfer"}, {"data", QJsonObject{{"file_name", QString("f%1").arg(i)}, {"total_chunks", 1}}}}, i);
    s.onMessage("p2", "wyln", 3, QJsonObject(), 6);
    EXPECT_TRUE(s.onMessage("p3", "wyln", 3, QJsonObject(), 7).empty());
    const QJsonObject f = s.fleetJson(8);
    const QJsonArray u = f.value("task_updates").toArray();
    ASSERT_EQ(u.size(), 3);
    EXPECT_EQ(u[0].toObject().value("id").toInt(), 3);
    EXPECT_EQ(u[2].toObject().value("id").toInt(), 5);
    const QJsonArray t = f.value("transfers").toArray();
    ASSERT_EQ(t.size(), 2);
    EXPECT_EQ(t[1].toObject().value("file").toString(), "f3");
    EXPECT_EQ(s.printerCount(), 2u);
}

TEST(FleetState, TransfersFollowChunksQueriesAndReplies)
{
    FleetState s;
    qint64 now = 0;
    // A chunk (index >= 0 with data), a query (no data; index -1: the whole
    // file), and a reply that echoes one of them by msg_id.
    auto send = [&](const QString& id, int index, bool data) {
        QJsonObject d{{"file_name", "job.prn"}, {"file_size", 100}, {"total_chunks", 2}, {"chunk_index", index}};
        if (data)
            d["data"] = "AAAA";
        return s.onMessage("console", "p1", 0, QJsonObject{{"func", "file_transfer"}, {"data", d}}, ++now, id);
    };
    auto reply = [&](const QString& id, int code) {
        return s.onMessage("p1", "console", 1,
                           QJsonObject{{"func", "file_transfer"}, {"data", QJsonObject{{"code", code}, {"file_path", "/f/job.prn"}}}},
                           ++now, id);
    };
    auto last = [&] { return s.fleetJson(now).value("transfers").toArray().last().toObject(); };
    send("q0", -1, false);
    reply("q0", 5);  // nothing held yet
    send("c0", 0, true);
    send("c1", 1, true);
    reply("c1", 0);
    reply("c0", 0);
    EXPECT_EQ(last().value("replies_ok").toInt(), 2);
    EXPECT_FALSE(last().value("complete").toBool());
    send("q1", -1, false);
    const Events ev = reply("q1", 0);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].type, "transfer");
    EXPECT_EQ(QJsonDocument::fromJson(ev[0].json).object(),
              obj(R"({"start_ms":1,"last_ms":8,"from":"console","to":"p1","file":"job.prn","size":100,"total_chunks":2,"chunks_seen":2,"queries":2,"replies_ok":2,"complete":true,"last_code":0,"path":"/f/job.prn"})"));
    // The same file again is a new transfer; so is a repeat from a sender
    // that asks nothing; a failing reply shows its code.
    send("c2", 0, true);
    reply("c2", 3);
    send("c3", 1, true);
    reply("c3", 0);
    send("c4", 0, true);
    EXPECT_EQ(s.fleetJson(now).value("transfers").toArray().size(), 3);
    EXPECT_EQ(s.fleetJson(now).value("transfers").toArray()[1].toObject().value("replies_ok").toInt(), 1);
    // Transfers are not printers.
    EXPECT_TRUE(printerOf(s, "console").isEmpty());
}

TEST(EventHub, StreamsCatchUpOrAreToldToReload)
{
    EventHub hub(3);
    for (int i = 1; i <= 5; ++i)
        hub.publish("printer", QByteArray::number(i));
    EventHub::Batch b = hub.next(3, 0);
    EXPECT_FALSE(b.reset);
    EXPECT_EQ(b.count, 2u);
    EXPECT_EQ(b.last, 5u);
    EXPECT_EQ(b.text, "id: 4\nevent: printer\ndata: 4\n\nid: 5\nevent: printer\ndata: 5\n\n");
    b = hub.next(1, 0);  // event 2 has been dropped
    EXPECT_TRUE(b.reset);
    EXPECT_EQ(b.last, 5u);
    b = hub.next(5, 0);
    EXPECT_EQ(b.count, 0u);
    hub.stop();
    EXPECT_TRUE(hub.next(5, 10000).stopped);
}

TEST(FleetServer, LoopbackAndTokenChecks)
{
    for (const char* h : {"127.0.0.1", "127.9.8.7", "::1", "localhost"})
        EXPECT_TRUE(isLoopback(h)) << h;
    for (const char* h : {"0.0.0.0", "10.0.0.1", "::", "128.0.0.1", "example", "127.0.0", "127.0.0.1.5", "127.0.0.256", "127..0.1"})
        EXPECT_FALSE(isLoopback(h)) << h;
    EXPECT_TRUE(tokenMatches("abc", "abc"));
    EXPECT_FALSE(tokenMatches("abd", "abc"));
    EXPECT_FALSE(tokenMatches("ab", "abc"));
    EXPECT_FALSE(tokenMatches("", "abc"));
}

} // namespace
