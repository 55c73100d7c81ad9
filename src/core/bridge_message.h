#pragma once

#include "lib/persistence.h"

#include <QString>

namespace orv {

// A message of the page, filled from its JSON text. EventName and ID are
// published (read from JSON); CustomData is set by the bridge from the
// message's second part.
class TORVDashboardBridgeMessage : public TORVZYNDashPersistent {
public:
  const QString& EventName() const { return FEventName; }
  void SetEventName(const QString& AValue) { FEventName = AValue; }
  const QString& ID() const { return FID; }
  void SetID(const QString& AValue) { FID = AValue; }
  const QString& CustomData() const { return FCustomData; }
  void SetCustomData(const QString& AValue) { FCustomData = AValue; }

  const TPublishedProperties& PublishedProperties() const override;

private:
  QString FEventName;
  QString FID;
  QString FCustomData;
};

}  // namespace orv
