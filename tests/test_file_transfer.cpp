// File transfer: MD5, the outbound chunks, the inbound checks and refusals,
// and the inbound fast path against the plain path.
#include "ReplyText.h"
#include "Session.h"

#include "messages/FileTransfer.h"

#include <QCryptographicHash>
#include <QSet>

#include <cstddef>
#include <cstdint>
#include <cstring>

using fakewyln::Calls;
using fakewyln::Script;
using testsupport::Json;
using testsupport::RandomBytes;
using testsupport::SendPrn;
using testsupport::Text;

namespace {

QString Md5Base64(const QByteArray& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Md5).toBase64());
}

std::vector<std::string>* g_debug = nullptr;
struct DebugCapture
{
    std::vector<std::string> lines;
    QtMessageHandler previous;
    DebugCapture()
    {
        g_debug = &lines;
        previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
            g_debug->push_back(m.toStdString());
        });
    }
    ~DebugCapture() { qInstallMessageHandler(previous); g_debug = nullptr; }
};

// What the host saw of one chunk: the record and iChunkSize bytes of pData
// and the byte after them.
std::string Describe(const __SCLOUD_FILE_TRANSFER& s, const QByteArray& data)
{
    char buf[512];
    snprintf(buf, sizeof(buf), "sVer=%d md5=%s total=%d index=%d size=%lld chunk=%d name=%s res=%d type=%d w=%llu "
             "h=%llu l=%llu bits=%d ch=%d x=%g y=%g null=%d data=%s", s.sVer,
             QByteArray(reinterpret_cast<const char*>(s.szMd5), 16).toHex().constData(), s.iTotalChunks, s.iChunkIndex,
             static_cast<long long>(s.llFileSize), s.iChunkSize, s.szFileName, s.iReserved, s.iFileType,
             static_cast<unsigned long long>(s.ullImgWidth), static_cast<unsigned long long>(s.ullImgHeight),
             static_cast<unsigned long long>(s.ullImgLinesize), s.iImgBitcount, s.iImgChannelCount, s.dImgXresolution,
             s.dImgYresolution, s.pData == nullptr, data.toHex().constData());
    return buf;
}

} // namespace

class FileTransferTest : public SessionTest
{
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        debug.reset(new DebugCapture);
        owner.onFileTransfer = [this](__SCLOUD_FILE_TRANSFER* p, __SCLOUD_FILE_TRANSFER_RESULT* r) {
            // Every chunk's bytes start on a page, ready for direct I/O.
            if (p->pData) {
                EXPECT_EQ(reinterpret_cast<uintptr_t>(p->pData) % 4096, 0u);
            }
            seen.push_back(Describe(*p, p->pData ? QByteArray(reinterpret_cast<char*>(p->pData), p->iChunkSize + 1)
                                                 : QByteArray()));
            data += QByteArray(reinterpret_cast<char*>(p->pData), p->iChunkSize);
            strcpy(r->szFilePath, "C:/prn/a.prn");
            r->iCode = 7;
        };
    }
    void TearDown() override
    {
        debug.reset();
        SessionTest::TearDown();
    }
    void Clear()
    {
        fakewyln::GetState().calls.clear();
        owner.Clear();
        seen.clear();
        data.clear();
        debug->lines.clear();
    }

    // The chunks sent so far; each text must be exactly QJsonDocument's
    // compact serialisation of itself.
    std::vector<QJsonObject> SentChunks()
    {
        std::vector<QJsonObject> out;
        for (const fakewyln::Call& c : Calls("SendTo")) {
            const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(c.payload));
            EXPECT_EQ(c.payload, doc.toJson(QJsonDocument::Compact).toStdString()) << "chunk text differs from Qt's";
            out.push_back(doc.object());
        }
        return out;
    }

    std::vector<std::string> seen;
    QByteArray data;
    std::unique_ptr<DebugCapture> debug;
};

