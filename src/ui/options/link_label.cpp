#include "ui/options/link_label.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace orv {

TLinkLabel::TLinkLabel(const QString& AText, QWidget* AParent) : QLabel(AText, AParent) {
  // From the palette, so that a dark theme's links stay readable.
  setForegroundRole(QPalette::Link);
  ActLikeALink();
}

TLinkLabel::TLinkLabel(const QPixmap& AImage, QWidget* AParent) : QLabel(AParent) {
  setPixmap(AImage);
  ActLikeALink();
}

void TLinkLabel::ActLikeALink() {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::StrongFocus);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

// A click is a press and a release over the label, as for a button.
void TLinkLabel::mouseReleaseEvent(QMouseEvent* AEvent) {
  QLabel::mouseReleaseEvent(AEvent);
  if (AEvent->button() == Qt::LeftButton && rect().contains(AEvent->position().toPoint()) && OnClick) OnClick();
}

void TLinkLabel::keyPressEvent(QKeyEvent* AEvent) {
  switch (AEvent->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (OnClick) OnClick();
      AEvent->accept();
      break;
    default: QLabel::keyPressEvent(AEvent);
  }
}

void TLinkLabel::paintEvent(QPaintEvent* AEvent) {
  QLabel::paintEvent(AEvent);
  if (!hasFocus()) return;
  QStylePainter painter(this);
  QStyleOptionFocusRect option;
  option.initFrom(this);
  painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}

}  // namespace orv
