#pragma once

#include <QString>

#include <initializer_list>

namespace orv {

// Kinds and buttons of a modal message box, with the ordinals the program's
// callers use.
enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

enum TMsgDlgBtn {
  mbYes,
  mbNo,
  mbOK,
  mbCancel,
  mbAbort,
  mbRetry,
  mbIgnore,
  mbAll,
  mbNoToAll,
  mbYesToAll,
  mbHelp,
  mbClose
};

// A set of buttons, one bit per TMsgDlgBtn (mbYes at bit 0).
class TMsgDlgButtons {
public:
  constexpr TMsgDlgButtons() = default;
  constexpr TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons) {
    for (TMsgDlgBtn b : buttons) bits_ |= 1u << b;
  }
  constexpr bool contains(TMsgDlgBtn b) const { return bits_ & (1u << b); }
  constexpr unsigned bits() const { return bits_; }
  friend constexpr bool operator==(TMsgDlgButtons, TMsgDlgButtons) = default;

private:
  unsigned bits_ = 0;
};

// Modal results of the buttons the program asks for.
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;
inline constexpr int mrYes = 6;
inline constexpr int mrNo = 7;

// Modal message boxes. Must be called on the UI thread; blocks until the
// user answers and returns the pressed button's modal result.
class Dialogs {
public:
  virtual ~Dialogs() = default;
  virtual int Message(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) = 0;
};

}  // namespace orv
