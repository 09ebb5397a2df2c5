// A console reporter that also keeps each benchmark's time, so that a
// benchmark program can print its ratios against the peers at the end.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace wayfarer::bench {

// Prints as usual, without colour (the output usually lands in a log), and
// keeps each benchmark's CPU time per iteration in seconds; a median over
// repetitions wins over single runs.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    CollectingReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) {
                continue;
            }
            const double seconds =
                run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            Time& time = times_[run.run_name.function_name];
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median") {
                    time = {seconds, true};
                }
            } else if (!time.median) {
                time.seconds = seconds;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // 0 when the benchmark did not run (filtered out or failed).
    double Seconds(const std::string& name) const {
        const auto it = times_.find(name);
        return it == times_.end() ? 0 : it->second.seconds;
    }

private:
    struct Time {
        double seconds = 0;
        bool median = false;
    };
    std::map<std::string, Time> times_;
};

}  // namespace wayfarer::bench
