// The reply writer against QJsonDocument: the same document must give the
// same bytes, for every kind of text and number a host or a peer can supply.
#include "wire/Envelope.h"
#include "wire/JsonText.h"
#include "wire/Keys.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <random>
#include <regex>
#include <string>

using orlin::JsonText;

namespace {

std::string QtText(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

std::string Ours(const JsonText& w)
{
    return w.Bytes().toStdString();
}

} // namespace

TEST(JsonText, HostFieldsAreEscapedAsQtEscapesThem)
{
    const std::string rows[] = {
        "",
        "plain ASCII 0-9 ~!@#$%^&*()",
        "quote \" and backslash \\ and slash /",
        "controls \b\f\n\r\t \x01\x1f end",
        std::string("nul inside", 3),
        "DEL \x7f",
        "\xC3\xA9t\xC3\xA9 \xE2\x80\xA8 \xF0\x9F\x96\xA8",  // é, U+2028, a printer emoji
        "invalid \xC3 lead, \x80 continuation, \xFF byte",
        "cut \xE2\x82",
    };
    for (const std::string& text : rows) {
        char field[32] = {};
        memcpy(field, text.data(), std::min(text.size(), sizeof(field)));
        JsonText w;
        w.BeginObject().Text(orlin::key::Msg, field).EndObject();
        QJsonObject o;
        o.insert(QStringLiteral("msg"), QString::fromUtf8(field, static_cast<int>(strnlen(field, sizeof(field)))));
        EXPECT_EQ(QtText(o), Ours(w)) << text;
    }
    // A field without a terminator ends at the field's end.
    char full[4] = {'a', 'b', 'c', 'd'};
    JsonText w;
    w.BeginObject().Text(orlin::key::Msg, full).EndObject();
    EXPECT_EQ(R"({"msg":"abcd"})", Ours(w));
}

TEST(JsonText, NumbersAreWrittenAsQtWritesThem)
{
    const qint64 ints[] = {0, 1, -1, INT_MAX, INT_MIN, 1733443200, 1000000};
    for (qint64 n : ints) {
        JsonText w;
        w.BeginObject().Int(orlin::key::Code, n).EndObject();
        QJsonObject o;
        o.insert(QStringLiteral("code"), n);
        EXPECT_EQ(QtText(o), Ours(w)) << n;
    }
    const double doubles[] = {0.0, -0.0, 1.0, 600.0, 1200.5, static_cast<double>(0.1f), static_cast<double>(0.3f),
                              static_cast<double>(1e-3f), 0.1, 1e16, -1e16, 9007199254740994.0, 123456789012345678.0, 1e19, -1e19,
                              18446744073709549568.0, 18446744073709551616.0, 2e19, -2e19, 1e21, 5e-324, 1e-7,
                              static_cast<double>(FLT_MAX), -static_cast<double>(FLT_MAX), DBL_MAX,
                              std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN()};
    for (double d : doubles) {
        JsonText w;
        w.BeginObject().Number(orlin::key::TotalInk, d).EndObject();
        QJsonObject o;
        o.insert(QStringLiteral("total_ink"), d);
        EXPECT_EQ(QtText(o), Ours(w)) << d;
    }
    // Floats of every magnitude, widened as the host's fields are.
    std::mt19937 rng(6);
    for (int i = 0; i < 20000; ++i) {
        const uint32_t bits = static_cast<uint32_t>(rng());
        float f;
        memcpy(&f, &bits, sizeof(f));
        JsonText w;
        w.BeginObject().Number(orlin::key::TotalInk, static_cast<double>(f)).EndObject();
        QJsonObject o;
        o.insert(QStringLiteral("total_ink"), static_cast<double>(f));
        ASSERT_EQ(QtText(o), Ours(w)) << f;
    }
}

TEST(JsonText, NestingAndSeparators)
{
    JsonText w;
    w.BeginObject().BeginArray(orlin::key::Canvas);
    for (int i = 0; i < 2; ++i)
        w.BeginObject().Int(orlin::key::CanvasH, i).Int(orlin::key::CanvasW, -i).EndObject();
    w.EndArray().BeginArray(orlin::key::PrintScheme).EndArray().BeginObject(orlin::key::SoftInfo).EndObject();
    w.EndObject();
    EXPECT_EQ(R"({"canvas":[{"canvas_h":0,"canvas_w":0},{"canvas_h":1,"canvas_w":-1}],"print_scheme":[],"soft_info":{}})",
              Ours(w));
}

// The reply envelope equals the one built from QJsonObjects, whatever the
// peer put into its header; only the time may differ between the two.
TEST(JsonText, ReplyEnvelopeMatchesTheObjectBuiltOne)
{
    const struct { const char* version; const char* msgId; const char* source; const char* target; } rows[] = {
        {"1", "m-1", "peer-A", "me"},
        {"", "", "", ""},  // an empty msg_id gets a fresh one
        {"1.0", "id \"quoted\" \\", "p\xC3\xA9" "er", "\xE2\x80\xA8"},
        {"x\ny", "\t", "a/b", "\x7f"},
    };
    const std::regex time("\"timestamp\":[0-9]+");
    const std::regex id("\"msg_id\":\"[0-9a-f-]{36}\"");
    for (const auto& r : rows) {
        orlin::SCloudMsgHeader hdr;
        hdr.qsVersion = QString::fromUtf8(r.version);
        hdr.qsMsgId = QString::fromUtf8(r.msgId);
        hdr.qsSourceId = QString::fromUtf8(r.source);
        hdr.qsTargetId = QString::fromUtf8(r.target);
        JsonText data;
        data.BeginObject().Int(orlin::key::Code, 3).Text(orlin::key::Msg, QStringLiteral("ok")).EndObject();
        const std::string ours = orlin::ReplyText(hdr, orlin::func::Upgrade, data).toStdString();

        QJsonObject header;
        orlin::BuildReplyHeader(header, hdr.qsVersion, orlin::MsgReply, hdr.qsTargetId, hdr.qsSourceId, hdr.qsMsgId);
        QJsonObject body;
        body.insert(orlin::key::Func, orlin::func::Upgrade);
        body.insert(orlin::key::Data, QJsonObject{{QStringLiteral("code"), 3}, {QStringLiteral("msg"), QStringLiteral("ok")}});
        const std::string qt = orlin::ToCompactText(header, body).toStdString();

        auto normal = [&](const std::string& s) {
            std::string t = std::regex_replace(s, time, "\"timestamp\":T");
            return *r.msgId ? t : std::regex_replace(t, id, "\"msg_id\":\"ID\"");
        };
        EXPECT_EQ(normal(qt), normal(ours)) << r.msgId;
        EXPECT_TRUE(std::regex_search(ours, time));
        if (!*r.msgId) {
            EXPECT_TRUE(std::regex_search(ours, id)) << ours;
        }
    }
}
