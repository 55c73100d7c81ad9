// Commands that work on products and report progress: build, install,
// uninstall, and the self-update.
#include "commands.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace orv::standin {

namespace {

using Target = std::pair<std::string, std::string>;  // IDE, platform

// One product's share of a build, install or uninstall.
struct Job {
  std::string id;
  std::string version;
  std::vector<std::string> packages;
  std::vector<Target> targets;
  bool fails = false;
  int done = 0;
  int steps() const { return static_cast<int>(packages.size() * targets.size()); }
};

std::vector<std::string> Strings(const Json& json, const char* key, std::vector<std::string> fallback) {
  const auto it = json.find(key);
  if (it == json.end() || !it->is_array() || it->empty()) return fallback;
  return it->get<std::vector<std::string>>();
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The IDEs to install for: the Delphi-version selection when it names any,
// otherwise the scene's default IDEs.
std::vector<std::string> TargetIdes(const Json& state) {
  std::vector<std::string> ides;
  const Json config = state.value("config", Json::object());
  std::string selection = config.value("configuration for all products:delphi versions", "");
  if (selection.size() >= 2 && selection.front() == '[' && selection.back() == ']') {
    std::stringstream list(selection.substr(1, selection.size() - 2));
    std::string item;
    while (std::getline(list, item, ','))
      if (!Trim(item).empty()) ides.push_back(Trim(item));
  }
  return ides.empty() ? Strings(state, "target_ides", {"delphi12"}) : ides;
}

std::vector<Target> NewTargets(const Json& state) {
  std::vector<Target> targets;
  for (const std::string& ide : TargetIdes(state))
    for (const std::string& platform : Strings(state, "target_platforms", {"win32intel", "win64intel"}))
      targets.emplace_back(ide, platform);
  return targets;
}

// The IDEs and platforms an installed product has; new targets when it has
// none.
std::vector<Target> InstalledTargets(const Json& state, const Json& product) {
  std::vector<Target> targets;
  const Json ides = product.value("ides", Json::object());
  for (const auto& [ide, ideInfo] : ides.items()) {
    const Json platforms = ideInfo.is_object() ? ideInfo.value("platforms", Json::object()) : Json::object();
    for (const auto& [platform, unused] : platforms.items()) targets.emplace_back(ide, platform);
  }
  return targets.empty() ? NewTargets(state) : targets;
}

Json TargetsJson(const std::vector<Target>& targets) {
  Json ides = Json::object();
  for (const auto& [ide, platform] : targets)
    ides[ide]["platforms"][platform] = Json{{"built", true}, {"registered", true}};
  return ides;
}

const Json& InstalledProducts(const Context& context) {
  static const Json none = Json::object();
  const auto it = context.state.find("installed");
  return it != context.state.end() && it->is_object() ? *it : none;
}

std::vector<std::string> PackagesOf(const Json& product) { return Strings(product, "packages", {"Runtime", "Design"}); }

// Prints "[ 40%] [x.y:  75%] text" lines (or "[ 40%] text" without
// per-product progress) and keeps the overall count.
class Progress {
public:
  Progress(Console& out, bool productProgress, const std::vector<Job>& jobs)
      : out_(out), productProgress_(productProgress) {
    for (const Job& job : jobs) total_ += job.steps();
  }

  void Step(Job& job) {
    ++job.done;
    ++done_;
  }
  // Counts the steps of a product that stopped early as done, so the
  // overall figure still reaches 100.
  void Skip(Job& job) {
    done_ += job.steps() - job.done;
    job.done = job.steps();
  }

  std::string Prefix(const Job& job) const {
    char text[64];
    if (productProgress_) {
      const int productPercent = job.steps() > 0 ? job.done * 100 / job.steps() : 100;
      std::snprintf(text, sizeof text, "[%3d%%] [", Percent());
      return text + job.id + Suffix(productPercent);
    }
    std::snprintf(text, sizeof text, "[%3d%%] ", Percent());
    return text;
  }
  void Line(const Job& job, const std::string& message) { out_.Line(Prefix(job) + message); }

private:
  static std::string Suffix(int productPercent) {
    char text[32];
    std::snprintf(text, sizeof text, ": %3d%%] ", productPercent);
    return text;
  }
  int Percent() const { return total_ > 0 ? done_ * 100 / total_ : 100; }

  Console& out_;
  bool productProgress_;
  int total_ = 0;
  int done_ = 0;
};

enum class Action { Install, Build, Uninstall };

// The grandchild knob: a child process of our own (as a real package
// manager runs its compiler) that lives for the knob's seconds while the
// command waits for it. Its process id goes to grandchild.pid in the
// working folder, so a test can see whether cancelling ended it too.
void RunGrandchild(Context& context) {
  if (context.knobs.grandchildSeconds <= 0) return;
  const std::string seconds = std::to_string(context.knobs.grandchildSeconds);
  char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>(seconds.c_str()), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "sleep", nullptr, nullptr, argv, environ) != 0)
    throw CommandError("cannot start the build tool");
  std::ofstream(context.workingFolder + "/grandchild.pid") << pid << "\n";
  context.out.Line("Waiting for the build tool (process " + std::to_string(pid) + ")");
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// Runs the jobs, printing progress and the build summary; returns the ids
// of the products that succeeded.
std::vector<std::string> RunJobs(Context& context, std::vector<Job>& jobs, Action action) {
  const auto started = std::chrono::steady_clock::now();
  const bool productProgress = context.args.Option("display-options") == "product-progress";
  Progress progress(context.out, productProgress, jobs);
  RunGrandchild(context);
  std::vector<std::string> succeeded;
  for (std::size_t index = 0; index < jobs.size(); ++index) {
    Job& job = jobs[index];
    if (action == Action::Install)
      progress.Line(job, "Fetching " + job.id + " " + job.version + " from repository " +
                             context.args.Option("repo").value_or("default"));
    if (index == 0)
      context.out.Bulk([&](long long n) {
        char unit[48];
        std::snprintf(unit, sizeof unit, "Compiling unit StandIn%07lld.pas", n);
        return progress.Prefix(job) + unit;
      });
    for (const auto& [ide, platform] : job.targets) {
      for (const std::string& package : job.packages) {
        if (job.fails) {
          progress.Line(job, "Error: E2003 Undeclared identifier: 'TStandInControl' in " + job.id + "_" + package +
                                 ".dpk (" + ide + " " + platform + ")");
          break;
        }
        progress.Step(job);
        progress.Line(job, (action == Action::Uninstall ? "Unregistering " : "Building ") + job.id + "_" + package +
                               " for " + ide + " " + platform);
      }
      if (job.fails) break;
    }
    progress.Skip(job);
    if (job.fails) continue;
    succeeded.push_back(job.id);
    progress.Line(job, job.id + " " + job.version +
                           (action == Action::Install ? " installed"
                            : action == Action::Build ? " built"
                                                      : " uninstalled"));
  }

  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  context.out.Line("");
  context.out.Line("=== Build Summary ===");
  for (const Job& job : jobs) {
    // Only failures mention errors: the dashboard colours such lines red.
    context.out.Line(
        job.id + " " + job.version + ": " +
        (job.fails ? std::string("failed, errors found: 1")
                   : std::to_string(job.steps()) + " packages " + (action == Action::Uninstall ? "removed" : "built")));
  }
  char timing[96];
  std::snprintf(timing, sizeof timing, "Succeeded %zu of %zu products in %.1f seconds", succeeded.size(), jobs.size(),
                seconds);
  context.out.Line(timing);
  context.out.Line("");
  return succeeded;
}

std::string Joined(const std::vector<std::string>& ids) {
  std::string text;
  for (const std::string& id : ids) text += (text.empty() ? "" : ", ") + id;
  return text;
}

int ExitFor(const std::vector<Job>& jobs, const std::vector<std::string>& succeeded) {
  return succeeded.size() == jobs.size() ? 0 : 1;
}

std::vector<int> VersionNumbers(const std::string& text) {
  std::vector<int> numbers;
  std::stringstream parts(text);
  std::string part;
  while (std::getline(parts, part, '.')) numbers.push_back(std::atoi(part.c_str()));
  numbers.resize(4);
  return numbers;
}

}  // namespace

