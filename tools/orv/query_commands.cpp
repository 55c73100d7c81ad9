// Commands that answer questions or change settings: information, product
// lists, credentials and configuration values.
#include "commands.h"

namespace orv::standin {

namespace {

const char* const kDelphiVersions = "configuration for all products:delphi versions";

Json Configuration(const Json& state) {
  Json config = Json::object();
  config[kDelphiVersions] = "[]";
  if (const auto stored = state.find("config"); stored != state.end() && stored->is_object())
    for (const auto& [name, value] : stored->items()) config[name] = value;
  return config;
}

bool HasCredentials(const Json& state) {
  const auto credentials = state.find("credentials");
  return credentials != state.end() && credentials->is_object() && !credentials->value("email", std::string()).empty();
}

void RequireJson(const Context& context) {
  if (!context.args.Has("json")) throw CommandError("this command needs -json");
}

}  // namespace

int Info(Context& context) {
  RequireJson(context);
  Answer(context, Json{{"orv version", context.state.value("version", "2.5.0.0")},
                       {"orv location", context.exePath},
                       {"working folder", context.workingFolder},
                       {"folder initialized", context.state.value("folder_initialized", false)},
                       {"has credentials", HasCredentials(context.state)},
                       {"config file", context.store.Path()}});
  return 0;
}

int List(Context& context) {
  RequireJson(context);
  RequireInitialized(context);
  Answer(context, context.state.value("installed", Json::object()));
  return 0;
}

int ListRemote(Context& context) {
  RequireJson(context);
  RequireInitialized(context);
  if (!HasCredentials(context.state)) throw CommandError("no credentials stored. Run \"orv credentials -set\" first.");
  Answer(context, Repository(context));
  return 0;
}

int Credentials(Context& context) {
  const Arguments& args = context.args;
  if (args.Has("print")) {
    RequireJson(context);
    Json credentials = context.state.value("credentials", Json());
    if (!credentials.is_object()) credentials = Json::object();
    Answer(context, Json{{"email", credentials.value("email", "")}, {"code", credentials.value("code", "")}});
    return 0;
  }
  if (args.Has("set")) {
    const std::string email = args.Option("email").value_or("");
    const std::string code = args.Option("code").value_or("");
    if (email.empty() || code.empty()) throw CommandError("credentials -set needs -email and -code");
    context.store.Update([&](Json& state) { state["credentials"] = Json{{"email", email}, {"code", code}}; });
    context.out.Line("Credentials stored for " + email);
    return 0;
  }
  throw CommandError("credentials needs -print or -set");
}

int Configure(Context& context) {
  context.store.Update([](Json& state) { state["folder_initialized"] = true; });
  context.out.Line("Working folder " + context.workingFolder + " initialized");
  context.out.Line("Configuration file: " + context.store.Path());
  return 0;
}

int ConfigRead(Context& context) {
  if (context.args.positional.size() != 1) throw CommandError("config-read needs one parameter name");
  const std::string& name = context.args.positional.front();
  const Json config = Configuration(context.state);
  const auto value = config.find(name);
  if (value == config.end()) throw CommandError("unknown configuration parameter \"" + name + "\"");
  context.out.Text(value->is_string() ? value->get<std::string>() : value->dump());
  return 0;
}

int ConfigWrite(Context& context) {
  // -p:name=value; the name ends at the first "=", so values may hold "=".
  const std::string assignment = context.args.Option("p").value_or("");
  const auto equals = assignment.find('=');
  if (equals == std::string::npos || equals == 0) throw CommandError("config-write needs -p:name=value");
  const std::string name = assignment.substr(0, equals);
  const std::string value = assignment.substr(equals + 1);
  context.store.Update([&](Json& state) {
    if (!state.contains("config") || !state["config"].is_object()) state["config"] = Json::object();
    state["config"][name] = value;
  });
  context.out.Line("Configuration parameter \"" + name + "\" set");
  return 0;
}

}  // namespace orv::standin
