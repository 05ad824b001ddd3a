// Frame, CRC, Base64, envelope and the shared field readers.
#include "Session.h"

#include "wire/Base64.h"
#include "wire/Crc32.h"
#include "wire/Envelope.h"
#include "wire/FieldLength.h"
#include "wire/Frame.h"
#include "wire/JsonRead.h"
#include "wire/JsonScan.h"
#include "wire/Keys.h"
#include "wire/Md5Pair.h"

#include <QDateTime>
#include <QJsonDocument>

#include <cmath>

#include <random>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

using namespace orlin;

TEST(Crc32, CheckValues)
{
    EXPECT_EQ(0xCBF43926u, Crc32("123456789", 9));
    EXPECT_EQ(0x414FA339u, Crc32("The quick brown fox jumps over the lazy dog", 43));
    EXPECT_EQ(0u, Crc32("", 0));
}

// Both lanes against Qt's MD5, fed in pieces that split blocks unevenly and
// leave one lane idle, across the padding's one- and two-block endings.
TEST(Md5Pair, BothLanesMatchPlainMd5)
{
    const struct
    {
        int nA, nB, nPiece;
    } rows[] = {{0, 0, 1}, {55, 56, 7}, {64, 0, 64}, {119, 120, 13}, {4096, 3072, 65}, {70000, 1, 1000}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.nA);
        QByteArray a(r.nA, Qt::Uninitialized), b(r.nB, Qt::Uninitialized);
        for (int i = 0; i < r.nA; ++i)
            a[i] = static_cast<char>(i * 131 + i / 97);
        for (int i = 0; i < r.nB; ++i)
            b[i] = static_cast<char>(i * 17 + 5);
        Md5Pair md5;
        for (int at = 0; at < qMax(r.nA, r.nB); at += r.nPiece)
            md5.Update(a.constData() + qMin(at, r.nA), qBound(0, r.nA - at, r.nPiece), b.constData() + qMin(at, r.nB),
                       qBound(0, r.nB - at, r.nPiece));
        for (int lane = 0; lane < 2; ++lane) {
            unsigned char d[kMd5Len];
            md5.Final(lane, d);
            EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(d), kMd5Len),
                      QCryptographicHash::hash(lane ? b : a, QCryptographicHash::Md5))
                << lane;
        }
    }
}

// Every length around the 16- and 64-byte steps, the byte at every place or
// nowhere, one more just beyond the searched bytes: what memchr answers.
TEST(FindByte, FindsWhatMemchrFinds)
{
    std::string s(200, 'a');
    for (size_t n = 0; n <= 140; ++n)
        for (size_t at = 0; at <= n; ++at) {
            s.assign(200, 'a');
            if (at < n)
                s[at] = '"';
            s[n] = '"';
            ASSERT_EQ(orlin::FindByte(s.data(), n, '"'), static_cast<const char*>(memchr(s.data(), '"', n))) << n << " " << at;
        }
}

TEST(Frame, BuildWritesTheHeaderLittleEndian)
{
    char buf[29];
    ASSERT_EQ(0, BuildFrame(buf, sizeof(buf), "123456789", 0x0102, 0xBEEF));
    const unsigned char expect[20] = {'W', 'L', 'Y', 'N', 0, 0, 0x02, 0x01, 0xEF, 0xBE, 0, 0,
                                      9, 0, 0, 0, 0x26, 0x39, 0xF4, 0xCB};
    EXPECT_EQ(0, memcmp(buf, expect, 20));
    EXPECT_EQ(0, memcmp(buf + 20, "123456789", 9));

    char empty[20];
    memset(empty, 0x55, sizeof(empty));
    ASSERT_EQ(0, BuildFrame(empty, 20, nullptr, 1, 0));
    const FrameHeader h = ReadFrameHeader(empty);
    EXPECT_EQ(0u, h.nPayloadLen);
    EXPECT_EQ(0u, h.nCrc);

    char small[19];
    memset(small, 0x55, sizeof(small));
    EXPECT_EQ(-1, BuildFrame(small, 19, "x", 1, 0));
    EXPECT_EQ(0x55, static_cast<unsigned char>(small[0]));  // untouched
}

