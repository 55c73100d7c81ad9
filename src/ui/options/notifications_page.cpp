#include "ui/options/notifications_page.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QVBoxLayout>

namespace orv {

TOptionsNotificationsPage::TOptionsNotificationsPage(QWidget* AParent) : QWidget(AParent) {
  auto* column = new QVBoxLayout(this);
  auto* group = new QGroupBox(QStringLiteral("Notifications"), this);
  auto* inner = new QVBoxLayout(group);
  cbProductUpdates = new QCheckBox(QStringLiteral("Updates available for installed products"), group);
  cbProductUpdates->setObjectName(QStringLiteral("cbProductUpdates"));
  cbProductUpdates->setChecked(true);
  inner->addWidget(cbProductUpdates);
  column->addWidget(group);
  column->addStretch(1);
  connect(cbProductUpdates, &QCheckBox::toggled, this, [this] {
    if (OnProductUpdatesChanged) OnProductUpdatesChanged();
  });
}

bool TOptionsNotificationsPage::ProductUpdates() const { return cbProductUpdates->isChecked(); }

void TOptionsNotificationsPage::SetProductUpdates(bool AChecked) {
  const QSignalBlocker loading(cbProductUpdates);
  cbProductUpdates->setChecked(AChecked);
}

}  // namespace orv
