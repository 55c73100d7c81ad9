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

void ApplyExitCodes(Knobs& knobs, const std::string& text) {
  // "N" for every command, or "command=N,command=N".
  if (text.find('=') == std::string::npos) {
    knobs.exitCode = std::stoi(text);
    return;
  }
  std::stringstream list(text);
  std::string item;
  while (std::getline(list, item, ',')) {
    const auto equals = item.find('=');
    if (equals == std::string::npos) throw std::invalid_argument("bad exit code entry: " + item);
    knobs.commandExitCodes[item.substr(0, equals)] = std::stoi(item.substr(equals + 1));
  }
}

void ApplyJson(Knobs& knobs, const nlohmann::ordered_json& json) {
  if (!json.is_object()) return;
  if (const auto it = json.find("exit_code"); it != json.end()) {
    if (it->is_object())
      for (const auto& [command, code] : it->items()) knobs.commandExitCodes[command] = code.get<int>();
    else
      knobs.exitCode = it->get<int>();
  }
  knobs.delayMs = json.value("delay_ms", knobs.delayMs);
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
}

void ApplyEnvironment(Knobs& knobs) {
  if (const auto v = Env("ORV_STANDIN_EXIT_CODE")) ApplyExitCodes(knobs, *v);
  if (const auto v = Env("ORV_STANDIN_DELAY_MS")) knobs.delayMs = std::stoi(*v);
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
}

}  // namespace

std::optional<int> Knobs::ExitCodeFor(const std::string& command) const {
  if (const auto it = commandExitCodes.find(command); it != commandExitCodes.end()) return it->second;
  return exitCode;
}

Knobs LoadKnobs(const nlohmann::ordered_json& fromState) {
  Knobs knobs;
  ApplyJson(knobs, fromState);
  ApplyEnvironment(knobs);
  return knobs;
}

}  // namespace orv::standin
