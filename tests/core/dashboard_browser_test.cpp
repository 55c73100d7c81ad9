#include "dashboard_fixture.h"
#include "platform/exception.h"
#include "product_archive.h"
#include "support/error_of.h"
#include "support/small_file_system.h"

#include <QJsonDocument>
#include <QStringEncoder>

#include <gtest/gtest.h>

namespace orv {
namespace {

using test::Event;
using test::kSite;
using test::Message;

using DashboardBrowserTest = test::DashboardFixture;

TEST_F(DashboardBrowserTest, StartsTheEngineWithTheBridgeAndTheDashboardPage) {
  EXPECT_EQ(hive_.OpenKeyReadOnly(TORVDashboardSettings::SettingsKey)->ReadString(QStringLiteral("DASHBOARDVERSION")),
            QStringLiteral("1.2.1.0"));
  EXPECT_EQ(backend_->url, kSite + QStringLiteral("/site/dashboard"));
  EXPECT_EQ(backend_->origin, kSite);
  EXPECT_FALSE(backend_->contextMenu);
  EXPECT_FALSE(backend_->debugConsole);
  EXPECT_FALSE(backend_->externalDrop);
  EXPECT_FALSE(backend_->autoClearCache);

  // A new engine gets the same bridge object again.
  dashboard_->WebBrowser().DeInitialize();
  dashboard_->WebBrowser().Initialize();
  dashboard_->WebBrowser().DoEngineInitialized();
  EXPECT_EQ(service_->last->bridges.value(QStringLiteral("DashboardBridge")), bridge_);
}

TEST_F(DashboardBrowserTest, MessagesAreFramedDecodedAndDispatchedOnTheirUpperCasedName) {
  struct Case {
    QString message;
    QString action;         // FAction afterwards
    QString productAction;  // FProductAction afterwards
    QStringList pageCalls;
  };
  const QString download = QStringLiteral("{\"EventName\":\"DOWNLOAD\",\"Name\":\"Ä b\",\"Version\":\"1.0\"}");
  const Case cases[] = {
      {Event(QStringLiteral("getstatus")), QStringLiteral("GETSTATUS"), {}, {LogScript(QStringLiteral("''"))}},
      {Message(QStringLiteral("{\"eventname\":\"GETIDETHEME\",\"CustomData\":\"x\",\"ID\":7}")),
       QStringLiteral("GETIDETHEME"),
       {},
       {LogScript(QStringLiteral("''"))}},
      {Message(QStringLiteral("{\"$type\":\"X\",\"EVENTNAME\":\"GETKITWRIGHTDIR\"}"), QStringLiteral("[]")),
       QStringLiteral("GETKITWRIGHTDIR"),
       {},
       {LogScript(QStringLiteral("'[]'"))}},
      {Message(QStringLiteral("{\"EventName\":\"Download\"}"), download),
       {},
       download,
       {LogScript(QStringLiteral(
           "'{\\\"EventName\\\":\\\"DOWNLOAD\\\",\\\"Name\\\":\\\"Ä b\\\",\\\"Version\\\":\\\"1.0\\\"}'"))}},
      {Event(QStringLiteral("NOSUCHEVENT")), {}, {}, {LogScript(QStringLiteral("''"))}},
      {QStringLiteral(" ") + Event(QStringLiteral("GETSTATUS")), {}, {}, {}},
      {QStringLiteral("jsevent:/") + Event(QStringLiteral("GETSTATUS")).mid(10), {}, {}, {}},
  };
  for (const Case& c : cases) {
    StartDashboard();
    Send(c.message);
    EXPECT_EQ(dashboard_->Action(), c.action) << c.message.toStdString();
    EXPECT_EQ(dashboard_->Downloads().ProductAction(), c.productAction) << c.message.toStdString();
    EXPECT_EQ(PageCalls(), c.pageCalls) << c.message.toStdString();
  }
}

TEST_F(DashboardBrowserTest, AMalformedMessageFailsWithTheReadersMessageAndChangesNothing) {
  const QString announced = QStringLiteral("{\"Name\":\"A\"}");
  Send(Message(QStringLiteral("{\"EventName\":\"DOWNLOAD\"}"), announced));
  Send(Event(QStringLiteral("GETSTATUS")));
  PageCalls();
  struct Case {
    QString json;
    test::Error error;
  };
  const Case cases[] = {
      {QStringLiteral("\"GETSTATUS\""),
       {QStringLiteral("EObjectOrArrayExpected"), QStringLiteral("Object or array expected as top-level value")}},
      {QStringLiteral("{\"EventName\":true}"),
       {QStringLiteral("EInvalidStateException"), QStringLiteral("Invalid Json parser state. Expected state: 8")}},
      {QStringLiteral("{\"EventName\":"),
       {QStringLiteral("EEndOfInputReached"), QStringLiteral("End of JSON input reached.")}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(test::errorOf([&] { Send(Message(c.json, QStringLiteral("custom"))); }), c.error) << c.json.toStdString();
    EXPECT_EQ(dashboard_->Action(), QStringLiteral("GETSTATUS"));
    EXPECT_EQ(dashboard_->Downloads().ProductAction(), announced);
    EXPECT_EQ(PageCalls(), QStringList()) << "nothing is logged";
  }
}

// Every name of the protocol, in its order, with what it must do: queries
// are remembered and answered on the read (list queries only once),
// actions leave the query alone and do their own work.
TEST_F(DashboardBrowserTest, EveryEventNameTakesItsOwnRoute) {
  WriteFile(Dir(QStringLiteral("Downloads/Logs/orv.log.html")), "log");
  ASSERT_TRUE(QDir().mkpath(Dir(QStringLiteral("dl/P"))));
  ASSERT_FALSE(tools::WriteZip(Dir(QStringLiteral("dl/P/P_1.0_REG.zip")).toStdString(), {{"setup.exe", "#!"}}));
  WriteFile(Dir(QStringLiteral("products/P/unins000.exe")));
  hive_.OpenKey(QStringLiteral("\\Software\\orvsoftware\\P"), true)
      ->WriteString(QStringLiteral("InstallDir"), Dir(QStringLiteral("products/P")));
  const QString notFound = QStringLiteral("{\"action not found\"}");
  const QString install = QStringLiteral("{\"EventName\":\"INSTALL\",\"Name\":\"P\",\"Version\":\"1.0\"}");
  const QString update = QStringLiteral("{\"EventName\":\"UPDATE\",\"Name\":\"P\",\"Version\":\"1.0\"}");

  struct Case {
    const char* event;
    QString customData;
    bool query;
    bool answeredOnce;        // a second read finds no query
    QStringList programsRun;  // by the deferred work
    bool productAction;       // the custom data is kept for the download
    bool asks;                // the batch question
  };
  const QStringList setup{QStringLiteral("setup.exe")};
  const QStringList uninstaller{QStringLiteral("unins000.exe")};
  const Case cases[] = {
      {"GETINSTALLEDPRODUCTS", {}, true, true, {}, false, false},
      {"GETSTATUS", {}, true, false, {}, false, false},
      {"GETIDERUNNING", {}, true, false, {}, false, false},
      {"GETKITWRIGHTEXISTS", {}, true, false, {}, false, false},
      {"GETKITWRIGHTDIR", {}, true, false, {}, false, false},
      {"GETKITWRIGHTLOG", {}, true, false, {}, false, false},
      {"GETKITWRIGHTLOGTEXT", {}, true, false, {}, false, false},
      {"GETPRODUCTNOTIFICATIONS", {}, true, false, {}, false, false},
      {"GETKITWRIGHTREADDELPHIVERSIONS", {}, true, false, {}, false, false},
      {"GETKITWRIGHTWRITEDELPHIVERSIONS", {}, true, false, {}, false, false},
      {"GETDOWNLOADEDPRODUCTS", {}, true, true, {}, false, false},
      {"GETREGISTEREDPRODUCTS", {}, true, true, {}, false, false},
      {"GETOPTIONSDIALOG", {}, true, false, {}, false, false},
      {"GETKITWRIGHTPRODUCTSTATUS", {}, true, true, {}, false, false},
      {"GETUSERCREDENTIALS", {}, true, false, {}, false, false},
      {"GETIDEVERSION", {}, true, false, {}, false, false},
      {"GETIDETHEME", {}, true, false, {}, false, false},
      {"GETDASHBOARDVERSION", {}, true, false, {}, false, false},
      {"DOWNLOAD", QStringLiteral("{\"Name\":\"A\"}"), false, false, {}, true, false},
      {"DOWNLOAD-UPDATE", QStringLiteral("{\"Name\":\"B\"}"), false, false, {}, true, false},
      {"MULTIACTION", QStringLiteral("[]"), false, false, {}, false, true},
      {"INSTALL", install, false, false, setup, false, false},
      {"UPDATE", update, false, false, uninstaller + setup, false, false},
      // The custom data's own event name says what is done.
      {"INSTALL", update, false, false, uninstaller + setup, false, false},
      {"UPDATE", install, false, false, setup, false, false},
      {"UNINSTALL", QStringLiteral("{\"Name\":\"P\"}"), false, false, uninstaller, false, false},
  };
  dialogs_.answer = mrNo;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.event);
    StartDashboard();
    Send(Event(QStringLiteral("GETSTATUS")));
    elevated_.runs.clear();
    dialogs_.asked.clear();
    const QString event = QString::fromLatin1(c.event);
    Send(Message(QStringLiteral("{\"EventName\":\"%1\"}").arg(event), c.customData));
    ui_.Pump();

    EXPECT_EQ(dashboard_->Action(), c.query ? event : QStringLiteral("GETSTATUS"));
    EXPECT_EQ(dashboard_->Downloads().ProductAction(), c.productAction ? c.customData : QString());
    EXPECT_EQ(dialogs_.asked.size(), c.asks ? 1 : 0);
    QStringList programs;
    for (const QString& run : elevated_.runs) programs << run.section(QLatin1Char('|'), 1, 1);
    EXPECT_EQ(programs, c.programsRun);
    // A query whose work fails (no package manager here) fails again.
    const auto read = [&]() -> QString {
      try {
        return Read();
      } catch (const Exception& e) {
        return QStringLiteral("failed: ") + e.message();
      }
    };
    const QString first = read();
    const QString second = read();
    if (c.query) {
      EXPECT_EQ(second, c.answeredOnce ? notFound : first);
    }
  }
}

TEST_F(DashboardBrowserTest, QueriesAnswerWithTheirExactTexts) {
  EXPECT_EQ(Read(), QStringLiteral("{\"action not found\"}"));
  EXPECT_EQ(Ask(QStringLiteral("GETDASHBOARDVERSION")), QStringLiteral("1.2.1.0"));
  EXPECT_EQ(Ask(QStringLiteral("GETIDEVERSION")), QStringLiteral("{\"IDE\": \"\"}"));
  EXPECT_EQ(Ask(QStringLiteral("GETIDETHEME")), QStringLiteral("{\"IDETheme\": \"Light\"}"));
  EXPECT_EQ(Ask(QStringLiteral("GETPRODUCTNOTIFICATIONS")), QStringLiteral("True"));
  EXPECT_EQ(Ask(QStringLiteral("GETKITWRIGHTDIR")), folders_.Downloads() + QStringLiteral("/"));
  EXPECT_EQ(Ask(QStringLiteral("GETKITWRIGHTEXISTS")), QStringLiteral("False"));
  EXPECT_EQ(Ask(QStringLiteral("GETIDERUNNING")), QStringLiteral("False"));
  processes_.running << QStringLiteral("BDS.EXE");
  EXPECT_EQ(Read(), QStringLiteral("True"));  // a second read repeats the query

  EXPECT_EQ(Ask(QStringLiteral("GETINSTALLEDPRODUCTS")), QStringLiteral("{\"Products\": []}"));
  EXPECT_EQ(Read(), QStringLiteral("{\"action not found\"}"));

  WriteFile(Dir(QStringLiteral("dl/Widget Pack/Widget Pack_1.2.0_REG.zip")));
  WriteFile(Dir(QStringLiteral("dl/Other_2.0_TRIAL.zip")));
  // The folder's enumeration order decides the order of the entries.
  const QString widget = QStringLiteral("{\"Name\": \"Widget Pack\", \"Version\": \"1.2.0\", \"Registered\": true}");
  const QString other = QStringLiteral("{\"Name\": \"Other\", \"Version\": \"2.0\", \"Registered\": false}");
  const QString answer = Ask(QStringLiteral("GETDOWNLOADEDPRODUCTS"));
  EXPECT_TRUE(answer == QStringLiteral("{\"Products\": [") + widget + "," + other + "]}" ||
              answer == QStringLiteral("{\"Products\": [") + other + "," + widget + "]}")
      << answer.toStdString();
}

// The write of a query message may bring the page its answer at once
// (readAhead), when computing it only reads: the same answer the read
// gives. Queries that open, start, ask or write something answer only when
// the page reads, and nothing is answered ahead after other messages.
TEST_F(DashboardBrowserTest, QueriesThatOnlyReadAreAnsweredAheadAsTheirReadAnswers) {
  WriteFile(Dir(QStringLiteral("products/P/unins000.exe")));
  hive_.OpenKey(QStringLiteral("\\Software\\orvsoftware\\P"), true)
      ->WriteString(QStringLiteral("InstallDir"), Dir(QStringLiteral("products/P")));
  WriteFile(Dir(QStringLiteral("dl/P/P_1.0_REG.zip")));
  SetSetting(QStringLiteral("USERNAME"), QStringLiteral("a@b.example"));
  const QStringList answeredAhead = {QStringLiteral("GETSTATUS"),
                                     QStringLiteral("GETIDERUNNING"),
                                     QStringLiteral("GETKITWRIGHTEXISTS"),
                                     QStringLiteral("GETKITWRIGHTDIR"),
                                     QStringLiteral("GETDASHBOARDVERSION"),
                                     QStringLiteral("GETPRODUCTNOTIFICATIONS"),
                                     QStringLiteral("GETINSTALLEDPRODUCTS"),
                                     QStringLiteral("GETDOWNLOADEDPRODUCTS"),
                                     QStringLiteral("GETUSERCREDENTIALS"),
                                     QStringLiteral("GETIDETHEME"),
                                     QStringLiteral("GETIDEVERSION")};
  const QStringList answeredWhenRead = {QStringLiteral("GETKITWRIGHTLOG"),
                                        QStringLiteral("GETKITWRIGHTREADDELPHIVERSIONS"),
                                        QStringLiteral("GETKITWRIGHTWRITEDELPHIVERSIONS"),
                                        QStringLiteral("GETREGISTEREDPRODUCTS"),
                                        QStringLiteral("GETKITWRIGHTPRODUCTSTATUS"),
                                        QStringLiteral("GETOPTIONSDIALOG")};
  const QString property = TORVDashboardBridge::PropertyName;
  for (const QString& query : answeredAhead) {
    Send(Event(query));
    const std::optional<QString> ahead = bridge_->readAhead(property);
    ASSERT_TRUE(ahead) << query.toStdString();
    EXPECT_EQ(dashboard_->Action(), query);  // nothing of the read yet
    EXPECT_EQ(*ahead, Read()) << query.toStdString();
    if (query == QLatin1String("GETINSTALLEDPRODUCTS") || query == QLatin1String("GETDOWNLOADEDPRODUCTS")) {
      EXPECT_TRUE(ahead->contains(QStringLiteral("\"P\""))) << query.toStdString();
    }
  }
  for (const QString& query : answeredWhenRead) {
    Send(Event(query));
    EXPECT_FALSE(bridge_->readAhead(property)) << query.toStdString();
  }
  EXPECT_TRUE(shell_.opened.isEmpty());
  EXPECT_TRUE(dialogs_.asked.isEmpty());

  Send(Event(QStringLiteral("GETSTATUS")));
  Send(Message(QStringLiteral("{\"EventName\":\"NOSUCHEVENT\"}")));
  EXPECT_FALSE(bridge_->readAhead(property));
  // A read that fails ahead fails in the page's own read too.
  Send(Event(QStringLiteral("GETKITWRIGHTLOGTEXT")));
  EXPECT_THROW(bridge_->readAhead(property), Exception);
  EXPECT_THROW(Read(), Exception);
}

// What the read does beyond answering (a list query forgets its name)
// happens once when the page says it used the answer ahead, and never when
// it did not: then its own read works as it always did.
TEST_F(DashboardBrowserTest, AnAnswerAheadTakesTheReadsEffectOnlyWhenUsed) {
  const QString property = TORVDashboardBridge::PropertyName;
  const QString notFound = QStringLiteral("{\"action not found\"}");
  const QString empty = QStringLiteral("{\"Products\": []}");

  Send(Event(QStringLiteral("GETINSTALLEDPRODUCTS")));
  EXPECT_EQ(bridge_->readAhead(property), std::optional<QString>(empty));
  bridge_->aheadReadTaken(property);
  EXPECT_EQ(dashboard_->Action(), QString());
  Send(Event(QStringLiteral("GETINSTALLEDPRODUCTS")));
  ASSERT_TRUE(bridge_->readAhead(property));
  Send(Event(QStringLiteral("GETSTATUS")));
  bridge_->aheadReadTaken(property);  // stale: a message came since
  EXPECT_EQ(dashboard_->Action(), QStringLiteral("GETSTATUS"));
  EXPECT_EQ(Read(), QString());

  Send(Event(QStringLiteral("GETDOWNLOADEDPRODUCTS")));
  ASSERT_TRUE(bridge_->readAhead(property));
  EXPECT_EQ(Read(), empty);  // not used: the read is the page's own
  EXPECT_EQ(Read(), notFound);

  Send(Event(QStringLiteral("GETIDEVERSION")));
  ASSERT_TRUE(bridge_->readAhead(property));
  bridge_->aheadReadTaken(property);
  bridge_->aheadReadTaken(property);
  EXPECT_EQ(dashboard_->Action(), QStringLiteral("GETIDEVERSION"));  // kept, as by its read
  EXPECT_EQ(Read(), QStringLiteral("{\"IDE\": \"\"}"));
}

TEST_F(DashboardBrowserTest, StatusNamesDownloadsAndInstallsButNotPackageManagerRuns) {
  struct Case {
    std::initializer_list<TORVDashboardStatus> flags;
    const char* answer;
  };
  const Case cases[] = {
      {{}, ""},
      {{sRunning}, ""},
      {{sDownloading}, "Download"},
      {{sInstalling, sRunning}, "Install"},
      {{sInstalling, sDownloading}, "DownloadInstall"},
  };
  for (const Case& c : cases) {
    for (auto flag : {sDownloading, sInstalling, sRunning}) dashboard_->Statuses().Exclude(flag);
    for (auto flag : c.flags) dashboard_->Statuses().Include(flag);
    EXPECT_EQ(Ask(QStringLiteral("GETSTATUS")), QLatin1String(c.answer));
    EXPECT_EQ(dashboard_->IsRunning(), c.flags.size() > 0);
  }
}

TEST_F(DashboardBrowserTest, CredentialsAnswerIsValidJsonWhateverTheStoredTexts) {
  SetSetting(QStringLiteral("USERNAME"), QStringLiteral("a@b.example"));
  SetSetting(QStringLiteral("PASSWORD"), QStringLiteral("co\"de\\1"));
  const QString answer = Ask(QStringLiteral("GETUSERCREDENTIALS"));
  EXPECT_EQ(answer, QStringLiteral("{\"Username\": \"a@b.example\", \"Code\": \"co\\\"de\\\\1\"}"));
  const QJsonDocument parsed = QJsonDocument::fromJson(answer.toUtf8());
  EXPECT_EQ(parsed[QStringLiteral("Code")].toString(), QStringLiteral("co\"de\\1"));
}

TEST_F(DashboardBrowserTest, PackageManagerLogIsOpenedAsAFileUrlAndReadInItsEncoding) {
  // A folder name holding the program's name stays whole.
  SetSetting(QStringLiteral("KITWRIGHTDIR"), Dir(QStringLiteral("orv.exe-tools/Kit wright")));
  const QString logFile = Dir(QStringLiteral("orv.exe-tools/Kit wright/Logs/orv.log.html"));
  const QString url = Ask(QStringLiteral("GETKITWRIGHTLOG"));
  EXPECT_EQ(url, QUrl::fromLocalFile(logFile).toString(QUrl::FullyEncoded));
  EXPECT_TRUE(url.startsWith(QStringLiteral("file:///"))) << url.toStdString();
  EXPECT_TRUE(url.contains(QStringLiteral("Kit%20wright"))) << url.toStdString();
  EXPECT_EQ(shell_.opened, QStringList{url});

  Send(Event(QStringLiteral("GETKITWRIGHTLOGTEXT")));
  EXPECT_THROW(Read(), Exception);
  QStringEncoder utf16(QStringConverter::Utf16LE, QStringEncoder::Flag::WriteBom);
  WriteFile(logFile, utf16(QStringLiteral("<p>Größe ✓</p>")));
  EXPECT_EQ(Read(), QStringLiteral("<p>Größe ✓</p>"));
  WriteFile(logFile, QByteArray("\xEF\xBB\xBFplain \xC3\xA9"));
  EXPECT_EQ(Read(), QStringLiteral("plain é"));
}

TEST_F(DashboardBrowserTest, PageCallsRunLaterOnTheUiThreadAndStopWithTheWindow) {
  dashboard_->ExecuteScript(QStringLiteral("a();"));
  EXPECT_TRUE(backend_->scripts.empty());  // never inside the caller
  dashboard_->SetIDETheme(QStringLiteral("Dark"));
  EXPECT_EQ(PageCalls(),
            (QStringList{QStringLiteral("a();"), QStringLiteral("setActiveTheme({\"IDETheme\": \"Dark\"});")}));
  EXPECT_EQ(Ask(QStringLiteral("GETIDETHEME")), QStringLiteral("{\"IDETheme\": \"Dark\"}"));
  PageCalls();

  dashboard_->Log(QStringLiteral("it's \"q\" \\ </script>\nnext"));
  EXPECT_EQ(PageCalls(), QStringList{LogScript(QStringLiteral("'it\\'s \\\"q\\\" \\\\ <\\/script>\\nnext'"))});

  dashboard_->OwnerDestroying();
  dashboard_->ExecuteScript(QStringLiteral("dropped();"));
  dashboard_->Log(QStringLiteral("kept"));
  EXPECT_EQ(PageCalls(), QStringList{LogScript(QStringLiteral("'kept'"))});

  dashboard_->ExecuteScript(QStringLiteral("late();"));
  dashboard_.reset();
  ui_.Pump();  // the queued call finds no controller and does nothing
}

TEST_F(DashboardBrowserTest, NewWindowsOpenInTheDefaultBrowserForWebAndMailAddressesOnly) {
  const struct {
    const char* url;
    bool opened;
  } cases[] = {
      {"https://example.com/x", true},      {"http://example.com/", true},       {"HTTPS://EXAMPLE.COM/", true},
      {"mailto:support@example.com", true}, {"orvtest-scheme://run?x=1", false}, {"file:///etc/passwd", false},
      {"javascript:alert(1)", false},       {"ftp://example.com/", false},       {"", false},
  };
  for (const auto& c : cases) {
    shell_.opened.clear();
    TORVZYNDashWebBrowserNewWindowRequestedParams params{QString::fromLatin1(c.url), false, false};
    dashboard_->WebBrowser().DoNewWindowRequested(params);
    EXPECT_TRUE(params.Handled) << c.url;  // never a window of the engine's own
    EXPECT_EQ(shell_.opened, c.opened ? QStringList{QString::fromLatin1(c.url)} : QStringList()) << c.url;
  }
}

// The page refreshes its product list while an uninstaller runs: the
// rescan must not pull the record from under the uninstall.
TEST_F(DashboardBrowserTest, UninstallKeepsItsRecordWhileThePageRescans) {
  WriteFile(Dir(QStringLiteral("products/P/unins000.exe")));
  hive_.OpenKey(QStringLiteral("\\Software\\orvsoftware\\P"), true)
      ->WriteString(QStringLiteral("InstallDir"), Dir(QStringLiteral("products/P")));
  QString refreshed;
  elevated_.whileRunning = [&] {
    hive_.DeleteKey(QStringLiteral("\\Software\\orvsoftware\\P"));  // as the real uninstaller does
    ui_.post([&] { refreshed = Ask(QStringLiteral("GETINSTALLEDPRODUCTS")); });
    ui_.processPendingEvents();
  };
  Send(Message(QStringLiteral("{\"EventName\":\"UNINSTALL\"}"), QStringLiteral("{\"Name\":\"P\"}")));
  ui_.Pump();

  EXPECT_EQ(refreshed, QStringLiteral("{\"Products\": []}"));
  const QStringList calls = PageCalls();
  ASSERT_EQ(calls.size(), 5) << calls.join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(calls[1], LogScript(QStringLiteral("'Uninstalling P'")));
  EXPECT_EQ(calls[2], LogScript(QStringLiteral("''")));  // the page's refresh
  EXPECT_EQ(calls[3], LogScript(QStringLiteral("'Uninstall P successful'")));
  EXPECT_TRUE(calls[4].startsWith(QStringLiteral("ProductUninstallFinished({\"Name\": \"P\", ")))
      << calls[3].toStdString();
}

// Deferred work runs outside the page's call; its errors go to the page's
// log instead of the event loop.
TEST_F(DashboardBrowserTest, DeferredWorkThatFailsIsReportedInThePage) {
  Send(Message(QStringLiteral("{\"EventName\":\"UNINSTALL\"}"), QStringLiteral("{\"Name\":\"P\"}")));
  // The user breaks the settings file before the work runs.
  WriteFile(hive_.FileName(), "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n\"X\"=bad\n");
  const QStringList calls = PageCalls();
  ASSERT_EQ(calls.size(), 2);
  EXPECT_TRUE(calls[1].contains(QStringLiteral("The action failed: Malformed registry file")))
      << calls[1].toStdString();
}

// A new version starting on a full disk cannot store itself: the user
// hears of it once, after the start, and the settings file stays whole.
TEST_F(DashboardBrowserTest, ASettingsFileThatCannotBeWrittenIsToldOnceAfterTheStart) {
  test::SmallFileSystem disk;
  if (!disk.Mounted()) GTEST_SKIP() << disk.WhyNotMounted();
  RegistryHive full(disk.FilePath(QStringLiteral("registry.reg")));
  const auto key = full.OpenKey(TORVDashboardSettings::SettingsKey, true);
  key->WriteString(QStringLiteral("DASHBOARDVERSION"), QStringLiteral("0.0.1"));
  key->WriteString(QStringLiteral("USERNAME"), QStringLiteral("user@example.com"));
  const QByteArray before = ReadFile(full.FileName());
  disk.Fill();

  dashboard_.reset();
  TORVDashboardBrowser dashboard(
      nullptr, false,
      TORVDashboardPorts{full, folders_, ui_, dialogs_, shell_, notifications_, processes_, elevated_, *optionsPort_},
      kSite, test::kNoApi);
  EXPECT_TRUE(dialogs_.asked.isEmpty()) << "not while the window is being made";
  ui_.Pump();
  ASSERT_EQ(dialogs_.asked.size(), 1);
  EXPECT_TRUE(
      dialogs_.asked[0].startsWith(QStringLiteral("Cannot write the registry file '%1': ").arg(full.FileName())))
      << dialogs_.asked[0].toStdString();
  EXPECT_TRUE(dialogs_.asked[0].endsWith(
      QStringLiteral("ORV Dashboard cannot save its settings; changes made now may be lost.")));
  EXPECT_EQ(ReadFile(full.FileName()), before);
}

TEST_F(DashboardBrowserTest, DeclinedBatchAbortsWithoutReadingItsData) {
  dialogs_.answer = mrNo;
  Send(Message(QStringLiteral("{\"EventName\":\"MULTIACTION\"}"), QStringLiteral("not json")));
  EXPECT_EQ(dialogs_.asked,
            QStringList{QStringLiteral("The selected products will be installed/uninstalled for all selected IDEs "
                                       "on your system, do you want to proceed?")});
  EXPECT_EQ(PageCalls(),
            (QStringList{LogScript(QStringLiteral("'not json'")), QStringLiteral("ProductInstallAbort();")}));
}

TEST_F(DashboardBrowserTest, UninstallNeedsANameMember) {
  try {
    Send(Message(QStringLiteral("{\"EventName\":\"UNINSTALL\"}"), QStringLiteral("{}")));
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.message(), QStringLiteral("Value 'Name' not found"));
  }
  Send(Message(QStringLiteral("{\"EventName\":\"UNINSTALL\"}"), QStringLiteral("{\"Name\": \"\"}")));
  ui_.Pump();
  EXPECT_TRUE(elevated_.runs.isEmpty());
}

TEST_F(DashboardBrowserTest, InstallOfAMissingArchiveDoesNothing) {
  Send(Message(QStringLiteral("{\"EventName\":\"INSTALL\"}"),
               QStringLiteral("{\"EventName\":\"INSTALL\",\"Name\":\"Nope\",\"Version\":\"1.0\"}")));
  ui_.Pump();
  EXPECT_TRUE(elevated_.runs.isEmpty());
}

}  // namespace
}  // namespace orv
