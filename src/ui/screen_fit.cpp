#include "ui/screen_fit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace orv {

namespace {

const QWidget* ownerOf(const QWidget& AWindow) {
  const QWidget* parent = AWindow.parentWidget();
  return parent ? parent->window() : nullptr;
}

QScreen* screenOf(const QWidget& AWindow) {
  if (const QWidget* owner = ownerOf(AWindow)) return owner->screen();
  return AWindow.screen();
}

QRect availableGeometryOf(const QWidget& AWindow) {
  const QScreen* screen = screenOf(AWindow);
  return screen ? screen->availableGeometry() : QRect();
}

}  // namespace

QSize AvailableRoomFor(const QWidget& AWindow) {
  QSize room = availableGeometryOf(AWindow).size();
  if (room.isEmpty()) return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  const QWidget* owner = ownerOf(AWindow);
  if (owner && owner->isVisible()) room -= owner->frameGeometry().size() - owner->geometry().size();
  return room;
}

void FitToScreen(QWidget& AWindow, const QSize& ASize, const QSize& AMinimum) {
  const QSize room = AvailableRoomFor(AWindow);
  AWindow.setMinimumSize(AMinimum.boundedTo(room));
  const QSize size = ASize.boundedTo(room);
  const QRect available = availableGeometryOf(AWindow);
  if (available.isEmpty())
    AWindow.resize(size);
  else
    AWindow.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, available));
}

}  // namespace orv
