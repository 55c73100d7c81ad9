#pragma once

#include "platform/known_folders.h"

namespace orv {

// The known folders as Qt's standard paths name them on this system.
class SystemKnownFolders final : public KnownFolders {
public:
  QString Downloads() const override;
  QString Documents() const override;
  QString LocalAppData() const override;
  QString Temp() const override;
};

}  // namespace orv