TEST_F(SessionTest, CreatPackageUsesTheLowBitsOfTheLoginParam)
{
    ASSERT_EQ(0, session->Init(&owner, "h", 1, 0x7ABCD, 0));
    char buf[21];
    ASSERT_EQ(0, OrlinTestAccess::CreatPackage(*session, buf, 21, "x", 9));
    EXPECT_EQ(9, ReadFrameHeader(buf).wCmdType);
    EXPECT_EQ(0xABCD, ReadFrameHeader(buf).wLoginParam);
    EXPECT_EQ(-1, OrlinTestAccess::CreatPackage(*session, buf, 19, "x", 9));
}

TEST(Base64, EncodeRefusesASmallBuffer)
{
    char out[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(0, Base64Encode(reinterpret_cast<const unsigned char*>("abcd"), 4, out, 7));
    EXPECT_EQ('x', out[0]);
    EXPECT_EQ(0, Base64Encode(reinterpret_cast<const unsigned char*>("a"), -1, out, 4));
}

TEST(Base64, DecodeRejections)
{
    const char* bad[] = {
        "YQ=",      // not a multiple of 4
        "Y",        "YWJjZ",
        "YQ=A",     // padding inside the group
        "=YQA",     "Y===",     "====",
        "YW J",     // space
        "YWJj\n",   "YW-j",     "YW_j",  "YWJ\x80",
        "YQ==YWJj", // padding before the end
        "YWJ=YWJj",
    };
    for (const char* b : bad) {
        unsigned char out[16];
        EXPECT_EQ(0, Base64Decode(b, static_cast<int>(strlen(b)), out)) << b;
    }
    // Long texts are decoded 32 characters at a time: one bad character is
    // found in any block, and near the end where the scalar loop takes over.
    const std::string good(400, 'Q');
    for (int at : {0, 31, 32, 200, 383, 384, 397})
        for (char c : {'=', ' ', '\x80', '-', '\0', '\xff'}) {
            std::string t = good;
            t[static_cast<size_t>(at)] = c;
            unsigned char big[300];
            EXPECT_EQ(0, Base64Decode(t.data(), 400, big)) << at << " " << int(c);
        }
    unsigned char out[4];
    EXPECT_EQ(0, Base64Decode("", 0, out));
    EXPECT_EQ(0, Base64Decode("YWJj", -4, out));
}

TEST(Base64, RoundTripEveryLengthAndByte)
{
    std::mt19937 rng(3);
    std::vector<unsigned char> in(300);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<unsigned char>(i < 256 ? i : rng());
    for (int n = 0; n <= 300; ++n) {
        std::string coded((n + 2) / 3 * 4, '\0');
        ASSERT_EQ(static_cast<int>(coded.size()), Base64Encode(in.data(), n, &coded[0], static_cast<int>(coded.size())));
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(in.data()), n).toBase64().toStdString(), coded);
        std::vector<unsigned char> back(coded.size() / 4 * 3 + 1);
        ASSERT_EQ(n, n ? Base64Decode(coded.data(), static_cast<int>(coded.size()), back.data()) : 0);
        EXPECT_EQ(0, memcmp(back.data(), in.data(), n));
    }
}

TEST(Envelope, RequestTextIsCompactWithSortedKeys)
{
    QJsonObject h;
    BuildRequestHeader(h, 3, 3, QStringLiteral("src"), QStringLiteral("wyln"), QStringLiteral("id-1"));
    QJsonObject body;
    body.insert(key::Func, func::Report);
    const std::string text = ToCompactText(h, body).toStdString();
    const std::string ts = std::to_string(h.value(key::Timestamp).toVariant().toLongLong());
    EXPECT_EQ(R"({"body":{"func":"report"},"header":{"msg_id":"id-1","msg_type":3,"source_id":"src","target_id":"wyln","timestamp":)" +
                  ts + R"(,"version":"3"}})",
              text);
    EXPECT_NEAR(QDateTime::currentSecsSinceEpoch(), h.value(key::Timestamp).toDouble(), 2);
}

