// File transfer: MD5, the outbound chunks (boundaries, failures, exact bytes),
// the inbound checks and refusals, and the inbound fast path against the
// plain path.
#include "Session.h"

#include "messages/FileTransfer.h"
#include "wire/Md5.h"

#include <QCryptographicHash>
#include <QSet>
#include <QtGlobal>

#include <cstddef>
#include <cstring>

using fakewyln::Calls;
using fakewyln::Script;
using testsupport::Header;
using testsupport::Json;
using testsupport::JsonValue;
using testsupport::Message;

namespace {

// ---- helpers ------------------------------------------------------------------

QByteArray RandomBytes(int n, unsigned seed)
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
        __SCLOUD_SEND_PRN* p = get();
        p->sVer = sVer;
        strncpy(p->szFileName, name, sizeof(p->szFileName) - 1);
        p->iFileLen = file.size();
        memcpy(mem.data() + offsetof(__SCLOUD_SEND_PRN, szFileData), file.constData(), file.size());
    }
    __SCLOUD_SEND_PRN* get() { return reinterpret_cast<__SCLOUD_SEND_PRN*>(mem.data()); }
};

QString Md5Base64(const QByteArray& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Md5).toBase64());
}

// Debug-log lines of the sender.
std::vector<std::string>* g_debug = nullptr;
void CaptureDebug(QtMsgType, const QMessageLogContext&, const QString& msg)
{
    if (g_debug)
        g_debug->push_back(msg.toStdString());
}

struct DebugCapture
{
    std::vector<std::string> lines;
    QtMessageHandler previous;
    DebugCapture() { g_debug = &lines; previous = qInstallMessageHandler(&CaptureDebug); }
    ~DebugCapture() { qInstallMessageHandler(previous); g_debug = nullptr; }
};

// What the host saw of one chunk, pData included.
struct SeenChunk
{
    __SCLOUD_FILE_TRANSFER st;
    QByteArray data;  // iChunkSize bytes and the byte after them
    bool bNullData;
};

std::string Describe(const SeenChunk& c)
{
    char buf[1024];
    snprintf(buf, sizeof(buf),
             "sVer=%d md5=%s total=%d index=%d size=%lld chunk=%d name=%s res=%d type=%d w=%llu h=%llu l=%llu "
             "bits=%d ch=%d x=%g y=%g null=%d",
             c.st.sVer, QByteArray(reinterpret_cast<const char*>(c.st.szMd5), 16).toHex().constData(),
             c.st.iTotalChunks, c.st.iChunkIndex, static_cast<long long>(c.st.llFileSize), c.st.iChunkSize,
             c.st.szFileName, c.st.iReserved, c.st.iFileType, static_cast<unsigned long long>(c.st.ullImgWidth),
             static_cast<unsigned long long>(c.st.ullImgHeight), static_cast<unsigned long long>(c.st.ullImgLinesize),
             c.st.iImgBitcount, c.st.iImgChannelCount, c.st.dImgXresolution, c.st.dImgYresolution, c.bNullData);
    return std::string(buf) + " data=" + c.data.toHex().toStdString();
}

QJsonObject ChunkData(const QByteArray& text, const QString& md5, int chunkSize)
{
    QJsonObject d;
    d.insert(QStringLiteral("data"), QString::fromLatin1(text));
    d.insert(QStringLiteral("md5"), md5);
    d.insert(QStringLiteral("chunk_size"), chunkSize);
    return d;
}

} // namespace

// ---- MD5 ----------------------------------------------------------------------

TEST(Md5, KnownDigestsBothImplementations)
{
    const struct { const char* text; const char* hex; } rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& r : rows) {
        unsigned char a[16], b[16];
        orlin::Md5Digest(r.text, strlen(r.text), a);
        orlin::Md5DigestPortable(r.text, strlen(r.text), b);
        EXPECT_EQ(r.hex, QByteArray(reinterpret_cast<char*>(a), 16).toHex().toStdString()) << r.text;
        EXPECT_EQ(r.hex, QByteArray(reinterpret_cast<char*>(b), 16).toHex().toStdString()) << r.text;
    }
}

