#pragma once

#include "platform/exception.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace orv {

// A registry operation failed: a value of another type than the one read,
// a write that could not be stored, or a hive that cannot be read.
ORV_DECLARE_EXCEPTION(ERegistryException, Exception);
// A change that could not be stored (a full disk); the stored file is as it was.
ORV_DECLARE_EXCEPTION(ERegistryWriteError, ERegistryException);

// One open registry key. Reads see the registry as it is at the moment of
// the call; nothing is cached by the key.
class RegistryKey {
public:
  virtual ~RegistryKey() = default;

  // The key's path below HKEY_CURRENT_USER as it was opened.
  virtual QString Path() const = 0;

  virtual bool ValueExists(const QString& name) const = 0;
  // Absent values read as nullopt; a value of another type throws
  // ERegistryException "Invalid data type for '<name>'". An empty name is
  // the key's default value.
  virtual std::optional<QString> ReadString(const QString& name) const = 0;  // REG_SZ, REG_EXPAND_SZ
  virtual std::optional<qint32> ReadInteger(const QString& name) const = 0;  // REG_DWORD
  virtual std::optional<bool> ReadBool(const QString& name) const = 0;       // REG_DWORD, true unless 0

  // Writes replace a value of any type. A key opened read-only, or a store
  // that cannot be written, throws ERegistryException.
  virtual void WriteString(const QString& name, const QString& value) = 0;
  virtual void WriteInteger(const QString& name, qint32 value) = 0;
  virtual void WriteBool(const QString& name, bool value) = 0;  // REG_DWORD 0 or 1
  // False when there was no such value.
  virtual bool DeleteValue(const QString& name) = 0;

  // Names in the registry's order, spelled as first written.
  virtual QStringList SubkeyNames() const = 0;
  virtual QStringList ValueNames() const = 0;
};

// The current user's registry (HKEY_CURRENT_USER). Key paths use
// backslashes on every platform ("\\Software\\orvsoftware\\ORV Dashboard"; the
// leading backslash is optional) and compare case-insensitively.
class Registry {
public:
  virtual ~Registry() = default;

  // Opens a key for reading and writing; with create, a missing key and its
  // missing parents are made. Null when the key does not exist (without
  // create) or cannot be made.
  virtual std::unique_ptr<RegistryKey> OpenKey(const QString& path, bool create) = 0;
  // Opens an existing key for reading only; null when it does not exist.
  virtual std::unique_ptr<RegistryKey> OpenKeyReadOnly(const QString& path) = 0;
  // Opens a key for reading only and never makes it: a missing key opens
  // as one without values or subkeys. Null when the registry cannot be
  // read (or the path names no key).
  virtual std::unique_ptr<RegistryKey> OpenKeyForReading(const QString& path) = 0;
  virtual bool KeyExists(const QString& path) = 0;
  // Deletes the key with all its subkeys and values; false when it did not
  // exist.
  virtual bool DeleteKey(const QString& path) = 0;
};

}  // namespace orv
