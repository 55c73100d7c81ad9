#pragma once

#include "platform/registry.h"
#include "platform/registry_tree.h"

#include <functional>

namespace orv {

// The current user's registry kept in one text file in the format of
// registry exports, so that a user can read, edit, diff and move it. Every
// read parses the file as it is now; every change is a read-modify-write
// under a lock on a file beside it ("<file>.lock", shared by all processes
// and left in place; a dead writer's lock is gone with it) that replaces
// the file atomically, private to the user (0600). A malformed
// file is reported (ERegistryFormatError) and never written over.
//
// The object only names the file: copies, and the keys it opens, work on
// the same file and may outlive it. Any thread may use it at any time.
class RegistryHive final : public Registry {
public:
  explicit RegistryHive(QString fileName);

  // $ORV_REGISTRY_FILE when set, otherwise orvsoftware/registry.reg in the
  // user's configuration folder ($XDG_CONFIG_HOME, default ~/.config).
  static QString DefaultFileName();

  const QString& FileName() const { return fileName_; }

  // The whole registry as the file holds it now; a missing file is empty.
  RegistryTree Load() const;
  // Runs change on the current registry while holding the lock and writes
  // the result when change returns true. Throws ERegistryException when the
  // lock cannot be had or the file cannot be written.
  void Modify(const std::function<bool(RegistryTree&)>& change);

  // Writes the key at treePath (the whole registry when empty) with all its
  // subkeys to an export file, private to the user. Throws
  // ERegistryException when the key is missing or the file cannot be
  // written.
  void ExportTo(const QString& exportFile, const QStringList& treePath = {}) const;
  // Applies an export file (values set, "[-key]" and "name"=- delete) in one
  // change; a malformed file changes nothing.
  void ImportFrom(const QString& importFile);

  std::unique_ptr<RegistryKey> OpenKey(const QString& path, bool create) override;
  std::unique_ptr<RegistryKey> OpenKeyReadOnly(const QString& path) override;
  std::unique_ptr<RegistryKey> OpenKeyForReading(const QString& path) override;
  bool KeyExists(const QString& path) override;
  bool DeleteKey(const QString& path) override;

private:
  // What opening a key that does not exist does.
  enum class Missing { Fails, IsCreated, ReadsEmpty };
  std::unique_ptr<RegistryKey> open(const QString& path, Missing missing, bool readOnly);

  QString fileName_;
};

// The full tree path of a key path below HKEY_CURRENT_USER; nullopt for a
// path that cannot name a key.
std::optional<QStringList> CurrentUserKeyPath(const QString& path);

}  // namespace orv
