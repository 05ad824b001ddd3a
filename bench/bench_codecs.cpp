// CRC-32 and Base64 of the wire format, side by side with the byte-wise CRC
// table and Qt's toBase64/fromBase64 on the same data.
#include "Crc32Reference.h"
#include "wire/Base64.h"
#include "wire/Crc32.h"

#include <QByteArray>

#include <benchmark/benchmark.h>

#include <map>
#include <random>
#include <vector>

namespace {

const QByteArray& Data(size_t n)
{
    static std::map<size_t, QByteArray> cache;
    QByteArray& d = cache[n];
    if (d.isEmpty()) {
        d.resize(static_cast<int>(n));
        std::mt19937 rng(1);
        for (char& c : d)
            c = static_cast<char>(rng());
    }
    return d;
}

// The library's CRC-32 (zlib's crc32).
void Crc32Orlin(benchmark::State& state)
{
    const QByteArray& d = Data(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(orlin::Crc32(d.constData(), static_cast<unsigned int>(d.size())));
    state.SetBytesProcessed(state.iterations() * d.size());
}

void Crc32BytewiseTable(benchmark::State& state)
{
    const QByteArray& d = Data(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(Crc32Bytewise(d.constData(), static_cast<unsigned int>(d.size())));
    state.SetBytesProcessed(state.iterations() * d.size());
}

BENCHMARK(Crc32Orlin)->Arg(4096)->Arg(1 << 20);
BENCHMARK(Crc32BytewiseTable)->Arg(4096)->Arg(1 << 20);

void Base64EncodeOrlin(benchmark::State& state)
{
    const QByteArray& d = Data(state.range(0));
    std::vector<char> out((d.size() + 2) / 3 * 4);
    for (auto _ : state)
        benchmark::DoNotOptimize(orlin::Base64Encode(reinterpret_cast<const unsigned char*>(d.constData()), d.size(),
                                                     out.data(), static_cast<int>(out.size())));
    state.SetBytesProcessed(state.iterations() * d.size());
}

void Base64EncodeQt(benchmark::State& state)
{
    const QByteArray& d = Data(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(d.toBase64());
    state.SetBytesProcessed(state.iterations() * d.size());
}

// Decoding speed is reported per decoded byte, like encoding.
void Base64DecodeOrlin(benchmark::State& state)
{
    const QByteArray& d = Data(state.range(0));
    const QByteArray text = d.toBase64();
    std::vector<unsigned char> out(text.size() / 4 * 3);
    for (auto _ : state)
        benchmark::DoNotOptimize(orlin::Base64Decode(text.constData(), text.size(), out.data()));
    state.SetBytesProcessed(state.iterations() * d.size());
}

void Base64DecodeQt(benchmark::State& state)
{
    const QByteArray& d = Data(state.range(0));
    const QByteArray text = d.toBase64();
    for (auto _ : state)
        benchmark::DoNotOptimize(QByteArray::fromBase64(text));
    state.SetBytesProcessed(state.iterations() * d.size());
}

void Base64DecodeQtStrict(benchmark::State& state)
{
    const QByteArray& d = Data(state.range(0));
    const QByteArray text = d.toBase64();
    for (auto _ : state)
        benchmark::DoNotOptimize(QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors));
    state.SetBytesProcessed(state.iterations() * d.size());
}

BENCHMARK(Base64EncodeOrlin)->Arg(4096)->Arg(6291456);
BENCHMARK(Base64EncodeQt)->Arg(4096)->Arg(6291456);
BENCHMARK(Base64DecodeOrlin)->Arg(4096)->Arg(6291456);
BENCHMARK(Base64DecodeQt)->Arg(4096)->Arg(6291456);
BENCHMARK(Base64DecodeQtStrict)->Arg(4096)->Arg(6291456);

} // namespace

BENCHMARK_MAIN();
