#pragma once

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orv::site {

// An access token the API handed out.
struct Grant {
  std::string email;
  std::chrono::steady_clock::time_point expires;
};

// What the server remembers between requests.
struct SiteState {
  std::mutex lock;
  std::map<std::string, Grant> tokens;     // by access token
  std::map<std::string, int> knobAnswers;  // answers a counted knob changed so far
};

// What every handler may consult: the folder of the dashboard page and the
// scene the tests or the demo wrote (site.json in the data folder).
struct SiteContext {
  std::filesystem::path wwwDir;
  std::filesystem::path dataDir;
  std::filesystem::path setupExe;  // the product setup put into archives
  std::shared_ptr<SiteState> state = std::make_shared<SiteState>();

  // The scene, read anew on every request so a test can change it between
  // two requests. A missing or broken file reads as an empty scene.
  nlohmann::json scene() const;
};

using Handler = std::function<void(const SiteContext&, const httplib::Request&, httplib::Response&)>;

struct Route {
  std::string method;   // "GET" or "POST"
  std::string pattern;  // cpp-httplib path pattern (regular expression)
  Handler handler;
};

std::vector<Route> SiteRoutes();

// Registers every route on the server, each wrapped by the failure knobs of
// the scene ("knobs": {"<path>": {"status": 503, "delayMs": 500,
// "brokenBody": true}}); a knob with "times": n changes only the next n
// answers of its path.
void MountRoutes(httplib::Server& server, const SiteContext& context);

}  // namespace orv::site
