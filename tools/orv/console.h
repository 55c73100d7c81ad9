#pragma once

#include "knobs.h"

#include <functional>
#include <string>

namespace orv::standin {

// Standard output as the dashboard reads it: CR LF line ends, a flush after
// every line (so progress arrives while the command runs), and the
// delay and tiny-write knobs applied. Keeps a transcript for the log.
class Console {
public:
  // delayMs: the delay knob's value for the command being run.
  Console(const Knobs& knobs, int delayMs) : knobs_(knobs), delayMs_(delayMs) {}

  void Line(const std::string& text);
  // Writes a multi-line text (LF separated) line by line; an empty text
  // is one empty line.
  void Text(const std::string& text);
  // The huge-output knobs' bulk: lines made by makeLine(n), n = 0, 1, ...
  // until both the size and the count of lines are reached; no delay, not
  // kept in the transcript.
  void Bulk(const std::function<std::string(long long)>& makeLine);

  const std::string& Transcript() const { return transcript_; }
  long long FillerBytes() const { return fillerBytes_; }

private:
  void Write(const std::string& bytes, bool flush);

  const Knobs& knobs_;
  int delayMs_;
  std::string transcript_;
  long long fillerBytes_ = 0;
};

}  // namespace orv::standin
