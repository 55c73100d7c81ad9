#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace orv {

// What the user asked for on the command line.
struct TDashboardCommandLine {
  QString siteURL;       // empty: ORV_DASHBOARD_SITE_URL or the vendor's site
  QString registryFile;  // empty: ORV_REGISTRY_FILE or the default hive
  bool verbose = false;  // the debug log also on standard error
};

// The parsed command line, or the exit code when the command line was
// answered on its own (--help, --version) or is wrong; what is to be said
// has been written to standard output or standard error. Needs no
// application object, so it runs before any window or engine.
struct TDashboardCommandLineResult {
  std::optional<TDashboardCommandLine> options;
  int exitCode = 0;
};
TDashboardCommandLineResult ParseDashboardCommandLine(const QStringList& AArguments);

}  // namespace orv
