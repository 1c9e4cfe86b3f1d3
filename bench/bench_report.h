#pragma once

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>

namespace qj::bench {

// Console reporter that also keeps each benchmark's mean real time per iteration, so that a
// program can print ratios between benchmarks measured in the same run.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, so that logs and pipes get plain lines.
    RecordingReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // Plain runs under their name; aggregates of repetitions under theirs ("…_median").
            if (run.run_type == Run::RT_Aggregate || run.iterations > 0) {
                seconds_[run.benchmark_name()] =
                    run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            }
        }
    }

    // Seconds per iteration of the named benchmark; 0 when it did not run.
    double SecondsOf(const std::string& name) const {
        auto it = seconds_.find(name);
        return it == seconds_.end() ? 0.0 : it->second;
    }

    // The same for the first benchmark whose name starts with `prefix` and ends with `suffix`.
    double SecondsOfFirst(const std::string& prefix, const std::string& suffix = "") const {
        for (const auto& [name, seconds] : seconds_) {
            if (name.starts_with(prefix) && name.ends_with(suffix)) {
                return seconds;
            }
        }
        return 0.0;
    }

private:
    std::map<std::string, double> seconds_;
};

// Runs the registered benchmarks with a recording reporter; returns it for the ratios.
inline RecordingReporter RunAll(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter;
}

inline double Ratio(const RecordingReporter& r, const std::string& over, const std::string& under) {
    const double u = r.SecondsOf(under);
    return u > 0 ? r.SecondsOf(over) / u : 0.0;
}

}  // namespace qj::bench
