#include "core/bridge_message.h"

namespace orv {

const TPublishedProperties& TORVDashboardBridgeMessage::PublishedProperties() const {
  static const TPublishedProperties properties = {
      PublishedString(QStringLiteral("EventName"), &TORVDashboardBridgeMessage::SetEventName),
      PublishedString(QStringLiteral("ID"), &TORVDashboardBridgeMessage::SetID),
  };
  return properties;
}

}  // namespace orv
