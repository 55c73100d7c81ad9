#pragma once

#include <string>
#include <vector>

namespace orv::standin {

// Appends one run (command line, output, exit code) to Logs/orv.log.html
// in the given folder, creating the file with its HTML head when new. The
// file is private to the user and every occurrence of a secret in it reads
// "****". Failing to log never fails the command.
void AppendRunLog(const std::string& folder, const std::string& commandLine, const std::string& transcript,
                  long long omittedBytes, int exitCode, const std::vector<std::string>& secrets);

}  // namespace orv::standin
