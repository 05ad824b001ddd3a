// orlin_fleet under a fleet: a private broker, orlin_fleet, and N simulated
// printers in one orlin_printer process (--count), each printing a long job
// so that it reports at every print step. Measured over a window: reports
// and heartbeats in per second, events out per second on one event stream,
// the time from a report to its event on the stream, the time to fetch the
// whole fleet, and orlin_fleet's CPU and resident memory.
//
//   fleet_bench [--printers 100] [--step-ms 1000] [--seconds 20]
#include "FleetTestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace fleet_test;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// CPU seconds (user + system) and resident kB of a process.
bool usage(qint64 pid, double& cpuS, long& rssKb)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!stat.open(QIODevice::ReadOnly) || !status.open(QIODevice::ReadOnly))
        return false;
    const QString s = QString::fromLatin1(stat.readAll());
    const QStringList f = s.mid(s.lastIndexOf(')') + 2).split(' ');
    cpuS = (f.value(11).toDouble() + f.value(12).toDouble()) / static_cast<double>(sysconf(_SC_CLK_TCK));
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            rssKb = line.mid(6).trimmed().split(' ').value(0).toLong();
    return true;
}

QJsonObject counters(httplib::Client& c)
{
    return getJson(c, "/api/fleet").value("counters").toObject();
}

