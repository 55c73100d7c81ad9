#pragma once

#include <QLabel>

#include <functional>

namespace orv {

// A label that acts when clicked, shown as a link: blue text (or an
// image) and the hand cursor.
class TLinkLabel final : public QLabel {
public:
  TLinkLabel(const QString& AText, QWidget* AParent);
  TLinkLabel(const QPixmap& AImage, QWidget* AParent);

  std::function<void()> OnClick;

protected:
  void mouseReleaseEvent(QMouseEvent* AEvent) override;
};

}  // namespace orv
