#include "platform/lifetime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

namespace orv {
namespace {

struct Owner {
  Lifetime<Owner> lifetime{*this};
};

// Observers taken before an end never find the owner again, even after a
// renewal; those taken after a renewal do; an observer outlives its owner.
TEST(LifetimeTest, ObserversFindTheOwnerOnlyWithinTheirOwnLifetime) {
  std::optional<Owner> owner{std::in_place};
  const auto first = owner->lifetime.Observe();
  EXPECT_EQ(first.Get(), &*owner);

  owner->lifetime.Renew();
  const auto second = owner->lifetime.Observe();
  EXPECT_TRUE(first.Ended());
  EXPECT_EQ(second.Get(), &*owner);

  owner->lifetime.End();
  EXPECT_TRUE(second.Ended());
  owner->lifetime.Renew();
  const auto third = owner->lifetime.Observe();
  EXPECT_TRUE(second.Ended());
  EXPECT_FALSE(third.Ended());

  owner.reset();
  EXPECT_TRUE(third.Ended());
  EXPECT_TRUE(Lifetime<Owner>::Observer().Ended());
}

// Another thread looks while the owner goes (the thread sanitizer watches).
TEST(LifetimeTest, AnotherThreadSeesTheEndWithoutARace) {
  auto owner = std::make_unique<Owner>();
  std::atomic<bool> sawOwner = false;
  std::thread looker([observer = owner->lifetime.Observe(), &sawOwner] {
    while (observer.Get()) sawOwner = true;
  });
  while (!sawOwner) std::this_thread::yield();
  owner.reset();
  looker.join();
}

}  // namespace
}  // namespace orv
