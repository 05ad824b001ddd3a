// A console reporter that also keeps each benchmark's rate of one counter,
// so a program can print our figure against its baseline's.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

class RateReporter : public benchmark::ConsoleReporter
{
public:
    // counter: "items_per_second" or "bytes_per_second".
    explicit RateReporter(std::string counter) : m_counter(std::move(counter)) {}

    std::map<std::string, double> rates;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            const auto it = r.counters.find(m_counter);
            if (it != r.counters.end() && r.run_type == Run::RT_Iteration)
                rates[r.run_name.function_name] = it->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }

private:
    std::string m_counter;
};
