// Stands in for the application in command_line_test: prints its own
// process id, then runs the command line it is given through TCommandLine
// and copies the child's output to its own. The test kills it the hard
// way, as a crash would, and looks for the child.
#include "pkgmgr/command_line.h"

#include <cstdio>
#include <exception>

#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: command_line_holder COMMANDLINE\n");
    return 2;
  }
  std::printf("holder %d\n", static_cast<int>(::getpid()));
  std::fflush(stdout);
  try {
    return orv::TCommandLine::ExecuteEx(QString::fromLocal8Bit(argv[1]), {},
                                        [](const QString& piece) {
                                          std::fputs(piece.toLocal8Bit().constData(), stdout);
                                          std::fflush(stdout);
                                        },
                                        {}, {});
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}
