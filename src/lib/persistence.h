#pragma once

#include "lib/json_reader.h"
#include "platform/exception.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <functional>
#include <variant>
#include <vector>

namespace orv {

// Raised when the type key is set but the object's JSON does not start
// with it.
ORV_DECLARE_EXCEPTION(EORVZYNDashReaderException, Exception);

class TORVZYNDashPersistent;

enum class TPropertyKind { String, Integer, Int64, Boolean, Float };

// String: QString; Integer and Int64: qint64 (Integer within 32 bits);
// Boolean: bool; Float: double.
using TPropertyValue = std::variant<QString, qint64, bool, double>;

// One published property: its name, the kind of value it takes and how to
// store it. A property without a setter is read-only: its JSON value is
// skipped.
struct TPublishedProperty {
  QString Name;
  TPropertyKind Kind;
  std::function<void(TORVZYNDashPersistent&, const TPropertyValue&)> Setter;
};

using TPublishedProperties = std::vector<TPublishedProperty>;

// Base of the classes whose published properties can be filled from JSON.
class TORVZYNDashPersistent {
public:
  virtual ~TORVZYNDashPersistent() = default;
  // The class's published properties, those of its ancestors included.
  virtual const TPublishedProperties& PublishedProperties() const = 0;
};

// A published string property of T stored through ASetter.
template <class T>
TPublishedProperty PublishedString(const QString& AName, void (T::*ASetter)(const QString&)) {
  return {AName, TPropertyKind::String, [ASetter](TORVZYNDashPersistent& AObject, const TPropertyValue& AValue) {
            (static_cast<T&>(AObject).*ASetter)(std::get<QString>(AValue));
          }};
}

// Reads one JSON object from a stream into an existing object's published
// properties. Member names match property names without regard to ASCII
// letter case; unknown, excluded and read-only members are skipped whole;
// null leaves a property unchanged. Errors of the JSON reader propagate;
// members applied before an error stay applied.
class TORVZYNDashReader {
public:
  explicit TORVZYNDashReader(QTextStream& AStream);

  void Read(TORVZYNDashPersistent& AObject);
  // Requires the end of the text after the object: anything but white space
  // raises the JSON reader's EMultipleRootNotAllowed.
  void ReadEnd();

private:
  const TPublishedProperty* FindProperty(const TORVZYNDashPersistent& AObject, const QString& AName) const;
  TPropertyValue ReadValue(TPropertyKind AKind);

  TORVZYNDashJSONReader FReader;
  QString FTypeKey;
  QStringList FExcludeProperties;
};

// Entry points of the persistence and its process-wide settings. The
// settings are meant for the UI thread only: FromJSON changes them for the
// duration of its call.
class TORVZYNDashPersistence {
public:
  TORVZYNDashPersistence() = delete;

  // Rewinds AStream to its start and reads one object into AObject.
  static void LoadSettingsFromStream(TORVZYNDashPersistent& AObject, QTextStream& AStream);
  // Fills AObject from AString, which holds that one object (or null) and
  // nothing else but white space, with the type key switched off and
  // AObject as the reference object; both settings are restored afterwards,
  // also when reading fails.
  static void FromJSON(TORVZYNDashPersistent& AObject, const QString& AString);

  // The member name that must lead every object ("$type" from start; empty:
  // not required).
  static QString TypeKey();
  static void SetTypeKey(const QString& AKey);
  // Property names never read (empty from start).
  static QStringList ExcludeProperties();
  static void SetExcludeProperties(const QStringList& ANames);
  // The object references are resolved against (none from start).
  static TORVZYNDashPersistent* ReferenceObject();
  static void SetReferenceObject(TORVZYNDashPersistent* AObject);
};

}  // namespace orv
