// One accepted TCP connection as the simulator's connection thread sees it:
// sends that can be cut into scripted pieces, reads of a request head, and
// waits that the simulator's stop event and the connection's own wake event
// both interrupt.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumvara::camsim {

class ConnectionLink {
 public:
  ConnectionLink(int fd, int stop_fd, int wake_fd) : fd_(fd), stopFd_(stop_fd), wakeFd_(wake_fd) {}

  // Every later send goes out in pieces of these sizes (cycled), `gap` apart.
  void setPieces(std::vector<size_t> pieces, std::chrono::milliseconds gap);

  // False when the peer is gone or the simulator stops.
  bool send(const void* data, size_t size);
  bool send(const std::string& text) { return send(text.data(), text.size()); }

  enum class Event { kTimeout, kReadable, kWoken, kStopped };
  // Waits for incoming bytes, the wake event or the stop event; -1 = no limit.
  Event wait(int timeout_ms);
  // Receives what is there (non-blocking); 0 = peer closed, -1 = nothing or error.
  ssize_t receive(uint8_t* buffer, size_t size);
  // Sleeps unless the simulator stops; false when it does.
  bool sleep(std::chrono::milliseconds duration);

  // Reads one request head (up to the empty line). Bytes after it stay in
  // pending(). Nothing on silence beyond `timeout_ms` (-1 = no limit), close,
  // stop, or a head longer than the camera accepts.
  std::optional<std::string> readHead(int timeout_ms);
  std::vector<uint8_t>& pending() { return pending_; }

 private:
  bool sendAll(const uint8_t* data, size_t size);

  int fd_;
  int stopFd_;
  int wakeFd_;
  std::vector<size_t> pieces_;
  std::chrono::milliseconds gap_{0};
  size_t pieceIndex_ = 0;
  std::vector<uint8_t> pending_;
};

}  // namespace lumvara::camsim
