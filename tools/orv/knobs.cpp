#include "knobs.h"

#include <cstdlib>
#include <sstream>

namespace orv::standin {

namespace {

constexpr const char* kDefaultNonJson = "Internal error: the answer could not be produced";

std::optional<std::string> Env(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

bool IsTrue(const std::string& text) { return text == "1" || text == "true" || text == "yes"; }

// "command=value,command=value" into a map.
template <class Value, class Convert>
void ApplyPerCommand(std::map<std::string, Value>& values, const std::string& text, Convert convert) {
  std::stringstream list(text);
  std::string item;
  while (std::getline(list, item, ',')) {
    const auto equals = item.find('=');
    if (equals == std::string::npos) throw std::invalid_argument("bad per-command entry: " + item);
    values[item.substr(0, equals)] = convert(item.substr(equals + 1));
  }
}

int ToInt(const std::string& text) { return std::stoi(text); }

// "N" for every command, or "command=N,command=N".
void ApplyNumbersText(std::optional<int>& all, std::map<std::string, int>& perCommand, const std::string& text) {
  if (text.find('=') == std::string::npos)
    all = std::stoi(text);
  else
    ApplyPerCommand(perCommand, text, ToInt);
}

// N for every command, or {"command": N, ...}.
void ApplyNumbersJson(std::optional<int>& all, std::map<std::string, int>& perCommand,
                      const nlohmann::ordered_json& json) {
  if (json.is_object())
    for (const auto& [command, value] : json.items()) perCommand[command] = value.get<int>();
  else
    all = json.get<int>();
}

void ApplyJson(Knobs& knobs, const nlohmann::ordered_json& json) {
  if (!json.is_object()) return;
  if (const auto it = json.find("exit_code"); it != json.end())
    ApplyNumbersJson(knobs.exitCode, knobs.commandExitCodes, *it);
  if (const auto it = json.find("delay_ms"); it != json.end()) {
    std::optional<int> all;
    ApplyNumbersJson(all, knobs.commandDelaysMs, *it);
    knobs.delayMs = all.value_or(knobs.delayMs);
  }
  knobs.newVersionAlert = json.value("new_version_alert", knobs.newVersionAlert);
  knobs.lowDiskAlert = json.value("low_disk_alert", knobs.lowDiskAlert);
  knobs.chunkBytes = json.value("chunk_bytes", knobs.chunkBytes);
  knobs.hugeOutputMib = json.value("huge_output_mib", knobs.hugeOutputMib);
  knobs.hugeOutputLines = json.value("huge_output_lines", knobs.hugeOutputLines);
  if (const auto it = json.find("non_json"); it != json.end()) {
    if (it->is_string())
      knobs.nonJson = it->get<std::string>();
    else if (it->get<bool>())
      knobs.nonJson = kDefaultNonJson;
  }
  if (const auto it = json.find("fail_products"); it != json.end())
    for (const auto& id : *it) knobs.failProducts.insert(id.get<std::string>());
  knobs.grandchildSeconds = json.value("grandchild_seconds", knobs.grandchildSeconds);
  if (const auto it = json.find("wait_for_file"); it != json.end())
    for (const auto& [command, file] : it->items()) knobs.waitForFiles[command] = file.get<std::string>();
}

void ApplyEnvironment(Knobs& knobs) {
  if (const auto v = Env("ORV_STANDIN_EXIT_CODE")) ApplyNumbersText(knobs.exitCode, knobs.commandExitCodes, *v);
  if (const auto v = Env("ORV_STANDIN_DELAY_MS")) {
    std::optional<int> all;
    ApplyNumbersText(all, knobs.commandDelaysMs, *v);
    knobs.delayMs = all.value_or(knobs.delayMs);
  }
  if (const auto v = Env("ORV_STANDIN_NEW_VERSION_ALERT")) knobs.newVersionAlert = IsTrue(*v);
  if (const auto v = Env("ORV_STANDIN_LOW_DISK_ALERT")) knobs.lowDiskAlert = IsTrue(*v);
  if (const auto v = Env("ORV_STANDIN_CHUNK_BYTES")) knobs.chunkBytes = std::stoi(*v);
  if (const auto v = Env("ORV_STANDIN_HUGE_OUTPUT_MIB")) knobs.hugeOutputMib = std::stoi(*v);
  if (const auto v = Env("ORV_STANDIN_HUGE_OUTPUT_LINES")) knobs.hugeOutputLines = std::stoll(*v);
  if (const auto v = Env("ORV_STANDIN_NON_JSON")) {
    if (IsTrue(*v))
      knobs.nonJson = kDefaultNonJson;
    else if (!v->empty() && *v != "0" && *v != "false")
      knobs.nonJson = *v;
  }
  if (const auto v = Env("ORV_STANDIN_GRANDCHILD_SECONDS")) knobs.grandchildSeconds = std::stoi(*v);
  if (const auto v = Env("ORV_STANDIN_FAIL_PRODUCTS")) {
    std::stringstream list(*v);
    std::string id;
    while (std::getline(list, id, ','))
      if (!id.empty()) knobs.failProducts.insert(id);
  }
  if (const auto v = Env("ORV_STANDIN_WAIT_FOR_FILE"))
    ApplyPerCommand(knobs.waitForFiles, *v, [](const std::string& file) { return file; });
}

}  // namespace

std::optional<int> Knobs::ExitCodeFor(const std::string& command) const {
  if (const auto it = commandExitCodes.find(command); it != commandExitCodes.end()) return it->second;
  return exitCode;
}

int Knobs::DelayFor(const std::string& command) const {
  if (const auto it = commandDelaysMs.find(command); it != commandDelaysMs.end()) return it->second;
  return delayMs;
}

std::optional<std::string> Knobs::WaitFileFor(const std::string& command) const {
  if (const auto it = waitForFiles.find(command); it != waitForFiles.end() && !it->second.empty()) return it->second;
  return std::nullopt;
}

Knobs LoadKnobs(const nlohmann::ordered_json& fromState) {
  Knobs knobs;
  ApplyJson(knobs, fromState);
  ApplyEnvironment(knobs);
  return knobs;
}

}  // namespace orv::standin
