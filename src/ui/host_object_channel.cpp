#include "ui/host_object_channel.h"

#include "lib/text_escape.h"
#include "lib/web_browser_origin.h"
#include "platform/exception.h"

#include <QUuid>

#include <nlohmann/json.hpp>

#include <optional>
#include <utility>

namespace orv {

namespace {

// Replies are written directly: they are the same few shapes on every call.
QString Success() { return QStringLiteral("{\"ok\":true}"); }

QString Success(const QString& value) { return QStringLiteral("{\"ok\":true,\"value\":") + JsonQuote(value) + u'}'; }

QString Failure(const QString& message) {
  return QStringLiteral("{\"ok\":false,\"error\":") + JsonQuote(message) + u'}';
}

QString ReadAhead(const QString& value) { return QStringLiteral("{\"ok\":true,\"ahead\":") + JsonQuote(value) + u'}'; }

QString TooLarge(const char* what, qsizetype size) {
  return QStringLiteral("The %1 is too large for the host object: %2 characters (the most is %3)")
      .arg(QLatin1String(what))
      .arg(size)
      .arg(HostObjectChannel::MaxCallText);
}

const QString kTaken = QStringLiteral("taken");

// The proxy's JSON.stringify writes a lone surrogate of a text as its escape
// ("\ud800"), which the JSON library refuses. For the parse, such an escape
// becomes an escaped NUL followed by the escape of its distance from U+D7FF,
// and an escaped NUL becomes two; RestoreLoneSurrogates() undoes both in the
// parsed texts.
constexpr char16_t kBeforeSurrogates = 0xD7FF;

int HexDigit(QChar c) {
  if (c >= u'0' && c <= u'9') return c.unicode() - u'0';
  if (c >= u'a' && c <= u'f') return c.unicode() - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c.unicode() - u'A' + 10;
  return -1;
}

// The code unit of the \uXXXX escape at `at`, if there is one there.
std::optional<char16_t> EscapedUnit(QStringView text, qsizetype at) {
  if (at + 6 > text.size() || text[at] != u'\\' || text[at + 1] != u'u') return std::nullopt;
  char16_t unit = 0;
  for (const QChar c : text.mid(at + 2, 4)) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    unit = char16_t(unit * 16 + digit);
  }
  return unit;
}

QByteArray ParsableUtf8(QStringView request) {
  QString text;
  qsizetype copied = 0;
  const auto replace = [&](qsizetype at, const QString& escapes) {
    text += request.mid(copied, at - copied);
    text += escapes;
    copied = at + 6;
  };
  for (qsizetype i = 0; i < request.size();) {
    if (request[i] != u'\\') {
      ++i;
      continue;
    }
    const std::optional<char16_t> unit = EscapedUnit(request, i);
    if (!unit) {
      i += 2;  // any other escape, an escaped backslash among them
      continue;
    }
    if (QChar::isHighSurrogate(*unit)) {
      const std::optional<char16_t> next = EscapedUnit(request, i + 6);
      if (next && QChar::isLowSurrogate(*next)) {
        i += 12;
        continue;
      }
    }
    if (QChar::isSurrogate(*unit))
      replace(i, QStringLiteral("\\u0000\\u%1").arg(*unit - kBeforeSurrogates, 4, 16, QLatin1Char('0')));
    else if (*unit == 0)
      replace(i, QStringLiteral("\\u0000\\u0000"));
    i += 6;
  }
  if (copied == 0) return request.toUtf8();  // nothing replaced
  text += request.mid(copied);
  return text.toUtf8();
}

QString RestoreLoneSurrogates(const QString& parsed) {
  if (!parsed.contains(QChar(0))) return parsed;
  QString text;
  text.reserve(parsed.size());
  for (qsizetype i = 0; i < parsed.size(); ++i) {
    if (parsed[i] == QChar(0) && i + 1 < parsed.size()) {
      const char16_t next = parsed[++i].unicode();
      text += next == 0 ? QChar(0) : QChar(char16_t(kBeforeSurrogates + next));
    } else {
      text += parsed[i];
    }
  }
  return text;
}

// A string member of the request; empty when missing or of another type.
QString Member(const nlohmann::json& request, const char* name) {
  const auto found = request.find(name);
  if (found == request.end() || !found->is_string()) return {};
  return RestoreLoneSurrogates(QString::fromStdString(found->get_ref<const std::string&>()));
}

// Defines window.chrome.webview.hostObjects.sync for pages whose origin the
// native side accepts. Every property read or assignment on a host object
// becomes one synchronous call, except a read answered ahead by the
// assignment before it; a failure is thrown as an Error carrying the native
// message. %1 is the marker as a string literal, %2 the most text of a call.
const char kProxyScript[] = R"JS((function () {
  'use strict';
  var marker = %1, most = %2;
  // The page's own scripts cannot replace what the calls use.
  var ask = window.prompt.bind(window), soon = window.queueMicrotask.bind(window);
  var stringify = JSON.stringify, parse = JSON.parse, toText = String;
  // The read the last assignment answered ahead (its object, property and
  // answer), good only for a read of that property as the very next call in
  // the same task: the first microtask after it forgets it. Once used, the
  // next call tells the native side.
  var aheadObject = null, aheadProperty, aheadValue, forgetting = false, taken = false;
  function forget() {
    aheadObject = null;
    forgetting = false;
  }
  function call(request) {
    aheadObject = null;
    if (request.length > most) {
      throw new Error('The message is too large for the host object: ' + request.length +
                      ' characters (the most is ' + most + ')');
    }
    var answer = ask(taken ? marker + 'taken' : marker, request);
    taken = false;
    if (typeof answer !== 'string') throw new Error('Host object call failed');
    var reply = parse(answer);
    if (!reply.ok) throw new Error(reply.error);
    return reply;
  }
  try { call(stringify({op: 'probe'})); } catch (e) { return; }
  function hostObject(name) {
    // Each property's request text (for an assignment, all but the value)
    // is made once.
    var reads = Object.create(null), writes = Object.create(null);
    return new Proxy(Object.create(null), {
      get: function (target, property) {
        if (typeof property !== 'string') return undefined;
        if (aheadObject === name && aheadProperty === property) {
          aheadObject = null;
          taken = true;
          return aheadValue;
        }
        return call(reads[property] ||
                    (reads[property] = stringify({op: 'get', object: name, property: property}))).value;
      },
      set: function (target, property, value) {
        if (typeof property !== 'string') return false;
        var head = writes[property] || (writes[property] = '{"op":"set","object":' + stringify(name) +
                                                           ',"property":' + stringify(property) + ',"value":');
        var reply = call(head + stringify(toText(value)) + '}');
        if (typeof reply.ahead === 'string') {
          aheadObject = name;
          aheadProperty = property;
          aheadValue = reply.ahead;
          if (!forgetting) {
            forgetting = true;
            soon(forget);
          }
        }
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

void HostObjectChannel::Remove(const QString& AName) {
  FObjects.remove(AName);
  FAheadRead.reset();
}

void HostObjectChannel::Clear() {
  FObjects.clear();
  FAheadRead.reset();
}

QString HostObjectChannel::Handle(const QUrl& ASecurityOrigin, QStringView ARequest, QStringView ANotice) {
  QString reply;
  try {
    reply = Answer(ASecurityOrigin, ARequest, ANotice);
  } catch (const Exception& e) {
    reply = Failure(e.message());
  } catch (const std::exception& e) {
    reply = Failure(QString::fromUtf8(e.what()));
  } catch (...) {
    reply = Failure(QStringLiteral("Unknown error"));
  }
  if (reply.size() > MaxCallText) reply = Failure(TooLarge("answer", reply.size()));
  return reply;
}

QString HostObjectChannel::Answer(const QUrl& ASecurityOrigin, QStringView ARequest, QStringView ANotice) {
  // A read answered ahead is good for the one call after its assignment.
  const std::optional<TAheadRead> aheadRead = std::exchange(FAheadRead, std::nullopt);
  if (!Allows(ASecurityOrigin)) return Failure(QStringLiteral("Host objects are not available to this page"));
  if (aheadRead && ANotice == kTaken) aheadRead->Object->aheadReadTaken(aheadRead->Property);
  if (ARequest.size() > MaxCallText) return Failure(TooLarge("message", ARequest.size()));
  // Anything but an object (a malformed request included) has no members.
  const QByteArray text = ParsableUtf8(ARequest);
  const nlohmann::json request = nlohmann::json::parse(text.cbegin(), text.cend(), nullptr, false);
  const QString op = Member(request, "op");
  if (op == QLatin1String("probe")) return Success();

  const QString name = Member(request, "object");
  const QString property = Member(request, "property");
  // Held for the call, so that a setter that unregisters its own object
  // does not destroy it under itself.
  const std::shared_ptr<IHostObject> object = FObjects.value(name);
  if (!object) return Failure(QStringLiteral("Unknown host object: ") + name);
  if (!object->propertyNames().contains(property))
    return Failure(QStringLiteral("Unknown property of host object ") + name + QStringLiteral(": ") + property);

  if (op == QLatin1String("get")) {
    const QString value = object->getProperty(property);
    // Quoting only makes it longer.
    if (value.size() > MaxCallText) return Failure(TooLarge("answer", value.size()));
    return Success(value);
  }
  if (op == QLatin1String("set")) return Assign(object, property, Member(request, "value"));
  return Failure(QStringLiteral("Unknown host object operation"));
}

QString HostObjectChannel::Assign(const std::shared_ptr<IHostObject>& AObject, const QString& AProperty,
                                  const QString& AValue) {
  AObject->setProperty(AProperty, AValue);
  // Without an answer ahead the page reads as it always did; a read that
  // fails ahead fails again in the page's own read, as it should.
  std::optional<QString> ahead;
  try {
    ahead = AObject->readAhead(AProperty);
  } catch (...) {
  }
  if (!ahead) return Success();
  QString reply = ReadAhead(*ahead);
  if (reply.size() > MaxCallText) return Success();
  FAheadRead = TAheadRead{AObject, AProperty};
  return reply;
}

QString HostObjectChannel::ProxyScript() const {
  return QString::fromLatin1(kProxyScript).arg(JsStringLiteral(FMarker), QString::number(MaxCallText));
}

}  // namespace orv
