// File transfer, both directions, in file bytes per second, side by side on
// the same 48 MiB file (8 chunks):
//   Md5Bound   OpenSSL's MD5 over the file's whole Base64 text: no sender or
//              receiver can beat it, since each hashes every character;
//   SendOurs   SendPrintPrnFile into a transport that only counts bytes;
//   SendQt     QByteArray::toBase64, QCryptographicHash and
//              QJsonDocument::toJson per chunk;
//   RecvOurs   CWylnOwner::OnRecv of the chunk messages up to OnFileTransfer;
//   RecvQt     QJsonDocument::fromJson, QCryptographicHash and
//              QByteArray::fromBase64 per chunk message.
// The ratios are printed at the end.
//
// "bench_file_transfer --memory" instead sends a 1 GiB file once and prints
// how much the peak resident memory grew over the host's own buffer.
#include "CountingClient.h"
#include "NullOwner.h"
#include "messages/FileTransfer.h"
#include "session/Orlin.h"
#include "transport/WylnOwner.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include "RateReporter.h"

#include <benchmark/benchmark.h>
#ifdef ORLIN_HAVE_OPENSSL
#  include <openssl/evp.h>
#endif

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

// The session's private members, for wiring a counting transport without
// loading a plug-in. Only this program defines the class.
class OrlinTestAccess
{
public:
    static void Wire(Orlin& o, IOrlinOwner* pOwner, IWylnClient* pClient)
    {
        o.m_pOwner = pOwner;
        o.m_pWylnClient = pClient;
        o.m_bReady = true;
        o.m_oWylnOwner.Attach(pOwner, pClient, &o.m_stLinkContext);
    }
    static void Unwire(Orlin& o)
    {
        o.m_pWylnClient = nullptr;
        o.m_bReady = false;
    }
};

namespace {

constexpr int kFileBytes = 8 * orlin::kChunkFileBytes;

// A host that takes every chunk and only counts its bytes.
class ChunkOwner : public NullOwner
{
public:
    long long llBytes = 0;
    void OnFileTransfer(__SCLOUD_FILE_TRANSFER* p, __SCLOUD_FILE_TRANSFER_RESULT* r) override
    {
        llBytes += p->iChunkSize;
        r->iCode = 0;
    }
};

void Quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

// The host's structure with the file inline.
std::vector<char> MakeSendPrn(int nBytes)
{
    std::vector<char> mem(offsetof(__SCLOUD_SEND_PRN, szFileData) + static_cast<size_t>(nBytes) + 4);
    __SCLOUD_SEND_PRN* p = reinterpret_cast<__SCLOUD_SEND_PRN*>(mem.data());
    p->sVer = 1;
    strcpy(p->szFileName, "bench.prn");
    p->iFileLen = nBytes;
    unsigned long long x = 88172645463325252ull;
    char* d = mem.data() + offsetof(__SCLOUD_SEND_PRN, szFileData);
    for (int i = 0; i < nBytes; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        memcpy(d + i, &x, static_cast<size_t>(std::min(8, nBytes - i)));
    }
    return mem;
}

struct Fixture
{
    std::vector<char> prn = MakeSendPrn(kFileBytes);
    QByteArray file;
    QByteArray text;                    // the whole Base64 text
    std::vector<std::string> messages;  // the chunk messages our sender makes