TEST_F(FileTransferTest, ChunkCountsAtTheBoundary)
{
    InitSession();
    const char* name = "q\"u\\o\tt%1%3 \xE5\x9B\xBE.prn";  // escapes and percent signs travel exactly
    const struct { int fileLen; std::vector<int> chunkSizes; } rows[] = {
        {1, {4}},
        {4, {8}},
        {orlin::kChunkFileBytes, {orlin::kChunkChars}},         // exactly 8388608 characters
        {orlin::kChunkFileBytes + 1, {orlin::kChunkChars, 4}},  // one byte more
    };
    for (const auto& r : rows) {
        Clear();
        const QByteArray file = RandomBytes(r.fileLen, r.fileLen);
        SendPrn prn(file, name, 2);
        ASSERT_EQ(0, session->SendPrintPrnFile("peer-B", prn.get(), 5000)) << r.fileLen;

        const std::vector<QJsonObject> chunks = SentChunks();
        ASSERT_EQ(r.chunkSizes.size(), chunks.size()) << r.fileLen;
        QByteArray text;
        QSet<QString> msgIds;
        std::vector<std::string> debugLines{"SendPrintPrnFile0", "SendPrintPrnFile1",
            "SendPrintPrnFile;SendData=" + std::to_string(r.fileLen) + ", Base64=" +
                std::to_string(file.toBase64().size()) + ",ChunkSize=8388608",
            "totalChunks=" + std::to_string(chunks.size())};
        for (size_t i = 0; i < chunks.size(); ++i) {
            const QJsonObject h = chunks[i].value("header").toObject();
            const QJsonObject d = chunks[i].value("body").toObject().value("data").toObject();
            EXPECT_EQ("2.0|0|127.0.0.1:1883|peer-B|file_transfer",
                      QStringList({h.value("version").toString(), QString::number(h.value("msg_type").toInt(-1)),
                                   h.value("source_id").toString(), h.value("target_id").toString(),
                                   chunks[i].value("body").toObject().value("func").toString()}).join('|'));
            msgIds.insert(h.value("msg_id").toString());
            const QByteArray chunkText = d.value("data").toString().toLatin1();
            EXPECT_EQ(r.chunkSizes[i], chunkText.size());
            EXPECT_EQ((QJsonObject{{"chunk_size", r.chunkSizes[i]}, {"data", d.value("data")},
                                   {"file_name", QString::fromUtf8(name)}, {"file_size", r.fileLen},
                                   {"md5", Md5Base64(chunkText)}, {"total_chunks", int(chunks.size())}}), d);
            text += chunkText;
            EXPECT_EQ("peer-B", Calls("SendTo")[i].target);
            EXPECT_EQ(5000, Calls("SendTo")[i].nArg);
            debugLines.push_back("i=" + std::to_string(i) + ",chunkSize=" + std::to_string(r.chunkSizes[i]));
        }
        EXPECT_EQ(int(chunks.size()), msgIds.size());
        EXPECT_TRUE(file.toBase64() == text) << r.fileLen;  // cutting the whole text gives the same chunks
        EXPECT_EQ(debugLines, debug->lines);
        EXPECT_EQ((std::vector<std::string>{std::string("[SendPrintPrnFile]SendFile:id=peer-B,FileName=") + name +
                                                ",sVer=2,FileLen=" + std::to_string(r.fileLen),
                                            "[SendPrintPrnFile]_GetErrorCode:iRetErrCode=0"}),
                  owner.Logs());
    }
}

TEST_F(FileTransferTest, FailureOnTheSecondOfThreeChunksStopsTheTransfer)
{
    InitSession();
    SendPrn prn(QByteArray(2 * orlin::kChunkFileBytes + 1, 'x'), "big.prn");
    Script("SendTo", {0, 1002});
    EXPECT_EQ(2, session->SendPrintPrnFile("peer-B", prn.get(), 3000));
    const std::vector<QJsonObject> chunks = SentChunks();
    ASSERT_EQ(2u, chunks.size());  // the third is never built
    EXPECT_EQ(3, chunks[0].value("body").toObject().value("data").toObject().value("total_chunks").toInt());
    EXPECT_EQ((std::vector<std::string>{"[SendPrintPrnFile]SendFile:id=peer-B,FileName=big.prn,sVer=1,FileLen=" +
                                            std::to_string(2 * orlin::kChunkFileBytes + 1),
                                        "[SendPrintPrnFile]_GetErrorCode:iRetErrCode=1002"}),
              owner.Logs());
}

