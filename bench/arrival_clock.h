#pragma once

// Timing of calls that arrive one after another in native code, measured
// from one arrival to the next, for the benchmarks of page-to-native calls.
#include <QElapsedTimer>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace orv::bench {

class ArrivalClock {
public:
  void Arrived() { FArrivals.push_back(FTimer.nsecsElapsed()); }
  void Reset() {
    FArrivals.clear();
    FTimer.start();
  }
  // The times between arrivals in microseconds, without the first AWarmUp.
  std::vector<double> Intervals(std::size_t AWarmUp) const {
    std::vector<double> times;
    for (std::size_t i = AWarmUp + 1; i < FArrivals.size(); ++i)
      times.push_back((FArrivals[i] - FArrivals[i - 1]) / 1000.0);
    return times;
  }

private:
  QElapsedTimer FTimer;
  std::vector<qint64> FArrivals;
};

// The value below which the share p of the values lies (0.5: the median).
inline double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(p * (values.size() - 1) + 0.5))];
}

}  // namespace orv::bench
