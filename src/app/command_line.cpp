#include "app/command_line.h"

#include "app/debug_log.h"
#include "core/dashboard_browser.h"
#include "lib/web_browser.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace orv {

namespace {

void print(FILE* AStream, const QString& AText) {
  std::fputs(AText.toLocal8Bit().constData(), AStream);
  std::fflush(AStream);
}

}  // namespace

TDashboardCommandLineResult ParseDashboardCommandLine(const QStringList& AArguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("ORV Dashboard: the vendor's dashboard page in a window of its own, with the program as its "
                     "back end for downloads, installs and the ORV Kitwright package manager."));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("Show this help and exit."));
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("Show the version and exit."));
  const QCommandLineOption site(QStringLiteral("site-url"),
                                QStringLiteral("The vendor's web site (default: $ORV_DASHBOARD_SITE_URL or "
                                               "https://www.orvsoftware.com)."),
                                QStringLiteral("url"));
  const QCommandLineOption registry(QStringLiteral("registry-file"),
                                    QStringLiteral("The settings hive (default: $ORV_REGISTRY_FILE or "
                                                   "~/.config/orvsoftware/registry.reg)."),
                                    QStringLiteral("file"));
  const QCommandLineOption verbose(QStringLiteral("verbose"),
                                   QStringLiteral("Write the debug log to standard error too."));
  parser.addOptions({help, version, site, registry, verbose});

  if (!parser.parse(AArguments)) {
    print(stderr, parser.errorText() + QStringLiteral("\nTry 'orv-dashboard --help'.\n"));
    return {std::nullopt, 2};
  }
  if (!parser.positionalArguments().isEmpty()) {
    print(stderr, QStringLiteral("Unexpected argument '%1'.\nTry 'orv-dashboard --help'.\n")
                      .arg(parser.positionalArguments().first()));
    return {std::nullopt, 2};
  }
  if (parser.isSet(help)) {
    // Without an application object the parser does not know our name.
    print(stdout, parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("orv-dashboard")) +
                      QStringLiteral("\nFiles:\n  %1  the debug log (rotated; older ones end in .1 .. .3)\n")
                          .arg(DebugLogFile()));
    return {std::nullopt, 0};
  }
  if (parser.isSet(version)) {
    print(stdout, QStringLiteral("ORV Dashboard %1\n").arg(TORVDashboardBrowser::GetVersion()));
    return {std::nullopt, 0};
  }
  return {TDashboardCommandLine{parser.value(site), parser.value(registry), parser.isSet(verbose)}, 0};
}

}  // namespace orv
