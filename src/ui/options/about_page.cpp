#include "ui/options/about_page.h"

#include "lib/utils.h"
#include "ui/options/link_label.h"
#include "ui/options/options_icons.h"
#include "ui/options/vendor_pages.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace orv {

namespace {

QLabel* heading(const QString& AText, const QString& AName, QWidget* AParent) {
  auto* label = new QLabel(AText, AParent);
  label->setObjectName(AName);
  QFont font = label->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.25);
  label->setFont(font);
  return label;
}

}  // namespace

TOptionsAboutPage::TOptionsAboutPage(Shell& AShell, const TORVDashboardVendorPages& APages, QWidget* AParent)
    : QWidget(AParent), FShell(AShell) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(24, 24, 24, 24);
  column->setSpacing(8);

  auto* logo = new TLinkLabel(options_icons::Logo(), this);
  logo->setObjectName(QStringLiteral("Image1"));
  logo->OnClick = [this, url = APages.WebSite()] { TORVZYNDashUtils::OpenURL(FShell, url); };
  column->addWidget(logo);
  column->addSpacing(16);

  auto* title = new QHBoxLayout;
  title->addWidget(heading(QStringLiteral("ORV Dashboard"), QStringLiteral("Label3"), this));
  lbVersion = new QLabel(this);
  lbVersion->setObjectName(QStringLiteral("lbVersion"));
  title->addWidget(lbVersion, 0, Qt::AlignBaseline);
  title->addStretch();
  column->addLayout(title);
  column->addWidget(
      Link(QStringLiteral("Product Info"), QStringLiteral("lbDashboardProduct"), APages.DashboardProduct()));
  column->addWidget(
      Link(QStringLiteral("Version History"), QStringLiteral("lbDashboardHistory"), APages.DashboardVersionHistory()));
  column->addWidget(Link(QStringLiteral("Documentation"), QStringLiteral("lbDashboardDocumentation"),
                         APages.DashboardDocumentation()));
  column->addWidget(
      Link(QStringLiteral("Support Center"), QStringLiteral("lbDashboardSupport"), APages.DashboardSupport()));
  column->addSpacing(16);

  column->addWidget(heading(QStringLiteral("ORV Kitwright"), QStringLiteral("lbKitwrightHeading"), this));
  column->addWidget(
      Link(QStringLiteral("Product Info"), QStringLiteral("lbKitwrightProduct"), APages.KitwrightDocumentation()));
  column->addWidget(
      Link(QStringLiteral("Support Center"), QStringLiteral("lbKitwrightSupport"), APages.KitwrightSupport()));
  column->addStretch();

  column->addWidget(
      Link(QStringLiteral("Visit ORV Software on the web"), QStringLiteral("lbVendor"), APages.WebSite()));
}

QWidget* TOptionsAboutPage::Link(const QString& AText, const QString& AName, const QString& AURL) {
  auto* link = new TLinkLabel(AText, this);
  link->setObjectName(AName);
  link->OnClick = [this, AURL] { TORVZYNDashUtils::OpenURL(FShell, AURL); };
  return link;
}

void TOptionsAboutPage::SetVersion(const QString& AText) { lbVersion->setText(AText); }

}  // namespace orv
