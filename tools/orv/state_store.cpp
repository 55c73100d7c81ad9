#include "state_store.h"

#include "platform/file_lock.h"

#include <QFile>
#include <QSaveFile>
#include <QString>

#include <stdexcept>

namespace orv::standin {

namespace {

constexpr const char* kDefaultScene = R"json({
  "version": "2.5.0.0",
  "latest_version": "2.5.0.0",
  "folder_initialized": true,
  "credentials": null,
  "repositories": {
    "default": {
      "orv.samplepack": {"name": "Sample Pack", "version": "3.1.0.0", "vendor_id": "orv", "channel": "stable"},
      "orv.charts": {"name": "Chart Kit", "version": "2.0.4.0", "vendor_id": "orv", "channel": "stable"},
      "orv.grids": {"name": "Grid Suite", "version": "5.2.0.0", "vendor_id": "orv", "channel": "stable"}
    }
  },
  "installed": {
    "orv.samplepack": {
      "name": "Sample Pack", "version": "3.0.0.0", "channel": "stable", "local": false,
      "ides": {"delphi12": {"platforms": {
        "win32intel": {"built": true, "registered": true},
        "win64intel": {"built": true, "registered": false}}}}
    }
  },
  "target_ides": ["delphi12"],
  "target_platforms": ["win32intel", "win64intel"],
  "config": {},
  "knobs": {}
})json";

}  // namespace

Json DefaultScene() { return Json::parse(kDefaultScene); }

Json StateStore::Load() const {
  QFile file(QString::fromStdString(path_));
  if (!file.exists()) return DefaultScene();
  if (!file.open(QIODevice::ReadOnly)) throw std::runtime_error("cannot open state file " + path_);
  const QByteArray bytes = file.readAll();
  Json state = Json::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
  if (!state.is_object()) throw std::runtime_error("state file " + path_ + " is not a JSON object");
  return state;
}

void StateStore::Update(const std::function<void(Json&)>& change) {
  // A lock that dies with its holder: a run killed at any moment holds up
  // no later one.
  const orv::FileLock lock(QString::fromStdString(path_ + ".lock"), 30000);
  if (lock.Result() == orv::FileLock::Outcome::Busy) throw std::runtime_error("state file " + path_ + " is locked");
  if (lock.Result() != orv::FileLock::Outcome::Held) throw std::runtime_error("cannot lock state file " + path_);
  Json state = Load();
  change(state);
  QSaveFile file(QString::fromStdString(path_));
  const std::string text = state.dump(2) + "\n";
  // The state holds the account code. QSaveFile creates its file with the
  // umask's permissions (or the old file's), so they are set explicitly.
  if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
      file.write(text.data(), static_cast<qint64>(text.size())) < 0 || !file.commit())
    throw std::runtime_error("cannot write state file " + path_);
}

}  // namespace orv::standin
