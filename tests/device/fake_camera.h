#pragma once
// A scripted camera on 127.0.0.1 for device tests: it accepts connections on
// an ephemeral port and runs one handler per connection on its own thread.
// Handlers read the request, answer with frames or an HTTP response, stay
// silent or close, as the test needs. Every wait ends when the camera stops.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sockets/wake_signal.h"

namespace lumvara::test {

class FakeCamera;

class FakeConnection {
 public:
  FakeConnection(FakeCamera& camera, int fd, int index) : camera_(camera), fd_(fd), index_(index) {}

  // Reads one request header (up to the empty line); its first line, without
  // CRLF, goes to the camera's request log. Empty on close or time-out.
  std::string readRequest(int timeoutMs = 5000);
  // Reads exactly `count` bytes; fewer on close or time-out.
  std::vector<uint8_t> readBytes(size_t count, int timeoutMs = 5000);
  // True when the peer closed within the time.
  bool waitPeerClose(int timeoutMs);

  bool send(const void* data, size_t size);
  bool send(const std::string& text) { return send(text.data(), text.size()); }
  // One whole frame whose payload is `payloadSize` bytes of `fill`.
  bool sendFrame(uint8_t kind, size_t payloadSize, uint8_t fill = 0x5A);
  // An HTTP answer with a "Content-length:" header.
  bool sendAnswer(const std::string& body);

  // Sleeps unless the camera stops first; false when it stopped.
  bool pause(int ms);
  // Keeps the connection open until the peer closes or the camera stops.
  void holdOpen();

  int fd() const { return fd_; }

 private:
  FakeCamera& camera_;
  int fd_;
  int index_;  // order of acceptance
};

class FakeCamera {
 public:
  using Handler = std::function<void(FakeConnection&)>;

  // `backlog` 0 and acceptConnections false make a camera that never
  // answers: connects to it hang until their time-out once the queue is full.
  explicit FakeCamera(Handler handler, bool acceptConnections = true);
  ~FakeCamera();
  FakeCamera(const FakeCamera&) = delete;
  FakeCamera& operator=(const FakeCamera&) = delete;

  uint16_t port() const { return port_; }

  // Request lines in the order their connections were accepted.
  std::vector<std::string> requestLines() const;
  // Waits until at least `count` request lines have arrived.
  bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;
  int connectionsAccepted() const { return accepted_.load(); }
  int openConnections() const { return open_.load(); }

  void stop();

  // Used by FakeConnection.
  int stopFd() const { return stopSignal_.fd(); }
  void logRequest(int connection, const std::string& line);

 private:
  void acceptLoop();
  void serve(int fd, int index);

  Handler handler_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  WakeSignal stopSignal_;
  std::atomic<bool> stopped_{false};
  std::atomic<int> accepted_{0};
  std::atomic<int> open_{0};
  mutable std::mutex lock_;
  std::vector<std::pair<int, std::string>> requests_;
  std::vector<std::thread> connectionThreads_;
  std::vector<int> connectionFds_;
  std::thread acceptThread_;
  // Client sockets that fill the backlog of a camera that never answers.
  std::vector<int> backlogFillers_;
};

// A loopback port where nothing listens: connects to it are refused at once.
uint16_t closedLoopbackPort();

}  // namespace lumvara::test
