#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace orv::bench {

// The console report, followed by each pair's ratio of median real times
// (ours over theirs), since the machine's speed varies more than the ratio.
class RatioReporter final : public benchmark::ConsoleReporter {
public:
  RatioReporter(std::initializer_list<std::pair<std::string, std::string>> pairs) : pairs_(pairs) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        times_[run.run_name.function_name].push_back(run.GetAdjustedRealTime());
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto& [ours, theirs] : pairs_) ratio(ours, theirs);
  }

private:
  static double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  }
  void ratio(const std::string& ours, const std::string& theirs) {
    if (times_[ours].empty() || times_[theirs].empty()) return;
    std::printf("ratio %s / %s = %.2f (medians of %zu and %zu runs)\n", ours.c_str(), theirs.c_str(),
                median(times_[ours]) / median(times_[theirs]), times_[ours].size(), times_[theirs].size());
  }

  std::vector<std::pair<std::string, std::string>> pairs_;
  std::map<std::string, std::vector<double>> times_;
};

}  // namespace orv::bench
