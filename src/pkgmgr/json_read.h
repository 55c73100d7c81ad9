#pragma once

#include "pkgmgr/version.h"
#include "platform/exception.h"

#include <QString>

#include <nlohmann/json.hpp>

namespace orv {

// A JSON value was missing or of a type that cannot be read as asked.
ORV_DECLARE_EXCEPTION(EJSONException, Exception);

// Typed reads of one member of a JSON object, as the package manager's
// output is read: an absent or null member gives the type's default, a
// member of another type raises "Conversion from <type> to <type> is not
// supported".
namespace json_read {

using Json = nlohmann::ordered_json;

// A string member; a number is read as its JSON text.
QString String(const Json& object, const char* key);
// As String, but an absent or null member raises "Value '<key>' not found".
QString RequiredString(const Json& object, const char* key);
bool Boolean(const Json& object, const char* key);
// A string member parsed as a version; a malformed one raises EConvertError.
TVersion Version(const Json& object, const char* key);
// The member when it is an object, otherwise none.
const Json* Object(const Json& object, const char* key);

}  // namespace json_read
}  // namespace orv
