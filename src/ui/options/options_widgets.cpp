#include "ui/options/options_widgets.h"

#include "ui/options/options_icons.h"

#include <QHBoxLayout>
#include <QLabel>

namespace orv {

namespace {

constexpr int kImageSize = 16;

}  // namespace

QLabel* ImageLabel(const QIcon& AIcon, const QString& AName, QWidget* AParent) {
  auto* label = new QLabel(AParent);
  label->setObjectName(AName);
  label->setPixmap(AIcon.pixmap(kImageSize, kImageSize));
  label->setFixedSize(kImageSize, kImageSize);
  return label;
}

QHBoxLayout* NoticeRow(const QString& AImageName, const QString& ALabelName, const QString& AText, QWidget* AParent) {
  auto* row = new QHBoxLayout;
  row->addWidget(ImageLabel(options_icons::Information(), AImageName, AParent), 0, Qt::AlignTop);
  auto* text = new QLabel(AText, AParent);
  text->setObjectName(ALabelName);
  text->setWordWrap(true);
  row->addWidget(text, 1);
  return row;
}

}  // namespace orv
