#include "ui/options/settings_page.h"

#include "lib/utils.h"
#include "platform/shell.h"
#include "ui/options/link_label.h"
#include "ui/options/options_icons.h"
#include "ui/options/options_widgets.h"
#include "ui/options/vendor_pages.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace orv {

namespace {

constexpr int kIDECheckBoxX = 8;
constexpr int kIDECheckBoxWidth = 250;

const QString kDoubledDelimiter = QString(2, TORVZYNDashUtils::PathDelimiter);

// AFolder and AFile joined by the path delimiter, every doubled delimiter
// reduced to one; empty for an empty folder.
QString fileInFolder(const QString& AFolder, const QString& AFile) {
  if (AFolder.isEmpty()) return {};
  QString path = AFolder + TORVZYNDashUtils::PathDelimiter + AFile;
  return path.replace(kDoubledDelimiter, QString(TORVZYNDashUtils::PathDelimiter));
}

QToolButton* imageButton(const QIcon& AIcon, const QString& AName, const QString& AHint, QWidget* AParent) {
  auto* button = new QToolButton(AParent);
  button->setObjectName(AName);
  button->setIcon(AIcon);
  button->setToolTip(AHint);
  button->setAutoRaise(false);
  return button;
}

QLabel* namedLabel(const QString& AText, const QString& AName, QWidget* AParent) {
  auto* label = new QLabel(AText, AParent);
  label->setObjectName(AName);
  return label;
}

QLineEdit* namedEdit(const QString& AName, QWidget* AParent) {
  auto* edit = new QLineEdit(AParent);
  edit->setObjectName(AName);
  return edit;
}

QPushButton* namedButton(const QString& AText, const QString& AName, QWidget* AParent) {
  auto* button = new QPushButton(AText, AParent);
  button->setObjectName(AName);
  return button;
}

}  // namespace

TOptionsSettingsPage::TOptionsSettingsPage(Shell& AShell, Dialogs& ADialogs, const TORVDashboardVendorPages& APages,
                                           QWidget* AParent)
    : QWidget(AParent), FShell(AShell), FDialogs(ADialogs) {
  auto* column = new QVBoxLayout(this);
  column->addWidget(CreateAccountGroup());
  column->addWidget(CreateKitwrightGroup(APages));
  column->addWidget(CreateDelphiVersionsGroup(), 1);
  column->addWidget(CreateDownloadGroup());
  // One caption column for every group, so that the edits line up.
  int captionWidth = 0;
  for (QLabel* caption : FCaptions) captionWidth = std::max(captionWidth, caption->sizeHint().width());
  for (QLabel* caption : FCaptions) caption->setFixedWidth(captionWidth);

  // The dialog opens with the cursor in the e-mail.
  setFocusProxy(edUserName);

  connect(beKitwright, &QLineEdit::textChanged, this, [this] {
    if (OnKitwrightDirChanged) OnKitwrightDirChanged();
  });
  connect(cbAllDelphiVersions, &QCheckBox::toggled, this, [this] { UpdateDelphiVersionsEnabled(); });
}

QGroupBox* TOptionsSettingsPage::CreateAccountGroup() {
  auto* group = new QGroupBox(QStringLiteral("My account"), this);
  auto* grid = new QGridLayout(group);
  edUserName = namedEdit(QStringLiteral("edUserName"), group);
  edPassword = namedEdit(QStringLiteral("edPassword"), group);
  edPassword->setEchoMode(QLineEdit::Password);
  Button10 = imageButton(options_icons::EyeCrossed(), QStringLiteral("Button10"),
                         QStringLiteral("Hide/show registration code"), group);
  connect(Button10, &QToolButton::clicked, this, [this] { ToggleCodeVisibility(); });

  grid->addWidget(Caption(QStringLiteral("Email:"), QStringLiteral("Label7"), group), 0, 0);
  grid->addWidget(edUserName, 0, 1);
  grid->addWidget(Caption(QStringLiteral("Registration code:"), QStringLiteral("Label8"), group), 1, 0);
  grid->addWidget(edPassword, 1, 1);
  grid->addWidget(Button10, 1, 2);
  return group;
}

