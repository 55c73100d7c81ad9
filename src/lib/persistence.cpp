#include "lib/persistence.h"

#include <QIODevice>

#include <limits>

namespace orv {

namespace {

struct PersistenceSettings {
  QString typeKey = QStringLiteral("$type");
  QStringList excludeProperties;
  TORVZYNDashPersistent* referenceObject = nullptr;
};

PersistenceSettings& settings() {
  static PersistenceSettings instance;
  return instance;
}

// Property names compare like identifiers: ASCII letters without regard to
// case, everything else exactly.
bool sameName(const QString& a, const QString& b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i) {
    char16_t x = a[i].unicode();
    char16_t y = b[i].unicode();
    if (x >= u'a' && x <= u'z') x -= 32;
    if (y >= u'a' && y <= u'z') y -= 32;
    if (x != y) return false;
  }
  return true;
}

bool containsName(const QStringList& names, const QString& name) {
  for (const QString& candidate : names)
    if (sameName(candidate, name)) return true;
  return false;
}

// Puts the process-wide settings FromJSON changes back when it ends.
class SettingsRestorer {
public:
  SettingsRestorer() : FTypeKey(settings().typeKey), FReference(settings().referenceObject) {}
  ~SettingsRestorer() {
    settings().typeKey = FTypeKey;
    settings().referenceObject = FReference;
  }
  SettingsRestorer(const SettingsRestorer&) = delete;
  SettingsRestorer& operator=(const SettingsRestorer&) = delete;

private:
  QString FTypeKey;
  TORVZYNDashPersistent* FReference;
};

}  // namespace

TORVZYNDashReader::TORVZYNDashReader(QTextStream& AStream)
    : FReader(AStream), FTypeKey(settings().typeKey), FExcludeProperties(settings().excludeProperties) {}

void TORVZYNDashReader::Read(TORVZYNDashPersistent& AObject) {
  if (FReader.Peek() == jstNull) {
    FReader.ReadNull();
    return;
  }
  FReader.ReadBeginObject();
  if (!FTypeKey.isEmpty()) {
    if (FReader.Peek() != jstDoubleQuotedName || !sameName(FReader.ReadName(), FTypeKey))
      throw EORVZYNDashReaderException(QLatin1Char('"') + FTypeKey +
                                       QStringLiteral("\" property not found in Object descriptor."));
    FReader.ReadString();
  }
  while (FReader.Peek() != jstEndObject) {
    const TPublishedProperty* property = FindProperty(AObject, FReader.ReadName());
    if (!property) {
      FReader.SkipValue();
    } else if (FReader.Peek() == jstNull) {
      FReader.ReadNull();
    } else {
      property->Setter(AObject, ReadValue(property->Kind));
    }
  }
  FReader.ReadEndObject();
}

void TORVZYNDashReader::ReadEnd() {
  if (FReader.Peek() != jstEOF) throw InvalidStateError(jstEOF);
}

const TPublishedProperty* TORVZYNDashReader::FindProperty(const TORVZYNDashPersistent& AObject,
                                                          const QString& AName) const {
  if (containsName(FExcludeProperties, AName)) return nullptr;
  for (const TPublishedProperty& property : AObject.PublishedProperties())
    if (sameName(property.Name, AName)) return property.Setter ? &property : nullptr;
  return nullptr;
}

TPropertyValue TORVZYNDashReader::ReadValue(TPropertyKind AKind) {
  const TORVZYNDashJSONState token = FReader.Peek();
  switch (AKind) {
    case TPropertyKind::String:
      if (token == jstInt64) return QString::number(FReader.ReadInt64());
      if (token == jstNumber) return FReader.ReadNumberText();
      return FReader.ReadString();
    case TPropertyKind::Integer: {
      // A value that does not fit is refused rather than cut.
      const qint64 value = FReader.ReadInt64();
      if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        throw InvalidStateError(jstInt64);
      return value;
    }
    case TPropertyKind::Int64: return FReader.ReadInt64();
    case TPropertyKind::Boolean: return FReader.ReadBoolean();
    case TPropertyKind::Float:
      if (token == jstInt64) return static_cast<double>(FReader.ReadInt64());
      return FReader.ReadNumber();
  }
  throw InvalidStateError(jstNone);  // unreachable: every kind returns above
}

void TORVZYNDashPersistence::LoadSettingsFromStream(TORVZYNDashPersistent& AObject, QTextStream& AStream) {
  AStream.seek(0);
  TORVZYNDashReader reader(AStream);
  reader.Read(AObject);
}

void TORVZYNDashPersistence::FromJSON(TORVZYNDashPersistent& AObject, const QString& AString) {
  QString text = AString;
  QTextStream stream(&text, QIODevice::ReadOnly);
  const SettingsRestorer restorer;
  settings().typeKey.clear();
  settings().referenceObject = &AObject;
  TORVZYNDashReader reader(stream);
  reader.Read(AObject);
  reader.ReadEnd();
}

QString TORVZYNDashPersistence::TypeKey() { return settings().typeKey; }

void TORVZYNDashPersistence::SetTypeKey(const QString& AKey) { settings().typeKey = AKey; }

QStringList TORVZYNDashPersistence::ExcludeProperties() { return settings().excludeProperties; }

void TORVZYNDashPersistence::SetExcludeProperties(const QStringList& ANames) { settings().excludeProperties = ANames; }

TORVZYNDashPersistent* TORVZYNDashPersistence::ReferenceObject() { return settings().referenceObject; }

void TORVZYNDashPersistence::SetReferenceObject(TORVZYNDashPersistent* AObject) {
  settings().referenceObject = AObject;
}

}  // namespace orv
