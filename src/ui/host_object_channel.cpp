#include "host_object_channel.h"

#include "lib/text_escape.h"
#include "lib/web_browser_origin.h"
#include "platform/exception.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

namespace orv {

namespace {

QString Reply(const QJsonObject& reply) {
  return QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact));
}

QString Failure(const QString& message) {
  return Reply({{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}});
}

// Defines window.chrome.webview.hostObjects.sync for pages whose origin the
// native side accepts. Every property read or assignment on a host object
// becomes one synchronous call; a failure is thrown as an Error carrying
// the native message. %1 is the marker as a string literal.
const char kProxyScript[] = R"JS((function () {
  'use strict';
  var marker = %1;
  var nativePrompt = window.prompt;
  function call(request) {
    var answer = nativePrompt.call(window, marker + JSON.stringify(request), '');
    if (typeof answer !== 'string') throw new Error('Host object call failed');
    var reply = JSON.parse(answer);
    if (!reply.ok) throw new Error(reply.error);
    return reply.value;
  }
  try { call({op: 'probe'}); } catch (e) { return; }
  function hostObject(name) {
    return new Proxy(Object.create(null), {
      get: function (target, property) {
        if (typeof property !== 'string') return undefined;
        return call({op: 'get', object: name, property: property});
      },
      set: function (target, property, value) {
        if (typeof property !== 'string') return false;
        call({op: 'set', object: name, property: property, value: String(value)});
        return true;
      }
    });
  }
  var sync = new Proxy(Object.create(null), {
    get: function (target, name) {
      return typeof name === 'string' ? hostObject(name) : undefined;
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

bool HostObjectChannel::Allows(const QUrl& ASecurityOrigin) const {
  return !FAllowedOrigin.isEmpty() && SameWebOrigin(ASecurityOrigin, QUrl(FAllowedOrigin));
}

void HostObjectChannel::Add(const QString& AName, std::shared_ptr<IHostObject> AObject) {
  if (AName.isEmpty() || !AObject) return;
  FObjects.insert(AName, std::move(AObject));
}

void HostObjectChannel::Remove(const QString& AName) { FObjects.remove(AName); }

QString HostObjectChannel::Handle(const QUrl& ASecurityOrigin, const QString& ARequest) {
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

QString HostObjectChannel::Answer(const QUrl& ASecurityOrigin, const QString& ARequest) {
  if (!Allows(ASecurityOrigin)) return Failure(QStringLiteral("Host objects are not available to this page"));
  const QJsonObject request = QJsonDocument::fromJson(ARequest.toUtf8()).object();
  const QString op = request.value(QStringLiteral("op")).toString();
  if (op == QLatin1String("probe")) return Reply({{QStringLiteral("ok"), true}});

  const QString name = request.value(QStringLiteral("object")).toString();
  const QString property = request.value(QStringLiteral("property")).toString();
  // Held for the call, so that a setter that unregisters its own object
  // does not destroy it under itself.
  const std::shared_ptr<IHostObject> object = FObjects.value(name);
  if (!object) return Failure(QStringLiteral("Unknown host object: ") + name);
  if (!object->propertyNames().contains(property))
    return Failure(QStringLiteral("Unknown property of host object ") + name + QStringLiteral(": ") + property);

  if (op == QLatin1String("get")) {
    return Reply({{QStringLiteral("ok"), true}, {QStringLiteral("value"), object->getProperty(property)}});
  }
  if (op == QLatin1String("set")) {
    object->setProperty(property, request.value(QStringLiteral("value")).toString());
    return Reply({{QStringLiteral("ok"), true}});
  }
  return Failure(QStringLiteral("Unknown host object operation"));
}

QString HostObjectChannel::ProxyScript() const {
  return QString::fromLatin1(kProxyScript).arg(JsStringLiteral(FMarker));
}

}  // namespace orv
