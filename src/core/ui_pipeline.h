#pragma once

#include <functional>
#include <memory>

namespace orv {

class UiThread;

// The one road from any thread to the UI thread for the dashboard's parts:
// work runs there in the order it was posted, each item behind its own
// exception barrier, and everything still queued is dropped once the
// pipeline is closed. Items posted from one drain's work run in a later
// drain.
class UiPipeline {
public:
  using Work = std::function<void()>;
  using ErrorReport = std::function<void(const std::exception& AError)>;

  explicit UiPipeline(UiThread& AUi);
  // Closes.
  ~UiPipeline();
  UiPipeline(const UiPipeline&) = delete;
  UiPipeline& operator=(const UiPipeline&) = delete;

  // Any thread. Dropped once closed.
  void Post(Work AWork);
  // True on the UI thread while this pipeline's work runs.
  bool Draining() const;
  // On the UI thread: nothing queued or posted later runs any more.
  void Close();

  // Set before anything is posted. What an item throws goes to
  // OnError; OnDrained runs after each drain's last item.
  void SetOnError(ErrorReport AOnError);
  void SetOnDrained(Work AOnDrained);

private:
  struct TShared;
  static void Drain(TShared& AShared);

  UiThread& FUi;
  const std::shared_ptr<TShared> FShared;
};

}  // namespace orv
