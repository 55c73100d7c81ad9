#pragma once

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <set>
#include <string>

namespace orv::standin {

// Test controls: read from the "knobs" object of the state file, then
// overridden by ORV_STANDIN_* environment variables (see README.md).
struct Knobs {
  std::optional<int> exitCode;                  // every command
  std::map<std::string, int> commandExitCodes;  // per command name, wins over exitCode
  int delayMs = 0;                              // before every line
  std::map<std::string, int> commandDelaysMs;   // per command name, wins over delayMs
  bool newVersionAlert = false;
  bool lowDiskAlert = false;
  int chunkBytes = 0;  // > 0: flush after this many bytes
  int hugeOutputMib = 0;
  long long hugeOutputLines = 0;       // bulk lines by count, beside hugeOutputMib
  std::optional<std::string> nonJson;  // printed instead of a JSON answer
  std::set<std::string> failProducts;  // their build reports an error
  int grandchildSeconds = 0;           // > 0: progress commands wait for a child of their own
  // Per command name: the command starts only once this file exists.
  std::map<std::string, std::string> waitForFiles;

  std::optional<int> ExitCodeFor(const std::string& command) const;
  int DelayFor(const std::string& command) const;
  std::optional<std::string> WaitFileFor(const std::string& command) const;
};

// Throws nlohmann::json::exception or std::invalid_argument on malformed
// values.
Knobs LoadKnobs(const nlohmann::ordered_json& fromState);

}  // namespace orv::standin
