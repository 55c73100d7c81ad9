#pragma once

#include <QString>

namespace orv {

// Hands addresses, documents and folders to the desktop. Outcomes are not
// returned: the program never depends on them. The user is told by the
// implementation when no program could be started to open anything; a
// missing terminal program is returned, for the caller to explain.
class Shell {
public:
  virtual ~Shell() = default;
  virtual void OpenURL(const QString& url) = 0;
  virtual void OpenFile(const QString& path) = 0;
  // A terminal whose shell starts in the folder; false when no terminal
  // program could be started.
  virtual bool OpenTerminal(const QString& folder) = 0;
};

}  // namespace orv
