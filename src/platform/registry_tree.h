#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace orv {

// Registry value types by their numbers.
inline constexpr quint32 kRegNone = 0;
inline constexpr quint32 kRegSz = 1;
inline constexpr quint32 kRegExpandSz = 2;
inline constexpr quint32 kRegBinary = 3;
inline constexpr quint32 kRegDword = 4;
inline constexpr quint32 kRegMultiSz = 7;
inline constexpr quint32 kRegQword = 11;

// One value of a key. Strings and DWORDs are held decoded; every other type
// is held as the data text of its export line ("hex(2):41,00,00,00", with
// continuation lines), so it is written back exactly as it was read.
struct RegistryValue {
  QString name;  // empty for the key's default value
  quint32 type = kRegSz;
  QString text;        // kRegSz
  quint32 number = 0;  // kRegDword
  QString raw;         // any other type

  static RegistryValue String(const QString& name, const QString& text);
  static RegistryValue Dword(const QString& name, quint32 number);

  friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

// A key with its values and subkeys. Names compare case-insensitively and
// keep the spelling they were first given; order is the order of creation.
class RegistryTreeKey {
public:
  explicit RegistryTreeKey(QString name = {});
  RegistryTreeKey(RegistryTreeKey&&) noexcept = default;
  RegistryTreeKey& operator=(RegistryTreeKey&&) noexcept = default;

  const QString& name() const { return name_; }

  const RegistryTreeKey* subkey(const QString& name) const;
  RegistryTreeKey* subkey(const QString& name);
  // The subkey, made when missing.
  RegistryTreeKey& addSubkey(const QString& name);
  bool removeSubkey(const QString& name);
  const std::vector<std::unique_ptr<RegistryTreeKey>>& subkeys() const { return subkeys_; }

  const RegistryValue* value(const QString& name) const;
  // Replaces a value of the same name, keeping that value's spelling.
  void setValue(RegistryValue value);
  bool removeValue(const QString& name);
  const std::vector<RegistryValue>& values() const { return values_; }

  // Descendants along a path of key names; null when one is missing.
  const RegistryTreeKey* find(const QStringList& path) const;
  RegistryTreeKey* find(const QStringList& path);
  // Descendant along the path, making the missing keys.
  RegistryTreeKey& make(const QStringList& path);
  // Removes the descendant at the path (not the key itself); false when absent.
  bool remove(const QStringList& path);

private:
  void reindexSubkeys();
  void reindexValues();

  QString name_;
  std::vector<std::unique_ptr<RegistryTreeKey>> subkeys_;
  QHash<QString, size_t> subkeyIndex_;  // upper-cased name -> position
  std::vector<RegistryValue> values_;
  QHash<QString, size_t> valueIndex_;
};

// The whole registry: the root key's subkeys are the roots
// ("HKEY_CURRENT_USER", ...).
using RegistryTree = RegistryTreeKey;

// The names of a key path written with backslashes ("\\Software\\x"; leading
// and trailing backslashes are ignored). Empty list for the root; nullopt
// for an empty name inside ("a\\\\b") or a name that IsStorableName refuses.
std::optional<QStringList> SplitKeyPath(const QString& path);

// True when a key or value name, or a string, can be written as quoted text
// of an export file: no line breaks, no NUL, no unpaired surrogates.
bool IsStorableName(const QString& name);

}  // namespace orv
