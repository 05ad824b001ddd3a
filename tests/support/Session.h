// Fixture: a session initialised against the fake transport, with a
// recording host, and builders of inbound messages.
#pragma once

#include "FakeWyln.h"
#include "OrlinTestAccess.h"
#include "RecordingOwner.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

inline QJsonObject Header(int nMsgType, const QString& version = QStringLiteral("1"),
                          const QString& msgId = QStringLiteral("m-1"), const QString& src = QStringLiteral("peer-A"),
                          const QString& tgt = QStringLiteral("me"))
{
    QJsonObject h;
    h.insert(QStringLiteral("version"), version);
    h.insert(QStringLiteral("msg_type"), nMsgType);
    h.insert(QStringLiteral("msg_id"), msgId);
    h.insert(QStringLiteral("source_id"), src);
    h.insert(QStringLiteral("target_id"), tgt);
    h.insert(QStringLiteral("timestamp"), 1700000000);
    return h;
}

inline std::string Text(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

inline std::string Message(const QJsonObject& header, const QJsonObject& body)
{
    QJsonObject m;
    m.insert(QStringLiteral("header"), header);
    m.insert(QStringLiteral("body"), body);
    return Text(m);
}

// A message whose body is {"func": func, "data": data}; data undefined leaves
// the key out.
inline std::string Command(int nMsgType, const char* func, const QJsonValue& data = QJsonValue(QJsonValue::Undefined),
                           const QString& version = QStringLiteral("1"))
{
    QJsonObject body;
    body.insert(QStringLiteral("func"), QString::fromUtf8(func));
    if (!data.isUndefined())
        body.insert(QStringLiteral("data"), data);
    return Message(Header(nMsgType, version), body);
}

inline QJsonObject Parse(const std::string& text)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

inline QJsonObject Json(const char* text)
{
    return QJsonDocument::fromJson(QByteArray(text)).object();
}

inline QJsonValue JsonValue(const char* text)
{
    // Wrapped so that scalars parse too.
    const QJsonDocument d = QJsonDocument::fromJson(QByteArray("[") + text + "]");
    return d.array().first();
}

// Pseudo-random bytes drawn from `seed`.
inline QByteArray RandomBytes(int n, unsigned seed)
{
    uint64_t x = 0x9E3779B97F4A7C15ull * (seed + 1);
    QByteArray b(n, Qt::Uninitialized);
    for (int i = 0; i < n; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        memcpy(b.data() + i, &x, std::min(8, n - i));
    }
    return b;
}

// A host-allocated __SCLOUD_SEND_PRN with the file's bytes inline.
struct SendPrn
{
    std::vector<char> mem;
    SendPrn(const QByteArray& file, const char* name, int16_t sVer = 1)
        : mem(offsetof(__SCLOUD_SEND_PRN, szFileData) + std::max<size_t>(file.size(), 4) + 4, 0)
    {
        get()->sVer = sVer;
        strncpy(get()->szFileName, name, sizeof(get()->szFileName) - 1);
        get()->iFileLen = file.size();
        memcpy(get()->szFileData, file.constData(), file.size());
    }
    __SCLOUD_SEND_PRN* get() { return reinterpret_cast<__SCLOUD_SEND_PRN*>(mem.data()); }
};

} // namespace testsupport

class SessionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fakewyln::Reset();
        session.reset(new Orlin);
    }
    void TearDown() override { session.reset(); }

    // A 5-argument Init in the given client mode; calls and logs are cleared
    // afterwards so a test sees only its own traffic.
    void InitSession(int nClientMode = 0)
    {
        ASSERT_EQ(0, session->Init(&owner, "127.0.0.1", 1883, 7, nClientMode));
        fakewyln::GetState().calls.clear();
        owner.Clear();
    }

    void Deliver(const std::string& text, const std::string& peer = "peer-A")
    {
        fakewyln::Deliver(text, peer);
    }

    CWylnOwner& Sink() { return OrlinTestAccess::Sink(*session); }

    // The payloads of SendTo calls so far.
    std::vector<std::string> Replies() const
    {
        std::vector<std::string> out;
        for (const fakewyln::Call& c : fakewyln::Calls("SendTo"))
            out.push_back(c.payload);
        return out;
    }

    // The reply's body, with its header checked against the request built by
    // testsupport::Command.
    QJsonObject ReplyBody(const std::string& reply)
    {
        const QJsonObject m = testsupport::Parse(reply);
        const QJsonObject h = m.value(QStringLiteral("header")).toObject();
        EXPECT_EQ(1, h.value(QStringLiteral("msg_type")).toInt(-1));
        EXPECT_EQ(QStringLiteral("m-1"), h.value(QStringLiteral("msg_id")).toString());
        EXPECT_EQ(QStringLiteral("me"), h.value(QStringLiteral("source_id")).toString());
        EXPECT_EQ(QStringLiteral("peer-A"), h.value(QStringLiteral("target_id")).toString());
        return m.value(QStringLiteral("body")).toObject();
    }

    RecordingOwner owner;
    std::unique_ptr<Orlin> session;
};
