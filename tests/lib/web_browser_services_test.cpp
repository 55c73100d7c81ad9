#include "lib/web_browser_services.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace orv {
namespace {

class OtherService : public IORVZYNDashInterface {
public:
  static QString IID() { return QStringLiteral("{11111111-2222-3333-4444-555555555555}"); }
  bool Supports(const QString& AIID) const override { return AIID == IID(); }
};

class NullFactory : public TORVZYNDashWebBrowserFactoryService {
protected:
  std::shared_ptr<IORVZYNDashCustomWebBrowser> DoCreateWebBrowser(TORVZYNDashCustomWebBrowser&) override {
    return nullptr;
  }
};

const QString kBrowserKey = IORVZYNDashWebBrowserService::IID();

TEST(WebBrowserPlatformServices, AddsOnlyNewKeysThatTheServiceImplements) {
  TORVZYNDashWebBrowserPlatformServices registry;
  auto factory = std::make_shared<NullFactory>();
  auto other = std::make_shared<OtherService>();

  registry.AddPlatformService(kBrowserKey, other);  // wrong interface for the key
  EXPECT_EQ(registry.Count(), 0);
  registry.AddPlatformService(kBrowserKey, nullptr);
  EXPECT_EQ(registry.Count(), 0);

  registry.AddPlatformService(kBrowserKey, factory);
  registry.AddPlatformService(kBrowserKey, std::make_shared<NullFactory>());  // key taken
  registry.AddPlatformService(OtherService::IID(), other);
  EXPECT_EQ(registry.Count(), 2);

  EXPECT_TRUE(registry.SupportsPlatformService(kBrowserKey));
  EXPECT_EQ(registry.GetPlatformService<IORVZYNDashWebBrowserService>(kBrowserKey), factory);
  // Asked as an interface the entry does not implement: none.
  EXPECT_EQ(registry.GetPlatformService<IORVZYNDashWebBrowserService>(OtherService::IID()), nullptr);
  std::shared_ptr<IORVZYNDashWebBrowserService> out;
  EXPECT_FALSE(registry.SupportsPlatformService(OtherService::IID(), out));
  EXPECT_TRUE(registry.SupportsPlatformService(kBrowserKey, out));
  EXPECT_EQ(out, factory);

  // Keys compare exactly.
  EXPECT_FALSE(registry.SupportsPlatformService(kBrowserKey.toLower()));

  registry.RemovePlatformService(kBrowserKey);
  registry.RemovePlatformService(kBrowserKey);  // already gone: nothing
  EXPECT_EQ(registry.Count(), 1);
  EXPECT_FALSE(registry.SupportsPlatformService(kBrowserKey));
  EXPECT_EQ(registry.GetPlatformService(kBrowserKey), nullptr);
}

TEST(WebBrowserPlatformServices, CurrentIsNotRecreatedAfterRelease) {
  ASSERT_NE(TORVZYNDashWebBrowserPlatformServices::Current(), nullptr);
  EXPECT_EQ(TORVZYNDashWebBrowserPlatformServices::Current(), TORVZYNDashWebBrowserPlatformServices::Current());
  // In a child process, so the rest of this suite keeps its registry.
  EXPECT_EXIT(
      {
        TORVZYNDashWebBrowserPlatformServices::ReleaseCurrent();
        std::exit(TORVZYNDashWebBrowserPlatformServices::Current() == nullptr ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace orv
