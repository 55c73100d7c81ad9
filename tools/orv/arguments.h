#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orv::standin {

// One command line as the package manager receives it: the command name,
// its positional arguments and its options ("-name" or "-name:value").
struct Arguments {
  std::string command;
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;

  bool Has(const std::string& option) const { return options.count(option) != 0; }
  std::optional<std::string> Option(const std::string& option) const;
};

Arguments ParseArguments(const std::vector<std::string>& argv);

}  // namespace orv::standin
