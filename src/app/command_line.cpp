#include "app/command_line.h"

#include "app/debug_log.h"
#include "core/dashboard_browser.h"
#include "lib/web_browser.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHash>

#include <cstdio>

namespace orv {

namespace {

void print(FILE* AStream, const QString& AText) {
  std::fputs(AText.toLocal8Bit().constData(), AStream);
  std::fflush(AStream);
}

// Qt's own options (QGuiApplication, QApplication, xcb) and whether they
// take a value; QApplication reads them from the same command line.
const QHash<QString, bool>& qtOptions() {
  static const QHash<QString, bool> options{
      {QStringLiteral("platform"), true},      {QStringLiteral("platformpluginpath"), true},
      {QStringLiteral("platformtheme"), true}, {QStringLiteral("plugin"), true},
      {QStringLiteral("qmljsdebugger"), true}, {QStringLiteral("qwindowgeometry"), true},
      {QStringLiteral("qwindowicon"), true},   {QStringLiteral("qwindowtitle"), true},
      {QStringLiteral("session"), true},       {QStringLiteral("style"), true},
      {QStringLiteral("stylesheet"), true},    {QStringLiteral("display"), true},
      {QStringLiteral("geometry"), true},      {QStringLiteral("name"), true},
      {QStringLiteral("title"), true},         {QStringLiteral("visual"), true},
      {QStringLiteral("reverse"), false},      {QStringLiteral("widgetcount"), false},
      {QStringLiteral("sync"), false},         {QStringLiteral("nograb"), false},
      {QStringLiteral("dograb"), false},
  };
  return options;
}

// What the program parses itself: Qt's options and the engine's switches
// ("--name=value", and everything after "--webEngineArgs") are left to
// them.
QStringList ownArguments(const QStringList& AArguments) {
  QStringList own;
  for (qsizetype i = 0; i < AArguments.size(); ++i) {
    const QString& argument = AArguments[i];
    if (i == 0 || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("--")) {
      own << argument;
      continue;
    }
    if (argument == QLatin1String("--webEngineArgs")) break;
    const QString bare = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
    const QString name = bare.section(QLatin1Char('='), 0, 0);
    if (const auto qt = qtOptions().constFind(name); qt != qtOptions().constEnd()) {
      if (*qt && !bare.contains(QLatin1Char('='))) ++i;  // its value
      continue;
    }
    const bool ours = name == QLatin1String("site-url") || name == QLatin1String("registry-file");
    if (argument.startsWith(QLatin1String("--")) && bare.contains(QLatin1Char('=')) && !ours) continue;
    own << argument;
  }
  return own;
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

  if (!parser.parse(ownArguments(AArguments))) {
    print(stderr, parser.errorText() + QStringLiteral("\nSwitches of the browser engine go after --webEngineArgs.\n"
                                                      "Try 'orv-dashboard --help'.\n"));
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
