#pragma once

#include <QWidget>

#include <functional>

class QCheckBox;

namespace orv {

// The options dialog's "Options" tab: whether the page may tell about
// updates of installed products.
class TOptionsNotificationsPage final : public QWidget {
public:
  explicit TOptionsNotificationsPage(QWidget* AParent);

  bool ProductUpdates() const;
  void SetProductUpdates(bool AChecked);

  // Every change of the check box.
  std::function<void()> OnProductUpdatesChanged;

private:
  QCheckBox* cbProductUpdates = nullptr;
};

}  // namespace orv
