#include "site_routes.h"

#include "account_api.h"
#include "product_archive.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

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

const nlohmann::json* findProduct(const nlohmann::json& scene, const std::string& name, const std::string& version) {
  if (!scene.contains("catalogue") || !scene["catalogue"].is_array()) return nullptr;
  for (const auto& entry : scene["catalogue"])
    if (entry.value("name", "") == name && entry.value("version", "") == version) return &entry;
  return nullptr;
}

nlohmann::json setupManifest(const nlohmann::json& product) {
  nlohmann::json manifest = product.value("setup", nlohmann::json::object());
  manifest["name"] = product["name"];
  manifest["version"] = product["version"];
  manifest["registryName"] = product.value("registryName", product["name"].get<std::string>());
  if (!manifest.contains("payload"))
    manifest["payload"] = {
        {"readme.txt", product["name"].get<std::string>() + " " + product["version"].get<std::string>() + "\n"}};
  return manifest;
}

// Writes the archive; with a size, a stored entry of zeros makes it exactly
// that large (unless the archive is larger already).
std::optional<std::string> writeProductArchive(const SiteContext& context, const nlohmann::json& manifest,
                                               std::uintmax_t size, const fs::path& archive) {
  auto entries = orv::tools::ProductArchiveEntries(context.setupExe, manifest);
  entries.push_back({"padding.bin", {}, 0100644, /*stored=*/true});
  if (auto error = orv::tools::WriteZip(archive, entries)) return error;
  const std::uintmax_t natural = fs::file_size(archive);
  if (size <= natural) return std::nullopt;
  entries.back().data.assign(size - natural, '\0');
  return orv::tools::WriteZip(archive, entries);
}

// Archives are made once per product, version, size and setup, and kept in
// the data folder; requests run on several threads.
std::optional<std::string> productArchiveFile(const SiteContext& context, const nlohmann::json& product,
                                              fs::path& archive) {
  static std::mutex building;
  const nlohmann::json manifest = setupManifest(product);
  const std::uintmax_t size = product.value("size", std::uintmax_t{0});
  const std::string key = manifest.dump() + "|" + std::to_string(size);
  archive = context.dataDir / "archives" / (std::to_string(std::hash<std::string>{}(key)) + ".zip");
  const std::lock_guard lock(building);
  if (fs::exists(archive)) return std::nullopt;
  fs::create_directories(archive.parent_path());
  const fs::path partial = fs::path(archive).concat(".partial");
  try {
    if (auto error = writeProductArchive(context, manifest, size, partial)) return error;
    fs::rename(partial, archive);
  } catch (const std::exception& e) {
    return e.what();
  }
  return std::nullopt;
}

// The byte the transfer of a download path stops before, as the scene says
// now; none when it says nothing.
std::optional<std::size_t> pauseAt(const SiteContext& context, const std::string& path) {
  const nlohmann::json knobs =
      context.scene().value("knobs", nlohmann::json::object()).value(path, nlohmann::json::object());
  if (!knobs.contains("pauseAt")) return std::nullopt;
  return knobs["pauseAt"].get<std::size_t>();
}

