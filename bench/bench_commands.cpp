// Small device commands through the whole receive path: CWylnOwner::OnRecv
// parses, routes, asks a host that answers at once, builds the reply and hands
// it to a transport that only counts bytes. The baseline parses the same
// messages with QJsonDocument and writes them back as compact text, the least
// any JSON round trip costs. The ratio of the two is printed at the end.
#include "CountingClient.h"
#include "NullOwner.h"
#include "transport/WylnOwner.h"

#include <QByteArray>
#include <QJsonDocument>

#include "RateReporter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

template <size_t N>
void Put(char (&field)[N], const char* text)
{
    memcpy(field, text, std::min(strlen(text), N - 1));
}

// A host that answers every command at once from fixed data and records
// nothing; its arrays are static, so giving them back is a no-op.
class QuietOwner : public NullOwner
{
public:
    QuietOwner()
    {
        Put(m_schemes[0].szPrintSchemeName, "Standard 720x600");
        m_schemes[0].iPrintSchemeId = 1;
        Put(m_schemes[1].szPrintSchemeName, "Fine 1440x1200");
        m_schemes[1].iPrintSchemeId = 2;
        m_canvases[0] = {600.0f, 900.0f};
        m_canvases[1] = {1200.5f, 1800.25f};
        for (int i = 0; i < 2; ++i) {
            m_cards[i].iIndex = i;
            Put(m_cards[i].szCardType, "HB");
            Put(m_cards[i].szLogicType, "L2");
            Put(m_cards[i].szHardwareType, "HW-3");
            Put(m_cards[i].szLogicVer, "2.1.0");
            Put(m_cards[i].szMcnVer, "1.0.7");
        }
        m_tasks[0] = {{}, 1.25f, 2.5f, 0.1f, 0.2f, 0.3f, 0.4f};
        Put(m_tasks[0].szTaskName, "banner-01.prn");
    }

    void OnLoadParam(__SCLOUD_LOAD_PARAM*, __SCLOUD_LOAD_PARAM_RESULT* p) override
    {
        p->iSchemeCount = 2;
        p->pSchemes = m_schemes;
        p->iCanvasCount = 2;
        p->pCanvases = m_canvases;
    }
    void OnStatistics(__SCLOUD_STATISTICS*, __SCLOUD_STATISTICS_RESULT* p) override
    {
        p->fTotalInk = 1.0f;
        p->fTotalArea = 1.25f;
        p->fTotalLen = 2.5f;
        p->iTaskCount = 1;
        p->pTaskInfo = m_tasks;
    }
    void OnLoadDeviceInfo(__SCLOUD_LOAD_DEVICE_INFO*, __SCLOUD_LOAD_DEVICE_INFO_RESULT* p) override
    {
        Put(p->szMbSnId, "MB-2024-000123");
        Put(p->szMbSerial, "S123");
        Put(p->szMbLogicVer, "3.2.1");
        Put(p->szMbProgramVer, "4.0.2");
        Put(p->szConfigureVer, "1.1");
        Put(p->szParamterVer, "7");
        Put(p->szSoftVer, "5.6.0");
        Put(p->szDevManagerVer, "2.0.0");
        Put(p->szDataProcessVer, "2.3.4");
        p->iHbCount = 2;
        p->pHbInfo = m_cards;
    }
    void OnUpgrade(__SCLOUD_UPGRADE*, __SCLOUD_CMD_RESULT* p) override { Put(p->szMsg, "upgrade started"); }
    void OnCheckBeforePrint(__SCLOUD_CHECK_BEFORE_PRINT*, __SCLOUD_CMD_RESULT* p) override { Put(p->szMsg, "ok"); }
    void OnConfigWifiInfo(__SCLOUD_CONFIG_WIFI_INFO*, __SCLOUD_CMD_RESULT* p) override { Put(p->szMsg, "ok"); }

private:
    __SCLOUD_PRINT_SCHEME m_schemes[2] = {};
    __SCLOUD_CANVAS m_canvases[2] = {};
    __SCLOUD_CARD_INFO m_cards[2] = {};
    __SCLOUD_TASK_STATISTICS m_tasks[1] = {};
};

std::string Message(const char* func, const char* data)
{
    return std::string("{\"body\":{\"data\":") + data + ",\"func\":\"" + func +
           "\"},\"header\":{\"msg_id\":\"3f2c8a4e-9b1d-4c7a-8e2f-5d6b7a8c9d0e\",\"msg_type\":0,"
           "\"source_id\":\"svc-7f3a2b\",\"target_id\":\"printer-0042\",\"timestamp\":1733443200,\"version\":\"1\"}}";
}

// Every device command that answers, in the shapes peers send.
const std::vector<std::string>& Corpus()
{
    static const std::vector<std::string> corpus = {
        Message("load_param", "{\"param_type\":0}"),
        Message("load_device_info", "{\"info_type\":1}"),
        Message("check_before_print", "{\"canvas_h\":900.5,\"canvas_w\":600,\"print_scheme_id\":2}"),
        Message("config_wifi_info", "{\"ip_in_wifi\":\"192.168.1.40\",\"name\":\"shop-floor\",\"password\":\"hunter2!\"}"),
        Message("statistics", "{\"day\":17,\"month\":3,\"year\":2025}"),
        Message("upgrade", "{\"file_path\":\"D:/firmware/mb_4.0.3.bin\",\"type\":1}"),
    };
    return corpus;
}

void OnRecvSmallCommands(benchmark::State& state)
{
    const std::vector<std::string>& corpus = Corpus();
    QuietOwner owner;
    CountingClient client;
    CWylnOwner sink;
    sink.Attach(&owner, &client, nullptr);
    char szPeer[260] = "svc-7f3a2b";
    long long llIn = 0;
    for (auto _ : state) {
        for (const std::string& m : corpus) {
            sink.OnRecv(m.data(), static_cast<int>(m.size()), szPeer, nullptr);
            llIn += static_cast<long long>(m.size());
        }
    }
    if (client.llSendTos != state.iterations() * static_cast<long long>(corpus.size()))
        state.SkipWithError("a command was not answered");
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(corpus.size()));
    state.SetBytesProcessed(llIn + client.llBytes);
    state.counters["reply_bytes"] =
        benchmark::Counter(static_cast<double>(client.llBytes) / static_cast<double>(client.llSendTos));
}

void QJsonParseAndCompactBaseline(benchmark::State& state)
{
    const std::vector<std::string>& corpus = Corpus();
    long long llOut = 0;
    long long llIn = 0;
    for (auto _ : state) {
        for (const std::string& m : corpus) {
            const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromRawData(m.data(), static_cast<int>(m.size())));
            const QByteArray text = doc.toJson(QJsonDocument::Compact);
            llOut += text.size();
            llIn += static_cast<long long>(m.size());
        }
    }
    benchmark::DoNotOptimize(llOut);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(corpus.size()));
    state.SetBytesProcessed(llIn + llOut);
}

BENCHMARK(OnRecvSmallCommands);

BENCHMARK(QJsonParseAndCompactBaseline);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RateReporter reporter("items_per_second");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double ours = reporter.rates["OnRecvSmallCommands"];
    const double base = reporter.rates["QJsonParseAndCompactBaseline"];
    if (ours > 0 && base > 0)
        std::printf("OnRecv: %.0f msg/s; baseline: %.0f msg/s; ratio %.2f\n", ours, base, ours / base);
    return 0;
}
