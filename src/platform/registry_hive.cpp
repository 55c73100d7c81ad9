#include "platform/registry_hive.h"

#include "platform/file_lock.h"
#include "platform/registry_format.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orv {

namespace {

// Writers hold the lock for a few milliseconds; a lock held longer than this
// belongs to a process that hangs.
constexpr int kLockTimeoutMs = 20000;

[[noreturn]] void throwInvalidType(const QString& name) {
  throw ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(name));
}

[[noreturn]] void throwSetFailed(const QString& name) {
  throw ERegistryException(QStringLiteral("Failed to set data for '%1'").arg(name));
}

// The hive's cross-process lock on "<file>.lock".
class HiveLock {
public:
  explicit HiveLock(const QString& hiveFile) : lock_(hiveFile + QStringLiteral(".lock"), kLockTimeoutMs) {
    if (lock_.Result() == FileLock::Outcome::Busy)
      throw ERegistryException(QStringLiteral("The registry file '%1' stays locked by another process").arg(hiveFile));
    if (lock_.Result() != FileLock::Outcome::Held)
      throw ERegistryException(QStringLiteral("Cannot lock the registry file '%1'").arg(hiveFile));
  }

private:
  FileLock lock_;
};

QByteArray readFile(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly))
    throw ERegistryException(QStringLiteral("Cannot read the file '%1': %2").arg(fileName, file.errorString()));
  return file.readAll();
}

void copyInto(const RegistryTreeKey& from, RegistryTreeKey& to) {
  for (const RegistryValue& value : from.values()) to.setValue(value);
  for (const auto& subkey : from.subkeys()) copyInto(*subkey, to.addSubkey(subkey->name()));
}

// The old file stays until the new one is whole on disk. Unbuffered, so a
// full disk fails the write itself (a buffered QSaveFile's commit reports
// success when its last flush failed); synced before the rename, so a
// failure the file system reports late fails here too.
void save(const QString& fileName, const QByteArray& bytes) {
  QSaveFile file(fileName);
  // QSaveFile creates its file with the umask's permissions.
  bool ok = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) && file.write(bytes) == bytes.size();
  QString error = file.errorString();
  if (ok && ::fsync(file.handle()) != 0) {
    ok = false;
    error = QString::fromLocal8Bit(strerror(errno));
  }
  if (ok) {
    ok = file.commit();
    error = file.errorString();
  } else {
    file.cancelWriting();
  }
  if (!ok) throw ERegistryWriteError(QStringLiteral("Cannot write the registry file '%1': %2").arg(fileName, error));
}

class HiveKey final : public RegistryKey {
public:
  HiveKey(RegistryHive hive, QString path, QStringList treePath, bool readOnly)
      : hive_(std::move(hive)), path_(std::move(path)), treePath_(std::move(treePath)), readOnly_(readOnly) {}

  QString Path() const override { return path_; }

  bool ValueExists(const QString& name) const override {
    const RegistryTree tree = hive_.Load();
    return value(tree, name) != nullptr;
  }

  std::optional<QString> ReadString(const QString& name) const override {
    const RegistryTree tree = hive_.Load();
    const RegistryValue* found = value(tree, name);
    if (!found) return std::nullopt;
    if (found->type == kRegSz) return found->text;
    if (found->type == kRegExpandSz) return RegistryUtf16Text(RegistryHexBytes(found->raw).value_or(QByteArray()));
    throwInvalidType(name);
  }

  std::optional<qint32> ReadInteger(const QString& name) const override {
    const RegistryTree tree = hive_.Load();
    const RegistryValue* found = value(tree, name);
    if (!found) return std::nullopt;
    if (found->type != kRegDword) throwInvalidType(name);
    return static_cast<qint32>(found->number);
  }

  std::optional<bool> ReadBool(const QString& name) const override {
    const auto number = ReadInteger(name);
    if (!number) return std::nullopt;
    return *number != 0;
  }

  void WriteString(const QString& name, const QString& text) override { write(RegistryValue::String(name, text)); }

  void WriteInteger(const QString& name, qint32 number) override {
    write(RegistryValue::Dword(name, static_cast<quint32>(number)));
  }

  void WriteBool(const QString& name, bool flag) override { write(RegistryValue::Dword(name, flag ? 1 : 0)); }

  bool DeleteValue(const QString& name) override {
    if (readOnly_) return false;
    bool removed = false;
    hive_.Modify([&](RegistryTree& tree) {
      RegistryTreeKey* key = tree.find(treePath_);
      removed = key && key->removeValue(name);
      return removed;
    });
    return removed;
  }

  QStringList SubkeyNames() const override {
    const RegistryTree tree = hive_.Load();
    QStringList names;
    if (const RegistryTreeKey* key = tree.find(treePath_)) {
      for (const auto& subkey : key->subkeys()) names.append(subkey->name());
    }
    return names;
  }

