#pragma once

#include <atomic>
#include <memory>

namespace orv {

// How work that outlives the call which queued it (a script's answer, a
// request's report, a queued signal) finds out whether its owner is still
// there. The owner holds a Lifetime; the work holds an Observer taken from
// it. Once the owner ends the lifetime, or is destroyed, every observer
// finds nothing, on any thread. The owner ends it on the thread that runs
// the observed work, so an observer that found the owner may use it for
// the rest of that work, and can look again to learn whether the work
// itself destroyed the owner.
template <class TOwner>
class Lifetime {
  using TShared = std::atomic<TOwner*>;

public:
  class Observer {
  public:
    Observer() = default;
    // The owner, or nullptr once its lifetime has ended.
    TOwner* Get() const {
      const auto shared = FShared.lock();
      return shared ? shared->load() : nullptr;
    }
    bool Ended() const { return Get() == nullptr; }

  private:
    friend class Lifetime;
    explicit Observer(std::weak_ptr<TShared> AShared) : FShared(std::move(AShared)) {}
    std::weak_ptr<TShared> FShared;
  };

  explicit Lifetime(TOwner& AOwner) : FOwner(AOwner), FShared(std::make_shared<TShared>(&AOwner)) {}
  ~Lifetime() { End(); }
  Lifetime(const Lifetime&) = delete;
  Lifetime& operator=(const Lifetime&) = delete;

  Observer Observe() const { return Observer(FShared); }
  // Every observer taken so far finds nothing from now on.
  void End() { FShared->store(nullptr); }
  // Ends the lifetime and begins a new one: observers taken from now on
  // find the owner, earlier ones still do not (an engine started again).
  void Renew() {
    End();
    FShared = std::make_shared<TShared>(&FOwner);
  }

private:
  TOwner& FOwner;
  std::shared_ptr<TShared> FShared;
};

}  // namespace orv
