#pragma once

#include "lib/web_browser_host_object.h"

#include <QMap>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

namespace orv {

// The native end of the synchronous host-object channel. A proxy script in
// every page turns `chrome.webview.hostObjects.sync.<name>.<property>`
// reads and assignments into calls that reach Handle() while the page's
// script waits. The page carries them over window.prompt: the prompt's text
// is Marker() (so ordinary prompts are told apart) followed by the notice,
// its default text is the request, which the engine passes whole where it
// cuts the prompt's text after 10,240 characters. Only pages of the allowed
// origin get answers, checked at every call.
//
// An assignment's reply also carries what a read of the same property would
// return then, when the object can tell without that read's effects
// (IHostObject::readAhead); the proxy uses it for the read that is the very
// next call in the same task, and its next call brings the notice "taken",
// upon which the object does what the read would have done.
class HostObjectChannel {
public:
  // The most text one call carries either way (a request or a reply, in
  // UTF-16 code units): far above the largest page message, far below what
  // the engine carries between its processes.
  static constexpr qsizetype MaxCallText = 16 * 1024 * 1024;

  HostObjectChannel();

  const QString& Marker() const { return FMarker; }
  void SetAllowedOrigin(const QString& AOrigin);
  const QString& AllowedOrigin() const { return FAllowedOrigin; }
  bool Allows(const QUrl& ASecurityOrigin) const;

  // Registering a name again replaces the object.
  void Add(const QString& AName, std::shared_ptr<IHostObject> AObject);
  void Remove(const QString& AName);
  void Clear();
  bool IsEmpty() const { return FObjects.isEmpty(); }

  // Answers one call from a frame of ASecurityOrigin (the request, and the
  // prompt's text after the marker as the notice) with JSON text:
  // {"ok":true,"value":"..."}, {"ok":true,"ahead":"..."} or
  // {"ok":false,"error":"<message>"}.
  QString Handle(const QUrl& ASecurityOrigin, QStringView ARequest, QStringView ANotice = {});
  // The script to run at the creation of every main-frame document.
  QString ProxyScript() const;

private:
  QString Answer(const QUrl& ASecurityOrigin, QStringView ARequest, QStringView ANotice);
  QString Assign(const std::shared_ptr<IHostObject>& AObject, const QString& AProperty, const QString& AValue);

  // The read answered ahead by the last reply, until the next call.
  struct TAheadRead {
    std::shared_ptr<IHostObject> Object;
    QString Property;
  };

  QString FMarker;
  QString FAllowedOrigin;
  QUrl FAllowedOriginUrl;  // parsed once, checked at every call
  QMap<QString, std::shared_ptr<IHostObject>> FObjects;
  std::optional<TAheadRead> FAheadRead;
};

}  // namespace orv