TEST(Md5, IncrementalUpdatesAtEveryBlockPositionMatchOneShot)
{
    const QByteArray data = RandomBytes(1000, 7);
    unsigned char whole[16];
    orlin::Md5DigestPortable(data.constData(), data.size(), whole);
    for (int len : {0, 55, 56, 63, 64, 65, 119, 120, 128, 1000}) {
        unsigned char expected[16];
        orlin::Md5DigestPortable(data.constData(), len, expected);
        EXPECT_EQ(QCryptographicHash::hash(data.left(len), QCryptographicHash::Md5),
                  QByteArray(reinterpret_cast<char*>(expected), 16)) << len;
        for (int split : {1, 3, 63, 64, 65}) {
            orlin::Md5 md5;
            for (int off = 0; off < len; off += split)
                md5.Update(data.constData() + off, std::min(split, len - off));
            unsigned char got[16];
            md5.Final(got);
            EXPECT_EQ(0, memcmp(expected, got, 16)) << len << "/" << split;
        }
    }
}

// ---- outbound -------------------------------------------------------------------

class FileTransferTest : public SessionTest
{
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        quiet.reset(new DebugCapture);
        owner.onFileTransfer = [this](__SCLOUD_FILE_TRANSFER* p, __SCLOUD_FILE_TRANSFER_RESULT* r) {
            SeenChunk c;
            c.st = *p;
            c.bNullData = p->pData == nullptr;
            if (p->pData)
                c.data = QByteArray(reinterpret_cast<const char*>(p->pData), p->iChunkSize + 1);
            seen.push_back(c);
            strcpy(r->szFilePath, "C:/prn/a.prn");
            r->iCode = 7;
        };
    }

    // Each chunk sent so far, parsed; checks that the text is exactly the
    // compact serialisation of its own document.
    std::vector<QJsonObject> SentChunks()
    {
        std::vector<QJsonObject> out;
        for (const fakewyln::Call& c : Calls("SendTo")) {
            const QByteArray text = QByteArray::fromStdString(c.payload);
            const QJsonDocument doc = QJsonDocument::fromJson(text);
            EXPECT_TRUE(doc.isObject());
            EXPECT_TRUE(doc.toJson(QJsonDocument::Compact) == text) << "chunk text differs from the document's";
            out.push_back(doc.object());
        }
        return out;
    }

    std::string LastReply()
    {
        const auto r = Replies();
        return r.empty() ? std::string() : r.back();
    }

    void TearDown() override
    {
        quiet.reset();
        SessionTest::TearDown();
    }

    std::vector<SeenChunk> seen;
    std::unique_ptr<DebugCapture> quiet;  // the sender's debug lines stay out of the test output
};