TEST(Envelope, ParseHeaderDegradesToDefaults)
{
    using testsupport::Json;
    const struct { const char* header; const char* version; int type; qint64 ts; const char* src; } rows[] = {
        {R"({})", "", 0, 0, ""},
        {R"({"msg_type":"1"})", "", 0, 0, ""},
        {R"({"msg_type":1.0})", "", 1, 0, ""},
        {R"({"msg_type":1.5})", "", 0, 0, ""},
        {R"({"msg_type":3,"version":"2"})", "2", 3, 0, ""},
        {R"({"version":3,"source_id":["x"]})", "", 0, 0, ""},
        {R"({"timestamp":12.9,"source_id":"S"})", "", 0, 12, "S"},
        {R"({"timestamp":-12.9})", "", 0, -12, ""},
        {R"({"timestamp":1e300})", "", 0, 0, ""},
        {R"({"timestamp":"5"})", "", 0, 0, ""},
    };
    for (const auto& r : rows) {
        SCloudMsgHeader h;
        EXPECT_EQ(0, ParseHeader(Json(r.header), h));
        EXPECT_EQ(QString::fromUtf8(r.version), h.qsVersion) << r.header;
        EXPECT_EQ(r.type, h.nMsgType) << r.header;
        EXPECT_EQ(r.ts, h.llTimestamp) << r.header;
        EXPECT_EQ(QString::fromUtf8(r.src), h.qsSourceId) << r.header;
    }
}

TEST(Readers, VersionIntegerAndFloatRules)
{
    const struct { const char* text; int16_t v; } versions[] = {
        {"1", 1}, {"2", 2}, {"1.0", 0}, {"abc", 0}, {"", 0}, {"-2", -2}, {"65537", 1}, {"32768", -32768},
        {"99999999999999999999999", 0},
    };
    for (const auto& r : versions)
        EXPECT_EQ(r.v, VersionToShort(QString::fromUtf8(r.text))) << r.text;

    using testsupport::JsonValue;
    const struct { const char* json; int i; int trunc; float f; } values[] = {
        {"7", 7, 7, 7.0f},         {"2.5", 0, 2, 2.5f},     {"-2.9", 0, -2, -2.9f}, {"\"2\"", 0, 0, 0.0f},
        {"true", 0, 0, 0.0f},      {"null", 0, 0, 0.0f},    {"[1]", 0, 0, 0.0f},    {"{}", 0, 0, 0.0f},
        {"3000000000", 0, 0, 3e9f}, {"-2147483648", -2147483648, -2147483647 - 1, -2147483648.0f},
    };
    for (const auto& r : values) {
        const QJsonValue v = JsonValue(r.json);
        EXPECT_EQ(r.i, ToInt(v)) << r.json;
        EXPECT_EQ(r.trunc, ToIntTruncated(v)) << r.json;
        EXPECT_FLOAT_EQ(r.f, ToFloat(v)) << r.json;
    }
    EXPECT_TRUE(std::isinf(ToFloat(JsonValue("1e300"))));
}

TEST(Readers, TerminatedTextKeepsWholeCharactersFullWidthTextIsCutByteForByte)
{
    // "é" is two bytes, "€" three.
    const struct { const char* text; size_t field; bool full; const char* expect; bool fits; } rows[] = {
        {"abc", 4, false, "abc", true},
        {"abcd", 4, false, "abc", false},
        {"abcd", 4, true, "abcd", true},
        {"ab\xC3\xA9", 4, false, "ab", false},
        {"ab\xC3\xA9", 4, true, "ab\xC3\xA9", true},
        {"a\xE2\x82\xAC" "b", 4, false, "a", false},
        {"a\xE2\x82\xAC" "b", 4, true, "a\xE2\x82\xAC", false},
        {"abc\xC3\xA9", 4, true, "abc\xC3", false},
        {"ab\xE2\x82\xAC", 4, true, "ab\xE2\x82", false},
        {"", 4, false, "", true},
    };
    for (const auto& r : rows) {
        char field[8];
        memset(field, 'x', sizeof(field));
        const QByteArray in(r.text);
        const bool fits = r.full ? CopyTextFull(in, field, r.field) : CopyText(in, field, r.field);
        EXPECT_EQ(r.fits, fits) << r.text;
        EXPECT_EQ(std::string(r.expect), std::string(field, strnlen(field, r.field))) << r.text;
        for (size_t k = strlen(r.expect); k < r.field; ++k)
            EXPECT_EQ(0, field[k]);
        EXPECT_EQ('x', field[r.field]);  // never past the field
    }
}

