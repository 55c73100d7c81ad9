#include "pkgmgr/json_read.h"

namespace orv::json_read {

namespace {

// The member, or none when it is absent or null.
const Json* Member(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it == object.end() || it->is_null() ? nullptr : &*it;
}

[[noreturn]] void ThrowConversion(const Json& value, const char* target) {
  throw EJSONException(QStringLiteral("Conversion from %1 to %2 is not supported")
                           .arg(QString::fromUtf8(value.type_name()), QString::fromUtf8(target)));
}

QString ToText(const Json& value) {
  if (value.is_string()) return QString::fromStdString(value.get_ref<const std::string&>());
  if (value.is_number()) return QString::fromStdString(value.dump());
  ThrowConversion(value, "string");
}

}  // namespace

QString String(const Json& object, const char* key) {
  const Json* value = Member(object, key);
  return value ? ToText(*value) : QString();
}

QString RequiredString(const Json& object, const char* key) {
  const Json* value = Member(object, key);
  if (!value) throw EJSONException(QStringLiteral("Value '%1' not found").arg(QString::fromUtf8(key)));
  return ToText(*value);
}

bool Boolean(const Json& object, const char* key) {
  const Json* value = Member(object, key);
  if (!value) return false;
  if (!value->is_boolean()) ThrowConversion(*value, "Boolean");
  return value->get<bool>();
}

TVersion Version(const Json& object, const char* key) { return TVersion::FromString(String(object, key)); }

const Json* Object(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_object() ? &*it : nullptr;
}

}  // namespace orv::json_read
