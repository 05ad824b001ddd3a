// Malformed input of every message family, shape by shape: missing data,
// wrong JSON types, arrays, over-long texts, invalid UTF-8, 64 MiB of junk,
// deeply nested JSON. None may crash or hang; each ends in a defined result:
// text that is not JSON in exactly the two "not JSON" log lines, anything
// else in a reply, a host callback or a log line, and a reply never carries
// an unbounded text back. The Wi-Fi password never reaches a log line. A
// hang shows as the test's time-out: wall-clock limits inside the test would
// fail sanitizer builds on a busy machine, not the code.
#include "Session.h"

#include <QFile>
#include <QRegularExpression>

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

// Keys that hold an object, and keys that hold a list of objects.
const char* const kObjects[] = {"print_info", "upgrade_info", "file_info", "mb_info"};
const char* const kLists[] = {"error_info", "print_list", "history_list", "task_info", "print_mode", "soft_info",
                              "hb_info", "db_info", "eb_info", "print_scheme", "canvas", "data"};

// Every key of the protocol, read from the key constants themselves, so that
// a key added there is fed to every family here as well.
const QStringList& AllKeys()
{
    static const QStringList keys = [] {
        QFile f(QStringLiteral(ORLIN_SOURCE_DIR "/wire/Keys.h"));
        f.open(QIODevice::ReadOnly);
        const QString text = QString::fromUtf8(f.readAll());
        const int from = text.indexOf(QLatin1String("namespace key {"));
        const int to = text.indexOf(QLatin1String("} // namespace key"));
        QStringList out;
        const QRegularExpression re(QStringLiteral(R"re(QLatin1String \w+ = Latin1\("([^"]+)"\))re"));
        for (auto it = re.globalMatch(text.mid(from, to - from)); it.hasNext();)
            out << it.next().captured(1);
        return out;
    }();
    return keys;
}

// {every key: v}, with every nested key holding {every key: v} or
// [{every key: v}].
QJsonObject EveryKey(const QJsonValue& v)
{
    QJsonObject leaf;
    for (const QString& k : AllKeys())
        leaf.insert(k, v);
    QJsonObject o = leaf;
    for (const char* k : kObjects)
        o.insert(QLatin1String(k), leaf);
    for (const char* k : kLists)
        o.insert(QLatin1String(k), QJsonArray{leaf});
    return o;
}

std::string Msg(const Family& f, const QJsonValue& data)
{
    return Command(f.nMsgType, f.func ? f.func : "", data);
}

std::string FamilyName(const Family& f)
{
    return std::to_string(f.nMsgType) + "/" + (f.func ? f.func : "heartbeat");
}

// A malformed shape of one family's message.
struct Shape
{
    const char* name;
    std::function<std::string(const Family&)> build;
    bool json;  // false: the text is not JSON
};

Shape DataShape(const char* name, const QJsonValue& data)
{
    return {name, [data](const Family& f) { return Msg(f, data); }, true};
}

// Text that is not JSON: bytes in place of a text's content, or of data.
Shape RawShape(const char* name, bool inText, const std::string& bytes)
{
    return {name,
            [=](const Family& f) {
                std::string m = Msg(f, inText ? QJsonValue(QJsonObject{{"name", "@@"}}) : QJsonValue("@@"));
                const std::string token = inText ? "@@" : "\"@@\"";
                return m.replace(m.find(token), token.size(), bytes);
            },
            false};
}

QJsonObject Body(const QJsonValue& func)
{
    return QJsonObject{{"func", func}, {"data", EveryKey(1)}};
}

std::vector<Shape> Shapes()
{
    const QString longText(700, QLatin1Char('x'));  // longer than every text field (262 at most)
    const QString longWide(400, QChar(0x00e9));      // two bytes each in UTF-8
    const QString longHeader(70000, QLatin1Char('h'));
    QJsonArray deep;  // below the parser's limit
    for (int i = 0; i < 500; ++i)
        deep = QJsonArray{deep};
    std::string objects;
    for (int i = 0; i < 100000; ++i)
        objects += "{\"a\":";
    objects += "1" + std::string(100000, '}');
    return {
        DataShape("missing data", QJsonValue(QJsonValue::Undefined)),
        DataShape("data null", QJsonValue()),
        DataShape("data string", "data"),
        DataShape("data number", -1e300),
        DataShape("data array of scalars", QJsonArray{1, "x", QJsonValue()}),
        DataShape("data array of objects", QJsonArray{EveryKey(1), EveryKey("1")}),
        DataShape("every key a string", EveryKey("not a number")),
        DataShape("every key an object", EveryKey(QJsonObject{{"a", 1}})),
        DataShape("every key an array", EveryKey(QJsonArray{1, 2})),
        DataShape("every key null", EveryKey(QJsonValue())),
        DataShape("every key huge", EveryKey(1e300)),
        DataShape("every key below INT_MIN", EveryKey(-2147483649.0)),
        DataShape("every text 700 bytes", EveryKey(longText)),
        DataShape("every text 400 two-byte characters", EveryKey(longWide)),
        DataShape("nested 500 deep", EveryKey(deep)),
        {"func not a string",
         [](const Family& f) { return Message(Header(f.nMsgType), Body(QJsonArray{f.func ? f.func : ""})); }, true},
        {"header texts 70000 bytes",
         [longHeader](const Family& f) {
             return Message(Header(f.nMsgType, longHeader, longHeader, longHeader, longHeader), Body(f.func ? f.func : ""));
         },
         true},
        {"header of wrong types",
         [](const Family& f) {
             QJsonObject h{{"version", 1}, {"msg_type", QString::number(f.nMsgType)}, {"msg_id", QJsonArray()},
                           {"source_id", QJsonObject()}, {"target_id", 5}, {"timestamp", "now"}};
             return Message(h, Body(f.func ? f.func : ""));
         },
         true},
        {"in an array with non-objects",
         [](const Family& f) {
             const std::string m = Msg(f, EveryKey(2));
             return "[1,\"x\",null,[]," + m + "," + m + ",{}]";
         },
         true},
        RawShape("invalid UTF-8 in a text", true, "\xff\xfe\xc3("),
        RawShape("UTF-8 cut inside a character", true, "\xe2\x82"),
        RawShape("overlong UTF-8 encoding", true, "\xc0\xaf"),
        RawShape("arrays nested 100000 deep", false, std::string(100000, '[') + std::string(100000, ']')),
        RawShape("objects nested 100000 deep", false, objects),
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

TEST_F(BadInputTest, EveryShapeOfEveryFamilyEndsDefined)
{
    ASSERT_GT(AllKeys().size(), 100);
    ASSERT_TRUE(AllKeys().contains(QStringLiteral("print_Remain_time")));
    for (const Shape& shape : Shapes()) {
        for (const Family& f : kFamilies) {
            const std::string what = FamilyName(f) + ": " + shape.name;
            Reset();
            Deliver(shape.build(f));
            const std::vector<std::string> replies = Replies();
            if (!shape.json) {
                EXPECT_EQ(kNotJson, owner.Logs()) << what;
                EXPECT_EQ(std::vector<std::string>(), owner.Events()) << what;
                EXPECT_TRUE(replies.empty()) << what;
                continue;
            }
            // A message that names no route is dropped unseen: a "func" that
            // is not a text (heartbeats need none), or a "msg_type" of the
            // wrong type, which reads as 0, a request: every reply's func is
            // also a request's, a report's and a heartbeat's are not.
            const bool unrouted = (std::strcmp(shape.name, "func not a string") == 0 && f.nMsgType != 3) ||
                                  (std::strcmp(shape.name, "header of wrong types") == 0 && f.nMsgType >= 2);
            const bool silent = replies.empty() && owner.Events().empty() && owner.Logs().empty();
            EXPECT_EQ(unrouted, silent) << what;
            for (const std::string& r : replies) {
                // The header echoes the request; the body must not echo an
                // unbounded text.
                const QJsonObject m = Parse(r);
                EXPECT_EQ(1, m.value("header").toObject().value("msg_type").toInt(-1)) << what << ": " << r.substr(0, 200);
                EXPECT_LT(Text(m.value("body").toObject()).size(), 16384u) << what << ": " << r.substr(0, 200);
            }
            // Nor a log line, beyond a logged reply's echoed header.
            const size_t bound = std::strcmp(shape.name, "header texts 70000 bytes") == 0 ? 4 * 70000 + 16384 : 16384;
            for (const std::string& l : owner.Logs())
                EXPECT_LT(l.size(), bound) << what << ": " << l.substr(0, 100);
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
            Deliver(buf);
            const std::string what = FamilyName(f) + (inString ? ": junk inside a text" : ": junk as a value");
            EXPECT_EQ(kNotJson, owner.Logs()) << what;
            EXPECT_TRUE(Replies().empty()) << what;
        }
    }
}

// The Wi-Fi password is the user's secret: no log line of any kind carries
// it, whatever the command looks like and whatever the host or the send gives.
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
        int hostCode, sendResult;
    } rows[] = {
        {"accepted", valid, 0, 0},
        {"host fails", valid, 7, 0},
        {"send fails", valid, 0, 1302},
        {"password over-long", Command(0, "config_wifi_info", QJsonObject{{"password", kSecret.repeated(50)}}), 0, 0},
        {"password in every field",
         Command(0, "config_wifi_info", QJsonObject{{"name", kSecret}, {"password", kSecret}, {"ip_in_wifi", kSecret}}), 0, 0},
        {"password of a wrong type", Command(0, "config_wifi_info", QJsonObject{{"password", QJsonArray{kSecret}}}), 0, 0},
        {"in an array", "[" + valid + "," + valid + "]", 0, 1302},
        {"data an array", Command(0, "config_wifi_info", QJsonArray{good}), 0, 0},
        {"as a reply", Command(1, "config_wifi_info", good), 0, 0},
        {"under another func", Command(0, "set_task_param", good), 0, 0},
        {"as a report", Command(2, "report", good), 0, 0},
        {"as a heartbeat message", Message(Header(3), QJsonObject{{"password", kSecret}}), 0, 0},
        {"not JSON", valid.substr(0, valid.size() - 1), 0, 0},
        {"framed", framed + secret, 0, 0},
    };
    for (const auto& r : rows) {
        Reset();
        std::string seen;
        owner.onConfigWifiInfo = [&](__SCLOUD_CONFIG_WIFI_INFO* p, __SCLOUD_CMD_RESULT* res) {
            seen.assign(p->szPassword, strnlen(p->szPassword, sizeof(p->szPassword)));
            res->iCode = r.hostCode;
            strcpy(res->szMsg, "done");
        };
        fakewyln::Script("SendTo", {r.sendResult, r.sendResult});
        Deliver(r.text);
        for (const std::string& l : owner.Logs())
            EXPECT_EQ(std::string::npos, l.find(secret.substr(0, 8))) << r.name << ": " << l;
        if (r.sendResult == 0 && r.hostCode == 0 && r.text == valid) {
            EXPECT_EQ(secret, seen) << "the host does get the password";
        }
    }
    // The host sending its own Wi-Fi settings through the library.
    Reset();
    EXPECT_EQ(0, session->SendData("peer-A", valid.data(), static_cast<int>(valid.size()), 1000));
    for (const std::string& l : owner.Logs())
        EXPECT_EQ(std::string::npos, l.find(secret.substr(0, 8))) << "SendData: " << l;
}
