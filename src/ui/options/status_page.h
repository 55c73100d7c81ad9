#pragma once

#include <QWidget>

class QPlainTextEdit;

namespace orv {

// The options dialog's "Status" tab: whether the browser engine started,
// and its version.
class TOptionsStatusPage final : public QWidget {
public:
  explicit TOptionsStatusPage(QWidget* AParent);

  void ShowBrowserInfo(bool AEngineLoaded, const QString& AEngineVersion);

private:
  QPlainTextEdit* mBrowserInfo = nullptr;
};

}  // namespace orv
