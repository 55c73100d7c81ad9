#include "lib/web_browser_services.h"

#include <algorithm>

namespace orv {

namespace {

std::unique_ptr<TORVZYNDashWebBrowserPlatformServices> gCurrent;
bool gReleased = false;

}  // namespace

std::shared_ptr<IORVZYNDashCustomWebBrowser> TORVZYNDashWebBrowserFactoryService::CreateWebBrowser(
    TORVZYNDashCustomWebBrowser& AValue) {
  auto browser = DoCreateWebBrowser(AValue);
  if (browser) FWebBrowsers.push_back(browser);
  return browser;
}

void TORVZYNDashWebBrowserFactoryService::DestroyWebBrowser(
    const std::shared_ptr<IORVZYNDashCustomWebBrowser>& AValue) {
  auto it = std::find(FWebBrowsers.begin(), FWebBrowsers.end(), AValue);
  if (it != FWebBrowsers.end()) FWebBrowsers.erase(it);
}

TORVZYNDashWebBrowserPlatformServices* TORVZYNDashWebBrowserPlatformServices::Current() {
  if (!gCurrent && !gReleased) gCurrent = std::make_unique<TORVZYNDashWebBrowserPlatformServices>();
  return gCurrent.get();
}

void TORVZYNDashWebBrowserPlatformServices::ReleaseCurrent() {
  gReleased = true;
  gCurrent.reset();
}

void TORVZYNDashWebBrowserPlatformServices::AddPlatformService(const QString& AServiceGUID,
                                                               std::shared_ptr<IORVZYNDashInterface> AService) {
  if (!AService || SupportsPlatformService(AServiceGUID) || !AService->Supports(AServiceGUID)) return;
  FServices.push_back({AServiceGUID, std::move(AService)});
}

void TORVZYNDashWebBrowserPlatformServices::RemovePlatformService(const QString& AServiceGUID) {
  auto it =
      std::find_if(FServices.rbegin(), FServices.rend(), [&](const auto& entry) { return entry.Key == AServiceGUID; });
  if (it != FServices.rend()) FServices.erase(std::next(it).base());
}

std::shared_ptr<IORVZYNDashInterface> TORVZYNDashWebBrowserPlatformServices::GetPlatformService(
    const QString& AServiceGUID) const {
  auto it =
      std::find_if(FServices.begin(), FServices.end(), [&](const auto& entry) { return entry.Key == AServiceGUID; });
  return it == FServices.end() ? nullptr : it->FInterface;
}

bool TORVZYNDashWebBrowserPlatformServices::SupportsPlatformService(const QString& AServiceGUID) const {
  return GetPlatformService(AServiceGUID) != nullptr;
}

}  // namespace orv
