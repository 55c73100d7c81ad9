#pragma once

#include <QString>

#include <memory>
#include <vector>

namespace orv {

class TORVZYNDashCustomWebBrowser;
class IORVZYNDashCustomWebBrowser;

// Root of the interfaces that are looked up by identifier at run time.
// An object answers whether it implements the interface an identifier
// names, so the registry can refuse a service filed under the wrong key.
class IORVZYNDashInterface {
public:
  virtual ~IORVZYNDashInterface() = default;
  virtual bool Supports(const QString& AIID) const = 0;
};

// Creates and forgets the engine backends of browser components.
class IORVZYNDashWebBrowserService : public virtual IORVZYNDashInterface {
public:
  static QString IID() { return QStringLiteral("{94C7BF89-2B0A-40DF-8C24-B393CEB91389}"); }
  bool Supports(const QString& AIID) const override { return AIID == IID(); }

  virtual std::shared_ptr<IORVZYNDashCustomWebBrowser> CreateWebBrowser(TORVZYNDashCustomWebBrowser& AValue) = 0;
  virtual void DeleteCookies() = 0;
  virtual void DestroyWebBrowser(const std::shared_ptr<IORVZYNDashCustomWebBrowser>& AValue) = 0;
};

// Keeps the backends it created until the component hands them back; a
// platform module derives from it and says how a backend is made.
class TORVZYNDashWebBrowserFactoryService : public IORVZYNDashWebBrowserService {
public:
  std::shared_ptr<IORVZYNDashCustomWebBrowser> CreateWebBrowser(TORVZYNDashCustomWebBrowser& AValue) override;
  void DeleteCookies() override {}
  void DestroyWebBrowser(const std::shared_ptr<IORVZYNDashCustomWebBrowser>& AValue) override;
  int WebBrowserCount() const { return static_cast<int>(FWebBrowsers.size()); }

protected:
  virtual std::shared_ptr<IORVZYNDashCustomWebBrowser> DoCreateWebBrowser(TORVZYNDashCustomWebBrowser& AValue) = 0;

private:
  std::vector<std::shared_ptr<IORVZYNDashCustomWebBrowser>> FWebBrowsers;
};

// Process-wide registry of platform services, keyed by the identifier text
// of the interface they implement. Used on the UI thread only.
class TORVZYNDashWebBrowserPlatformServices {
public:
  // The single instance, created on first use; none once ReleaseCurrent
  // has run at program end.
  static TORVZYNDashWebBrowserPlatformServices* Current();
  static void ReleaseCurrent();

  void AddPlatformService(const QString& AServiceGUID, std::shared_ptr<IORVZYNDashInterface> AService);
  void RemovePlatformService(const QString& AServiceGUID);
  std::shared_ptr<IORVZYNDashInterface> GetPlatformService(const QString& AServiceGUID) const;
  bool SupportsPlatformService(const QString& AServiceGUID) const;
  int Count() const { return static_cast<int>(FServices.size()); }

  // The service as interface I, or none when it is missing or does not
  // implement I.
  template <class I>
  std::shared_ptr<I> GetPlatformService(const QString& AServiceGUID) const {
    return As<I>(GetPlatformService(AServiceGUID));
  }
  template <class I>
  bool SupportsPlatformService(const QString& AServiceGUID, std::shared_ptr<I>& AService) const {
    AService = GetPlatformService<I>(AServiceGUID);
    return AService != nullptr;
  }

private:
  struct TORVZYNDashWebBrowserPlatformServicesService {
    QString Key;
    std::shared_ptr<IORVZYNDashInterface> FInterface;
  };

  template <class I>
  static std::shared_ptr<I> As(const std::shared_ptr<IORVZYNDashInterface>& AService) {
    if (!AService || !AService->Supports(I::IID())) return nullptr;
    return std::dynamic_pointer_cast<I>(AService);
  }

  std::vector<TORVZYNDashWebBrowserPlatformServicesService> FServices;
};

}  // namespace orv
