// A small blocking loopback client for the simulator's tests: connect, send a
// request, read bytes or whole frames with a deadline. Deliberately plain so
// that a fault in the simulator cannot hide behind the client's own code.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "apps/camsim/stream_frame.h"

namespace camsim_test {

inline constexpr char kTrailer[] = "Host: 127.0.0.1\r\nConnection: Keep-Alive\r\n\r\n";

class RawClient {
 public:
  RawClient() = default;
  ~RawClient() { close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connect(uint16_t port) {
    close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }

  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buffer_.clear();
  }

  bool send(const std::string& text) { return sendBytes(text.data(), text.size()); }
  bool sendBytes(const void* data, size_t size) {
    return ::send(fd_, data, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
  }
  // "GET <target> HTTP/1.1\r\n" and a short header block.
  bool request(const std::string& target) { return send("GET " + target + " HTTP/1.1\r\n" + kTrailer); }

  // One receive (after waiting up to `timeout`); nothing on time-out, empty on close.
  std::optional<std::vector<uint8_t>> readOnce(std::chrono::milliseconds timeout) {
    pollfd fd = {fd_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
    uint8_t chunk[65536];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return std::vector<uint8_t>{};
    return std::vector<uint8_t>(chunk, chunk + n);
  }

  // Reads until `size` bytes are held; false on close or time-out.
  bool fill(size_t size, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (buffer_.size() < size) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      auto chunk = readOnce(left);
      if (!chunk || chunk->empty()) return false;
      buffer_.insert(buffer_.end(), chunk->begin(), chunk->end());
    }
    return true;
  }

  // The next whole frame (header and payload), or nothing on close/time-out.
  std::optional<std::vector<uint8_t>> readFrame(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    using namespace lumvara::camsim;
    if (!fill(kFrameHeaderSize, timeout)) return std::nullopt;
    const FrameFields fields = readFrameHeader(buffer_.data());
    if (fields.magic != kFrameMagic || fields.length > kMaxFramePayload) {
      std::vector<uint8_t> header(buffer_.begin(), buffer_.begin() + kFrameHeaderSize);
      buffer_.erase(buffer_.begin(), buffer_.begin() + kFrameHeaderSize);
      return header;  // the caller sees the bad header
    }
    const size_t total = kFrameHeaderSize + fields.length;
    if (!fill(total, timeout)) return std::nullopt;
    std::vector<uint8_t> frame(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
    return frame;
  }

  // Everything until the peer closes (or `timeout` passes: then nothing).
  std::optional<std::vector<uint8_t>> readToEnd(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<uint8_t> all = std::move(buffer_);
    buffer_.clear();
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      auto chunk = readOnce(left);
      if (!chunk) return std::nullopt;
      if (chunk->empty()) return all;
      all.insert(all.end(), chunk->begin(), chunk->end());
    }
  }

  // True when the peer closes within `timeout`, discarding data on the way.
  bool closedWithin(std::chrono::milliseconds timeout) { return readToEnd(timeout).has_value(); }

  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  std::vector<uint8_t> buffer_;
};

// Splits an HTTP answer into header and body using its "Content-length:" line.
struct HttpAnswer {
  std::string head;
  std::string body;
  long declared_length = -1;
};

inline std::optional<HttpAnswer> ReadAnswer(RawClient& client, std::chrono::milliseconds timeout) {
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  HttpAnswer answer;
  for (;;) {
    const size_t end = text.find("\r\n\r\n");
    if (end != std::string::npos && answer.head.empty()) {
      answer.head = text.substr(0, end + 4);
      const size_t field = answer.head.find("\r\nContent-length:");
      if (field != std::string::npos) answer.declared_length = std::atol(answer.head.c_str() + field + 17);
    }
    if (!answer.head.empty() && answer.declared_length >= 0 &&
        text.size() >= answer.head.size() + static_cast<size_t>(answer.declared_length)) {
      answer.body = text.substr(answer.head.size());
      return answer;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    auto chunk = client.readOnce(left);
    if (!chunk || chunk->empty()) {
      if (!answer.head.empty()) {
        answer.body = text.substr(answer.head.size());
        return answer;
      }
      return std::nullopt;
    }
    text.append(chunk->begin(), chunk->end());
  }
}

}  // namespace camsim_test
