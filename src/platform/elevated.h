#pragma once

#include <QString>

namespace orv {

// Runs a product setup or uninstaller with raised rights and waits for it,
// keeping the UI alive meanwhile.
class Elevated {
public:
  virtual ~Elevated() = default;
  // Runs program (a file in folder) with the given switches, one line as
  // the Windows command line writes them, from folder as working folder.
  // Returns the exit code, or 31 when the program could not be started.
  virtual int Run(const QString& folder, const QString& program, const QString& parameters) = 0;
};

}  // namespace orv
