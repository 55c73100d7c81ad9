#include "core/ui_pipeline.h"

#include "platform/ui_thread.h"

#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace orv {

struct UiPipeline::TShared {
  std::mutex lock;
  std::deque<Work> pending;
  bool drainPosted = false;
  bool closed = false;
  // Only read and written on the UI thread.
  ErrorReport onError;
  Work onDrained;
};

namespace {

// The pipeline whose work this thread runs now; a worker never has one.
thread_local const void* tDraining = nullptr;

}  // namespace

UiPipeline::UiPipeline(UiThread& AUi) : FUi(AUi), FShared(std::make_shared<TShared>()) {}

UiPipeline::~UiPipeline() { Close(); }

void UiPipeline::SetOnError(ErrorReport AOnError) { FShared->onError = std::move(AOnError); }

void UiPipeline::SetOnDrained(Work AOnDrained) { FShared->onDrained = std::move(AOnDrained); }

void UiPipeline::Post(Work AWork) {
  {
    const std::lock_guard lock(FShared->lock);
    if (FShared->closed) return;
    FShared->pending.push_back(std::move(AWork));
    // One drain on its way runs everything queued before it starts.
    if (FShared->drainPosted) return;
    FShared->drainPosted = true;
  }
  FUi.post([shared = FShared] { Drain(*shared); });
}

bool UiPipeline::Draining() const { return tDraining == FShared.get(); }

void UiPipeline::Close() {
  const std::lock_guard lock(FShared->lock);
  FShared->closed = true;
  FShared->pending.clear();
}

void UiPipeline::Drain(TShared& AShared) {
  std::deque<Work> work;
  {
    const std::lock_guard lock(AShared.lock);
    AShared.drainPosted = false;
    if (AShared.closed) return;
    work.swap(AShared.pending);
  }
  struct TDrainingMark {
    explicit TDrainingMark(const void* APipeline) : outer(std::exchange(tDraining, APipeline)) {}
    ~TDrainingMark() { tDraining = outer; }
    const void* outer;
  } mark(&AShared);
  for (const Work& item : work) {
    // An item may close the pipeline (its owner going away).
    {
      const std::lock_guard lock(AShared.lock);
      if (AShared.closed) break;
    }
    try {
      item();
    } catch (const std::exception& e) {
      if (AShared.onError) AShared.onError(e);
    } catch (...) {
      if (AShared.onError) AShared.onError(std::runtime_error("unknown error"));
    }
  }
  bool closed = false;
  {
    const std::lock_guard lock(AShared.lock);
    closed = AShared.closed;
  }
  if (!closed && AShared.onDrained) AShared.onDrained();
}

}  // namespace orv
