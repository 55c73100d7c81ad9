#pragma once

#include "lib/web_browser_host_object.h"

#include <QString>

#include <functional>
#include <memory>

namespace orv {

// Receives a script's result as JSON text ("null" for no value).
using TORVZYNDashWebBrowserJavaScriptCompleteEvent = std::function<void(const QString& AResult)>;

// The engine backend of a browser component: the members the component
// calls. A platform module implements it over a real engine.
class IORVZYNDashCustomWebBrowser {
public:
  virtual ~IORVZYNDashCustomWebBrowser() = default;

  virtual void SetUserAgent(const QString& AValue) = 0;
  virtual QString UserAgent() const = 0;
  // The backend's current address; no navigation.
  virtual void SetURL(const QString& AValue) = 0;
  virtual QString URL() const = 0;
  virtual void SetEnableContextMenu(bool AValue) = 0;
  virtual bool EnableContextMenu() const = 0;
  virtual void SetEnableShowDebugConsole(bool AValue) = 0;
  virtual bool EnableShowDebugConsole() const = 0;
  virtual void SetEnableAcceleratorKeys(bool AValue) = 0;
  virtual bool EnableAcceleratorKeys() const = 0;
  virtual void SetCacheFolderName(const QString& AValue) = 0;
  virtual QString CacheFolderName() const = 0;
  virtual void SetAutoClearCache(bool AValue) = 0;
  virtual bool AutoClearCache() const = 0;
  virtual void SetCacheFolder(const QString& AValue) = 0;
  virtual QString CacheFolder() const = 0;

  virtual void Navigate(const QString& AURL) = 0;
  virtual void Navigate() = 0;
  virtual void LoadHTML(const QString& AHTML) = 0;
  virtual void GoForward() = 0;
  virtual void GoBack() = 0;
  virtual void Reload() = 0;
  virtual void StopLoading() = 0;
  virtual bool CanGoBack() const = 0;
  virtual bool CanGoForward() const = 0;
  // Shows the local error page for AURL with AReason in place of the page,
  // quietly: no navigation of the component, whose address stays AURL.
  virtual void ShowErrorPage(const QString& AURL, const QString& AReason) = 0;

  // Origin (scheme, host, port) of the pages that may reach host objects;
  // pages of any other origin see none.
  virtual void SetHostObjectOrigin(const QString& AValue) = 0;
  virtual QString HostObjectOrigin() const = 0;
  virtual void AddBridge(const QString& ABridgeName, std::shared_ptr<IHostObject> ABridgeObject) = 0;
  virtual void RemoveBridge(const QString& ABridgeName) = 0;

  virtual void UpdateBounds() = 0;
  virtual void UpdateVisibility() = 0;
  virtual void BeforeParentChange() = 0;

  virtual void Initialize() = 0;
  virtual void DeInitialize() = 0;
  virtual void ClearCache() = 0;
  virtual void ShowDebugConsole() = 0;

  // Runs AScript in the page; AResult gets the result. It is not called
  // when there is no engine, nor when the page lost the script (the
  // backend reports that through the component's Do-operations).
  virtual void ExecuteJavaScript(const QString& AScript, TORVZYNDashWebBrowserJavaScriptCompleteEvent AResult) = 0;

  // The engine's own objects, untyped and not owned; null without an engine.
  virtual void* NativeEnvironment() const = 0;
  virtual void* NativeBrowser() const = 0;
};

// Settings facet of a backend.
class IORVZYNDashCustomWebBrowserSettings {
public:
  virtual ~IORVZYNDashCustomWebBrowserSettings() = default;
  virtual void SetAllowExternalDrop(bool AValue) = 0;
  virtual bool AllowExternalDrop() const = 0;
};

}  // namespace orv