QGroupBox* TOptionsSettingsPage::CreateKitwrightGroup(const TORVDashboardVendorPages& APages) {
  auto* group = new QGroupBox(QStringLiteral("ORV Kitwright"), this);
  auto* grid = new QGridLayout(group);

  auto* download = new TLinkLabel(QStringLiteral("Download ORV Kitwright"), group);
  download->setObjectName(QStringLiteral("Label20"));
  download->OnClick = [this, url = APages.KitwrightDownload()] { TORVZYNDashUtils::OpenURL(FShell, url); };
  grid->addWidget(download, 0, 0, 1, 3);

  beKitwright = namedEdit(QStringLiteral("beKitwright"), group);
  auto* pick = imageButton(options_icons::Folder(), QStringLiteral("Button3"), QStringLiteral("Select folder"), group);
  connect(pick, &QToolButton::clicked, this,
          [this] { SelectFolder(*beKitwright, QStringLiteral("Select Kitwright Folder")); });
  grid->addWidget(Caption(QStringLiteral("Location:"), QStringLiteral("Label1"), group), 1, 0);
  grid->addWidget(beKitwright, 1, 1);
  grid->addWidget(pick, 1, 2);

  lbKitwrightPathInfo = namedLabel(QStringLiteral("Set the folder where orv.exe is located"),
                                   QStringLiteral("lbKitwrightPathInfo"), group);
  grid->addWidget(lbKitwrightPathInfo, 2, 1, 1, 2);

  auto* state = new QHBoxLayout;
  ImgPathValid = ImageLabel(options_icons::PathValid(), QStringLiteral("ImgPathValid"), group);
  ImgPathInvalid = ImageLabel(options_icons::PathInvalid(), QStringLiteral("ImgPathInvalid"), group);
  ImgPathValid->hide();
  lbValidatePath = namedLabel(QStringLiteral("Invalid location"), QStringLiteral("lbValidatePath"), group);
  Button9 = namedButton(QStringLiteral("Open Shell"), QStringLiteral("Button9"), group);
  btOpenKitwrightConfig = namedButton(QStringLiteral("Open Config"), QStringLiteral("btOpenKitwrightConfig"), group);
  Button4 = namedButton(QStringLiteral("View Log"), QStringLiteral("Button4"), group);
  Button4->hide();
  connect(Button9, &QPushButton::clicked, this, [this] { OpenShell(); });
  connect(btOpenKitwrightConfig, &QPushButton::clicked, this, [this] {
    if (OnOpenKitwrightConfig) OnOpenKitwrightConfig();
  });
  connect(Button4, &QPushButton::clicked, this, [this] { ShowKitwrightLog(); });
  state->addWidget(ImgPathValid);
  state->addWidget(ImgPathInvalid);
  state->addWidget(lbValidatePath);
  state->addStretch();
  state->addWidget(Button9);
  state->addWidget(btOpenKitwrightConfig);
  state->addWidget(Button4);
  grid->addLayout(state, 3, 1, 1, 2);

  grid->addLayout(NoticeRow(QStringLiteral("Image3"), QStringLiteral("Label16"),
                            QStringLiteral("Products installed through classic setup or ORV Seatkeeper must be "
                                           "uninstalled first."),
                            group),
                  4, 0, 1, 3);
  return group;
}