TEST(JsonScan, RepeatedKeysAreFoundAsTheParserComparesThem)
{
    const struct { const char* text; bool repeated; } rows[] = {
        {R"({"a":1,"b":2})", false},
        {R"({"a":1,"a":2})", true},
        {R"({"a":{"b":1},"c":{"b":1}})", false},              // same key in different objects
        {R"({"a":{"b":1,"b":1}})", true},                     // nested
        {R"([{"a":1},{"a":1}])", false},
        {R"({"a":"x","x":1})", false},                        // a value equal to a key
        {R"({"a":"\"a\":","b":1})", false},                   // quotes inside a value
        {R"({"a\\":1,"a":2})", false},                        // an escaped backslash ends the key
        {R"({"a":1,"\u0061":2})", true},                      // the same key, escaped
        {R"({"\u00e9":1,"é":2})", true},
        {R"({"k0":0,"k1":1,"k2":2,"k3":3,"k4":4,"k5":5,"k6":6,"k7":7,"k8":8,"k9":9,"k10":10,"k11":11,"k12":12,"k13":13,"k14":14,"k15":15,"k16":16,"k17":17,"k5":0})",
         true},                                               // beyond the linear search
        {R"({"a":1,"a)", false},                              // cut text: the parser refuses it
        {"", false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(r.repeated, orlin::HasRepeatedKey(r.text, strlen(r.text))) << r.text;
}

// Qt's own parse of a text that repeats a key leaks the earlier values: the
// reference parse runs with the leak check off.
QJsonDocument QtParse(const char* text)
{
#if defined(__SANITIZE_ADDRESS__)
    __lsan::ScopedDisabler off;
#endif
    return QJsonDocument::fromJson(QByteArray(text));
}

TEST(JsonScan, TextsWithRepeatedKeysParseAsQtParsesThem)
{
    const char* rows[] = {
        R"({"a":1,"a":2})",
        R"({"a":1,"a":2,"a":3})",
        R"( { "a" : {"b":1} , "a" : [2] } )",
        R"({"a":{"x":1,"x":2},"b":0,"a":{"c":1,"c":{"d":2,"d":[3]}}})",  // inside dropped and kept values
        R"({"header":{"msg_type":1},"body":{},"header":{"msg_type":0,"msg_type":3}})",
        R"([{"k":1,"k":2},{"k":[],"k":{}},{"k":"\"k\":"}])",
        R"({"a":1,"\u0061":2})",
        R"({"\u00e9":[1],"é":{}})",
        R"({"\ud800":1,"\udc00":2,"\ud800":3})",  // unpaired surrogates stay apart
        R"({"k0":0,"k1":1,"k2":2,"k3":3,"k4":4,"k5":5,"k6":6,"k7":7,"k8":8,"k9":9,"k10":10,"k11":11,"k12":12,"k13":13,"k14":14,"k15":15,"k16":16,"k17":17,"k5":{},"k17":[]})",
        R"({"a":1,"b":{"a":1},"a":{}})",
        // more than 16 members: Qt's sort, not the last member, decides
        R"({"k0":0,"k1":1,"k2":2,"k3":3,"k4":4,"k5":5,"k6":6,"k7":7,"k8":8,"k9":9,"k10":10,"k11":11,"k12":12,"k13":13,"k14":14,"k15":15,"k16":[{"a":1,"a":2}],"k0":{},"k16":[]})",
        R"({"x":{"a":[],"b":0,"c":0,"d":0,"e":0,"f":0,"g":0,"h":0,"i":0,"j":0,"k":0,"l":0,"m":0,"n":0,"o":0,"p":0,"q":0,"a":{},"b":[1],"a":[2]},"x":1,"x":{"y":1,"y":[]}})",
        // not well-formed, also once the earlier member is gone: null
        R"({"a":tru,"a":1})",
        R"({"a\x":1,"a\x":2})",
        R"({"a":[1,"a":2})",
        R"({"a":1,"a":2,})",
        R"({"a":1,"a":2}x)",
        R"({"a":1,"a":2)",
    };
    for (const char* text : rows) {
        const QJsonDocument qt = QtParse(text);
        const QJsonDocument ours = ParseJson(text, strlen(text));
        EXPECT_EQ(qt.isNull(), ours.isNull()) << text;
        EXPECT_EQ(qt.toJson(QJsonDocument::Compact).toStdString(), ours.toJson(QJsonDocument::Compact).toStdString())
            << text;
    }
}

TEST_F(SessionTest, MessagesWithRepeatedKeysTakeTheLastValueAtEveryDepth)
{
    InitSession();
    std::vector<int> seen;
    owner.onClean = [&](__SCLOUD_CLEAN* p) { seen.push_back(p->iType); };
    Deliver(R"({"header":{"msg_type":1},"body":{"func":"clean","data":{"type":1,"type":2}},"header":{"msg_type":0}})");
    EXPECT_EQ(std::vector<int>{2}, seen);
    EXPECT_EQ(std::vector<std::string>{}, owner.Logs());
}
