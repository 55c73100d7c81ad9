#include "arguments.h"

namespace orv::standin {

std::optional<std::string> Arguments::Option(const std::string& option) const {
  const auto found = options.find(option);
  if (found == options.end()) return std::nullopt;
  return found->second;
}

Arguments ParseArguments(const std::vector<std::string>& argv) {
  Arguments arguments;
  if (argv.empty()) return arguments;
  arguments.command = argv.front();
  for (auto it = argv.begin() + 1; it != argv.end(); ++it) {
    const std::string& arg = *it;
    if (arg.size() > 1 && arg.front() == '-') {
      // The value starts after the first colon, so values may hold colons.
      const auto colon = arg.find(':');
      if (colon == std::string::npos)
        arguments.options[arg.substr(1)] = "";
      else
        arguments.options[arg.substr(1, colon - 1)] = arg.substr(colon + 1);
    } else {
      arguments.positional.push_back(arg);
    }
  }
  return arguments;
}

}  // namespace orv::standin