QGroupBox* TOptionsSettingsPage::CreateDelphiVersionsGroup() {
  gbSelectDelphiVersions = new QGroupBox(QStringLiteral("Delphi versions"), this);
  gbSelectDelphiVersions->setObjectName(QStringLiteral("gbSelectDelphiVersions"));
  auto* column = new QVBoxLayout(gbSelectDelphiVersions);

  lbDelphiVersions = namedLabel(QStringLiteral("Select the Delphi versions for product installation"),
                                QStringLiteral("lbDelphiVersions"), gbSelectDelphiVersions);
  column->addWidget(lbDelphiVersions);
  auto* required = new QHBoxLayout;
  imgKitwrightRequired =
      ImageLabel(options_icons::Information(), QStringLiteral("imgKitwrightRequired"), gbSelectDelphiVersions);
  lbKitwrightRequired = namedLabel(QStringLiteral("ORV Kitwright Required"), QStringLiteral("lbKitwrightRequired"),
                                   gbSelectDelphiVersions);
  imgKitwrightRequired->hide();
  lbKitwrightRequired->hide();
  required->addWidget(imgKitwrightRequired);
  required->addWidget(lbKitwrightRequired, 1);
  column->addLayout(required);

  cbAllDelphiVersions = new QCheckBox(QStringLiteral("All versions"), gbSelectDelphiVersions);
  cbAllDelphiVersions->setObjectName(QStringLiteral("cbAllDelphiVersions"));
  cbAllDelphiVersions->setChecked(true);
  column->addWidget(cbAllDelphiVersions);

  gbDelphiVersions = new QGroupBox(QStringLiteral("Detected Delphi versions"), gbSelectDelphiVersions);
  gbDelphiVersions->setObjectName(QStringLiteral("gbDelphiVersions"));
  auto* inner = new QVBoxLayout(gbDelphiVersions);
  // Until the first version is added, so that an empty list says so.
  lbNoDelphiVersions =
      namedLabel(QStringLiteral("No Delphi version found"), QStringLiteral("lbNoDelphiVersions"), gbDelphiVersions);
  inner->addWidget(lbNoDelphiVersions);
  auto* scroll = new QScrollArea(gbDelphiVersions);
  scroll->setObjectName(QStringLiteral("sbDelphiVersions"));
  scroll->setFrameShape(QFrame::NoFrame);
  // The boxes stand where AddIDECheckBox puts them; the content grows
  // with them and scrolls.
  scroll->setWidgetResizable(false);
  sbDelphiVersions = new QWidget;
  sbDelphiVersions->resize(kIDECheckBoxX + kIDECheckBoxWidth, CheckBoxY);
  scroll->setWidget(sbDelphiVersions);
  inner->addWidget(scroll);
  column->addWidget(gbDelphiVersions, 1);

  column->addLayout(NoticeRow(QStringLiteral("Image2"), QStringLiteral("Label14"),
                              QStringLiteral("Products are installed only for supported Delphi versions, regardless "
                                             "of selection. If no selection is made, products are installed for all "
                                             "detected Delphi versions."),
                              gbSelectDelphiVersions));
  return gbSelectDelphiVersions;
}

// Kept for its value: nothing shows it any more.
QGroupBox* TOptionsSettingsPage::CreateDownloadGroup() {
  auto* group = new QGroupBox(QStringLiteral("Download"), this);
  group->setObjectName(QStringLiteral("Download"));
  auto* row = new QHBoxLayout(group);
  beDownload = namedEdit(QStringLiteral("beDownload"), group);
  auto* pick = imageButton(options_icons::Folder(), QStringLiteral("Button6"), QStringLiteral("Select Folder"), group);
  connect(pick, &QToolButton::clicked, this,
          [this] { SelectFolder(*beDownload, QStringLiteral("Select Download Folder")); });
  row->addWidget(Caption(QStringLiteral("Location:"), QStringLiteral("Label9"), group));
  row->addWidget(beDownload);
  row->addWidget(pick);
  group->hide();
  return group;
}

QLabel* TOptionsSettingsPage::Caption(const QString& AText, const QString& AName, QWidget* AParent) {
  QLabel* caption = namedLabel(AText, AName, AParent);
  FCaptions.push_back(caption);
  return caption;
}

void TOptionsSettingsPage::LoadValues(const TORVDashboardSettingsValues& AValues) {
  edPassword->setText(AValues.Password);
  edUserName->setText(AValues.UserName);
  beDownload->setText(AValues.DownloadDir);
  beKitwright->setText(AValues.KitwrightDir);
}

void TOptionsSettingsPage::StoreValues(TORVDashboardSettingsValues& AValues) const {
  AValues.Password = edPassword->text();
  AValues.UserName = edUserName->text();
  AValues.DownloadDir = beDownload->text();
  AValues.KitwrightDir = beKitwright->text();
}

