#pragma once

#include <QString>

namespace orv {

// The running processes of the machine.
class Processes {
public:
  virtual ~Processes() = default;
  // True when a running process's executable file name, or its whole
  // executable path, equals exeName ignoring the case of ASCII letters.
  virtual bool IsRunning(const QString& exeName) const = 0;
};

}  // namespace orv
