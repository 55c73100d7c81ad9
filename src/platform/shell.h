#pragma once

#include <QString>

namespace orv {

// Hands addresses, documents and folders to the desktop. Outcomes are not
// reported: the program never depends on them.
class Shell {
public:
  virtual ~Shell() = default;
  virtual void OpenURL(const QString& url) = 0;
  virtual void OpenFile(const QString& path) = 0;
  virtual void OpenTerminal(const QString& folder) = 0;
};

}  // namespace orv
