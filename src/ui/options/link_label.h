#pragma once

#include <QLabel>

#include <functional>

namespace orv {

// A label that acts when clicked, shown as a link: text in the palette's
// link colour (or an image) and the hand cursor. It takes the focus with
// Tab, shows it, and acts on Space or Return as a button would.
class TLinkLabel final : public QLabel {
public:
  TLinkLabel(const QString& AText, QWidget* AParent);
  TLinkLabel(const QPixmap& AImage, QWidget* AParent);

  std::function<void()> OnClick;

protected:
  void mouseReleaseEvent(QMouseEvent* AEvent) override;
  void keyPressEvent(QKeyEvent* AEvent) override;
  void paintEvent(QPaintEvent* AEvent) override;

private:
  void ActLikeALink();
};

}  // namespace orv
