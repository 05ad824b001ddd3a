// Malformed input of every message family, shape by shape: missing data,
// wrong JSON types, arrays, over-long texts, invalid UTF-8, 64 MiB of junk,
// deeply nested JSON. None may crash or hang; each ends in a defined result:
// text that is not JSON in exactly the two "not JSON" log lines, anything
// else in a reply, a host callback or a log line, and a reply never carries
// an unbounded text back. The Wi-Fi password never reaches a log line.
#include "Session.h"

#include <chrono>
#include <cstring>

using namespace testsupport;

namespace {

const std::string kFail = "Recv json data handle fail,errcode=";
const std::vector<std::string> kNotJson = {"JsonDoc is null", kFail + "33"};

struct Family
{
    int nMsgType;
    const char* func;  // null: a heartbeat, which has none
};

// Every routed family, requests and replies, reports and heartbeats.
const Family kFamilies[] = {
    {0, "getClient"}, {0, "print"}, {0, "motor_run"}, {0, "sig"}, {0, "load_param"}, {0, "clean"},
    {0, "load_ink"}, {0, "run_machine"}, {0, "statistics"}, {0, "file_transfer"}, {0, "load_device_info"},
    {0, "upgrade"}, {0, "check_before_print"}, {0, "config_wifi_info"}, {0, "add_print_task"},
    {0, "get_task_list_info"}, {0, "client_show_type"}, {0, "set_task_param"},
    {1, "getClient"}, {1, "add_print_task"}, {1, "get_task_list_info"}, {1, "client_show_type"},
    {1, "set_task_param"}, {2, "report"}, {3, nullptr},
};

// Every key a family reads, whatever the family.
const char* const kKeys[] = {
    "code", "msg", "ret_type", "message", "device_status", "device_doing", "connect_status", "auto_flash_status",
    "head_temp_status", "task_id", "progress", "capacity", "printed_area", "print_status", "print_done_copys",
    "total_print_copys", "print_span_time", "print_Remain_time", "process", "type", "file_path",
    "print_scheme_id", "print_count", "bidirect_offset", "step_offset", "workstation_w", "workstation_h",
    "task_count", "task_index", "cur_mode", "task_status", "print_copys", "print_h", "print_w", "task_h",
    "task_w", "thumb_path", "task_name", "name", "index", "print_mode_index", "id", "status", "file_name",
    "file_size", "chunk_size", "md5", "total_chunks", "chunk_index", "file_type", "img_width", "img_height",
    "img_linesize", "img_bitcount", "img_channel_count", "img_xresolution", "img_yresolution", "ip",
    "create_time", "update_time", "motor", "dir", "run_len", "speed", "acc_len", "run_type", "iRunType",
    "head_num", "sig_type", "param_type", "print_scheme_name", "canvas_w", "canvas_h", "info_type",
    "mb_sn_id", "mb_serial", "mb_logic_ver", "mb_program_ver", "configure_ver", "paramter_ver", "soft_ver",
    "dev_manager_ver", "data_process_ver", "card_type", "logic_type", "hardware_type", "logic_ver", "mcn_ver",
    "password", "ip_in_wifi", "year", "month", "day", "total_ink", "total_area", "total_len", "print_area",
    "print_len", "k", "c", "m", "y",
};
// Keys that hold an object or a list of objects.
const char* const kNested[] = {
    "print_info", "upgrade_info", "error_info", "print_list", "history_list", "task_info", "print_mode",
    "file_info", "mb_info", "soft_info", "hb_info", "db_info", "eb_info", "print_scheme", "canvas", "data",
};

// {every key: v}, with every nested key holding {every key: v} (objects)
// or [{every key: v}] (lists).
QJsonObject EveryKey(const QJsonValue& v)
{
    QJsonObject leaf;
    for (const char* k : kKeys)
        leaf.insert(QLatin1String(k), v);
    QJsonObject o = leaf;
    for (const char* k : kNested)
        o.insert(QLatin1String(k), std::strcmp(k, "print_info") == 0 || std::strcmp(k, "upgrade_info") == 0 ||
                                           std::strcmp(k, "file_info") == 0 || std::strcmp(k, "mb_info") == 0
                                       ? QJsonValue(leaf)
                                       : QJsonValue(QJsonArray{leaf}));
    return o;
}

bool IsRequestFunc(const char* func)
{
    for (const Family& f : kFamilies)
        if (f.nMsgType == 0 && func && std::strcmp(f.func, func) == 0)
            return true;
    return false;
}

std::string Msg(const Family& f, const QJsonValue& data)
{
    return Command(f.nMsgType, f.func ? f.func : "", data);
}

std::string FamilyName(const Family& f)
{
    return std::to_string(f.nMsgType) + "/" + (f.func ? f.func : "heartbeat");
}

// A shape of structurally valid JSON.
struct Shape
{
    const char* name;
    std::function<std::string(const Family&)> build;
};

std::vector<Shape> JsonShapes()
{
    // Longer than every text field (the longest holds 262 bytes).
    const QString longText(700, QLatin1Char('x'));
    const QString longWide(400, QChar(0x00e9));  // two bytes each in UTF-8
    const QString longHeader(70000, QLatin1Char('h'));
    QJsonArray deep;  // 500 levels: below the parser's limit
    for (int i = 0; i < 500; ++i)
        deep = QJsonArray{deep};
    return {
        {"missing data", [](const Family& f) { return Msg(f, QJsonValue(QJsonValue::Undefined)); }},
        {"data null", [](const Family& f) { return Msg(f, QJsonValue()); }},
        {"data string", [](const Family& f) { return Msg(f, "data"); }},
        {"data number", [](const Family& f) { return Msg(f, -1e300); }},
        {"data bool", [](const Family& f) { return Msg(f, true); }},
        {"data array of scalars", [](const Family& f) { return Msg(f, QJsonArray{1, "x", QJsonValue()}); }},
        {"data array of objects", [](const Family& f) { return Msg(f, QJsonArray{EveryKey(1), EveryKey("1")}); }},
        {"every key a string", [](const Family& f) { return Msg(f, EveryKey("not a number")); }},
        {"every key an object", [](const Family& f) { return Msg(f, EveryKey(QJsonObject{{"a", 1}})); }},
        {"every key an array", [](const Family& f) { return Msg(f, EveryKey(QJsonArray{1, 2})); }},
        {"every key null", [](const Family& f) { return Msg(f, EveryKey(QJsonValue())); }},
        {"every key huge", [](const Family& f) { return Msg(f, EveryKey(1e300)); }},
        {"every key negative", [](const Family& f) { return Msg(f, EveryKey(-2147483649.0)); }},
        {"every key fractional", [](const Family& f) { return Msg(f, EveryKey(0.5)); }},
        {"every text 700 bytes", [longText](const Family& f) { return Msg(f, EveryKey(longText)); }},
        {"every text 400 two-byte characters", [longWide](const Family& f) { return Msg(f, EveryKey(longWide)); }},
        {"func not a string",
         [](const Family& f) {
             QJsonObject body{{"func", QJsonArray{f.func ? f.func : ""}}, {"data", EveryKey(1)}};
             return Message(Header(f.nMsgType), body);
         }},
        {"header texts 70000 bytes",
         [longHeader](const Family& f) {
             return Message(Header(f.nMsgType, longHeader, longHeader, longHeader, longHeader),
                            QJsonObject{{"func", f.func ? f.func : ""}, {"data", EveryKey(1)}});
         }},
        {"header of wrong types",
         [](const Family& f) {
             QJsonObject h{{"version", 1}, {"msg_type", QString::number(f.nMsgType)}, {"msg_id", QJsonArray()},
                           {"source_id", QJsonObject()}, {"target_id", 5}, {"timestamp", "now"}};
             return Message(h, QJsonObject{{"func", f.func ? f.func : ""}, {"data", EveryKey(1)}});
         }},
        {"in an array with non-objects",
         [](const Family& f) {
             const std::string m = Msg(f, EveryKey(2));
             return "[1,\"x\",null,[]," + m + "," + m + ",{}]";
         }},
        {"nested 500 deep", [deep](const Family& f) { return Msg(f, EveryKey(deep)); }},
    };
}

// Shapes that are not JSON, whatever the family.
struct RawShape
{
    const char* name;
    std::function<std::string(const Family&)> build;
};

std::vector<RawShape> RawShapes()
{
    return {
        {"invalid UTF-8 in a text",
         [](const Family& f) {
             std::string m = Msg(f, QJsonObject{{"name", "@@@@"}, {"file_path", "@@@@"}, {"file_name", "@@@@"}});
             for (size_t p = m.find("@@@@"); p != std::string::npos; p = m.find("@@@@"))
                 m.replace(p, 4, "\xff\xfe\xc3(");
             return m;
         }},
        {"UTF-8 cut inside a character",
         [](const Family& f) {
             std::string m = Msg(f, QJsonObject{{"name", "@@"}});
             m.replace(m.find("@@"), 2, "\xe2\x82");
             return m;
         }},
        {"overlong UTF-8 encoding",
         [](const Family& f) {
             std::string m = Msg(f, QJsonObject{{"name", "@@"}});
             m.replace(m.find("@@"), 2, "\xc0\xaf");
             return m;
         }},
        {"nested 100000 deep",
         [](const Family& f) {
             std::string m = Msg(f, "@@");
             m.replace(m.find("\"@@\""), 4, std::string(100000, '[') + std::string(100000, ']'));
             return m;
         }},
        {"objects nested 100000 deep",
         [](const Family& f) {
             std::string open, close;
             for (int i = 0; i < 100000; ++i) {
                 open += "{\"a\":";
                 close += "}";
             }
             std::string m = Msg(f, "@@");
             m.replace(m.find("\"@@\""), 4, open + "1" + close);
             return m;
         }},
        {"cut short", [](const Family& f) { const std::string m = Msg(f, EveryKey(1)); return m.substr(0, m.size() / 2); }},
        {"trailing junk", [](const Family& f) { return Msg(f, EveryKey(1)) + "}junk"; }},
    };
}

} // namespace