  QStringList ValueNames() const override {
    const RegistryTree tree = hive_.Load();
    QStringList names;
    if (const RegistryTreeKey* key = tree.find(treePath_)) {
      for (const RegistryValue& v : key->values()) names.append(v.name);
    }
    return names;
  }

private:
  const RegistryValue* value(const RegistryTree& tree, const QString& name) const {
    const RegistryTreeKey* key = tree.find(treePath_);
    return key ? key->value(name) : nullptr;
  }

  void write(const RegistryValue& value) {
    if (readOnly_ || !IsStorableName(value.name)) throwSetFailed(value.name);
    hive_.Modify([&](RegistryTree& tree) {
      // What is there already is not written again: a start that records
      // an unchanged value leaves the file alone.
      if (const RegistryTreeKey* key = tree.find(treePath_))
        if (const RegistryValue* old = key->value(value.name); old && *old == value) return false;
      tree.make(treePath_).setValue(value);
      return true;
    });
  }

  RegistryHive hive_;
  QString path_;
  QStringList treePath_;
  bool readOnly_;
};

}  // namespace

std::optional<QStringList> CurrentUserKeyPath(const QString& path) {
  auto names = SplitKeyPath(path);
  if (names) names->prepend(QStringLiteral("HKEY_CURRENT_USER"));
  return names;
}

RegistryHive::RegistryHive(QString fileName) : fileName_(std::move(fileName)) {}

QString RegistryHive::DefaultFileName() {
  const QString file = qEnvironmentVariable("ORV_REGISTRY_FILE");
  if (!file.isEmpty()) return file;
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/orvsoftware/registry.reg");
}

RegistryTree RegistryHive::Load() const {
  RegistryTree tree;
  if (QFileInfo::exists(fileName_)) ApplyRegistryFile(ParseRegistryFile(readFile(fileName_), fileName_), tree);
  return tree;
}

void RegistryHive::Modify(const std::function<bool(RegistryTree&)>& change) {
  const QString folder = QFileInfo(fileName_).absolutePath();
  if (!QDir().mkpath(folder)) throw ERegistryException(QStringLiteral("Cannot create the folder '%1'").arg(folder));
  const HiveLock lock(fileName_);
  RegistryTree tree = Load();
  if (change(tree)) save(fileName_, FormatRegistryFile(tree));
}

void RegistryHive::ExportTo(const QString& exportFile, const QStringList& treePath) const {
  const RegistryTree tree = Load();
  const RegistryTreeKey* key = tree.find(treePath);
  if (!key)
    throw ERegistryException(QStringLiteral("The key '%1' does not exist").arg(treePath.join(QLatin1Char('\\'))));
  RegistryTree exported;
  copyInto(*key, exported.make(treePath));
  save(exportFile, FormatRegistryFile(exported));
}

void RegistryHive::ImportFrom(const QString& importFile) {
  const auto sections = ParseRegistryFile(readFile(importFile), importFile);
  Modify([&](RegistryTree& tree) {
    ApplyRegistryFile(sections, tree);
    return true;
  });
}

std::unique_ptr<RegistryKey> RegistryHive::open(const QString& path, Missing missing, bool readOnly) {
  const auto treePath = CurrentUserKeyPath(path);
  if (!treePath) return nullptr;
  try {
    if (!Load().find(*treePath) && missing != Missing::ReadsEmpty) {
      if (missing == Missing::Fails) return nullptr;
      Modify([&](RegistryTree& tree) {
        if (tree.find(*treePath)) return false;
        tree.make(*treePath);
        return true;
      });
    }
  } catch (const ERegistryFormatError&) {
    throw;
  } catch (const ERegistryException&) {
    return nullptr;  // unreadable or unwritable: the key cannot be opened
  }
  return std::make_unique<HiveKey>(*this, path, *treePath, readOnly);
}

std::unique_ptr<RegistryKey> RegistryHive::OpenKey(const QString& path, bool create) {
  return open(path, create ? Missing::IsCreated : Missing::Fails, false);
}

std::unique_ptr<RegistryKey> RegistryHive::OpenKeyReadOnly(const QString& path) {
  return open(path, Missing::Fails, true);
}

std::unique_ptr<RegistryKey> RegistryHive::OpenKeyForReading(const QString& path) {
  return open(path, Missing::ReadsEmpty, true);
}

bool RegistryHive::KeyExists(const QString& path) { return OpenKeyReadOnly(path) != nullptr; }

bool RegistryHive::DeleteKey(const QString& path) {
  const auto treePath = CurrentUserKeyPath(path);
  if (!treePath || treePath->size() < 2) return false;
  bool removed = false;
  Modify([&](RegistryTree& tree) {
    removed = tree.remove(*treePath);
    return removed;
  });
  return removed;
}

}  // namespace orv
