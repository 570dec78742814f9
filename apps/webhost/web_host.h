#pragma once
// lumvara-webhost's server: HTTP and WebSocket on the loopback addresses
// only. Pages load the demo page and lumvara.js over HTTP, exchange the
// launch token for a session cookie, then open one WebSocket each through
// which they create controls, call them and receive their events and
// pictures.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lumvara::webhost {

struct HostOptions {
  uint16_t port = 8765;                   // 0: any free port
  std::vector<std::string> allowOrigins;  // pages of other sites that may script the controls
  std::string demoCamera;                 // HOST:PORT the demo page plays on load, or empty
  std::string demoUser;
  std::string demoPwd;
  std::string registry;  // registry file consulted before creating a control
  std::string token;     // the launch token; empty: a random one
  int maxPages = 8;
  int maxControlsPerPage = 16;
  size_t maxMessageBytes = 64 * 1024;
  bool stopOnSignals = false;  // SIGINT and SIGTERM end Run()
};

class WebHost {
 public:
  explicit WebHost(HostOptions options);
  ~WebHost();
  WebHost(const WebHost&) = delete;
  WebHost& operator=(const WebHost&) = delete;

  // Binds 127.0.0.1 (and ::1 when the machine has it). False with a reason
  // when 127.0.0.1 cannot be bound.
  bool Start(std::string* error);
  // The bound port (useful with port 0).
  uint16_t port() const;
  // The page address with the launch token in its fragment.
  std::string Url() const;
  // Serves until Stop() (from any thread, or a signal handler's thread).
  void Run();
  void Stop();

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace lumvara::webhost
