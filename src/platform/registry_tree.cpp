#include "platform/registry_tree.h"

namespace orv {

namespace {

// The registry compares names by their upper-case forms.
QString foldName(const QString& name) { return name.toUpper(); }

}  // namespace

RegistryValue RegistryValue::String(const QString& name, const QString& text) {
  RegistryValue value;
  value.name = name;
  value.type = kRegSz;
  value.text = text;
  return value;
}

RegistryValue RegistryValue::Dword(const QString& name, quint32 number) {
  RegistryValue value;
  value.name = name;
  value.type = kRegDword;
  value.number = number;
  return value;
}

RegistryTreeKey::RegistryTreeKey(QString name) : name_(std::move(name)) {}

const RegistryTreeKey* RegistryTreeKey::subkey(const QString& name) const {
  const auto it = subkeyIndex_.constFind(foldName(name));
  return it == subkeyIndex_.cend() ? nullptr : subkeys_[*it].get();
}

RegistryTreeKey* RegistryTreeKey::subkey(const QString& name) {
  return const_cast<RegistryTreeKey*>(std::as_const(*this).subkey(name));
}

RegistryTreeKey& RegistryTreeKey::addSubkey(const QString& name) {
  if (RegistryTreeKey* existing = subkey(name)) return *existing;
  subkeyIndex_.insert(foldName(name), subkeys_.size());
  subkeys_.push_back(std::make_unique<RegistryTreeKey>(name));
  return *subkeys_.back();
}

bool RegistryTreeKey::removeSubkey(const QString& name) {
  const auto it = subkeyIndex_.constFind(foldName(name));
  if (it == subkeyIndex_.cend()) return false;
  subkeys_.erase(subkeys_.begin() + static_cast<std::ptrdiff_t>(*it));
  reindexSubkeys();
  return true;
}

const RegistryValue* RegistryTreeKey::value(const QString& name) const {
  const auto it = valueIndex_.constFind(foldName(name));
  return it == valueIndex_.cend() ? nullptr : &values_[*it];
}

void RegistryTreeKey::setValue(RegistryValue value) {
  const auto it = valueIndex_.constFind(foldName(value.name));
  if (it != valueIndex_.cend()) {
    value.name = values_[*it].name;
    values_[*it] = std::move(value);
    return;
  }
  valueIndex_.insert(foldName(value.name), values_.size());
  values_.push_back(std::move(value));
}

bool RegistryTreeKey::removeValue(const QString& name) {
  const auto it = valueIndex_.constFind(foldName(name));
  if (it == valueIndex_.cend()) return false;
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(*it));
  reindexValues();
  return true;
}

const RegistryTreeKey* RegistryTreeKey::find(const QStringList& path) const {
  const RegistryTreeKey* key = this;
  for (const QString& name : path) {
    key = key->subkey(name);
    if (!key) return nullptr;
  }
  return key;
}

RegistryTreeKey* RegistryTreeKey::find(const QStringList& path) {
  return const_cast<RegistryTreeKey*>(std::as_const(*this).find(path));
}

RegistryTreeKey& RegistryTreeKey::make(const QStringList& path) {
  RegistryTreeKey* key = this;
  for (const QString& name : path) key = &key->addSubkey(name);
  return *key;
}

bool RegistryTreeKey::remove(const QStringList& path) {
  if (path.isEmpty()) return false;
  RegistryTreeKey* parent = find(path.mid(0, path.size() - 1));
  return parent && parent->removeSubkey(path.last());
}

void RegistryTreeKey::reindexSubkeys() {
  subkeyIndex_.clear();
  for (size_t i = 0; i < subkeys_.size(); ++i) subkeyIndex_.insert(foldName(subkeys_[i]->name()), i);
}

void RegistryTreeKey::reindexValues() {
  valueIndex_.clear();
  for (size_t i = 0; i < values_.size(); ++i) valueIndex_.insert(foldName(values_[i].name), i);
}

std::optional<QStringList> SplitKeyPath(const QString& path) {
  QString trimmed = path;
  if (trimmed.startsWith(QLatin1Char('\\'))) trimmed.remove(0, 1);
  if (trimmed.endsWith(QLatin1Char('\\'))) trimmed.chop(1);
  if (trimmed.isEmpty()) return QStringList();
  const QStringList names = trimmed.split(QLatin1Char('\\'));
  for (const QString& name : names) {
    if (name.isEmpty() || !IsStorableName(name)) return std::nullopt;
  }
  return names;
}

bool IsStorableName(const QString& name) {
  for (const QChar c : name) {
    if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c.isNull()) return false;
  }
  return QStringView(name).isValidUtf16();
}

}  // namespace orv