double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int printers = 100, stepMs = 1000, seconds = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        const int v = std::atoi(argv[i + 1]);
        if (k == "--printers")
            printers = v;
        else if (k == "--step-ms")
            stepMs = v;
        else if (k == "--seconds")
            seconds = v;
    }
    if (printers < 1 || stepMs < 10 || seconds < 1) {
        std::fprintf(stderr, "usage: fleet_bench [--printers N] [--step-ms MS] [--seconds S]\n");
        return 2;
    }
    QTemporaryDir work;
    auto broker = openBroker();
    if (!work.isValid() || !broker->start()) {
        std::fprintf(stderr, "no broker: %s\n", qPrintable(broker->errorText()));
        return 1;
    }
    FleetProcess fleet;
    const int port = fleet.start(*broker);
    if (!port) {
        std::fprintf(stderr, "orlin_fleet did not start: %s\n", fleet.errors().constData());
        return 1;
    }
    httplib::Client http("127.0.0.1", port);

    const QString job = work.path() + "/job.prn";
    QFile f(job);
    if (!f.open(QIODevice::WriteOnly) || f.write(QByteArray(4096, 'x')) != 4096)
        return 1;
    f.close();
    QProcess sim;
    sim.setProcessChannelMode(QProcess::MergedChannels);
    sim.setStandardOutputFile(work.path() + "/printers.out");
    sim.start(QString(ORLIN_TOOLS_DIR) + "/orlin_printer",
              {"--host", broker->host(), "--port", QString::number(broker->port()), "--id", "bench", "--count",
               QString::number(printers), "--files-dir", work.path() + "/files", "--log", work.path() + "/printer.log",
               "--step-ms", QString::number(stepMs)});
    const auto t0 = Clock::now();
    if (!waitUntil([&] { return getJson(http, "/api/fleet").value("printers").toArray().size() >= printers; }, 60000)) {
        std::fprintf(stderr, "the printers did not all report within 60 s\n");
        return 1;
    }
    std::printf("%d printers up in %.1f s\n", printers, msSince(t0) / 1000);

    // A long job on every printer: one report per print step.
    FakePrinter client;
    if (!client.start(*broker, "bench-client"))
        return 1;
    for (int i = 1; i <= printers; ++i) {
        tools::Inbound reply;
        const QString id = QString("bench-%1").arg(i, 3, 10, QLatin1Char('0'));
        if (!client.peer.request(id, "print",
                                 QJsonObject{{"task_id", 5000 + i}, {"type", 1}, {"file_path", job}, {"print_scheme_id", 1},
                                             {"print_count", 100000}, {"workstation_w", 600}, {"workstation_h", 400}},
                                 10000, reply)) {
            std::fprintf(stderr, "%s did not answer the print command\n", qPrintable(id));
            return 1;
        }
    }

    // One event stream, as a page holds it; a probe printer's reports carry
    // a counter in task_id so that each can be found on the stream.
    std::mutex m;
    std::map<int, Clock::time_point> sentAt;
    std::vector<double> latencies;
    std::atomic<long> events{0};
    std::atomic<bool> running{true};
    std::thread reader([&] {
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(30, 0);
        std::string buf;
        c.Get("/api/events", [&](const char* data, size_t n) {
            buf.append(data, n);
            size_t end;
            while ((end = buf.find("\n\n")) != std::string::npos) {
                const std::string ev = buf.substr(0, end);
                buf.erase(0, end + 2);
                if (ev.find("\nevent: ") == std::string::npos)
                    continue;
                ++events;
                const size_t at = ev.find("\"id\":\"probe\"");
                if (at == std::string::npos)
                    continue;
                const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(ev.substr(ev.find("data: ") + 6))).object();
                std::lock_guard<std::mutex> lock(m);
                auto it = sentAt.find(o.value("task_id").toInt());
                if (it != sentAt.end()) {
                    latencies.push_back(msSince(it->second));
                    sentAt.erase(it);
                }
            }
            return running.load();
        });
    });
    FakePrinter probe;
    if (!probe.start(*broker, "probe"))
        return 1;

    std::this_thread::sleep_for(std::chrono::seconds(3));  // every printer is printing
    double cpu0 = 0, cpu1 = 0;
    long rss = 0, rssMax = 0;
    usage(fleet.pid(), cpu0, rss);
    const QJsonObject c0 = counters(http);
    const long e0 = events;
    const auto w0 = Clock::now();
    int k = 0;
    while (msSince(w0) < seconds * 1000.0) {
        {
            std::lock_guard<std::mutex> lock(m);
            sentAt[++k] = Clock::now();
        }
        probe.report(printing(k, k % 100));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        double cpu;
        if (usage(fleet.pid(), cpu, rss))
            rssMax = std::max(rssMax, rss);
    }
    const double wall = msSince(w0) / 1000;
    usage(fleet.pid(), cpu1, rss);
    const QJsonObject c1 = counters(http);
    const long e1 = events;
    std::vector<double> fetch;
    qint64 fleetBytes = 0;
    for (int i = 0; i < 10; ++i) {
        const auto t = Clock::now();
        auto r = http.Get("/api/fleet");
        fetch.push_back(msSince(t));
        fleetBytes = r ? static_cast<qint64>(r->body.size()) : 0;
    }
    running = false;
    probe.report(printing(0, 0));  // wakes the stream so the reader sees the stop
    reader.join();
    sim.terminate();
    sim.waitForFinished(10000);

    auto rate = [&](const char* key) { return (c1.value(key).toDouble() - c0.value(key).toDouble()) / wall; };
    std::lock_guard<std::mutex> lock(m);
    std::printf("window %.1f s, %d printers, a print step every %d ms\n", wall, printers, stepMs);
    std::printf("  reports in          %8.1f /s\n", rate("reports_in"));
    std::printf("  heartbeats in       %8.1f /s\n", rate("heartbeats_in"));
    std::printf("  events published    %8.1f /s\n", rate("events_published"));
    std::printf("  events out (1 page) %8.1f /s\n", (e1 - e0) / wall);
    std::printf("  report -> event     p50 %.1f ms, p99 %.1f ms, max %.1f ms (%zu probes, %zu lost)\n",
                percentile(latencies, 0.5), percentile(latencies, 0.99), percentile(latencies, 1.0), latencies.size(),
                sentAt.size() > 1 ? sentAt.size() - 1 : 0);
    std::printf("  GET /api/fleet      p50 %.1f ms (%lld bytes)\n", percentile(fetch, 0.5), static_cast<long long>(fleetBytes));
    std::printf("  orlin_fleet CPU     %8.1f %% of one core\n", (cpu1 - cpu0) / wall * 100);
    std::printf("  orlin_fleet RSS     %8.1f MiB (peak of 1 s samples)\n", rssMax / 1024.0);
    return 0;
}