int Install(Context& context) {
  RequireInitialized(context);
  const std::vector<std::string>& ids = context.args.positional;
  if (ids.empty()) throw CommandError("install needs at least one product");
  const Json& repository = Repository(context);
  std::vector<Job> jobs;
  for (const std::string& id : ids) {
    const auto entry = repository.find(id);
    if (entry == repository.end() || !entry->is_object())
      throw CommandError("product \"" + id + "\" not found in repository \"" +
                         context.args.Option("repo").value_or("default") + "\"");
    jobs.push_back({id, entry->value("version", ""), PackagesOf(*entry), NewTargets(context.state),
                    context.knobs.failProducts.count(id) != 0});
  }
  context.out.Line("Installing " + std::to_string(jobs.size()) + " products: " + Joined(ids));
  const std::vector<std::string> succeeded = RunJobs(context, jobs, Action::Install);
  context.store.Update([&](Json& state) {
    for (const Job& job : jobs) {
      if (job.fails) continue;
      const Json& entry = repository[job.id];
      state["installed"][job.id] = Json{{"name", entry.value("name", "")},
                                        {"version", job.version},
                                        {"channel", entry.value("channel", "stable")},
                                        {"local", false},
                                        {"ides", TargetsJson(job.targets)}};
    }
  });
  return ExitFor(jobs, succeeded);
}

