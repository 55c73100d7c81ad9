#pragma once

#include <chrono>

namespace orv {

// Lets at most a number of lines through per time window and counts the
// rest, so that a source that loops (a page printing to its console) cannot
// flood the log, and the log still says how much it left out.
class LogRateLimit {
public:
  using Clock = std::chrono::steady_clock;

  LogRateLimit(int ALinesPerWindow, Clock::duration AWindow) : FLimit(ALinesPerWindow), FWindow(AWindow) {}

  // True when a line may be written at ANow. ALeftOut is set to the number
  // of lines left out since the last line let through.
  bool Admit(Clock::time_point ANow, int& ALeftOut) {
    if (FLines == 0 || ANow - FWindowStart >= FWindow) {
      FWindowStart = ANow;
      FLines = 0;
    }
    if (FLines >= FLimit) {
      ++FLeftOut;
      ALeftOut = 0;
      return false;
    }
    ++FLines;
    ALeftOut = FLeftOut;
    FLeftOut = 0;
    return true;
  }

private:
  const int FLimit;
  const Clock::duration FWindow;
  Clock::time_point FWindowStart;
  int FLines = 0;
  int FLeftOut = 0;
};

}  // namespace orv
