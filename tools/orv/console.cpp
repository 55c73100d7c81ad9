#include "console.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

namespace orv::standin {

void Console::Write(const std::string& bytes, bool flush) {
  if (knobs_.chunkBytes <= 0) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    if (flush) std::fflush(stdout);
    return;
  }
  const auto chunk = static_cast<std::size_t>(knobs_.chunkBytes);
  for (std::size_t offset = 0; offset < bytes.size(); offset += chunk) {
    std::fwrite(bytes.data() + offset, 1, std::min(chunk, bytes.size() - offset), stdout);
    std::fflush(stdout);
  }
}

void Console::Line(const std::string& text) {
  if (delayMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
  transcript_ += text;
  transcript_ += '\n';
  Write(text + "\r\n", true);
}

void Console::Text(const std::string& text) {
  if (text.empty()) {
    Line(text);
    return;
  }
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) Line(line);
}

void Console::Bulk(const std::function<std::string(long long)>& makeLine) {
  const long long limit = static_cast<long long>(knobs_.hugeOutputMib) * 1024 * 1024;
  for (long long n = 0; fillerBytes_ < limit || n < knobs_.hugeOutputLines; ++n) {
    const std::string line = makeLine(n) + "\r\n";
    fillerBytes_ += static_cast<long long>(line.size());
    Write(line, false);
  }
  std::fflush(stdout);
}

}  // namespace orv::standin