TEST_F(FileTransferTest, ChunkCountsAtTheBoundary)
{
    InitSession();
    const struct { int fileLen; std::vector<int> chunkSizes; } rows[] = {
        {1, {4}},
        {4, {8}},
        {orlin::kChunkFileBytes, {orlin::kChunkChars}},         // exactly 8388608 characters
        {orlin::kChunkFileBytes + 1, {orlin::kChunkChars, 4}},  // one byte more
    };
    for (const auto& r : rows) {
        fakewyln::GetState().calls.clear();
        owner.Clear();
        const QByteArray file = RandomBytes(r.fileLen, r.fileLen);
        SendPrn prn(file, "job.prn", 2);
        ASSERT_EQ(0, session->SendPrintPrnFile("peer-B", prn.get(), 5000)) << r.fileLen;

        const std::vector<QJsonObject> chunks = SentChunks();
        ASSERT_EQ(r.chunkSizes.size(), chunks.size()) << r.fileLen;
        QByteArray text;
        QSet<QString> msgIds;
        for (size_t i = 0; i < chunks.size(); ++i) {
            const QJsonObject h = chunks[i].value("header").toObject();
            const QJsonObject b = chunks[i].value("body").toObject();
            const QJsonObject d = b.value("data").toObject();
            EXPECT_EQ("2.0|0|127.0.0.1:1883|peer-B|file_transfer",
                      QStringList({h.value("version").toString(), QString::number(h.value("msg_type").toInt(-1)),
                                   h.value("source_id").toString(), h.value("target_id").toString(),
                                   b.value("func").toString()}).join('|'));
            msgIds.insert(h.value("msg_id").toString());
            EXPECT_EQ((QStringList{"chunk_size", "data", "file_name", "file_size", "md5", "total_chunks"}), d.keys());
            const QByteArray chunkText = d.value("data").toString().toLatin1();
            EXPECT_EQ(r.chunkSizes[i], chunkText.size());
            EXPECT_EQ(r.chunkSizes[i], d.value("chunk_size").toInt());
            EXPECT_EQ(int(chunks.size()), d.value("total_chunks").toInt());
            EXPECT_EQ(r.fileLen, d.value("file_size").toInt());
            EXPECT_EQ("job.prn", d.value("file_name").toString());
            EXPECT_EQ(Md5Base64(chunkText), d.value("md5").toString());
            text += chunkText;
            EXPECT_EQ("peer-B", Calls("SendTo")[i].target);
            EXPECT_EQ(5000, Calls("SendTo")[i].nArg);
        }
        EXPECT_EQ(int(chunks.size()), msgIds.size());
        // Cutting the whole text gives the same chunks.
        EXPECT_TRUE(file.toBase64() == text) << r.fileLen;
        EXPECT_EQ((std::vector<std::string>{"[SendPrintPrnFile]SendFile:id=peer-B,FileName=job.prn,sVer=2,FileLen=" +
                                                std::to_string(r.fileLen),
                                            "[SendPrintPrnFile]_GetErrorCode:iRetErrCode=0"}),
                  owner.Logs());
    }
}

TEST_F(FileTransferTest, DebugLinesOfOneTransfer)
{
    InitSession();
    SendPrn prn(QByteArray("xyz1"), "a");
    DebugCapture capture;
    ASSERT_EQ(0, session->SendPrintPrnFile("p", prn.get(), 10));
    EXPECT_EQ((std::vector<std::string>{"SendPrintPrnFile0", "SendPrintPrnFile1",
                                        "SendPrintPrnFile;SendData=4, Base64=8,ChunkSize=8388608", "totalChunks=1",
                                        "i=0,chunkSize=8"}),
              capture.lines);
}

TEST_F(FileTransferTest, FailureOnTheSecondOfThreeChunksStopsTheTransfer)
{
    InitSession();
    const QByteArray file(2 * orlin::kChunkFileBytes + 1, 'x');
    SendPrn prn(file, "big.prn");
    Script("SendTo", {0, 1002});
    EXPECT_EQ(2, session->SendPrintPrnFile("peer-B", prn.get(), 3000));
    const std::vector<QJsonObject> chunks = SentChunks();
    ASSERT_EQ(2u, chunks.size());  // the third is never built
    EXPECT_EQ(3, chunks[0].value("body").toObject().value("data").toObject().value("total_chunks").toInt());
    EXPECT_EQ((std::vector<std::string>{"[SendPrintPrnFile]SendFile:id=peer-B,FileName=big.prn,sVer=1,FileLen=" +
                                            std::to_string(file.size()),
                                        "[SendPrintPrnFile]_GetErrorCode:iRetErrCode=1002"}),
              owner.Logs());
}

