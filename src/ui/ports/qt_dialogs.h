#pragma once

#include "platform/dialogs.h"

namespace orv {

// Message boxes as QMessageBox shows them, modal to the active window.
class QtDialogs final : public Dialogs {
public:
  int Message(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) override;
};

}  // namespace orv
