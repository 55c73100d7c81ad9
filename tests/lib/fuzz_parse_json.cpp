// Parses arbitrary text and checks it against the JSON library's own
// parser: the same texts are valid, and the trees agree, except that every
// number is kept as its text, which reads back as the same number.
#include "lib/utils.h"

#include <cstddef>
#include <cstdint>

namespace {

using Json = nlohmann::ordered_json;

bool sameTree(const Json& kept, const Json& plain) {
  if (plain.is_number()) {
    if (!kept.is_string()) return false;
    const Json number = Json::parse(kept.get_ref<const std::string&>(), nullptr, /*allow_exceptions=*/false);
    return number.is_number() && number == plain;
  }
  if (kept.type() != plain.type() || kept.size() != plain.size()) return false;
  if (plain.is_object()) {
    for (auto k = kept.begin(), p = plain.begin(); p != plain.end(); ++k, ++p)
      if (k.key() != p.key() || !sameTree(*k, *p)) return false;
    return true;
  }
  if (plain.is_array()) {
    for (std::size_t i = 0; i < plain.size(); ++i)
      if (!sameTree(kept[i], plain[i])) return false;
    return true;
  }
  return kept == plain;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QByteArray utf8 = text.toUtf8();
  const auto kept = orv::TORVZYNDashUtils::ParseJSON(text);
  const Json plain = Json::parse(utf8.cbegin(), utf8.cend(), nullptr, /*allow_exceptions=*/false);
  if (kept.has_value() == plain.is_discarded()) __builtin_trap();
  if (kept && !sameTree(*kept, plain)) __builtin_trap();
  return 0;
}
