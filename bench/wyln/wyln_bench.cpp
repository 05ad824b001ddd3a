// Round-trip latency and 8 MiB throughput through the wyln plug-in, next to
// a bare libmosquitto publisher/subscriber pair on the same private broker.
#include "MosquittoFixture.h"
#include "WylnTestSupport.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <memory>

using namespace wyln_test;

namespace {

TestBroker* g_broker = nullptr;
IWylnCreator* g_creator = nullptr;

// Counts arrivals; the measuring thread waits for the next one.
class Arrivals
{
public:
    void arrived()
    {
        std::lock_guard<std::mutex> lk(mu_);
        ++count_;
        cv_.notify_one();
    }
    bool waitFor(long target)
    {
        std::unique_lock<std::mutex> lk(mu_);
        return cv_.wait_for(lk, std::chrono::seconds(10), [&] { return count_ >= target; });
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    long count_ = 0;
};

class CountingSink : public WYLN::IWylnOwner
{
public:
    std::function<void(const char*, int, const char*)> hook;
    Arrivals arrivals;
    void OnRecv(const char* pData, int nLen, const char* szPeerId, const char*) override
    {
        if (hook)
            hook(pData, nLen, szPeerId);
        arrivals.arrived();
    }
};

struct PluginPeer
{
    CountingSink sink;
    IWylnClient* client = nullptr;
    char id[WYLN_ID_BUFFER] = {};
    explicit PluginPeer(const char* name)
    {
        client = g_creator->CreateClient(0);
        std::snprintf(id, sizeof(id), "%s", name);
        if (client->Connect(testBrokerHost(), g_broker->port()) != 0 || client->Login(id, &sink, 0) != 0)
            std::fprintf(stderr, "login of %s failed\n", name);
    }
    ~PluginPeer() { g_creator->DestroyClient(client); }
};

void BM_RoundTrip_Plugin(benchmark::State& state)
{
    PluginPeer echo("bench-echo");
    PluginPeer caller("bench-caller");
    IWylnClient* echoClient = echo.client;
    echo.sink.hook = [echoClient](const char* d, int n, const char* peer) { echoClient->SendTo(peer, d, n, 1000); };
    const std::string payload(static_cast<size_t>(state.range(0)), 'p');
    long n = 0;
    for (auto _ : state) {
        if (caller.client->SendTo("bench-echo", payload.data(), static_cast<int>(payload.size()), 5000) != 0
            || !caller.sink.arrivals.waitFor(++n)) {
            state.SkipWithError("round trip failed");
            break;
        }
    }
}

void BM_RoundTrip_Bare(benchmark::State& state)
{
    RawClient echo("bare-echo");
    RawClient caller("bare-caller");
    Arrivals replies;
    mosquitto* echoHandle = echo.handle();
    echo.hook = [echoHandle](const mosquitto_message* m) {
        mosquitto_publish_v5(echoHandle, nullptr, "bare/reply", m->payloadlen, m->payload, 1, false, nullptr);
    };
    caller.hook = [&replies](const mosquitto_message*) { replies.arrived(); };
    if (!echo.connect(g_broker->port()) || !caller.connect(g_broker->port()) || !echo.subscribe("bare/echo")
        || !caller.subscribe("bare/reply")) {
        state.SkipWithError("bare setup failed");
        return;
    }
    const std::string payload(static_cast<size_t>(state.range(0)), 'p');
    long n = 0;
    for (auto _ : state) {
        if (mosquitto_publish_v5(caller.handle(), nullptr, "bare/echo", static_cast<int>(payload.size()),
                                 payload.data(), 1, false, nullptr)
                != MOSQ_ERR_SUCCESS
            || !replies.waitFor(++n)) {
            state.SkipWithError("round trip failed");
            break;
        }
    }
}

const size_t kBulk = 8 * 1024 * 1024;

void BM_Throughput8MiB_Plugin(benchmark::State& state)
{
    PluginPeer receiver("bulk-receiver");
    PluginPeer sender("bulk-sender");
    const std::string payload(kBulk, 'b');
    long n = 0;
    for (auto _ : state) {
        if (sender.client->SendTo("bulk-receiver", payload.data(), static_cast<int>(payload.size()), 10000) != 0
            || !receiver.sink.arrivals.waitFor(++n)) {
            state.SkipWithError("transfer failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBulk));
}

void BM_Throughput8MiB_Bare(benchmark::State& state)
{
    RawClient receiver("bare-receiver");
    RawClient sender("bare-sender");
    Arrivals arrivals;
    receiver.hook = [&arrivals](const mosquitto_message*) { arrivals.arrived(); };
    if (!receiver.connect(g_broker->port()) || !sender.connect(g_broker->port()) || !receiver.subscribe("bare/bulk")) {
        state.SkipWithError("bare setup failed");
        return;
    }
    const std::string payload(kBulk, 'b');
    long n = 0;
    for (auto _ : state) {
        if (mosquitto_publish_v5(sender.handle(), nullptr, "bare/bulk", static_cast<int>(payload.size()),
                                 payload.data(), 1, false, nullptr)
                != MOSQ_ERR_SUCCESS
            || !arrivals.waitFor(++n)) {
            state.SkipWithError("transfer failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBulk));
}

BENCHMARK(BM_RoundTrip_Bare)->Arg(64)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RoundTrip_Plugin)->Arg(64)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Throughput8MiB_Bare)->MinTime(1.0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Throughput8MiB_Plugin)->MinTime(1.0)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    CleanWylnEnv env;
    TestBroker broker;  // max_packet_size 16 MiB
    if (!broker.start()) {
        std::fprintf(stderr, "%s\n", broker.lastError().c_str());
        return 1;
    }
    g_broker = &broker;
    Plugin plugin;
    g_creator = plugin.creator;

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