TEST_F(FileTransferTest, RefusedBeforeAnyChunk)
{
    InitSession();
    const struct { int fileLen; bool nullParam; } rows[] = {{4, true}, {0, false}, {-5, false}};
    for (const auto& r : rows) {
        Clear();
        SendPrn prn("data", "f");
        prn.get()->iFileLen = r.fileLen;
        EXPECT_EQ(-1, session->SendPrintPrnFile("t", r.nullParam ? nullptr : prn.get(), 10)) << r.fileLen;
        EXPECT_TRUE(Calls("SendTo").empty());
        EXPECT_EQ(std::vector<std::string>{"[SendPrintPrnFile] pSendPrnParam is NULL"}, owner.Logs()) << r.fileLen;
    }
}

TEST_F(FileTransferTest, OurReceiverAcceptsEveryChunkOurSenderMakes)
{
    InitSession();
    const QByteArray file = RandomBytes(orlin::kChunkFileBytes + 1000, 11);
    SendPrn prn(file, "round.prn");
    ASSERT_EQ(0, session->SendPrintPrnFile("me", prn.get(), 10));
    const auto chunks = Calls("SendTo");
    ASSERT_EQ(2u, chunks.size());
    for (bool lift : {true, false}) {
        Sink().SetLiftFileChunks(lift);
        Clear();
        for (const auto& c : chunks)
            Deliver(c.payload);
        ASSERT_EQ(2u, seen.size());
        for (const std::string& s : seen)  // "1.0" is not a whole number: sVer 0
            EXPECT_NE(std::string::npos, s.find(" total=2 index=0 size=" + std::to_string(file.size()))) << s.substr(0, 80);
        EXPECT_TRUE(data == file) << "lift " << lift;
        for (const std::string& reply : Replies())
            EXPECT_EQ(R"({"code":7,"file_path":"C:/prn/a.prn"})",
                      Text(testsupport::Parse(reply).value("body").toObject().value("data").toObject()));
    }
}

