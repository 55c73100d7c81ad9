// Stand-in for the ORV Kitwright package manager (orv.exe): the commands
// and output formats the dashboard uses, driven by a JSON state file in
// the working folder. See README.md.
#include "arguments.h"
#include "commands.h"
#include "console.h"
#include "knobs.h"
#include "run_log.h"
#include "state_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace orv::standin;

std::string StatePath(const std::string& workingFolder) {
  const char* path = std::getenv("ORV_STANDIN_STATE");
  return path && *path ? std::string(path) : workingFolder + "/orv-state.json";
}

// The state and the knobs as the file holds them now; a file that cannot be
// read leaves an error that every command reports.
struct Setup {
  Json state;
  Knobs knobs;
  std::string error;
};

Setup LoadSetup(const StateStore& store) {
  Setup setup;
  try {
    setup.state = store.Load();
    setup.knobs = LoadKnobs(setup.state.value("knobs", Json::object()));
  } catch (const std::exception& error) {
    setup.error = error.what();
  }
  return setup;
}

// The wait knob lets a test decide when a command starts: until the file
// exists the command has done nothing. Each held run adds its process id to
// "<file>.waiting", so that the test sees what it holds. True when it
// waited.
bool WaitForFile(const Knobs& knobs, const std::string& command, const std::string& workingFolder) {
  const auto file = knobs.WaitFileFor(command);
  if (!file) return false;
  const QString path = QDir(QString::fromStdString(workingFolder)).absoluteFilePath(QString::fromStdString(*file));
  if (QFileInfo::exists(path)) return false;
  QFile waiting(path + QStringLiteral(".waiting"));
  if (waiting.open(QIODevice::Append)) {
    waiting.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n');
    waiting.close();
  }
  while (!QFileInfo::exists(path)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return true;
}

std::string CommandLineText(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) text += (text.empty() ? "" : " ") + arg;
  return text;
}

void PrintAlerts(Console& out, const Knobs& knobs, const Json& state, const std::string& workingFolder) {
  if (knobs.newVersionAlert) {
    const std::string current = state.value("version", "2.5.0.0");
    const std::string latest = state.value("latest_version", current);
    out.Line("There is a new version of ORV Kitwright available" +
             (latest == current ? std::string(".") : " (version " + latest + ")."));
    out.Line("You are using version " + current + ".");
    out.Line("Run \"orv self-update\" to update.");
  }
  if (knobs.lowDiskAlert) {
    out.Line("WARNING: You only have 412 MB left in disk. ORV Kitwright might not work properly.");
    out.Line("Free some space on the disk of " + workingFolder + ".");
  }
}

void CheckOptions(const CommandEntry& entry, const Arguments& args) {
  for (const auto& [option, unused] : args.options)
    if (!entry.options.count(option))
      throw CommandError("unknown option \"-" + option + "\" for command \"" + entry.name + "\"");
}

// The account codes this run was given or may print. The log, which the
// dashboard hands to its page, must not hold them.
std::vector<std::string> AccountCodes(const Arguments& args, const Json& state) {
  std::vector<std::string> codes;
  if (const auto given = args.Option("code")) codes.push_back(*given);
  const auto credentials = state.find("credentials");
  if (credentials != state.end() && credentials->is_object()) {
    const auto stored = credentials->find("code");
    if (stored != credentials->end() && stored->is_string()) codes.push_back(stored->get<std::string>());
  }
  return codes;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::vector<std::string> argList(argv + 1, argv + argc);
  const Arguments args = ParseArguments(argList);
  const std::string workingFolder = QDir::currentPath().toStdString();
  StateStore store(StatePath(workingFolder));

  Setup setup = LoadSetup(store);
  // A held command starts with the state as it is when it is let go.
  if (setup.error.empty() && WaitForFile(setup.knobs, args.command, workingFolder)) setup = LoadSetup(store);
  const Json& state = setup.state;
  const Knobs& knobs = setup.knobs;
  const std::string& setupError = setup.error;

  Console out(knobs, knobs.DelayFor(args.command));
  int exitCode = 1;
  try {
    if (!setupError.empty()) throw CommandError(setupError);
    PrintAlerts(out, knobs, state, workingFolder);
    const CommandEntry* entry = FindCommand(args.command);
    if (!entry) throw CommandError("unknown command \"" + args.command + "\"");
    CheckOptions(*entry, args);
    Context context{args,         knobs, store, state, out, QCoreApplication::applicationFilePath().toStdString(),
                    workingFolder};
    exitCode = entry->run(context);
  } catch (const std::exception& error) {
    out.Line(std::string("Error: ") + error.what());
    exitCode = 1;
  }
  if (const auto forced = knobs.ExitCodeFor(args.command)) exitCode = *forced;
  AppendRunLog(workingFolder, CommandLineText(argList), out.Transcript(), out.FillerBytes(), exitCode,
               AccountCodes(args, state));
  std::fflush(stdout);
  return exitCode;
}
