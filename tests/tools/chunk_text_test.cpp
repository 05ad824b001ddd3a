// The tools' chunk messages against the library's own sender: the same
// bytes for the same file, name, version and header, and with "chunk_index"
// exactly one member more.
#include "ChunkText.h"
#include "Session.h"

#include <QRegularExpression>

#include <cstring>

namespace {

class ChunkTextTest : public SessionTest
{
};

TEST_F(ChunkTextTest, SameBytesAsTheLibrarysSender)
{
    InitSession();
    const struct
    {
        int bytes;
        const char* name;
        int16_t sVer;
    } rows[] = {
        {1, "job.prn", 1},
        {tools::kChunkBytes, "q\"u\\o\tt%1 \xE5\x9B\xBE.prn", 2},  // one whole chunk; escaped name
        {tools::kChunkBytes + 2, "two.prn", 1},                    // a second chunk of 4 characters
    };
    const QRegularExpression headerRe(
        R"re("header":\{"msg_id":"([^"]+)","msg_type":0,"source_id":"([^"]*)","target_id":"([^"]*)","timestamp":(\d+),"version":"([^"]*)"\}\}$)re");
    for (const auto& r : rows) {
        SCOPED_TRACE(r.bytes);
        fakewyln::GetState().calls.clear();
        const QByteArray file = testsupport::RandomBytes(r.bytes, r.sVer);
        testsupport::SendPrn prn(file, r.name, r.sVer);
        ASSERT_EQ(0, session->SendPrintPrnFile("peer-B", prn.get(), 3000));
        const auto* bytes = reinterpret_cast<const unsigned char*>(file.constData());

        const std::vector<std::string> sent = Replies();
        const tools::ChunkWriter plain(QString::fromUtf8(r.name), r.bytes, false);
        const tools::ChunkWriter indexed(QString::fromUtf8(r.name), r.bytes, true);
        ASSERT_EQ(sent.size(), static_cast<size_t>(plain.total()));
        for (int i = 0; i < plain.total(); ++i) {
            const QByteArray lib = QByteArray::fromStdString(sent[static_cast<size_t>(i)]);
            const QRegularExpressionMatch m = headerRe.match(QString::fromUtf8(lib));
            ASSERT_TRUE(m.hasMatch()) << lib.right(300).constData();
            tools::ChunkHeader h;
            h.msgId = m.captured(1);
            h.source = m.captured(2);
            h.target = m.captured(3);
            h.timestamp = m.captured(4).toLongLong();
            h.version = m.captured(5);
            EXPECT_EQ(h.version, QString("%1.0").arg(r.sVer));

            const unsigned char* at = bytes + qint64(i) * tools::kChunkBytes;
            const int n = tools::chunkBytes(r.bytes, i);
            QByteArray ours;
            unsigned char digest[tools::kDigestLen];
            plain.write(i, at, n, h, ours, digest);
            EXPECT_TRUE(ours == lib) << "chunk " << i;

            QByteArray withIndex = lib;
            withIndex.insert(static_cast<int>(std::strlen("{\"body\":{\"data\":{")),
                             "\"chunk_index\":" + QByteArray::number(i) + ",");
            indexed.write(i, at, n, h, ours, digest);
            EXPECT_TRUE(ours == withIndex) << "chunk " << i;
            EXPECT_TRUE(lib.contains("\"md5\":\"" + tools::digestText(digest).toLatin1() + "\""));
        }
    }
}

TEST(ChunkGeometry, SizesAndLimits)
{
    const struct
    {
        qint64 size;
        int chunks;
        int lastBytes;
        bool sendable;
    } rows[] = {
        {0, 0, 0, false},
        {1, 1, 1, true},
        {tools::kChunkBytes, 1, tools::kChunkBytes, true},
        {tools::kChunkBytes + 1, 2, 1, true},
        {tools::kMaxFileBytes, 342, static_cast<int>(tools::kMaxFileBytes - 341LL * tools::kChunkBytes), true},
        {tools::kMaxFileBytes + 1, 342, 0, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.size);
        EXPECT_EQ(tools::sizeProblem(r.size).isEmpty(), r.sendable);
        if (!r.sendable)
            continue;
        EXPECT_EQ(tools::chunkCount(r.size), r.chunks);
        EXPECT_EQ(tools::chunkBytes(r.size, r.chunks - 1), r.lastBytes);
    }
}

} // namespace