class BadInputTest : public SessionTest
{
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        InitSession();
    }

    void Reset()
    {
        owner.Clear();
        std::lock_guard<std::recursive_mutex> lock(fakewyln::GetState().mu);
        fakewyln::GetState().calls.clear();
    }
};

TEST_F(BadInputTest, EveryJsonShapeOfEveryFamilyEndsDefined)
{
    for (const Shape& shape : JsonShapes()) {
        for (const Family& f : kFamilies) {
            const std::string what = FamilyName(f) + ": " + shape.name;
            Reset();
            const auto t0 = std::chrono::steady_clock::now();
            Deliver(shape.build(f));
            const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            EXPECT_LT(s, 5.0) << what;

            const std::vector<std::string> replies = Replies();
            const bool silent = replies.empty() && owner.Events().empty() && owner.Logs().empty();
            // A message that names no route is dropped unseen: a "func" that
            // is not a text (heartbeats need none), or a "msg_type" of the
            // wrong type, which reads as 0, a request, for a report or a
            // heartbeat.
            const bool unrouted =
                (std::strcmp(shape.name, "func not a string") == 0 && f.nMsgType != 3) ||
                (std::strcmp(shape.name, "header of wrong types") == 0 && !IsRequestFunc(f.func));
            if (unrouted)
                EXPECT_TRUE(silent) << what;
            else
                EXPECT_FALSE(silent) << what << ": nothing at all happened";
            for (const std::string& r : replies) {
                // The header echoes the request's identifiers; the body must
                // not echo an unbounded text.
                const QJsonObject m = Parse(r);
                EXPECT_EQ(1, m.value("header").toObject().value("msg_type").toInt(-1)) << what << ": " << r.substr(0, 200);
                EXPECT_LT(Text(m.value("body").toObject()).size(), 16384u) << what << ": " << r.substr(0, 200);
            }
            // No log line carries an unbounded text beyond a logged reply's
            // echoed header.
            const size_t bound = std::strcmp(shape.name, "header texts 70000 bytes") == 0 ? 4 * 70000 + 16384 : 16384;
            for (const std::string& l : owner.Logs())
                EXPECT_LT(l.size(), bound) << what << ": " << l.substr(0, 100);
        }
    }
}

