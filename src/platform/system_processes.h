#pragma once

#include "platform/processes.h"

namespace orv {

// Running processes as /proc shows them: a process matches by its command
// name, the target of its exe link, or its argv[0], each as a whole path or
// as the file name part (after the last '/' or, for programs under wine,
// '\\').
class SystemProcesses final : public Processes {
public:
  explicit SystemProcesses(QString procRoot = QStringLiteral("/proc"));
  bool IsRunning(const QString& exeName) const override;

private:
  QString procRoot_;
};

}  // namespace orv
