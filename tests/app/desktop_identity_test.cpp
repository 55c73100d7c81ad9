// The names the desktop ties the window to its menu entry by, against the
// desktop entry the package installs, and the icon built into the program.
#include "app/desktop_identity.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace orv {
namespace {

QString EntryKey(const QString& AText, const QString& AKey) {
  const QRegularExpression line(QStringLiteral("^%1=(.*)$").arg(AKey), QRegularExpression::MultilineOption);
  return line.match(AText).captured(1);
}

TEST(DesktopIdentity, MatchesTheDesktopEntryAndCarriesTheIcon) {
  SetDesktopIdentity();
  QFile entry(QStringLiteral(ORV_DESKTOP_ENTRY));
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(entry.readAll());
  EXPECT_EQ(QApplication::desktopFileName() + QStringLiteral(".desktop"), QFileInfo(entry).fileName());
  // The class part of WM_CLASS on X11.
  EXPECT_EQ(EntryKey(text, QStringLiteral("StartupWMClass")), QApplication::applicationName());
  EXPECT_EQ(EntryKey(text, QStringLiteral("Icon")), QApplication::desktopFileName());
  const QList<QSize> sizes = QApplication::windowIcon().availableSizes();
  for (const int size : {16, 32, 48, 256}) EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
}

}  // namespace
}  // namespace orv