    Fixture()
    {
        file = QByteArray::fromRawData(prn.data() + offsetof(__SCLOUD_SEND_PRN, szFileData), kFileBytes);
        text = file.toBase64();
        Orlin session;
        ChunkOwner owner;
        CountingClient client;
        client.pKeep = &messages;
        OrlinTestAccess::Wire(session, &owner, &client);
        session.SendPrintPrnFile("peer", reinterpret_cast<__SCLOUD_SEND_PRN*>(prn.data()), 3000);
        OrlinTestAccess::Unwire(session);
    }
};

Fixture& F()
{
    static Fixture f;
    return f;
}

void Md5Bound(benchmark::State& state)
{
    const QByteArray& text = F().text;
    for (auto _ : state) {
        unsigned char digest[16];
#ifdef ORLIN_HAVE_OPENSSL
        unsigned int n = 0;
        EVP_Digest(text.constData(), static_cast<size_t>(text.size()), digest, &n, EVP_md5(), nullptr);
#else
        orlin::Md5Digest(text.constData(), static_cast<size_t>(text.size()), digest);
#endif
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(state.iterations() * kFileBytes);
}
BENCHMARK(Md5Bound)->Unit(benchmark::kMillisecond);

void SendOurs(benchmark::State& state)
{
    Fixture& f = F();
    Orlin session;
    ChunkOwner owner;
    CountingClient client;
    OrlinTestAccess::Wire(session, &owner, &client);
    for (auto _ : state)
        benchmark::DoNotOptimize(session.SendPrintPrnFile("peer", reinterpret_cast<__SCLOUD_SEND_PRN*>(f.prn.data()), 3000));
    OrlinTestAccess::Unwire(session);
    state.SetBytesProcessed(state.iterations() * kFileBytes);
    state.counters["wire_bytes"] = static_cast<double>(client.llBytes) / static_cast<double>(state.iterations());
}
BENCHMARK(SendOurs)->Unit(benchmark::kMillisecond);

void SendQt(benchmark::State& state)
{
    const QByteArray& file = F().file;
    long long llBytes = 0;
    for (auto _ : state) {
        const QByteArray text = file.toBase64();
        const int total = (text.size() + orlin::kChunkChars - 1) / orlin::kChunkChars;
        for (int i = 0; i < total; ++i) {
            const QByteArray chunk = text.mid(i * orlin::kChunkChars, orlin::kChunkChars);
            const QByteArray md5 = QCryptographicHash::hash(chunk, QCryptographicHash::Md5).toBase64();
            QJsonObject data;
            data.insert("file_name", "bench.prn");
            data.insert("file_size", file.size());
            data.insert("chunk_size", chunk.size());
            data.insert("md5", QString::fromLatin1(md5));
            data.insert("total_chunks", total);
            data.insert("data", QString::fromLatin1(chunk));
            QJsonObject body;
            body.insert("func", "file_transfer");
            body.insert("data", data);
            QJsonObject header;
            header.insert("version", "1.0");
            header.insert("msg_type", 0);
            header.insert("msg_id", QUuid::createUuid().toString(QUuid::WithoutBraces));
            header.insert("source_id", "me");
            header.insert("target_id", "peer");
            header.insert("timestamp", 1700000000);
            QJsonObject msg;
            msg.insert("header", header);
            msg.insert("body", body);
            llBytes += QJsonDocument(msg).toJson(QJsonDocument::Compact).size();
        }
    }
    state.SetBytesProcessed(state.iterations() * kFileBytes);
    state.counters["wire_bytes"] = static_cast<double>(llBytes) / static_cast<double>(state.iterations());
}
BENCHMARK(SendQt)->Unit(benchmark::kMillisecond);

void RecvOurs(benchmark::State& state)
{
    Fixture& f = F();
    ChunkOwner owner;
    CountingClient client;
    CWylnOwner sink;
    sink.Attach(&owner, &client, nullptr);
    for (auto _ : state)
        for (const std::string& m : f.messages)
            sink.OnRecv(m.data(), static_cast<int>(m.size()), "peer", nullptr);
    if (owner.llBytes != static_cast<long long>(state.iterations()) * kFileBytes)
        state.SkipWithError("chunks were refused");
    state.SetBytesProcessed(state.iterations() * kFileBytes);
}
BENCHMARK(RecvOurs)->Unit(benchmark::kMillisecond);

void RecvQt(benchmark::State& state)
{
    Fixture& f = F();
    long long llBytes = 0;
    for (auto _ : state) {
        for (const std::string& m : f.messages) {
            const QJsonDocument doc =
                QJsonDocument::fromJson(QByteArray::fromRawData(m.data(), static_cast<int>(m.size())));
            const QJsonObject data = doc.object().value("body").toObject().value("data").toObject();
            const QByteArray text = data.value("data").toString().toLatin1();
            const QByteArray md5 = QByteArray::fromBase64(data.value("md5").toString().toLatin1());
            if (text.size() == data.value("chunk_size").toInt() &&
                QCryptographicHash::hash(text, QCryptographicHash::Md5) == md5)
                llBytes += QByteArray::fromBase64(text).size();
        }
    }
    if (llBytes != static_cast<long long>(state.iterations()) * kFileBytes)
        state.SkipWithError("chunks were refused");
    state.SetBytesProcessed(state.iterations() * kFileBytes);
}
BENCHMARK(RecvQt)->Unit(benchmark::kMillisecond);

long long PeakKiB()
{
    FILE* f = fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long long kib = -1;
    while (fgets(line, sizeof(line), f))
        if (strncmp(line, "VmHWM:", 6) == 0)
            kib = atoll(line + 6);
    fclose(f);
    return kib;
}

int MemoryMode()
{
    const int nBytes = 1 << 30;
    std::vector<char> prn = MakeSendPrn(nBytes);  // the host's buffer, touched
    Orlin session;
    ChunkOwner owner;
    CountingClient client;
    OrlinTestAccess::Wire(session, &owner, &client);
    const long long before = PeakKiB();
    const int ret = session.SendPrintPrnFile("peer", reinterpret_cast<__SCLOUD_SEND_PRN*>(prn.data()), 3000);
    const long long after = PeakKiB();
    OrlinTestAccess::Unwire(session);
    std::printf("1 GiB file: result %d, %lld bytes sent; peak resident %lld MiB before, %lld MiB after: +%.1f MiB\n",
                ret, client.llBytes, before / 1024, after / 1024, static_cast<double>(after - before) / 1024.0);
    return ret == 0 && after - before <= 64 * 1024 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    qInstallMessageHandler(&Quiet);  // the sender's debug lines
    if (argc > 1 && strcmp(argv[1], "--memory") == 0)
        return MemoryMode();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RateReporter reporter("bytes_per_second");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double bound = reporter.rates["Md5Bound"];
    const double mib = 1024.0 * 1024.0;
    auto line = [&](const char* what, const char* ours, const char* qt, double needBound, double needQt) {
        const double o = reporter.rates[ours];
        const double q = reporter.rates[qt];
        if (o <= 0 || q <= 0 || bound <= 0)
            return;
        std::printf("%s: %.0f MiB/s; MD5 bound %.0f MiB/s (x%.2f, target %.2f); plain Qt %.0f MiB/s (x%.2f, target %.0f)\n",
                    what, o / mib, bound / mib, o / bound, needBound, q / mib, o / q, needQt);
    };
    line("Sending", "SendOurs", "SendQt", 0.75, 3);
    line("Receiving", "RecvOurs", "RecvQt", 0.6, 3);
    return 0;
}
