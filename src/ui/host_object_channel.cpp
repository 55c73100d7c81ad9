#include "ui/host_object_channel.h"

#include "lib/text_escape.h"
#include "lib/web_browser_origin.h"
#include "platform/exception.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

namespace orv {

namespace {

// Replies are written directly: they are the same few shapes on every call.
QString Success() { return QStringLiteral("{\"ok\":true}"); }

QString Success(const QString& value) { return QStringLiteral("{\"ok\":true,\"value\":") + JsonQuote(value) + u'}'; }

QString Failure(const QString& message) {
  return QStringLiteral("{\"ok\":false,\"error\":") + JsonQuote(message) + u'}';
}

// Defines window.chrome.webview.hostObjects.sync for pages whose origin the
// native side accepts. Every property read or assignment on a host object
// becomes one synchronous call; a failure is thrown as an Error carrying
// the native message. %1 is the marker as a string literal.
const char kProxyScript[] = R"JS((function () {
  'use strict';
  var marker = %1;
  // The page's own scripts cannot replace what the calls use.
  var ask = window.prompt.bind(window);
  var stringify = JSON.stringify, parse = JSON.parse, toText = String;
  function call(request) {
    var answer = ask(request, '');
    if (typeof answer !== 'string') throw new Error('Host object call failed');
    var reply = parse(answer);
    if (!reply.ok) throw new Error(reply.error);
    return reply.value;
  }
  try { call(marker + stringify({op: 'probe'})); } catch (e) { return; }
  function hostObject(name) {
    // Each property's request text (for an assignment, all but the value)
    // is made once.
    var reads = Object.create(null), writes = Object.create(null);
    return new Proxy(Object.create(null), {
      get: function (target, property) {
        if (typeof property !== 'string') return undefined;
        return call(reads[property] ||
                    (reads[property] = marker + stringify({op: 'get', object: name, property: property})));
      },
      set: function (target, property, value) {
        if (typeof property !== 'string') return false;
        var head = writes[property] || (writes[property] = marker + '{"op":"set","object":' + stringify(name) +
                                                           ',"property":' + stringify(property) + ',"value":');
        call(head + stringify(toText(value)) + '}');
        return true;
      }
    });
  }
  var objects = Object.create(null);
  var sync = new Proxy(Object.create(null), {
    get: function (target, name) {
      if (typeof name !== 'string') return undefined;
      return objects[name] || (objects[name] = hostObject(name));
    },
    set: function () { return false; }
  });
  var chrome = window.chrome || (window.chrome = {});
  var webview = chrome.webview || (chrome.webview = {});
  Object.defineProperty(webview, 'hostObjects', {
    value: Object.freeze({sync: sync}), enumerable: true
  });
})();)JS";

}  // namespace

HostObjectChannel::HostObjectChannel()
    : FMarker(QStringLiteral("orv-host-object-call:") + QUuid::createUuid().toString(QUuid::WithoutBraces) +
              QLatin1Char(':')) {}

void HostObjectChannel::SetAllowedOrigin(const QString& AOrigin) {
  FAllowedOrigin = AOrigin;
  FAllowedOriginUrl = QUrl(AOrigin);
}

bool HostObjectChannel::Allows(const QUrl& ASecurityOrigin) const {
  return !FAllowedOrigin.isEmpty() && SameWebOrigin(ASecurityOrigin, FAllowedOriginUrl);
}

void HostObjectChannel::Add(const QString& AName, std::shared_ptr<IHostObject> AObject) {
  if (AName.isEmpty() || !AObject) return;
  FObjects.insert(AName, std::move(AObject));
}

void HostObjectChannel::Remove(const QString& AName) { FObjects.remove(AName); }

QString HostObjectChannel::Handle(const QUrl& ASecurityOrigin, QStringView ARequest) {
  QString reply;
  try {
    reply = Answer(ASecurityOrigin, ARequest);
  } catch (const Exception& e) {
    reply = Failure(e.message());
  } catch (const std::exception& e) {
    reply = Failure(QString::fromUtf8(e.what()));
  } catch (...) {
    reply = Failure(QStringLiteral("Unknown error"));
  }
  return reply;
}

QString HostObjectChannel::Answer(const QUrl& ASecurityOrigin, QStringView ARequest) {
  if (!Allows(ASecurityOrigin)) return Failure(QStringLiteral("Host objects are not available to this page"));
  const QJsonObject request = QJsonDocument::fromJson(ARequest.toUtf8()).object();
  const QString op = request.value(QStringLiteral("op")).toString();
  if (op == QLatin1String("probe")) return Success();

  const QString name = request.value(QStringLiteral("object")).toString();
  const QString property = request.value(QStringLiteral("property")).toString();
  // Held for the call, so that a setter that unregisters its own object
  // does not destroy it under itself.
  const std::shared_ptr<IHostObject> object = FObjects.value(name);
  if (!object) return Failure(QStringLiteral("Unknown host object: ") + name);
  if (!object->propertyNames().contains(property))
    return Failure(QStringLiteral("Unknown property of host object ") + name + QStringLiteral(": ") + property);

  if (op == QLatin1String("get")) {
    return Success(object->getProperty(property));
  }
  if (op == QLatin1String("set")) {
    object->setProperty(property, request.value(QStringLiteral("value")).toString());
    return Success();
  }
  return Failure(QStringLiteral("Unknown host object operation"));
}

QString HostObjectChannel::ProxyScript() const {
  return QString::fromLatin1(kProxyScript).arg(JsStringLiteral(FMarker));
}

}  // namespace orv