int Build(Context& context) {
  RequireInitialized(context);
  const Json& installed = InstalledProducts(context);
  std::vector<std::string> ids = context.args.positional;
  if (ids.empty())
    for (const auto& [id, unused] : installed.items()) ids.push_back(id);
  std::vector<Job> jobs;
  for (const std::string& id : ids) {
    const auto product = installed.find(id);
    if (product == installed.end() || !product->is_object())
      throw CommandError("product \"" + id + "\" is not in the working folder");
    jobs.push_back({id, product->value("version", ""), PackagesOf(*product), InstalledTargets(context.state, *product),
                    context.knobs.failProducts.count(id) != 0});
  }
  context.out.Line((context.args.Has("full") ? "Full build of " : "Building ") + std::to_string(jobs.size()) +
                   " products: " + Joined(ids));
  const std::vector<std::string> succeeded = RunJobs(context, jobs, Action::Build);
  context.store.Update([&](Json& state) {
    for (const Job& job : jobs)
      if (!job.fails && state["installed"].contains(job.id))
        state["installed"][job.id]["ides"] = TargetsJson(job.targets);
  });
  return ExitFor(jobs, succeeded);
}

int Uninstall(Context& context) {
  RequireInitialized(context);
  const std::vector<std::string>& ids = context.args.positional;
  if (ids.empty()) throw CommandError("uninstall needs at least one product");
  const Json& installed = InstalledProducts(context);
  std::vector<Job> jobs;
  for (const std::string& id : ids) {
    const auto product = installed.find(id);
    if (product == installed.end() || !product->is_object() || product->value("ides", Json::object()).empty())
      throw CommandError("product \"" + id + "\" is not installed");
    jobs.push_back({id, product->value("version", ""), PackagesOf(*product), InstalledTargets(context.state, *product),
                    context.knobs.failProducts.count(id) != 0});
  }
  context.out.Line("Uninstalling " + std::to_string(jobs.size()) + " products: " + Joined(ids));
  const std::vector<std::string> succeeded = RunJobs(context, jobs, Action::Uninstall);
  // The product stays fetched in the working folder, only its IDE
  // registrations go.
  context.store.Update([&](Json& state) {
    for (const std::string& id : succeeded)
      if (state["installed"].contains(id)) state["installed"][id].erase("ides");
  });
  return ExitFor(jobs, succeeded);
}

int SelfUpdate(Context& context) {
  const std::string current = context.state.value("version", "2.5.0.0");
  const std::string latest = context.state.value("latest_version", current);
  context.out.Line("Checking for updates of ORV Kitwright");
  if (VersionNumbers(latest) <= VersionNumbers(current)) {
    context.out.Line("ORV Kitwright is up to date (version " + current + ")");
    return 0;
  }
  context.out.Line("Downloading ORV Kitwright " + latest);
  context.store.Update([&](Json& state) { state["version"] = latest; });
  context.out.Line("ORV Kitwright has been updated from version " + current + " to " + latest);
  return 0;
}

}  // namespace orv::standin
