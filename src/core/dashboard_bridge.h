#pragma once

#include "lib/web_browser_host_object.h"

namespace orv {

class TORVDashboardBrowser;

// The host object the page talks to, registered as "DashboardBridge". Its
// one property ObjectMessage stores nothing: a write is a message handled at
// once, a read computes the answer to the last query (which the write of a
// query message may already have brought the page, see readAhead).
class TORVDashboardBridge final : public IHostObject {
public:
  static const QString PropertyName;  // ObjectMessage

  // Set right after construction; without it the bridge ignores writes and
  // answers reads with the empty string.
  TORVDashboardBrowser* FDashboardBrowser = nullptr;

  QStringList propertyNames() const override;
  QString getProperty(const QString& name) override;
  void setProperty(const QString& name, const QString& value) override;
  std::optional<QString> readAhead(const QString& name) override;
  void aheadReadTaken(const QString& name) override;

  QString GetObjectMessage();
  void SetObjectMessage(const QString& AValue);
};

}  // namespace orv
