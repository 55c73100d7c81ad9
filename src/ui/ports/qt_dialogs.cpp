#include "ui/ports/qt_dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <array>

namespace orv {

namespace {

struct ButtonMapping {
  TMsgDlgBtn button;
  QMessageBox::StandardButton standard;
  int modalResult;
};

// Modal results follow the desktop RTL's numbering (mrAbort 3 ... mrClose 11).
constexpr std::array<ButtonMapping, 12> kButtons{{
    {mbYes, QMessageBox::Yes, mrYes},
    {mbNo, QMessageBox::No, mrNo},
    {mbOK, QMessageBox::Ok, mrOk},
    {mbCancel, QMessageBox::Cancel, mrCancel},
    {mbAbort, QMessageBox::Abort, 3},
    {mbRetry, QMessageBox::Retry, 4},
    {mbIgnore, QMessageBox::Ignore, 5},
    {mbAll, QMessageBox::YesAll, 8},
    {mbNoToAll, QMessageBox::NoToAll, 9},
    {mbYesToAll, QMessageBox::YesToAll, 10},
    {mbHelp, QMessageBox::Help, 0},
    {mbClose, QMessageBox::Close, 11},
}};

QMessageBox::Icon iconOf(TMsgDlgType type) {
  switch (type) {
    case mtWarning: return QMessageBox::Warning;
    case mtError: return QMessageBox::Critical;
    case mtInformation: return QMessageBox::Information;
    case mtConfirmation: return QMessageBox::Question;
    case mtCustom: break;
  }
  return QMessageBox::NoIcon;
}

QString titleOf(TMsgDlgType type) {
  switch (type) {
    case mtWarning: return QObject::tr("Warning");
    case mtError: return QObject::tr("Error");
    case mtInformation: return QObject::tr("Information");
    case mtConfirmation: return QObject::tr("Confirm");
    case mtCustom: break;
  }
  return QApplication::applicationDisplayName();
}

}  // namespace

int QtDialogs::Message(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons, int /*helpContext*/) {
  QMessageBox box(iconOf(type), titleOf(type), text, QMessageBox::NoButton, QApplication::activeWindow());
  for (const ButtonMapping& mapping : kButtons) {
    if (buttons.contains(mapping.button)) box.addButton(mapping.standard);
  }
  if (buttons.contains(mbYes)) box.setDefaultButton(QMessageBox::Yes);
  const auto pressed = static_cast<QMessageBox::StandardButton>(box.exec());
  for (const ButtonMapping& mapping : kButtons) {
    if (mapping.standard == pressed) return mapping.modalResult;
  }
  // Closed without a button (Escape with no Cancel button): no answer given.
  return mrCancel;
}

}  // namespace orv
