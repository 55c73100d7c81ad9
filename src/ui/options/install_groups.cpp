#include "ui/options/install_groups.h"

#include "lib/utils.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace orv {

TOptionsInstallGroups::TOptionsInstallGroups(Shell& AShell, QString ALogFolder, QWidget* AParent)
    : QWidget(AParent), FShell(AShell) {
  auto* column = new QVBoxLayout(this);

  auto* install = new QGroupBox(QStringLiteral("Install"), this);
  install->setObjectName(QStringLiteral("Install"));
  auto* grid = new QGridLayout(install);
  beInstallTrial = new QLineEdit(install);
  beInstallTrial->setObjectName(QStringLiteral("beInstallTrial"));
  beInstallReg = new QLineEdit(install);
  beInstallReg->setObjectName(QStringLiteral("beInstallReg"));
  auto* openTrial = new QPushButton(QStringLiteral("Open"), install);
  openTrial->setObjectName(QStringLiteral("Button1"));
  auto* openReg = new QPushButton(QStringLiteral("Open"), install);
  openReg->setObjectName(QStringLiteral("Button7"));
  auto* openLog = new QPushButton(QStringLiteral("Log"), install);
  openLog->setObjectName(QStringLiteral("Button2"));
  ckSilent = new QCheckBox(QStringLiteral("Silent Install/Uninstall"), install);
  ckSilent->setObjectName(QStringLiteral("ckSilent"));
  ckSilent->setChecked(true);
  grid->addWidget(new QLabel(QStringLiteral("Trial:"), install), 0, 0);
  grid->addWidget(beInstallTrial, 0, 1);
  grid->addWidget(openTrial, 0, 2);
  grid->addWidget(new QLabel(QStringLiteral("Registered:"), install), 1, 0);
  grid->addWidget(beInstallReg, 1, 1);
  grid->addWidget(openReg, 1, 2);
  grid->addWidget(openLog, 2, 2);
  grid->addWidget(ckSilent, 2, 1);
  column->addWidget(install);

  auto* notifications = new QGroupBox(QStringLiteral("Notifications"), this);
  notifications->setObjectName(QStringLiteral("Notifications"));
  auto* boxes = new QVBoxLayout(notifications);
  CheckBox1 = new QCheckBox(QStringLiteral("Installation"), notifications);
  CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
  CheckBox1->setChecked(true);
  // Shown once, never read or stored.
  auto* productUpdates = new QCheckBox(QStringLiteral("Product Updates"), notifications);
  productUpdates->setObjectName(QStringLiteral("CheckBox2"));
  boxes->addWidget(CheckBox1);
  boxes->addWidget(productUpdates);
  column->addWidget(notifications);

  connect(openTrial, &QPushButton::clicked, this, [this] { OpenFolder(*beInstallTrial); });
  connect(openReg, &QPushButton::clicked, this, [this] { OpenFolder(*beInstallReg); });
  connect(openLog, &QPushButton::clicked, this, [this, folder = std::move(ALogFolder)] {
    if (QDir(folder).exists()) TORVZYNDashUtils::OpenFile(FShell, folder);
  });
  hide();
}

void TOptionsInstallGroups::LoadValues(const TORVDashboardSettingsValues& AValues) {
  CheckBox1->setChecked(AValues.InstallNotifications);
  ckSilent->setChecked(AValues.Silent);
  beInstallTrial->setText(AValues.InstallDirTrial);
  beInstallReg->setText(AValues.InstallDirReg);
}

void TOptionsInstallGroups::StoreValues(TORVDashboardSettingsValues& AValues) const {
  AValues.InstallDirTrial = beInstallTrial->text();
  AValues.InstallDirReg = beInstallReg->text();
  AValues.InstallNotifications = CheckBox1->isChecked();
  AValues.Silent = ckSilent->isChecked();
}

void TOptionsInstallGroups::OpenFolder(const QLineEdit& AEdit) { TORVZYNDashUtils::OpenFile(FShell, AEdit.text()); }

}  // namespace orv
