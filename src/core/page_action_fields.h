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

// The edition: registered when the member is missing or null, as the page
// omits it for registered editions. A Boolean, a number and the texts
// "true" and "false" say which; any other value is taken for a trial (the
// edition that asks nothing of the account) and logged.
inline bool PageActionRegistered(const nlohmann::ordered_json& AObject) {
  const nlohmann::ordered_json* value = TORVZYNDashUtils::GetJSONValue(&AObject, QStringLiteral("Registered"));
  if (!value || value->is_null()) return true;
  if (value->is_boolean()) return value->get<bool>();
  if (value->is_number()) return value->get<double>() != 0;
  if (value->is_string()) {
    const QString text = QString::fromStdString(value->get<std::string>()).trimmed();
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
  }
  TORVZYNDashUtils::Log(QStringLiteral("The page's \"Registered\" is neither true nor false: %1; taken for a trial")
                            .arg(QString::fromStdString(value->dump()).left(100)));
  return false;
}

}  // namespace orv
