#include "ui/options/link_label.h"

#include <QMouseEvent>

namespace orv {

TLinkLabel::TLinkLabel(const QString& AText, QWidget* AParent) : QLabel(AText, AParent) {
  setCursor(Qt::PointingHandCursor);
  setStyleSheet(QStringLiteral("color: #0645ad;"));
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

TLinkLabel::TLinkLabel(const QPixmap& AImage, QWidget* AParent) : QLabel(AParent) {
  setPixmap(AImage);
  setCursor(Qt::PointingHandCursor);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

// A click is a press and a release over the label, as for a button.
void TLinkLabel::mouseReleaseEvent(QMouseEvent* AEvent) {
  QLabel::mouseReleaseEvent(AEvent);
  if (AEvent->button() == Qt::LeftButton && rect().contains(AEvent->position().toPoint()) && OnClick) OnClick();
}

}  // namespace orv
