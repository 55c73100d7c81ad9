// The vendor's web site as a local stand-in: the dashboard page, its
// product archives and the REST API, on loopback only. Every answer is
// logged to stderr as "METHOD path status".
#include "site_routes.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

int usage() {
  std::cerr << "usage: orv-vendor-site --port PORT --data DIR [--www DIR] [--setup FILE]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int port = -1;
  orv::site::SiteContext context{ORV_SITE_WWW_DIR, ".", ORV_SITE_SETUP_EXE};
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const std::string value = argv[i + 1];
    if (option == "--port")
      port = std::atoi(value.c_str());
    else if (option == "--data")
      context.dataDir = value;
    else if (option == "--www")
      context.wwwDir = value;
    else if (option == "--setup")
      context.setupExe = value;
    else
      return usage();
  }
  if (port < 0 || argc % 2 == 0) return usage();

  httplib::Server server;
  orv::site::MountRoutes(server, context);
  // Headers and body leave in separate writes: without this each answer
  // waits for the client's delayed acknowledgement.
  server.set_tcp_nodelay(true);
  server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
    std::fprintf(stderr, "%s %s %d\n", req.method.c_str(), req.path.c_str(), res.status);
  });
  const char* host = "127.0.0.1";
  const int bound = port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
  if (bound < 0) {
    std::cerr << "orv-vendor-site: cannot listen on port " << port << "\n";
    return 1;
  }
  std::printf("listening on http://%s:%d\n", host, bound);
  std::fflush(stdout);
  return server.listen_after_bind() ? 0 : 1;
}
