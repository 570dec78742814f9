// lumvara-webhost: runs camera controls for web pages on this machine. A page
// served by it (or by a site given with --allow-origin) drives the controls
// through lumvara.js; video, sound, talk, recordings and snapshots stay here.

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <sys/wait.h>
#include <unistd.h>

#include "apps/webhost/web_host.h"

namespace {

bool HasDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

// Opens the page in the desktop's browser without waiting for it.
void OpenBrowser(const std::string& url) {
  const pid_t child = fork();
  if (child == 0) {
    const pid_t grandchild = fork();
    if (grandchild == 0) {
      execlp("xdg-open", "xdg-open", url.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    _exit(0);
  }
  if (child > 0) waitpid(child, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"lumvara-webhost: camera controls for web pages, on 127.0.0.1 and ::1 only"};
  lumvara::webhost::HostOptions options;
  bool noOpen = false;
  int port = 8765;
  app.add_option("--port", port, "port to listen on; 0 picks a free one")->check(CLI::Range(0, 65535));
  app.add_option("--allow-origin", options.allowOrigins,
                 "origin (scheme://name:port) of another site whose pages may script the controls");
  app.add_option("--demo-camera", options.demoCamera, "HOST:PORT of the camera the demo page plays on load");
  app.add_option("--demo-user", options.demoUser, "user name for the demo camera")->default_val("admin");
  app.add_option("--demo-pwd", options.demoPwd, "password for the demo camera")->default_val("");
  app.add_flag("--no-open", noOpen, "do not open the page in a browser");
  app.add_option("--registry", options.registry, "registry file to consult (default: the user's)");
  CLI11_PARSE(app, argc, argv);
  options.port = static_cast<uint16_t>(port);
  options.stopOnSignals = true;
  if (!options.registry.empty()) setenv("LUMVARA_REGISTRY", options.registry.c_str(), 1);

  lumvara::webhost::WebHost host(options);
  std::string error;
  if (!host.Start(&error)) {
    std::fprintf(stderr, "lumvara-webhost: %s\n", error.c_str());
    return 1;
  }
  std::signal(SIGPIPE, SIG_IGN);

  std::printf("url: %s\n", host.Url().c_str());
  std::fflush(stdout);
  if (!noOpen && HasDisplay()) OpenBrowser(host.Url());
  host.Run();
  return 0;
}
