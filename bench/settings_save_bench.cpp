// What the options dialog costs per keystroke in the package manager's
// folder: every keystroke stores all settings. "Keystroke" saves a record in
// which only the folder differs from what is stored; "AllChanged" saves one
// in which every value differs, as the first save of a fresh user does.
#include "platform/registry_hive.h"
#include "settings/dashboard_settings.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace orv {
namespace {

class NoFolders final : public KnownFolders {
public:
  QString Downloads() const override { return QStringLiteral("/home/user/Downloads"); }
  QString Documents() const override { return QStringLiteral("/home/user/Documents"); }
  QString LocalAppData() const override { return QStringLiteral("/home/user/.local/share"); }
  QString Temp() const override { return QStringLiteral("/tmp"); }
};

TORVDashboardSettingsValues Values(int AVariant) {
  TORVDashboardSettingsValues values;
  const QString n = QString::number(AVariant);
  values.Password = QStringLiteral("CODE-") + n;
  values.UserName = QStringLiteral("user%1@example.com").arg(n);
  values.DownloadDir = QStringLiteral("/data/downloads/") + n;
  values.KitwrightDir = QStringLiteral("/opt/kitwright/") + n;
  values.InstallDirTrial = QStringLiteral("/opt/trial/") + n;
  values.InstallDirReg = QStringLiteral("/opt/registered/") + n;
  values.InstallNotifications = AVariant % 2;
  values.ProductNotifications = AVariant % 2;
  values.Silent = AVariant % 2;
  return values;
}

void BM_SaveSettings_Keystroke(benchmark::State& state) {
  QTemporaryDir dir;
  RegistryHive hive(dir.filePath(QStringLiteral("registry.reg")));
  NoFolders folders;
  TORVDashboardSettings settings(hive, folders);
  TORVDashboardSettingsValues values = Values(0);
  settings.SaveRegistrySettings(values);
  int keystroke = 0;
  for (auto _ : state) {
    values.KitwrightDir = QStringLiteral("/opt/kitwright/") + QString::number(++keystroke);
    settings.SaveRegistrySettings(values);
  }
}
BENCHMARK(BM_SaveSettings_Keystroke)->Unit(benchmark::kMillisecond);

void BM_SaveSettings_AllChanged(benchmark::State& state) {
  QTemporaryDir dir;
  RegistryHive hive(dir.filePath(QStringLiteral("registry.reg")));
  NoFolders folders;
  TORVDashboardSettings settings(hive, folders);
  int variant = 0;
  for (auto _ : state) settings.SaveRegistrySettings(Values(++variant));
}
BENCHMARK(BM_SaveSettings_AllChanged)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orv

BENCHMARK_MAIN();
