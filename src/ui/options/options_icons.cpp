#include "ui/options/options_icons.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace orv::options_icons {

namespace {

using TDraw = void (*)(QPainter&);

// An icon drawn on a 32 by 32 canvas, rendered at the sizes buttons and
// labels ask for so that no size is scaled from a blurry neighbour.
QIcon drawn(TDraw ADraw) {
  QIcon icon;
  for (int size : {16, 20, 24, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    ADraw(painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

void drawFolder(QPainter& p) {
  QPainterPath back;
  back.moveTo(3, 8);
  back.lineTo(12, 8);
  back.lineTo(15, 11);
  back.lineTo(29, 11);
  back.lineTo(29, 26);
  back.lineTo(3, 26);
  back.closeSubpath();
  p.setPen(QPen(QColor(0xB0, 0x80, 0x20), 1.5));
  p.setBrush(QColor(0xF2, 0xC2, 0x4B));
  p.drawPath(back);
  p.setBrush(QColor(0xF8, 0xD7, 0x74));
  p.drawRect(QRectF(3, 14, 26, 12));
}

void drawEyeOutline(QPainter& p) {
  QPainterPath eye;
  eye.moveTo(3, 16);
  eye.quadTo(16, 2, 29, 16);
  eye.quadTo(16, 30, 3, 16);
  p.setPen(QPen(QColor(0x3C, 0x3C, 0x3C), 2.2));
  p.setBrush(Qt::white);
  p.drawPath(eye);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x3C, 0x3C, 0x3C));
  p.drawEllipse(QPointF(16, 16), 5, 5);
}

void drawEyeOpen(QPainter& p) { drawEyeOutline(p); }

void drawEyeCrossed(QPainter& p) {
  drawEyeOutline(p);
  p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(6, 27), QPointF(26, 5));
  p.setPen(QPen(QColor(0x3C, 0x3C, 0x3C), 2.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(6, 27), QPointF(26, 5));
}

void drawDisc(QPainter& p, const QColor& AColor) {
  p.setPen(Qt::NoPen);
  p.setBrush(AColor);
  p.drawEllipse(QRectF(2, 2, 28, 28));
  p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
}

void drawValid(QPainter& p) {
  drawDisc(p, QColor(0x2E, 0x9E, 0x44));
  p.drawPolyline(QPolygonF({QPointF(9, 16.5), QPointF(14, 21.5), QPointF(23, 11)}));
}

void drawInvalid(QPainter& p) {
  drawDisc(p, QColor(0xD3, 0x3B, 0x2C));
  p.drawLine(QPointF(11, 11), QPointF(21, 21));
  p.drawLine(QPointF(21, 11), QPointF(11, 21));
}

void drawInformation(QPainter& p) {
  drawDisc(p, QColor(0x2F, 0x6F, 0xCF));
  p.drawLine(QPointF(16, 15), QPointF(16, 23));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(16, 9.5), 2.2, 2.2);
}

QIcon themed(const char* AName, TDraw AFallback) { return QIcon::fromTheme(QLatin1String(AName), drawn(AFallback)); }

}  // namespace

QIcon Folder() {
  static const QIcon icon = themed("folder-open", drawFolder);
  return icon;
}

QIcon EyeOpen() {
  static const QIcon icon = themed("view-reveal-symbolic", drawEyeOpen);
  return icon;
}

QIcon EyeCrossed() {
  static const QIcon icon = themed("view-conceal-symbolic", drawEyeCrossed);
  return icon;
}

QIcon PathValid() {
  static const QIcon icon = drawn(drawValid);
  return icon;
}

QIcon PathInvalid() {
  static const QIcon icon = drawn(drawInvalid);
  return icon;
}

QIcon Information() {
  static const QIcon icon = themed("dialog-information", drawInformation);
  return icon;
}

QPixmap Logo() {
  QPixmap pixmap(168, 56);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1D, 0x3F, 0x7A));
  p.drawRoundedRect(QRectF(0, 0, 56, 56), 10, 10);
  p.setBrush(QColor(0xF2, 0x9A, 0x2E));
  p.drawEllipse(QRectF(38, 6, 12, 12));
  QFont mark(QStringLiteral("DejaVu Sans"));
  mark.setBold(true);
  mark.setPixelSize(20);
  p.setFont(mark);
  p.setPen(Qt::white);
  p.drawText(QRectF(0, 18, 56, 30), Qt::AlignCenter, QStringLiteral("ORV"));
  QFont name(QStringLiteral("DejaVu Sans"));
  name.setPixelSize(17);
  p.setFont(name);
  p.setPen(QColor(0x1D, 0x3F, 0x7A));
  p.drawText(QRectF(66, 0, 102, 56), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("software"));
  return pixmap;
}

}  // namespace orv::options_icons
