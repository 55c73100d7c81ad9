#pragma once

#include "arguments.h"
#include "console.h"
#include "knobs.h"
#include "state_store.h"

#include <set>
#include <stdexcept>
#include <string>

namespace orv::standin {

// A failure the package manager reports as "Error: ..." with exit code 1.
class CommandError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct Context {
  const Arguments& args;
  const Knobs& knobs;
  StateStore& store;
  Json state;  // as loaded when the command started
  Console& out;
  std::string exePath;
  std::string workingFolder;
};

using CommandFn = int (*)(Context&);

struct CommandEntry {
  const char* name;
  CommandFn run;
  std::set<std::string> options;  // the options the command accepts
};

// The command of that name, or nullptr.
const CommandEntry* FindCommand(const std::string& name);

// The commands, by family.
int Info(Context& context);
int List(Context& context);
int ListRemote(Context& context);
int Credentials(Context& context);
int Configure(Context& context);
int ConfigRead(Context& context);
int ConfigWrite(Context& context);
int Build(Context& context);
int Install(Context& context);
int Uninstall(Context& context);
int SelfUpdate(Context& context);

// Shared helpers.
void RequireInitialized(const Context& context);
// Writes a JSON answer, or the non-JSON knob's text instead.
void Answer(Context& context, const Json& json);
// The catalogue of the repository named by -repo (default "default").
const Json& Repository(const Context& context);

}  // namespace orv::standin
