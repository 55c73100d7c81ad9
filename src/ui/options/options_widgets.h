#pragma once

#include <QString>

class QHBoxLayout;
class QIcon;
class QLabel;
class QWidget;

namespace orv {

// An image of the dialog's small size in a label named AName.
QLabel* ImageLabel(const QIcon& AIcon, const QString& AName, QWidget* AParent);
// An information sign named AImageName beside the wrapped text of a label
// named ALabelName.
QHBoxLayout* NoticeRow(const QString& AImageName, const QString& ALabelName, const QString& AText, QWidget* AParent);

}  // namespace orv