TEST_F(FileTransferTest, RefusedBeforeAnyChunk)
{
    const QByteArray file("data");
    const struct { const char* what; int mode; int fileLen; bool nullParam; std::initializer_list<int> apply;
                   int expected; std::vector<std::string> logs; } rows[] = {
        {"null parameter", 0, 4, true, {}, -1, {"[SendPrintPrnFile] pSendPrnParam is NULL"}},
        {"empty file", 0, 0, false, {}, -1, {"[SendPrintPrnFile] pSendPrnParam is NULL"}},
        {"negative length", 0, -5, false, {}, -1, {"[SendPrintPrnFile] pSendPrnParam is NULL"}},
        {"ApplyId fails in mode 1", 1, 4, false, {1003}, 3, {"[SendPrintPrnFile]_GetErrorCode:iRetErrCode=1003"}},
    };
    for (const auto& r : rows) {
        fakewyln::Reset();
        session.reset(new Orlin);
        InitSession(r.mode);
        Script("ApplyId", r.apply);
        SendPrn prn(file, "f");
        prn.get()->iFileLen = r.fileLen;
        EXPECT_EQ(r.expected, session->SendPrintPrnFile("t", r.nullParam ? nullptr : prn.get(), 10)) << r.what;
        EXPECT_TRUE(Calls("SendTo").empty()) << r.what;
        EXPECT_EQ(r.logs, owner.Logs()) << r.what;
    }
    Orlin fresh;
    SendPrn prn(file, "f");
    EXPECT_EQ(-1, fresh.SendPrintPrnFile("t", prn.get(), 10));
}

TEST_F(FileTransferTest, ClientModeOneSendsUnderTheAppliedIdAndNullTargetStaysNull)
{
    InitSession(1);
    fakewyln::GetState().nextId = "fresh-id";
    SendPrn prn(QByteArray("abc"), "n", -3);
    ASSERT_EQ(0, session->SendPrintPrnFile(nullptr, prn.get(), 10));
    ASSERT_EQ(1u, Calls("ApplyId").size());
    const auto sent = Calls("SendTo");
    ASSERT_EQ(1u, sent.size());
    EXPECT_TRUE(sent[0].bNullTarget);
    const QJsonObject h = SentChunks()[0].value("header").toObject();
    EXPECT_EQ("fresh-id", h.value("source_id").toString());
    EXPECT_EQ("", h.value("target_id").toString());
    EXPECT_EQ("-3.0", h.value("version").toString());
    EXPECT_EQ("[SendPrintPrnFile]SendFile:id=,FileName=n,sVer=-3,FileLen=3", owner.Logs().at(0));
}

TEST_F(FileTransferTest, NamesWithEscapesAndPercentSignsTravelExactly)
{
    InitSession();
    SendPrn prn(QByteArray("abcdef"), "q\"u\\o\tt%1%3 \xE5\x9B\xBE.prn");
    ASSERT_EQ(0, session->SendPrintPrnFile("t", prn.get(), 10));
    const QJsonObject d = SentChunks()[0].value("body").toObject().value("data").toObject();
    EXPECT_EQ(QString::fromUtf8("q\"u\\o\tt%1%3 \xE5\x9B\xBE.prn"), d.value("file_name").toString());
    EXPECT_EQ("[SendPrintPrnFile]SendFile:id=t,FileName=q\"u\\o\tt%1%3 \xE5\x9B\xBE.prn,sVer=1,FileLen=6",
              owner.Logs().at(0));
}

// ---- our sender against our receiver ----------------------------------------------

TEST_F(FileTransferTest, OurReceiverAcceptsEveryChunkOurSenderMakes)
{
    InitSession();
    const QByteArray file = RandomBytes(orlin::kChunkFileBytes + 1000, 11);
    SendPrn prn(file, "round.prn");
    ASSERT_EQ(0, session->SendPrintPrnFile("me", prn.get(), 10));
    const auto chunks = Calls("SendTo");
    ASSERT_EQ(2u, chunks.size());
    for (bool lift : {true, false}) {
        Sink().m_bLiftFileChunks = lift;
        seen.clear();
        fakewyln::GetState().calls.clear();
        QByteArray joined;
        for (const auto& c : chunks)
            Deliver(c.payload);
        ASSERT_EQ(2u, seen.size());
        for (const SeenChunk& c : seen) {
            EXPECT_EQ(2, c.st.iTotalChunks);
            EXPECT_EQ(file.size(), c.st.llFileSize);
            EXPECT_STREQ("round.prn", c.st.szFileName);
            EXPECT_EQ(0, c.st.sVer);  // "1.0" is not a whole number
            EXPECT_EQ('\0', c.data.back());
            joined += c.data.left(c.st.iChunkSize);
        }
        EXPECT_TRUE(joined == file) << "lift " << lift;
        for (const std::string& reply : Replies())
            EXPECT_EQ(R"({"code":7,"file_path":"C:/prn/a.prn"})",
                      testsupport::Text(testsupport::Parse(reply).value("body").toObject().value("data").toObject()));
    }
}

