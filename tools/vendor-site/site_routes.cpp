#include "site_routes.h"

#include "product_archive.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace orv::site {

namespace fs = std::filesystem;

nlohmann::json SiteContext::scene() const {
  std::ifstream in(dataDir / "site.json");
  if (!in) return nlohmann::json::object();
  nlohmann::json scene = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
  return scene.is_object() ? scene : nlohmann::json::object();
}

namespace {

std::string contentTypeOf(const fs::path& file) {
  const std::string ext = file.extension().string();
  if (ext == ".html") return "text/html; charset=utf-8";
  if (ext == ".css") return "text/css; charset=utf-8";
  if (ext == ".js") return "text/javascript; charset=utf-8";
  if (ext == ".json") return "application/json";
  if (ext == ".png") return "image/png";
  if (ext == ".svg") return "image/svg+xml";
  return "application/octet-stream";
}

// Serves a file of the page's folder; names that would leave it are refused.
void serveFile(const SiteContext& context, const std::string& relative, httplib::Response& res) {
  const fs::path root = fs::weakly_canonical(context.wwwDir / "dashboard");
  const fs::path file = fs::weakly_canonical(root / relative);
  const auto [rootEnd, _] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
  std::ifstream in(file, std::ios::binary);
  if (rootEnd != root.end() || !fs::is_regular_file(file) || !in) {
    res.status = 404;
    res.set_content("not found", "text/plain");
    return;
  }
  std::ostringstream body;
  body << in.rdbuf();
  res.set_content(body.str(), contentTypeOf(file));
}

void dashboardPage(const SiteContext& context, const httplib::Request&, httplib::Response& res) {
  serveFile(context, "index.html", res);
}

void dashboardFile(const SiteContext& context, const httplib::Request& req, httplib::Response& res) {
  serveFile(context, req.matches[1].str(), res);
}

// The products the page offers, as the page reads them.
void catalogue(const SiteContext& context, const httplib::Request&, httplib::Response& res) {
  const nlohmann::json scene = context.scene();
  nlohmann::json products = nlohmann::json::array();
  if (scene.contains("catalogue") && scene["catalogue"].is_array()) {
    for (const auto& product : scene["catalogue"]) {
      products.push_back({
          {"name", product.value("name", "")},
          {"version", product.value("version", "")},
          {"kitwrightId", product.value("kitwrightId", "")},
          {"size", product.value("size", 0)},
      });
    }
  }
  res.set_content(products.dump(), "application/json");
}

// A product archive with the setup stand-in inside, made on request from
// the catalogue entry: /downloads/<name>_<version>.zip.
void productArchive(const SiteContext& context, const httplib::Request& req, httplib::Response& res) {
  const std::string stem = req.matches[1].str();
  const auto separator = stem.rfind('_');
  const nlohmann::json scene = context.scene();
  const nlohmann::json* product = nullptr;
  if (separator != std::string::npos && scene.contains("catalogue") && scene["catalogue"].is_array()) {
    for (const auto& entry : scene["catalogue"]) {
      if (entry.value("name", "") == stem.substr(0, separator) &&
          entry.value("version", "") == stem.substr(separator + 1))
        product = &entry;
    }
  }
  if (!product) {
    res.status = 404;
    res.set_content("no such product", "text/plain");
    return;
  }

  nlohmann::json manifest = product->value("setup", nlohmann::json::object());
  manifest["name"] = (*product)["name"];
  manifest["version"] = (*product)["version"];
  manifest["registryName"] = product->value("registryName", (*product)["name"].get<std::string>());
  if (!manifest.contains("payload"))
    manifest["payload"] = {{"readme.txt", (*product)["name"].get<std::string>() + " " +
                                              (*product)["version"].get<std::string>() + "\n"}};

  const fs::path folder = fs::temp_directory_path() / ("orv-vendor-site-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const fs::path archive = folder / (stem + ".zip");
  std::optional<std::string> error;
  try {
    error = orv::tools::WriteZip(archive, orv::tools::ProductArchiveEntries(context.setupExe, manifest));
  } catch (const std::exception& e) {
    error = e.what();
  }
  std::ifstream in(archive, std::ios::binary);
  if (error || !in) {
    res.status = 500;
    res.set_content(error.value_or("cannot read the archive"), "text/plain");
    return;
  }
  std::ostringstream body;
  body << in.rdbuf();
  fs::remove(archive);
  res.set_header("Content-Disposition", "attachment; filename=\"" + stem + ".zip\"");
  res.set_content(body.str(), "application/zip");
}

void applyKnobs(const nlohmann::json& knobs, httplib::Response& res) {
  if (knobs.contains("delayMs"))
    std::this_thread::sleep_for(std::chrono::milliseconds(knobs["delayMs"].get<int>()));
  if (knobs.contains("status")) res.status = knobs["status"].get<int>();
  if (knobs.value("brokenBody", false)) res.body = res.body.substr(0, res.body.size() / 2) + "\x01{";
}

}  // namespace

std::vector<Route> SiteRoutes() {
  return {
      {"GET", "/site/dashboard", dashboardPage},
      {"GET", "/site/dashboard/", dashboardPage},
      {"GET", "/site/dashboard/catalogue.json", catalogue},
      {"GET", R"(/site/dashboard/(.+))", dashboardFile},
      {"GET", R"(/downloads/(.+)\.zip)", productArchive},
  };
}

void MountRoutes(httplib::Server& server, const SiteContext& context) {
  for (const Route& route : SiteRoutes()) {
    auto handler = [&context, route](const httplib::Request& req, httplib::Response& res) {
      route.handler(context, req, res);
      const nlohmann::json scene = context.scene();
      if (scene.contains("knobs") && scene["knobs"].contains(req.path))
        applyKnobs(scene["knobs"][req.path], res);
    };
    if (route.method == "POST")
      server.Post(route.pattern, handler);
    else
      server.Get(route.pattern, handler);
  }
}

}  // namespace orv::site