// Each inbound chunk as the host sees it, or refused with code 1 before the
// host (an empty "has").
TEST_F(FileTransferTest, InboundChunksAcceptedOrRefused)
{
    InitSession();
    auto chunk = [](const QByteArray& text, int n, const char* extra = nullptr) {
        QJsonObject d{{"data", QString::fromLatin1(text)}, {"md5", Md5Base64(text)}, {"chunk_size", n}};
        const QJsonObject e = extra ? Json(extra) : QJsonObject();
        for (auto it = e.begin(); it != e.end(); ++it)
            d.insert(it.key(), it.value());
        return d;
    };
    const QByteArray text = "YWJjZGVmZ2g=";  // 12 characters
    auto withMd5 = [&](const QJsonValue& md5) {
        QJsonObject d = chunk(text, 12);
        d.insert("md5", md5);  // Undefined removes the key
        return d;
    };
    const QString good = Md5Base64(text);
    const QByteArray digest = QCryptographicHash::hash(text, QCryptographicHash::Md5);
    const std::string zeros = " md5=00000000000000000000000000000000";
    const std::string rest = " name= res=0 type=0 w=0 h=0 l=0 bits=0 ch=0 x=0 y=0 null=1 data=";
    // has: runs of whole fields of Describe that the host must have seen.
    const struct { const char* what; QJsonValue data; const char* version; std::vector<std::string> has; bool warned; } rows[] = {
        {"md5 of 23 characters", withMd5(good.left(23)), "1", {}, false},
        {"md5 of 25 characters", withMd5(good + "A"), "1", {}, false},
        {"md5 of 24 characters that are not Base64", withMd5(QString(24, '!')), "1", {}, false},
        {"md5 of 24 characters giving the digest and a byte", withMd5(QString((digest + "x").toBase64())), "1", {}, false},
        {"md5 of 24 characters giving the digest and two", withMd5(QString((digest + "xy").toBase64())), "1", {}, false},
        {"data longer than chunk_size", chunk(text, 11), "1", {}, false},
        {"data shorter than chunk_size", chunk(text, 13), "1", {}, false},
        {"digest of other characters", withMd5(Md5Base64("x")), "1", {}, false},
        {"data without md5", withMd5(QJsonValue(QJsonValue::Undefined)), "1", {}, false},
        {"md5 not a string: zero digest", withMd5(5), "1", {}, false},
        {"three bytes", chunk("AAEC", 4), "1",
         {"sVer=1 md5=" + QByteArray::fromBase64(Md5Base64("AAEC").toLatin1()).toHex().toStdString() +
          " total=0 index=0 size=0 chunk=3 name= res=0 type=0 w=0 h=0 l=0 bits=0 ch=0 x=0 y=0 null=0 data=00010200"}, false},
        {"one byte after ==", chunk("/w==", 4), "2", {"sVer=2", "chunk=1", "data=ff00"}, false},
        {"not Base64 but the digest matches", chunk("A*==", 4), "2", {"chunk=0", "null=0 data=00"}, false},
        {"length not a multiple of four", chunk("AAECA", 5), "2", {"chunk=0", "null=0 data=00"}, false},
        {"file_info read with a file type", chunk("AAEC", 4, R"({"file_type":3,"file_info":{"img_width":
          "18446744073709551615","img_height":4096,"img_linesize":-1,"img_bitcount":8,"img_channel_count":4.5,
          "img_xresolution":720.5,"img_yresolution":"x"}})"), "2",
         {"type=3 w=18446744073709551615 h=4096 l=0 bits=8 ch=0 x=720.5 y=0"}, false},
        {"file_info ignored without a file type", chunk("AAEC", 4, R"({"file_info":{"img_width":5,"img_bitcount":8}})"),
         "2", {"type=0 w=0 h=0 l=0 bits=0"}, false},
        {"no data key: no check, null pData", Json(R"({"file_name":"n.prn","file_size":9,"total_chunks":3,
          "chunk_index":2,"chunk_size":77,"md5":"AAAAAAAAAAAAAAAAAAAAAA=="})"), "2.0",
         {"sVer=0" + zeros + " total=3 index=2 size=9 chunk=77 name=n.prn" + rest.substr(6)}, false},
        {"data not a string counts as empty text", chunk("", 0, R"({"data":12})"), "2", {"chunk=0", "null=0"}, false},
        {"body without data", QJsonValue(QJsonValue::Undefined), "7",
         {"sVer=7" + zeros + " total=0 index=0 size=0 chunk=0" + rest}, false},
        {"empty array", QJsonArray(), "7", {"sVer=1" + zeros + " total=0 index=0 size=0 chunk=0" + rest}, true},
        {"two elements: only the first", QJsonArray{chunk("AAEC", 4), QJsonObject()}, "2", {"chunk=3"}, true},
        {"name over 259 bytes is cut at a whole character",
         chunk("AAEC", 4, ("{\"file_name\":\"" + std::string(258, 'a') + "\xC3\xA9\"}").c_str()), "2",
         {"name=" + std::string(258, 'a')}, false},
    };
    for (const auto& r : rows) {
        Clear();
        Deliver(testsupport::Command(0, "file_transfer", r.data, QString::fromLatin1(r.version)));
        ASSERT_EQ(r.has.empty() ? 0u : 1u, seen.size()) << r.what;
        const std::string d = r.has.empty() ? "" : " " + seen[0] + " ";
        for (const std::string& has : r.has)
            EXPECT_NE(std::string::npos, d.find(" " + has + " ")) << r.what << ": " << has << " in" << d;
        EXPECT_EQ(r.warned ? std::vector<std::string>{"Recv json data handle warning,FileTransfer data is arr"}
                           : std::vector<std::string>{},
                  owner.Logs())
            << r.what;
        ASSERT_EQ(1u, Replies().size()) << r.what;
        EXPECT_EQ(r.has.empty() ? R"({"data":{"code":1,"file_path":""},"func":"file_transfer"})"
                                : R"({"data":{"code":7,"file_path":"C:/prn/a.prn"},"func":"file_transfer"})",
                  Text(ReplyBody(Replies()[0]))) << r.what;
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

TEST_F(FileTransferTest, LiftedChunkTextGivesThePlainResultForEveryInput)
{
    InitSession();
    const QByteArray big = RandomBytes(6000, 5).toBase64();  // 8000 characters
    const QByteArray md5 = Md5Base64(big).toLatin1();
    auto msg = [](const QByteArray& data) {
        return "{\"body\":{\"data\":" + data + ",\"func\":\"file_transfer\"},\"header\":{\"msg_id\":\"m-1\","
               "\"msg_type\":0,\"source_id\":\"peer-A\",\"target_id\":\"me\",\"version\":\"1\"}}";
    };
    auto obj = [&](int size, const QByteArray& text, bool withMd5 = true) {
        return "{\"chunk_size\":" + QByteArray::number(size) + ",\"data\":\"" + text + "\"" +
               (withMd5 ? ",\"md5\":\"" + md5 + "\"}" : QByteArray("}"));
    };
    auto with = [&](int at, const char* s) { return QByteArray(big).replace(at, 1, s); };
    const QByteArray chunk = obj(8000, big);
    const struct { const char* what; QByteArray text; bool lifted; } rows[] = {
        {"plain chunk", msg(chunk), true},
        {"chunk in an array of two", msg("[" + chunk + ",{}]"), true},
        {"chunk second in an array", msg("[{}," + chunk + "]"), false},
        {"duplicate data, the text first", msg("{\"chunk_size\":3,\"data\":\"" + big + "\",\"data\":\"abc\"}"), false},
        {"duplicate data, the text last", msg("{\"chunk_size\":8000,\"data\":\"abc\",\"data\":\"" + big + "\",\"md5\":\"" + md5 + "\"}"), true},
        {"spaces around the colon", msg(QByteArray(chunk).replace("\"data\":", "\"data\" : ")), false},
        {"escaped slash in the text", msg(obj(8001, with(100, "\\/"), false)), false},
        {"escaped slash in the last bytes", msg(obj(8002, with(7999, "A\\/"), false)), false},
        {"raw tab in the text", msg(obj(8000, with(100, "\t"), false)), false},
        {"UTF-8 character in the text", msg(obj(8000, with(100, "\xC3\xA9"), false)), false},
        {"invalid UTF-8 in the text", msg(obj(8000, with(100, "\xFF"), false)), false},
        {"wrong chunk size", msg(obj(7999, big)), true},
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
        {"text of the minimum length", msg(obj(4096, big.left(orlin::kLiftMinChars), false)), true},
        {"text one short of the minimum", msg(obj(4095, big.left(orlin::kLiftMinChars - 1), false)), false},
        {"key containing \\\"data", msg("{\"x\\\"data\":\"" + big + "\"}"), false},
    };
    // What the host saw, the logs and the replies without their time (a
    // request without msg_id gets a fresh one).
    auto run = [&](const QByteArray& text, bool lift) {
        Sink().SetLiftFileChunks(lift);
        Clear();
        Deliver(text.toStdString());
        std::vector<std::string> out = seen;
        for (const std::string& l : owner.Logs())
            out.push_back(l);
        for (const std::string& r : Replies())
            out.push_back(testsupport::MaskFresh(r));
        return out;
    };
    for (const auto& r : rows) {
        int result = -1;
        Sink().SetLiftFileChunks(true);
        EXPECT_EQ(r.lifted, Sink().RecvFileChunk(r.text.constData(), r.text.size(), result)) << r.what;
        EXPECT_EQ(run(r.text, false), run(r.text, true)) << r.what;
    }
    Sink().SetLiftFileChunks(true);
}
