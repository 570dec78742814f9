#pragma once
// A tiny camera stand-in for transport tests: a listener on 127.0.0.1 with an
// ephemeral port whose accepted connections are handed to a script running
// on a thread of its own.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace lumvara::test {

class LoopbackListener {
 public:
  explicit LoopbackListener(int backlog = 8) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, backlog);
    socklen_t size = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackListener() { ::close(fd_); }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  int port() const { return port_; }
  int fd() const { return fd_; }
  int accept() { return ::accept(fd_, nullptr, nullptr); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Runs `script` with each accepted connection (one at a time, `connections`
// of them) on its own thread; joins on destruction.
class LoopbackPeer {
 public:
  using Script = std::function<void(int fd)>;

  explicit LoopbackPeer(Script script, int connections = 1) : script_(std::move(script)) {
    thread_ = std::thread([this, connections] {
      for (int i = 0; i < connections; ++i) {
        const int fd = listener_.accept();
        if (fd < 0) {
          return;
        }
        script_(fd);
        ::close(fd);
      }
    });
  }
  ~LoopbackPeer() { thread_.join(); }
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  int port() const { return listener_.port(); }

 private:
  LoopbackListener listener_;
  Script script_;
  std::thread thread_;
};

inline void sendText(int fd, const std::string& text) { ::send(fd, text.data(), text.size(), MSG_NOSIGNAL); }

inline void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Reads until the peer closes or `timeoutMs` of silence; returns the bytes.
std::string readUntilQuiet(int fd, int timeoutMs);

// A port on 127.0.0.1 where nothing listens (bound once, then released).
int closedLoopbackPort();

}  // namespace lumvara::test