// A product archive with the setup stand-in inside, made from the catalogue
// entry: /downloads/<name>_<version>.zip. Streamed from its file; the knobs
// "bytesPerSecond" (a slow line) and "brokenBody" (the connection drops
// half-way) shape the transfer, and "pauseAt" holds it before that byte for
// as long as the scene says so (a test moves or removes it to let the
// transfer go on, so the transfer runs exactly as long as the test needs).
void productArchive(const SiteContext& context, const httplib::Request& req, httplib::Response& res) {
  const std::string stem = req.matches[1].str();
  const auto separator = stem.rfind('_');
  const nlohmann::json scene = context.scene();
  const nlohmann::json* product = separator == std::string::npos
                                      ? nullptr
                                      : findProduct(scene, stem.substr(0, separator), stem.substr(separator + 1));
  if (!product) {
    res.status = 404;
    res.set_content("no such product", "text/plain");
    return;
  }
  fs::path archive;
  if (const auto error = productArchiveFile(context, *product, archive)) {
    res.status = 500;
    res.set_content(*error, "text/plain");
    return;
  }

  const nlohmann::json knobs = scene.value("knobs", nlohmann::json::object()).value(req.path, nlohmann::json::object());
  const std::uint64_t rate = knobs.value("bytesPerSecond", std::uint64_t{0});
  const std::size_t size = fs::file_size(archive);
  const std::size_t end = knobs.value("brokenBody", false) ? size / 2 : size;
  auto in = std::make_shared<std::ifstream>(archive, std::ios::binary);
  auto start = std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::steady_clock::now());
  res.set_header("Content-Disposition", "attachment; filename=\"" + stem + ".zip\"");
  res.set_content_provider(
      size, "application/zip",
      [in, rate, end, start, context, path = req.path](size_t offset, size_t length, httplib::DataSink& sink) {
        if (offset >= end) return false;  // drops the connection
        // Ten pieces a second on a slow line.
        std::size_t piece = rate ? std::max<std::size_t>(1, rate / 10) : std::size_t{256} << 10;
        if (auto pause = pauseAt(context, path); pause && *pause > offset) {
          piece = std::min(piece, *pause - offset);
        } else if (pause) {
          const auto paused = std::chrono::steady_clock::now();
          while (pause && *pause <= offset) {
            if (!sink.is_writable()) return false;  // the client went away meanwhile
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            pause = pauseAt(context, path);
          }
          // The line goes on at its rate from here, not all at once.
          *start += std::chrono::steady_clock::now() - paused;
          if (pause) piece = std::min(piece, *pause - offset);
        }
        std::string buffer(std::min({length, piece, end - offset}), '\0');
        if (rate) std::this_thread::sleep_until(*start + std::chrono::microseconds(offset * 1000000 / rate));
        in->seekg(static_cast<std::streamoff>(offset));
        if (!in->read(buffer.data(), static_cast<std::streamsize>(buffer.size()))) return false;
        return sink.write(buffer.data(), buffer.size());
      });
}

// Whether a knob changes this answer: always, or for its first "times"
// answers (counted per knob, so a new knob counts anew).
bool knobApplies(const SiteContext& context, const std::string& path, const nlohmann::json& knobs) {
  if (!knobs.contains("times")) return true;
  std::lock_guard lock(context.state->lock);
  return context.state->knobAnswers[path + knobs.dump()]++ < knobs["times"].get<int>();
}

void applyKnobs(const nlohmann::json& knobs, httplib::Response& res) {
  if (knobs.contains("delayMs")) std::this_thread::sleep_for(std::chrono::milliseconds(knobs["delayMs"].get<int>()));
  if (knobs.contains("status")) res.status = knobs["status"].get<int>();
  // Streamed answers break off in their own way.
  if (knobs.value("brokenBody", false) && !res.body.empty())
    res.body = res.body.substr(0, res.body.size() / 2) + "\x01{";
}

}  // namespace

std::vector<Route> SiteRoutes() {
  return {
      {"GET", "/site/dashboard", dashboardPage},
      {"GET", "/site/dashboard/", dashboardPage},
      {"GET", "/site/dashboard/catalogue.json", catalogue},
      {"GET", R"(/site/dashboard/(.+))", dashboardFile},
      {"GET", R"(/downloads/(.+)\.zip)", productArchive},
      {"POST", "/orv/auth/oauth/token", IssueToken},
      {"GET", "/orv/api/setup/user/products", AccountProducts},
  };
}

void MountRoutes(httplib::Server& server, const SiteContext& context) {
  for (const Route& route : SiteRoutes()) {
    auto handler = [&context, route](const httplib::Request& req, httplib::Response& res) {
      route.handler(context, req, res);
      const nlohmann::json scene = context.scene();
      if (scene.contains("knobs") && scene["knobs"].contains(req.path) &&
          knobApplies(context, req.path, scene["knobs"][req.path]))
        applyKnobs(scene["knobs"][req.path], res);
    };
    if (route.method == "POST")
      server.Post(route.pattern, handler);
    else
      server.Get(route.pattern, handler);
  }
}

}  // namespace orv::site
