// The reply writer against QJsonDocument: the same document must give the
// same bytes, for every kind of text and number a host or a peer can supply.
#include "ReplyText.h"
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
#include <string>

using orlin::JsonText;

namespace {

// Our bytes for {key: value} against QJsonDocument's.
template <typename Write>
void ExpectSame(const QJsonValue& value, Write write)
{
    JsonText w;
    write(w.BeginObject()).EndObject();
    const QJsonObject o{{QStringLiteral("k"), value}};
    const QByteArray qt = QJsonDocument(o).toJson(QJsonDocument::Compact);
    EXPECT_EQ(qt.mid(4).toStdString(), w.Bytes().mid(w.Bytes().indexOf(':')).toStdString());
}

} // namespace

TEST(JsonText, HostFieldsAreEscapedAsQtEscapesThem)
{
    const std::string rows[] = {
        "", "plain ASCII 0-9 ~!@#$%^&*()", "quote \" alone", "backslash \\ and slash /", "controls \b\f\n\r\t \x01\x1f end",
        std::string("nul inside", 3), "DEL \x7f",
        "\xC3\xA9t\xC3\xA9 \xE2\x80\xA8 \xF0\x9F\x96\xA8",  // é, U+2028, a printer emoji
        "invalid \xC3 lead, \x80 continuation, \xFF byte", "cut \xE2\x82",
    };
    for (const std::string& text : rows) {
        char field[32] = {};
        memcpy(field, text.data(), std::min(text.size(), sizeof(field)));
        SCOPED_TRACE(text);
        ExpectSame(QString::fromUtf8(field, static_cast<int>(strnlen(field, sizeof(field)))),
                   [&](JsonText& w) -> JsonText& { return w.String(orlin::key::Msg, field); });
    }
    // A field without a terminator ends at the field's end.
    char full[4] = {'a', 'b', 'c', 'd'};
    JsonText w;
    w.BeginObject().String(orlin::key::Msg, full).EndObject();
    EXPECT_EQ(R"({"msg":"abcd"})", w.Bytes().toStdString());
}

TEST(JsonText, NumbersAreWrittenAsQtWritesThem)
{
    for (qint64 n : {qint64(0), qint64(1), qint64(-1), qint64(INT_MAX), qint64(INT_MIN), qint64(1733443200)})
        ExpectSame(n, [&](JsonText& w) -> JsonText& { return w.Int(orlin::key::Code, n); });
    std::vector<double> doubles = {0.0, -0.0, 1.0, 600.0, 1200.5, static_cast<double>(0.1f), static_cast<double>(1e-3f),
        0.1, 1e16, -1e16, 9007199254740994.0, 123456789012345678.0, 1e19, -1e19, 18446744073709549568.0,
        18446744073709551616.0, 2e19, -2e19, 1e21, 5e-324, 1e-7, static_cast<double>(FLT_MAX), DBL_MAX,
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN()};
    // Floats of every magnitude, widened as the host's fields are.
    std::mt19937 rng(6);
    for (int i = 0; i < 20000; ++i) {
        const uint32_t bits = static_cast<uint32_t>(rng());
        float f;
        memcpy(&f, &bits, sizeof(f));
        doubles.push_back(f);
    }
    for (double d : doubles) {
        SCOPED_TRACE(d);
        ExpectSame(d, [&](JsonText& w) -> JsonText& { return w.Number(orlin::key::TotalInk, d); });
        if (HasFailure())
            break;
    }
}

TEST(JsonText, KeysOutOfOrderAssertInDebugBuilds)
{
    EXPECT_DEBUG_DEATH(JsonText().BeginObject().Int(orlin::key::Msg, 1).Int(orlin::key::Code, 2), "ascending order");
}

// The reply envelope equals the one built from QJsonObjects, whatever the
// peer put into its header; only the time (and a fresh msg_id) may differ.
TEST(JsonText, ReplyEnvelopeMatchesTheObjectBuiltOne)
{
    const struct { const char* version; const char* msgId; const char* source; const char* target; } rows[] = {
        {"1", "m-1", "peer-A", "me"},
        {"", "", "", ""},  // an empty msg_id gets a fresh one
        {"1.0", "id \"quoted\" \\", "p\xC3\xA9" "er", "\xE2\x80\xA8"},
        {"x\ny", "\t", "a/b", "\x7f"},
    };
    auto normal = [](const QByteArray& s) { return testsupport::MaskFresh(s.toStdString()); };
    for (const auto& r : rows) {
        orlin::SCloudMsgHeader hdr;
        hdr.qsVersion = QString::fromUtf8(r.version);
        hdr.qsMsgId = QString::fromUtf8(r.msgId);
        hdr.qsSourceId = QString::fromUtf8(r.source);
        hdr.qsTargetId = QString::fromUtf8(r.target);
        JsonText data;
        data.BeginObject().Int(orlin::key::Code, 3).String(orlin::key::Msg, QStringLiteral("ok")).EndObject();
        const std::string ours = normal(orlin::ReplyText(hdr, orlin::func::Upgrade, data));

        QJsonObject header;
        orlin::BuildReplyHeader(header, hdr.qsVersion, orlin::MsgReply, hdr.qsTargetId, hdr.qsSourceId, hdr.qsMsgId);
        const QJsonObject body{{orlin::key::Func, orlin::func::Upgrade},
                               {orlin::key::Data, QJsonObject{{QStringLiteral("code"), 3}, {QStringLiteral("msg"), QStringLiteral("ok")}}}};
        EXPECT_EQ(normal(orlin::ToCompactText(header, body)), ours) << r.msgId;
        EXPECT_NE(std::string::npos, ours.find("\"timestamp\":T"));
        EXPECT_EQ(!*r.msgId, ours.find("\"msg_id\":\"ID\"") != std::string::npos) << ours;
    }
}
