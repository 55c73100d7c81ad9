#pragma once

#include <QString>

namespace orv {

// The user's well-known folders, without a trailing delimiter; empty when
// the system cannot name one.
class KnownFolders {
public:
  virtual ~KnownFolders() = default;
  virtual QString Downloads() const = 0;  // falls back to Documents
  virtual QString Documents() const = 0;
  virtual QString LocalAppData() const = 0;
  virtual QString Temp() const = 0;
};

}  // namespace orv
