// The simulator's inside, shared by the files that serve its endpoints:
// camera_simulator.cpp (listening, connections, the request dispatch and the
// public calls), live_endpoint.cpp (live stream and talk), audio_endpoint.cpp
// (camera audio), command_endpoints.cpp (parameter CGIs) and sd_endpoints.cpp
// (record list and SD playback). The search responder is apart
// (search_responder.cpp).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "apps/camsim/camera_params.h"
#include "apps/camsim/camera_simulator.h"
#include "apps/camsim/connection_link.h"
#include "apps/camsim/h264_test_pattern.h"
#include "apps/camsim/http_request.h"
#include "apps/camsim/search_responder.h"

namespace lumvara::camsim {

using Clock = std::chrono::steady_clock;

// One accepted connection, served by its own thread.
struct Connection {
  uint32_t id = 0;
  std::mutex mutex;  // guards fd (closed only by the connection's thread) and notices
  int fd = -1;
  int wake = -1;
  std::deque<uint8_t> notices;
  std::atomic<bool> done{false};
  bool live = false;  // under the simulator's mutex
  std::thread thread;

  ~Connection() {
    if (wake >= 0) ::close(wake);
  }
  void drop() {
    std::lock_guard<std::mutex> lock(mutex);
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
  }
  void notify(uint8_t kind) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      notices.push_back(kind);
    }
    const uint64_t one = 1;
    (void)!::write(wake, &one, sizeof one);
  }
  std::deque<uint8_t> takeNotices() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(notices, {});
  }
};

class CameraSimulator::Impl {
 public:
  explicit Impl(SimulatorOptions options);
  ~Impl() { stop(); }

  bool start();
  void stop();

  // Everything below is shared with the public class.
  SimulatorOptions options_;
  mutable std::mutex mutex_;
  mutable std::condition_variable logChanged_;
  std::vector<std::string> log_;
  std::deque<ConnectionScript> scripts_;
  std::string user_, pwd_;
  int maxConnections_;
  bool videoLoss_ = false;
  bool refuseSets_ = false;
  int wifiNetworks_;
  CameraParams params_;
  std::vector<Recording> recordings_;
  std::map<std::string, std::shared_ptr<const std::vector<uint8_t>>> recordingBytes_;
  std::vector<TalkSession> talk_;
  std::list<std::shared_ptr<Connection>> connections_;
  int liveCount_ = 0;
  int reboots_ = 0;
  uint32_t nextId_ = 1;
  int8_t zone_;
  std::string lastError_;
  std::atomic<uint16_t> boundPort_{0};
  std::unique_ptr<SearchResponder> responder_;
  // Access units of options_.live_file; set before any connection is served.
  std::vector<AccessUnit> fileUnits_;

  std::shared_ptr<const std::vector<uint8_t>> bytesOf(const std::string& name);

 private:
  class LiveSession;  // one live connection's exchange (live_endpoint.cpp)

  // Listening and connections (camera_simulator.cpp).
  bool listen();
  void fail(std::string reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    lastError_ = std::move(reason);
  }
  void acceptLoop();
  void reboot();
  void reap(bool all);
  void serve(const std::shared_ptr<Connection>& connection);
  void holdSilent(ConnectionLink& link);
  void record(const std::string& line);
  ConnectionScript takeScript(const std::string& cgi);
  bool credentialsMatch(const std::string& user, const std::string& pwd) const;
  bool sendNotice(ConnectionLink& link, uint8_t kind);

  // Live stream and talk (live_endpoint.cpp).
  void serveLive(ConnectionLink& link, Connection& connection, const HttpRequest& request,
                 const ConnectionScript& script);
  void receiveTalk(uint32_t id, std::vector<uint8_t>& buffer, int& session);
  // Camera audio (audio_endpoint.cpp).
  void serveAudio(ConnectionLink& link, const HttpRequest& request);
  // Parameter CGIs (command_endpoints.cpp).
  bool serveCommand(ConnectionLink& link, const HttpRequest& request, const ConnectionScript& script);
  std::string commandBody(const HttpRequest& request, bool& reboot_after);
  // Record list and SD playback (sd_endpoints.cpp).
  std::string recordListBody(const HttpRequest& request);
  void servePlayback(ConnectionLink& link, const HttpRequest& request);

  int listenFd_ = -1;
  int stopFd_ = -1;
  int acceptWake_ = -1;
  std::atomic<bool> rebootRequested_{false};
  std::thread acceptThread_;
};

}  // namespace lumvara::camsim
