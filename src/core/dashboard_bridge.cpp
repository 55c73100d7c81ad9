#include "core/dashboard_bridge.h"

#include "core/dashboard_browser.h"
#include "platform/exception.h"

namespace orv {

const QString TORVDashboardBridge::PropertyName = QStringLiteral("ObjectMessage");

QStringList TORVDashboardBridge::propertyNames() const { return {PropertyName}; }

QString TORVDashboardBridge::getProperty(const QString& name) {
  if (name != PropertyName) throw Exception(QStringLiteral("Unknown property '%1'").arg(name));
  return GetObjectMessage();
}

void TORVDashboardBridge::setProperty(const QString& name, const QString& value) {
  if (name != PropertyName) throw Exception(QStringLiteral("Unknown property '%1'").arg(name));
  SetObjectMessage(value);
}

std::optional<QString> TORVDashboardBridge::readAhead(const QString& name) {
  if (name != PropertyName || !FDashboardBrowser) return std::nullopt;
  return FDashboardBrowser->AnswerQueryAhead();
}

void TORVDashboardBridge::aheadReadTaken(const QString& name) {
  if (name == PropertyName && FDashboardBrowser) FDashboardBrowser->QueryAnswerTaken();
}

QString TORVDashboardBridge::GetObjectMessage() {
  return FDashboardBrowser ? FDashboardBrowser->GetQueryAnswer() : QString();
}

void TORVDashboardBridge::SetObjectMessage(const QString& AValue) {
  if (FDashboardBrowser) FDashboardBrowser->HandleMessage(AValue);
}

}  // namespace orv
