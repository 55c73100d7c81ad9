#include "commands.h"

#include <array>

namespace orv::standin {

namespace {

const std::array<CommandEntry, 11> kCommands = {{
    {"info", Info, {"json", "repo"}},
    {"list", List, {"detailed", "json"}},
    {"list-remote", ListRemote, {"json", "repo"}},
    {"credentials", Credentials, {"print", "json", "set", "email", "code", "repo"}},
    {"config", Configure, {}},
    {"config-read", ConfigRead, {}},
    {"config-write", ConfigWrite, {"p"}},
    {"build", Build, {"full", "display-options", "repo"}},
    {"install", Install, {"display-options", "repo"}},
    {"uninstall", Uninstall, {}},
    {"self-update", SelfUpdate, {"repo"}},
}};

}  // namespace

const CommandEntry* FindCommand(const std::string& name) {
  for (const CommandEntry& entry : kCommands)
    if (name == entry.name) return &entry;
  return nullptr;
}

void RequireInitialized(const Context& context) {
  if (!context.state.value("folder_initialized", false))
    throw CommandError("the working folder is not initialized. Run \"orv config\" first.");
}

void Answer(Context& context, const Json& json) {
  context.out.Text(context.knobs.nonJson ? *context.knobs.nonJson : json.dump(2));
}

const Json& Repository(const Context& context) {
  const std::string name = context.args.Option("repo").value_or("default");
  const auto repositories = context.state.find("repositories");
  if (repositories != context.state.end() && repositories->is_object()) {
    const auto repository = repositories->find(name);
    if (repository != repositories->end() && repository->is_object()) return *repository;
  }
  throw CommandError("unknown repository \"" + name + "\"");
}

}  // namespace orv::standin
