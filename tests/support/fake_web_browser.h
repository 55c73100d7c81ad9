#pragma once

// A browser engine that records what the browser component asks of it, for
// tests of the component and of the code that drives it.
#include "lib/web_browser.h"
#include "lib/web_browser_services.h"

#include <QMap>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace orv {

// Records what the component asks of its engine; the test plays the engine
// (reports readiness and script completions).
class FakeBackend : public IORVZYNDashCustomWebBrowser, public IORVZYNDashCustomWebBrowserSettings {
public:
  struct Script {
    QString text;
    TORVZYNDashWebBrowserJavaScriptCompleteEvent result;
  };

  QStringList calls;
  std::vector<Script> scripts;
  QMap<QString, std::shared_ptr<IHostObject>> bridges;
  QString url, userAgent, cacheFolder, cacheFolderName, origin;
  bool contextMenu = true, debugConsole = true, acceleratorKeys = true, externalDrop = true;
  bool autoClearCache = true;
  bool engine = false;  // between Initialize and DeInitialize

  // A new engine starts with its own defaults.
  void ResetToEngineDefaults() { contextMenu = debugConsole = acceleratorKeys = externalDrop = true; }
  // The engine reports the completion of the oldest script still running.
  void Complete(const QString& result) {
    Script s = std::move(scripts.front());
    scripts.erase(scripts.begin());
    if (s.result) s.result(result);
  }

  void SetUserAgent(const QString& v) override { userAgent = v; }
  QString UserAgent() const override { return userAgent; }
  void SetURL(const QString& v) override { url = v; }
  QString URL() const override { return url; }
  void SetEnableContextMenu(bool v) override { contextMenu = v; }
  bool EnableContextMenu() const override { return contextMenu; }
  void SetEnableShowDebugConsole(bool v) override { debugConsole = v; }
  bool EnableShowDebugConsole() const override { return debugConsole; }
  void SetEnableAcceleratorKeys(bool v) override { acceleratorKeys = v; }
  bool EnableAcceleratorKeys() const override { return acceleratorKeys; }
  void SetCacheFolderName(const QString& v) override { cacheFolderName = v; }
  QString CacheFolderName() const override { return cacheFolderName; }
  void SetAutoClearCache(bool v) override { autoClearCache = v; }
  bool AutoClearCache() const override { return autoClearCache; }
  void SetCacheFolder(const QString& v) override { cacheFolder = v; }
  QString CacheFolder() const override { return cacheFolder; }
  void SetAllowExternalDrop(bool v) override { externalDrop = v; }
  bool AllowExternalDrop() const override { return externalDrop; }
  void SetHostObjectOrigin(const QString& v) override { origin = v; }
  QString HostObjectOrigin() const override { return origin; }

  void Navigate(const QString& u) override { calls << QStringLiteral("Navigate ") + u; }
  void Navigate() override { calls << QStringLiteral("Navigate() ") + url; }
  void LoadHTML(const QString&) override {}
  void GoForward() override {}
  void GoBack() override {}
  void Reload() override { calls << QStringLiteral("Reload"); }
  void StopLoading() override {}
  bool CanGoBack() const override { return false; }
  bool CanGoForward() const override { return false; }
  void ShowErrorPage(const QString& u, const QString& reason) override {
    calls << QStringLiteral("ShowErrorPage %1: %2").arg(u, reason);
  }
  void AddBridge(const QString& n, std::shared_ptr<IHostObject> o) override {
    calls << QStringLiteral("AddBridge ") + n;
    bridges[n] = std::move(o);
  }
  void RemoveBridge(const QString& n) override {
    calls << QStringLiteral("RemoveBridge ") + n;
    bridges.remove(n);
  }
  void UpdateBounds() override {}
  void UpdateVisibility() override {}
  void BeforeParentChange() override { calls << QStringLiteral("BeforeParentChange"); }
  void Initialize() override {
    calls << QStringLiteral("Initialize");
    engine = true;
  }
  void DeInitialize() override {
    calls << QStringLiteral("DeInitialize");
    engine = false;
  }
  void ClearCache() override { calls << QStringLiteral("ClearCache"); }
  void ShowDebugConsole() override {}
  void ExecuteJavaScript(const QString& s, TORVZYNDashWebBrowserJavaScriptCompleteEvent r) override {
    scripts.push_back({s, std::move(r)});
  }
  void* NativeEnvironment() const override { return nullptr; }
  void* NativeBrowser() const override { return engine ? const_cast<FakeBackend*>(this) : nullptr; }
};

class FakeService : public TORVZYNDashWebBrowserFactoryService {
public:
  std::shared_ptr<FakeBackend> last;
  QStringList* log = nullptr;
  void DestroyWebBrowser(const std::shared_ptr<IORVZYNDashCustomWebBrowser>& b) override {
    if (log) *log << QStringLiteral("DestroyWebBrowser");
    TORVZYNDashWebBrowserFactoryService::DestroyWebBrowser(b);
  }

protected:
  std::shared_ptr<IORVZYNDashCustomWebBrowser> DoCreateWebBrowser(TORVZYNDashCustomWebBrowser&) override {
    last = std::make_shared<FakeBackend>();
    return last;
  }
};

}  // namespace orv
