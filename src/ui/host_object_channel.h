#pragma once

#include "lib/web_browser_host_object.h"

#include <QMap>
#include <QString>
#include <QUrl>

#include <memory>

namespace orv {

// The native end of the synchronous host-object channel. A proxy script in
// every page turns `chrome.webview.hostObjects.sync.<name>.<property>`
// reads and assignments into calls that reach Handle() while the page's
// script waits (the page carries them over window.prompt with Marker() in
// front, so ordinary prompts are told apart). Only pages of the allowed
// origin get answers, checked at every call.
class HostObjectChannel {
public:
  HostObjectChannel();

  const QString& Marker() const { return FMarker; }
  void SetAllowedOrigin(const QString& AOrigin);
  const QString& AllowedOrigin() const { return FAllowedOrigin; }
  bool Allows(const QUrl& ASecurityOrigin) const;

  // Registering a name again replaces the object.
  void Add(const QString& AName, std::shared_ptr<IHostObject> AObject);
  void Remove(const QString& AName);
  void Clear() { FObjects.clear(); }
  bool IsEmpty() const { return FObjects.isEmpty(); }

  // Answers one call (the prompt text after the marker) from a frame of
  // ASecurityOrigin with JSON text: {"ok":true,"value":"..."} or
  // {"ok":false,"error":"<message>"}.
  QString Handle(const QUrl& ASecurityOrigin, QStringView ARequest);
  // The script to run at the creation of every main-frame document.
  QString ProxyScript() const;

private:
  QString Answer(const QUrl& ASecurityOrigin, QStringView ARequest);

  QString FMarker;
  QString FAllowedOrigin;
  QUrl FAllowedOriginUrl;  // parsed once, checked at every call
  QMap<QString, std::shared_ptr<IHostObject>> FObjects;
};

}  // namespace orv
