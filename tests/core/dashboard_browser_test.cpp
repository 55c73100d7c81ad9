#include "core/dashboard_bridge.h"
#include "core/dashboard_browser.h"
#include "platform/exception.h"
#include "lib/utils.h"
#include "product_environment.h"
#include "support/fake_ports.h"
#include "support/fake_web_browser.h"

#include <QJsonDocument>
#include <QStringEncoder>

#include <gtest/gtest.h>

namespace orv {
namespace {

const QString kSite = QStringLiteral("http://127.0.0.1:8123");

// The page's message format, encoded as the page's encodeURIComponent does.
QString Message(const QString& json, const QString& customData = QString()) {
  QString message = QStringLiteral("jsevent://") + TORVZYNDashUtils::URLEncode(json);
  if (!customData.isNull()) message += QStringLiteral("customdata://") + TORVZYNDashUtils::URLEncode(customData);
  return message;
}

QString Event(const QString& name) { return Message(QStringLiteral("{\"EventName\":\"%1\"}").arg(name)); }

class DashboardBrowserTest : public test::ProductEnvironment {
protected:
  void SetUp() override {
    ProductEnvironment::SetUp();
    service_ = std::make_shared<FakeService>();
    TORVZYNDashWebBrowserPlatformServices::Current()->AddPlatformService(IORVZYNDashWebBrowserService::IID(),
                                                                         service_);
    StartDashboard();
  }
  void TearDown() override {
    dashboard_.reset();
    TORVZYNDashWebBrowserPlatformServices::Current()->RemovePlatformService(IORVZYNDashWebBrowserService::IID());
    ProductEnvironment::TearDown();
  }

  // A new controller whose engine has started.
  void StartDashboard() {
    dashboard_.reset();
    dashboard_ = std::make_unique<TORVDashboardBrowser>(
        nullptr, false,
        TORVDashboardPorts{hive_, folders_, ui_, dialogs_, shell_, notifications_, processes_, elevated_}, kSite);
    backend_ = service_->last.get();
    dashboard_->WebBrowser().Initialize();
    dashboard_->WebBrowser().DoEngineInitialized();
    bridge_ = backend_->bridges.value(QStringLiteral("DashboardBridge"));
    ASSERT_TRUE(bridge_);
  }

  void Send(const QString& message) { bridge_->setProperty(QStringLiteral("ObjectMessage"), message); }
  QString Read() { return bridge_->getProperty(QStringLiteral("ObjectMessage")); }
  QString Ask(const QString& eventName) {
    Send(Event(eventName));
    return Read();
  }

  // The scripts that reached the page since the last call, in order.
  QStringList PageCalls() {
    ui_.Pump();
    QStringList scripts;
    while (!backend_->scripts.empty()) {
      scripts << backend_->scripts.front().text;
      backend_->Complete(QStringLiteral("null"));
    }
    return scripts;
  }
  static QString LogScript(const QString& literal) {
    return QStringLiteral("function log(p){  var mylog = document.getElementById(\"mylog\");  "
                          "document.getElementById(\"mylog\").textContent = p;  console.log(p);}log(") +
           literal + QStringLiteral(");");
  }

  test::ManualUiThread ui_;
  test::ScriptedDialogs dialogs_;
  test::RecordingShell shell_;
  test::RecordingNotifications notifications_;
  test::FixedProcesses processes_;
  test::RecordingElevated elevated_;
  std::shared_ptr<FakeService> service_;
  std::unique_ptr<TORVDashboardBrowser> dashboard_;
  FakeBackend* backend_ = nullptr;
  std::shared_ptr<IHostObject> bridge_;
};

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
       QStringLiteral("GETIDETHEME"), {}, {LogScript(QStringLiteral("''"))}},
      {Message(QStringLiteral("{\"$type\":\"X\",\"EVENTNAME\":\"GETKITWRIGHTDIR\"}"), QStringLiteral("[]")),
       QStringLiteral("GETKITWRIGHTDIR"), {}, {LogScript(QStringLiteral("'[]'"))}},
      {Message(QStringLiteral("{\"EventName\":\"Download\"}"), download), {}, download,
       {LogScript(QStringLiteral("'{\\\"EventName\\\":\\\"DOWNLOAD\\\",\\\"Name\\\":\\\"Ä b\\\",\\\"Version\\\":\\\"1.0\\\"}'"))}},
      {Event(QStringLiteral("NOSUCHEVENT")), {}, {}, {LogScript(QStringLiteral("''"))}},
      {QStringLiteral(" ") + Event(QStringLiteral("GETSTATUS")), {}, {}, {}},
      {QStringLiteral("jsevent:/") + Event(QStringLiteral("GETSTATUS")).mid(10), {}, {}, {}},
  };
  for (const Case& c : cases) {
    StartDashboard();
    Send(c.message);
    EXPECT_EQ(dashboard_->Action(), c.action) << c.message.toStdString();
    EXPECT_EQ(dashboard_->ProductAction(), c.productAction) << c.message.toStdString();
    EXPECT_EQ(PageCalls(), c.pageCalls) << c.message.toStdString();
  }
}

TEST_F(DashboardBrowserTest, AMalformedMessageFailsWithTheReadersMessageAndChangesNothing) {
  Send(Event(QStringLiteral("GETSTATUS")));
  for (const QString& json : {QStringLiteral("\"GETSTATUS\""), QStringLiteral("{\"EventName\":true}"),
                              QStringLiteral("{\"EventName\":")}) {
    try {
      Send(Message(json));
      ADD_FAILURE() << "no error for " << json.toStdString();
    } catch (const Exception& e) {
      EXPECT_FALSE(e.message().isEmpty());
    }
    EXPECT_EQ(dashboard_->Action(), QStringLiteral("GETSTATUS"));
  }
  try {
    Send(Message(QStringLiteral("\"x\"")));
  } catch (const Exception& e) {
    EXPECT_EQ(e.message(), QStringLiteral("Object or array expected as top-level value"));
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
    for (auto flag : {sDownloading, sInstalling, sRunning}) dashboard_->Exclude(flag);
    for (auto flag : c.flags) dashboard_->Include(flag);
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
  SetSetting(QStringLiteral("KITWRIGHTDIR"), Dir(QStringLiteral("Kit wright")));
  const QString logFile = Dir(QStringLiteral("Kit wright/Logs/orv.log.html"));
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
  EXPECT_EQ(PageCalls(), (QStringList{QStringLiteral("a();"), QStringLiteral("setActiveTheme({\"IDETheme\": \"Dark\"});")}));
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

TEST_F(DashboardBrowserTest, NewWindowsOpenInTheDefaultBrowser) {
  TORVZYNDashWebBrowserNewWindowRequestedParams params{QStringLiteral("https://example.com/x"), false, true};
  dashboard_->WebBrowser().DoNewWindowRequested(params);
  EXPECT_TRUE(params.Handled);
  EXPECT_EQ(shell_.opened, QStringList{QStringLiteral("https://example.com/x")});
}

TEST_F(DashboardBrowserTest, DeclinedBatchAbortsWithoutReadingItsData) {
  dialogs_.answer = mrNo;
  Send(Message(QStringLiteral("{\"EventName\":\"MULTIACTION\"}"), QStringLiteral("not json")));
  EXPECT_EQ(dialogs_.asked,
            QStringList{QStringLiteral("The selected products will be installed/uninstalled for all selected IDEs "
                                       "on your system, do you want to proceed?")});
  EXPECT_EQ(PageCalls(), (QStringList{LogScript(QStringLiteral("'not json'")), QStringLiteral("ProductInstallAbort();")}));
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