// ---- inbound ------------------------------------------------------------------

TEST_F(FileTransferTest, EachRefusalRuleAnswersCodeOneWithoutTheHost)
{
    InitSession();
    const QByteArray text = QByteArray("abcdefgh").toBase64();  // 12 characters
    const QString good = Md5Base64(text);
    const struct { const char* what; QJsonValue md5; QJsonValue data; int chunkSize; } rows[] = {
        {"md5 of 23 characters", good.left(23), QString::fromLatin1(text), 12},
        {"md5 of 25 characters", good + "A", QString::fromLatin1(text), 12},
        {"md5 of 24 characters that are not Base64", QString(24, '!'), QString::fromLatin1(text), 12},
        {"md5 of 24 characters giving 17 bytes", QString(23, 'A') + "=", QString::fromLatin1(text), 12},
        {"md5 of 24 characters giving 18 bytes", QString(24, 'A'), QString::fromLatin1(text), 12},
        {"data longer than chunk_size", good, QString::fromLatin1(text), 11},
        {"data shorter than chunk_size", good, QString::fromLatin1(text), 13},
        {"digest of other characters", Md5Base64("x"), QString::fromLatin1(text), 12},
        {"data without md5", QJsonValue(QJsonValue::Undefined), QString::fromLatin1(text), 12},
        {"md5 not a string: zero digest", 5, QString::fromLatin1(text), 12},
    };
    for (const auto& r : rows) {
        fakewyln::GetState().calls.clear();
        owner.Clear();
        QJsonObject d;
        d.insert("data", r.data);
        d.insert("chunk_size", r.chunkSize);
        if (!r.md5.isUndefined())
            d.insert("md5", r.md5);
        Deliver(testsupport::Command(0, "file_transfer", d));
        EXPECT_TRUE(owner.Events().empty()) << r.what;
        ASSERT_EQ(1u, Replies().size()) << r.what;
        EXPECT_EQ(R"({"data":{"code":1,"file_path":""},"func":"file_transfer"})",
                  testsupport::Text(ReplyBody(Replies()[0])))
            << r.what;
        EXPECT_TRUE(owner.Logs().empty()) << r.what;
    }
}

