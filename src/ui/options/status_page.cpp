#include "ui/options/status_page.h"

#include <QGroupBox>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace orv {

TOptionsStatusPage::TOptionsStatusPage(QWidget* AParent) : QWidget(AParent) {
  auto* column = new QVBoxLayout(this);
  auto* group = new QGroupBox(QStringLiteral("Edge Chromium"), this);
  auto* inner = new QVBoxLayout(group);
  mBrowserInfo = new QPlainTextEdit(group);
  mBrowserInfo->setObjectName(QStringLiteral("mBrowserInfo"));
  mBrowserInfo->setReadOnly(true);
  mBrowserInfo->setFixedHeight(120);
  inner->addWidget(mBrowserInfo);
  column->addWidget(group);
  column->addStretch(1);
}

void TOptionsStatusPage::ShowBrowserInfo(bool AEngineLoaded, const QString& AEngineVersion) {
  mBrowserInfo->clear();
  if (AEngineLoaded) {
    mBrowserInfo->appendPlainText(QStringLiteral("Successfully Initialized"));
    mBrowserInfo->appendPlainText(QStringLiteral("Version: ") + AEngineVersion);
  } else {
    mBrowserInfo->appendPlainText(QStringLiteral("Initialization Failed"));
  }
}

}  // namespace orv