TEST_F(BadInputTest, TextThatIsNotJsonGivesTheTwoNotJsonLines)
{
    for (const RawShape& shape : RawShapes()) {
        for (const Family& f : kFamilies) {
            const std::string what = FamilyName(f) + ": " + shape.name;
            Reset();
            Deliver(shape.build(f));
            EXPECT_EQ(kNotJson, owner.Logs()) << what;
            EXPECT_EQ(std::vector<std::string>(), owner.Events()) << what;
            EXPECT_TRUE(Replies().empty()) << what;
        }
    }
}

// 64 MiB of junk after the start of a message of each family: one buffer,
// the message's start rewritten in front of the junk for each family. JSON
// allows white space before a value, so shorter starts are padded with it.
TEST_F(BadInputTest, SixtyFourMebibytesOfJunkAfterEveryFamily)
{
    const size_t kHead = 512;
    std::string buf(kHead + (64u << 20), 'A');
    for (size_t i = kHead; i < buf.size(); i += 4099)
        buf[i] = static_cast<char>(0x80 | (i & 0x3f));  // stray UTF-8 continuation bytes
    for (const Family& f : kFamilies) {
        for (const bool inString : {true, false}) {
            // The message up to the opening of a text inside data, or up to
            // a value position.
            std::string start = Msg(f, "@@");
            start = start.substr(0, start.find("@@") - (inString ? 0 : 1));
            ASSERT_LT(start.size(), kHead);
            std::fill(buf.begin(), buf.begin() + kHead, ' ');
            std::copy(start.begin(), start.end(), buf.begin() + (kHead - start.size()));
            Reset();
            const auto t0 = std::chrono::steady_clock::now();
            Deliver(buf);
            const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            const std::string what = FamilyName(f) + (inString ? ": junk inside a text" : ": junk as a value");
            EXPECT_EQ(kNotJson, owner.Logs()) << what;
            EXPECT_TRUE(Replies().empty()) << what;
            EXPECT_LT(s, 10.0) << what;
        }
    }
}