TEST_F(FileTransferTest, AcceptedChunksAsTheHostSeesThem)
{
    InitSession();
    auto chunk = [](const QByteArray& text, int chunkSize) { return ChunkData(text, Md5Base64(text), chunkSize); };
    QJsonObject withInfo = chunk("AAEC", 4);
    withInfo.insert("file_type", 3);
    withInfo.insert("file_info", Json(R"({"img_width":"18446744073709551615","img_height":4096,"img_linesize":-1,
        "img_bitcount":8,"img_channel_count":4.5,"img_xresolution":720.5,"img_yresolution":"x"})"));
    QJsonObject infoWithoutType = chunk("AAEC", 4);
    infoWithoutType.insert("file_info", Json(R"({"img_width":5,"img_bitcount":8})"));
    QJsonObject noData = Json(R"({"file_name":"n.prn","file_size":9,"total_chunks":3,"chunk_index":2,
        "chunk_size":77,"md5":"AAAAAAAAAAAAAAAAAAAAAA=="})");
    QJsonObject numberData = ChunkData("", Md5Base64(""), 0);
    numberData.insert("data", 12);
    QJsonObject longName = chunk("AAEC", 4);
    longName.insert("file_name", QString(258, 'a') + QString::fromUtf8("\xC3\xA9"));  // 260 bytes

    const std::string none = "md5=00000000000000000000000000000000";
    const std::string three = "sVer=1 md5=" + QByteArray::fromBase64(Md5Base64("AAEC").toLatin1()).toHex().toStdString() +
                              " total=0 index=0 size=0 chunk=3 name= res=0 type=0 w=0 h=0 l=0 bits=0 ch=0 x=0 y=0 null=0 "
                              "data=00010200";
    // has: runs of whole fields of Describe that the host must have seen.
    const struct { const char* what; QJsonValue data; const char* version; std::vector<std::string> has; bool warned; } rows[] = {
        {"three bytes", chunk("AAEC", 4), "1", {three}, false},
        {"one byte after ==", chunk("/w==", 4), "2", {"sVer=2", "chunk=1", "data=ff00"}, false},
        {"not Base64 but the digest matches", chunk("A*==", 4), "2", {"chunk=0", "null=0 data=00"}, false},
        {"length not a multiple of four", chunk("AAECA", 5), "2", {"chunk=0", "null=0 data=00"}, false},
        {"file_info read with a file type", withInfo, "2",
         {"type=3 w=18446744073709551615 h=4096 l=0 bits=8 ch=0 x=720.5 y=0"}, false},
        {"file_info ignored without a file type", infoWithoutType, "2", {"type=0 w=0 h=0 l=0 bits=0"}, false},
        {"no data key: no check, null pData", noData, "2.0",
         {"sVer=0 " + none + " total=3 index=2 size=9 chunk=77 name=n.prn res=0 type=0 w=0 h=0 l=0 bits=0 ch=0 x=0 "
          "y=0 null=1 data="}, false},
        {"data not a string counts as empty text", numberData, "2", {"chunk=0", "null=0"}, false},
        {"body without data", QJsonValue(QJsonValue::Undefined), "7",
         {"sVer=7 " + none + " total=0 index=0 size=0 chunk=0 name= res=0 type=0 w=0 h=0 l=0 bits=0 ch=0 x=0 y=0 "
          "null=1 data="}, false},
        {"empty array", QJsonArray(), "7", {"sVer=1 " + none + " total=0 index=0 size=0 chunk=0 name= res=0 type=0 w=0 "
          "h=0 l=0 bits=0 ch=0 x=0 y=0 null=1 data="}, true},
        {"two elements: only the first", QJsonArray{chunk("AAEC", 4), QJsonObject()}, "2", {"chunk=3"}, true},
        {"name over 259 bytes is cut at a whole character", longName, "2", {"name=" + std::string(258, 'a')}, false},
    };
    for (const auto& r : rows) {
        fakewyln::GetState().calls.clear();
        owner.Clear();
        seen.clear();
        Deliver(testsupport::Command(0, "file_transfer", r.data, QString::fromLatin1(r.version)));
        ASSERT_EQ(1u, seen.size()) << r.what;
        const std::string d = " " + Describe(seen[0]) + " ";
        for (const std::string& has : r.has)
            EXPECT_NE(std::string::npos, d.find(" " + has + " ")) << r.what << ": " << has << " in" << d;
        EXPECT_EQ(r.warned ? std::vector<std::string>{"Recv json data handle warning,FileTransfer data is arr"}
                           : std::vector<std::string>{},
                  owner.Logs())
            << r.what;
        ASSERT_EQ(1u, Replies().size());
        EXPECT_EQ(R"({"data":{"code":7,"file_path":"C:/prn/a.prn"},"func":"file_transfer"})",
                  testsupport::Text(ReplyBody(Replies()[0])));
    }
}

