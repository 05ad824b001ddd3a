// Round-trip latency and 8 MiB throughput through the wyln plug-in, next to
// a bare libmosquitto publisher/subscriber pair on the same private broker.
// --broker=ejabberd|cluster|bridge measures the plug-in on one ejabberd node,
// across a two-node ejabberd cluster or across a mosquitto bridge pair
// instead (shipped configurations; across two nodes the sending peer is on
// the first node, the receiving one on the second).
#include "MosquittoFixture.h"
#include "RawClient.h"
#include "WylnTestSupport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

using namespace wyln_test;

namespace {

TestBroker* g_broker = nullptr;
size_t g_nodes = 1;
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
    // node: 0 for the peer that sends first, 1 for the one that answers.
    PluginPeer(const char* name, size_t node)
    {
        client = g_creator->CreateClient(0);
        std::snprintf(id, sizeof(id), "%s", name);
        if (client->Connect(testBrokerHost(), g_broker->port(node * (g_nodes - 1))) != 0
            || client->Login(id, &sink, 0) != 0)
            std::fprintf(stderr, "login of %s failed\n", name);
    }
    ~PluginPeer() { g_creator->DestroyClient(client); }
};

void BM_RoundTrip_Plugin(benchmark::State& state)
{
    PluginPeer echo("bench-echo", 1);
    PluginPeer caller("bench-caller", 0);
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
    PluginPeer receiver("bulk-receiver", 1);
    PluginPeer sender("bulk-sender", 0);
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

void registerBenchmarks(bool bare)
{
    if (bare)
        benchmark::RegisterBenchmark("BM_RoundTrip_Bare", BM_RoundTrip_Bare)->Arg(64)->UseRealTime()->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_RoundTrip_Plugin", BM_RoundTrip_Plugin)->Arg(64)->UseRealTime()->Unit(benchmark::kMicrosecond);
    if (bare)
        benchmark::RegisterBenchmark("BM_Throughput8MiB_Bare", BM_Throughput8MiB_Bare)->MinTime(1.0)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_Throughput8MiB_Plugin", BM_Throughput8MiB_Plugin)->MinTime(1.0)->UseRealTime()->Unit(benchmark::kMillisecond);
}

// The broker of --broker=<name>; the bare clients only run on mosquitto's
// minimal configuration (the shipped rules refuse their topics).
bool brokerOptions(const std::string& name, BrokerOptions& o)
{
    const std::optional<BrokerKind> kind = tools::brokerKindNamed(QString::fromStdString(name));
    if (!kind)
        return false;
    o.kind = *kind;
    if (o.kind != BrokerKind::Mosquitto) {
        o.shippedConfDir = WYLN_SHIPPED_CONF_DIR;
        for (const char* user : {"bench-echo", "bench-caller", "bulk-receiver", "bulk-sender"})
            o.users.emplace_back(user, "bench-pw");
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    CleanWylnEnv env;
    std::string kind = "mosquitto";
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--broker=", 9) == 0) {
            kind = argv[i] + 9;
            std::copy(argv + i + 1, argv + argc, argv + i);
            --argc;
            break;
        }
    BrokerOptions options;
    if (!brokerOptions(kind, options)) {
        std::fprintf(stderr, "--broker: mosquitto, ejabberd, cluster or bridge\n");
        return 2;
    }
    // Peers log in as their identifiers with the shipped configurations;
    // ejabberd does not announce its packet limit (16 MiB as mosquitto's).
    ScopedEnv password("WYLN_PASSWORD", options.users.empty() ? nullptr : "bench-pw");
    ScopedEnv maxPacket("WYLN_MAX_PACKET_SIZE", "16777216");
    TestBroker broker(options);  // max_packet_size 16 MiB
    if (!broker.start()) {
        std::fprintf(stderr, "%s\n", broker.lastError().c_str());
        return 1;
    }
    g_broker = &broker;
    g_nodes = options.kind == BrokerKind::EjabberdCluster || options.kind == BrokerKind::MosquittoBridge ? 2 : 1;
    registerBenchmarks(options.kind == BrokerKind::Mosquitto);
    Plugin plugin;
    g_creator = plugin.creator;

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
