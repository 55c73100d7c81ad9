#pragma once

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace orv::site {

// What every handler may consult: the folder of the dashboard page and the
// scene the tests or the demo wrote (site.json in the data folder).
struct SiteContext {
  std::filesystem::path wwwDir;
  std::filesystem::path dataDir;
  std::filesystem::path setupExe;  // the product setup put into archives

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
// "brokenBody": true}}).
void MountRoutes(httplib::Server& server, const SiteContext& context);

}  // namespace orv::site
