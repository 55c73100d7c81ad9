#pragma once

#include "lib/utils.h"

#include <QString>

#include <nlohmann/json.hpp>

namespace orv {

// Members of a product action the page sent as a JSON object.

// The member's text (see TORVZYNDashUtils::GetJSONProp); empty when missing.
inline QString PageActionText(const nlohmann::ordered_json& AObject, const char* AName) {
  return TORVZYNDashUtils::GetJSONProp(&AObject, QString::fromLatin1(AName));
}

// The edition: true when the member is missing or not a Boolean, as the
// page omits it for registered editions.
inline bool PageActionRegistered(const nlohmann::ordered_json& AObject) {
  const nlohmann::ordered_json* value = TORVZYNDashUtils::GetJSONValue(&AObject, QStringLiteral("Registered"));
  return !value || !value->is_boolean() || value->get<bool>();
}

}  // namespace orv