TEST_F(FileTransferTest, ReplyCarriesTheHostsAnswerAndTheTransportsResult)
{
    InitSession();
    owner.onFileTransfer = [](__SCLOUD_FILE_TRANSFER*, __SCLOUD_FILE_TRANSFER_RESULT* r) {
        memset(r->szFilePath, 'p', sizeof(r->szFilePath));  // not terminated: read to the field's end
        r->iCode = -4;
    };
    Script("SendTo", {1501});
    Deliver(testsupport::Command(0, "file_transfer", QJsonObject(), QStringLiteral("3.5")));
    ASSERT_EQ(1u, Replies().size());
    const QJsonObject m = testsupport::Parse(Replies()[0]);
    EXPECT_EQ("3.5", m.value("header").toObject().value("version").toString());
    EXPECT_EQ(QJsonObject({{"code", -4}, {"file_path", QString(262, 'p')}}),
              m.value("body").toObject().value("data").toObject());
    EXPECT_EQ((std::vector<std::string>{"Recv json data handle fail,errcode=1501"}), owner.Logs());
}

// ---- the fast path gives the plain path's results ------------------------------------

TEST_F(FileTransferTest, LiftedChunkTextGivesThePlainResultForEveryInput)
{
    InitSession();
    const QByteArray big = RandomBytes(6000, 5).toBase64();  // 8000 characters
    const QByteArray md5 = Md5Base64(big).toLatin1();
    const QByteArray n = QByteArray::number(big.size());
    const QByteArray hdr0 = R"("header":{"msg_id":"m-1","msg_type":0,"source_id":"peer-A","target_id":"me","version":"1"})";
    auto msg = [&](const QByteArray& data) {
        return "{\"body\":{\"data\":" + data + ",\"func\":\"file_transfer\"}," + hdr0 + "}";
    };
    const QByteArray chunk = "{\"chunk_size\":" + n + ",\"data\":\"" + big + "\",\"md5\":\"" + md5 + "\"}";
    QByteArray withSlash = big;
    withSlash[100] = '\\';
    withSlash.insert(101, '/');
    QByteArray withControl = big;
    withControl[100] = '\t';
    QByteArray withUtf8 = big;
    withUtf8.replace(100, 1, "\xC3\xA9");
    QByteArray withBadUtf8 = big;
    withBadUtf8[100] = '\xFF';

    const struct { const char* what; QByteArray text; bool lifted; } rows[] = {
        {"plain chunk", msg(chunk), true},
        {"chunk in an array of two", msg("[" + chunk + ",{}]"), true},
        {"chunk second in an array", msg("[{}," + chunk + "]"), false},
        {"duplicate data, the text first", msg("{\"chunk_size\":3,\"data\":\"" + big + "\",\"data\":\"abc\"}"), false},
        {"duplicate data, the text last", msg("{\"chunk_size\":" + n + ",\"data\":\"abc\",\"data\":\"" + big + "\",\"md5\":\"" + md5 + "\"}"), true},
        {"spaces around the colon", msg("{\"chunk_size\":" + n + ",\"data\" : \"" + big + "\",\"md5\":\"" + md5 + "\"}"), false},
        {"escaped slash in the text", msg("{\"chunk_size\":8001,\"data\":\"" + withSlash + "\"}"), false},
        {"raw tab in the text", msg("{\"chunk_size\":8000,\"data\":\"" + withControl + "\"}"), false},
        {"UTF-8 character in the text", msg("{\"chunk_size\":8000,\"data\":\"" + withUtf8 + "\"}"), false},
        {"invalid UTF-8 in the text", msg("{\"chunk_size\":8000,\"data\":\"" + withBadUtf8 + "\"}"), false},
        {"wrong chunk size", msg("{\"chunk_size\":7999,\"data\":\"" + big + "\",\"md5\":\"" + md5 + "\"}"), true},
        {"truncated after the text", msg(chunk).chopped(2), false},
        {"trailing garbage", msg(chunk) + "x", false},
        {"reply, not a command", msg(chunk).replace("\"msg_type\":0", "\"msg_type\":1"), false},
        {"msg_type as text reads as 0", msg(chunk).replace("\"msg_type\":0", "\"msg_type\":\"1\""), true},
        {"other func", msg(chunk).replace("\"file_transfer\"", "\"file_transferX\""), false},
        {"no header", "{\"body\":{\"data\":" + chunk + ",\"func\":\"file_transfer\"}}", false},
        {"inside a top-level array", "[" + msg(chunk) + "]", false},
        {"text as body.data itself", msg("\"" + big + "\""), false},
        {"text under md5", msg("{\"data\":\"x\",\"md5\":\"" + big + "\"}"), false},
        {"text under the header", "{\"body\":{\"data\":{},\"func\":\"file_transfer\"},\"header\":{\"data\":\"" + big + "\"}}", false},
        {"text in the header, chunk in the body", msg(chunk).replace("\"version\":\"1\"", "\"data\":\"" + big + "\",\"version\":\"1\""), true},
        {"short text stays plain", msg("{\"chunk_size\":4,\"data\":\"AAEC\",\"md5\":\"" + Md5Base64("AAEC").toLatin1() + "\"}"), false},
        {"key containing \\\"data", msg("{\"x\\\"data\":\"" + big + "\"}"), false},
    };
    struct Outcome { std::vector<std::string> seen, logs, replies; };
    auto run = [&](const QByteArray& text, bool lift) {
        Sink().m_bLiftFileChunks = lift;
        fakewyln::GetState().calls.clear();
        owner.Clear();
        seen.clear();
        Deliver(text.toStdString());
        Outcome o;
        for (const SeenChunk& c : seen)
            o.seen.push_back(Describe(c));
        o.logs = owner.Logs();
        for (const std::string& r : Replies()) {
            QJsonObject m = testsupport::Parse(r);
            QJsonObject h = m.value("header").toObject();
            h.remove("timestamp");
            if (h.value("msg_id").toString() != "m-1")
                h.insert("msg_id", "fresh");  // a request without msg_id gets a new one
            m.insert("header", h);
            o.replies.push_back(testsupport::Text(m));
        }
        return o;
    };
    for (const auto& r : rows) {
        int result = -1;
        fakewyln::GetState().calls.clear();
        Sink().m_bLiftFileChunks = true;
        EXPECT_EQ(r.lifted, Sink().RecvFileChunk(r.text.constData(), r.text.size(), result)) << r.what;
        const Outcome lifted = run(r.text, true);
        const Outcome plain = run(r.text, false);
        EXPECT_EQ(plain.seen, lifted.seen) << r.what;
        EXPECT_EQ(plain.logs, lifted.logs) << r.what;
        EXPECT_EQ(plain.replies, lifted.replies) << r.what;
    }
    Sink().m_bLiftFileChunks = true;
}

TEST(FileTransferLift, FindsOnlyPlainTextsOfTheMinimumLength)
{
    const std::string min(orlin::kLiftMinChars, 'A');
    const struct { std::string text; int begin; int end; } rows[] = {
        {"{\"data\":\"" + min + "\"}", 9, 9 + orlin::kLiftMinChars},
        {"{\"data\":\"" + min.substr(1) + "\"}", -1, -1},
        {"{\"data\":\"ab\",\"x\":{\"data\":\"" + min + "\"}}", 26, 26 + orlin::kLiftMinChars},
        {"{\"data\":\"" + min + "~\"}", 9, 10 + orlin::kLiftMinChars},
        {"{\"data\":\"" + min + "\x7F\"}", -1, -1},
        {"{\"data\":\"" + min, -1, -1},  // no closing quote
        {"{\"data\":", -1, -1},
    };
    for (const auto& r : rows) {
        int b = -1, e = -1;
        const bool found = orlin::FindLiftableText(r.text.data(), static_cast<int>(r.text.size()), &b, &e);
        EXPECT_EQ(r.begin >= 0, found) << r.text.substr(0, 40);
        if (found) {
            EXPECT_EQ(r.begin, b);
            EXPECT_EQ(r.end, e);
        }
    }
}