// The Wi-Fi password is the user's secret: no log line of any kind carries
// it, whatever the command looks like and whatever the host answers.
TEST_F(BadInputTest, WifiPasswordNeverReachesALogLine)
{
    const QString kSecret = QStringLiteral("Sup3r-S3cret!pw");
    const std::string secret = kSecret.toStdString();
    const QJsonObject good{{"name", "office"}, {"password", kSecret}, {"ip_in_wifi", "192.0.2.7"}};
    const std::string valid = Command(0, "config_wifi_info", good);
    std::string framed(20, '\0');
    framed.replace(0, 4, "WLYN");
    const struct {
        const char* name;
        std::string text;
        int hostCode;
    } rows[] = {
        {"accepted", valid, 0},
        {"host fails", valid, 7},
        {"version 2", Command(0, "config_wifi_info", good, "2"), 0},
        {"password over-long", Command(0, "config_wifi_info", QJsonObject{{"password", kSecret.repeated(50)}}), 0},
        {"password in every field", Command(0, "config_wifi_info", QJsonObject{{"name", kSecret}, {"password", kSecret}, {"ip_in_wifi", kSecret}}), 0},
        {"password of a wrong type", Command(0, "config_wifi_info", QJsonObject{{"password", QJsonArray{kSecret}}}), 0},
        {"in an array", "[" + valid + "," + valid + "]", 0},
        {"as a reply", Command(1, "config_wifi_info", good), 0},
        {"under another func", Command(0, "set_task_param", good), 0},
        {"as a report", Command(2, "report", good), 0},
        {"as a heartbeat message", Message(Header(3), QJsonObject{{"password", kSecret}}), 0},
        {"not JSON", valid.substr(0, valid.size() - 1), 0},
        {"invalid UTF-8", valid + "\xff", 0},
        {"framed", framed + secret, 0},
    };
    for (const auto& r : rows) {
        Reset();
        std::string seen;
        owner.onConfigWifiInfo = [&](__SCLOUD_CONFIG_WIFI_INFO* p, __SCLOUD_CMD_RESULT* res) {
            seen.assign(p->szPassword, strnlen(p->szPassword, sizeof(p->szPassword)));
            res->iCode = r.hostCode;
            strcpy(res->szMsg, "done");
        };
        Deliver(r.text);
        for (const std::string& l : owner.Logs())
            EXPECT_EQ(std::string::npos, l.find(secret.substr(0, 8))) << r.name << ": " << l;
        if (std::strcmp(r.name, "accepted") == 0) {
            EXPECT_EQ(secret, seen) << "the host does get the password";
        }
    }
    // The host sending its own Wi-Fi settings through the library.
    Reset();
    const std::string text = Command(0, "config_wifi_info", good);
    EXPECT_EQ(0, session->SendData("peer-A", text.data(), static_cast<int>(text.size()), 1000));
    for (const std::string& l : owner.Logs())
        EXPECT_EQ(std::string::npos, l.find(secret.substr(0, 8))) << "SendData: " << l;
}

namespace {

long RssKiB()
{
    FILE* f = fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kib = -1;
    while (fgets(line, sizeof(line), f))
        if (strncmp(line, "VmRSS:", 6) == 0)
            kib = atol(line + 6);
    fclose(f);
    return kib;
}

} // namespace

// Found by fuzzing the receive path: Qt 5.15's JSON parser loses the earlier
// value of a key given twice in one object when that value is an object or
// an array (about 144 bytes each), so a peer can make the receiver's memory
// grow at will with messages such as {"a":{},"a":{},...}. Disabled until the
// receive path refuses such text before it reaches the parser; run with
// --gtest_also_run_disabled_tests.
TEST_F(BadInputTest, DuplicateKeysDoNotMakeMemoryGrow)
{
    std::string dup = "{\"header\":{\"msg_type\":0},\"body\":{\"func\":\"clean\",\"data\":{";
    for (int i = 0; i < 20000; ++i)
        dup += "\"x\":{\"y\":[1]},";
    dup += "\"z\":1}}}";
    for (int i = 0; i < 5; ++i)
        Deliver(dup);
    const long before = RssKiB();
    for (int i = 0; i < 50; ++i) {
        Reset();
        Deliver(dup);
    }
    EXPECT_LT(RssKiB() - before, 8192) << "50 messages of 20000 duplicate keys";
}