bool TOptionsSettingsPage::CheckKitwrightPath() {
  const QString exe = fileInFolder(beKitwright->text(), QStringLiteral("orv.exe"));
  const bool valid = !exe.isEmpty() && QFileInfo(exe).isFile();
  lbValidatePath->setText(valid ? QStringLiteral("Valid location") : QStringLiteral("Invalid location"));
  ImgPathValid->setVisible(valid);
  ImgPathInvalid->setVisible(!valid);
  return valid;
}

bool TOptionsSettingsPage::ValidateKitwrightPath() {
  const bool valid = CheckKitwrightPath();
  Button9->setEnabled(valid);
  Button4->setEnabled(valid);
  lbDelphiVersions->setVisible(valid);
  imgKitwrightRequired->setVisible(!valid);
  lbKitwrightRequired->setVisible(!valid);
  gbSelectDelphiVersions->setEnabled(valid);
  return valid;
}

void TOptionsSettingsPage::UpdateDelphiVersionsEnabled() {
  gbDelphiVersions->setEnabled(!cbAllDelphiVersions->isChecked());
}

void TOptionsSettingsPage::SetKitwrightPathInfo(const QString& AText) { lbKitwrightPathInfo->setText(AText); }

QCheckBox* TOptionsSettingsPage::FindIDECheckBox(const QString& AName) const {
  for (QCheckBox* box : sbDelphiVersions->findChildren<QCheckBox*>())
    if (box->objectName().compare(AName, Qt::CaseInsensitive) == 0) return box;
  return nullptr;
}

QCheckBox* TOptionsSettingsPage::AddIDECheckBox(const QString& ALabelName, const QString& ALabelText, bool AChecked) {
  auto* box = new QCheckBox(ALabelText, sbDelphiVersions);
  box->setObjectName(ALabelName);
  box->setChecked(AChecked);
  box->setGeometry(kIDECheckBoxX, CheckBoxY, kIDECheckBoxWidth, box->sizeHint().height());
  box->show();
  lbNoDelphiVersions->hide();
  CheckBoxY += CheckBoxD;
  sbDelphiVersions->resize(sbDelphiVersions->width(), std::max(CheckBoxY, box->geometry().bottom() + 1));
  return box;
}

void TOptionsSettingsPage::ToggleCodeVisibility() {
  const bool show = edPassword->echoMode() == QLineEdit::Password;
  edPassword->setEchoMode(show ? QLineEdit::Normal : QLineEdit::Password);
  Button10->setIcon(show ? options_icons::EyeOpen() : options_icons::EyeCrossed());
}

void TOptionsSettingsPage::SelectFolder(QLineEdit& AEdit, const QString& ATitle) {
  const QString folder = QFileDialog::getExistingDirectory(this, ATitle, AEdit.text());
  if (!folder.isEmpty()) AEdit.setText(QDir::toNativeSeparators(folder));
}

void TOptionsSettingsPage::OpenShell() {
  // A terminal started in a missing folder ends at once, which looks like
  // success; the user hears why instead.
  const QString folder = beKitwright->text();
  if (!QFileInfo(folder).isDir()) {
    TORVZYNDashUtils::Message(FDialogs, QStringLiteral("The folder %1 does not exist.").arg(folder));
    return;
  }
  if (!FShell.OpenTerminal(folder))
    TORVZYNDashUtils::Message(FDialogs, QStringLiteral("No terminal program could be started. Set the environment "
                                                       "variable TERMINAL to your terminal program, or install one "
                                                       "that provides x-terminal-emulator."));
}

void TOptionsSettingsPage::ShowKitwrightLog() {
  const QString log = fileInFolder(beKitwright->text(), QStringLiteral("Logs/orv.log.html"));
  if (log.isEmpty() || !QFileInfo(log).isFile()) {
    TORVZYNDashUtils::Message(FDialogs, QStringLiteral("ORV Kitwright Log file not found"));
    return;
  }
  TORVZYNDashUtils::OpenURL(FShell,
                            QUrl::fromLocalFile(QFileInfo(log).absoluteFilePath()).toString(QUrl::FullyEncoded));
}

}  // namespace orv
