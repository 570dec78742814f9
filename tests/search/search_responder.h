#pragma once
// A stand-in camera for search tests: a UDP socket that answers each search
// request with a scripted list of datagrams, sent back to the requester.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/sockets/socket_ops.h"
#include "platform/sockets/unique_fd.h"
#include "platform/sockets/wake_signal.h"

namespace lumvara::test {

// "DH", command, then a 320-byte record with ip, port and name, cut to `size`.
inline std::string answerDatagram(const std::string& ip, uint16_t port, const std::string& name, size_t size = 324,
                                  uint16_t command = 0x0801) {
  std::string datagram(324, '\0');
  datagram[0] = 'D';
  datagram[1] = 'H';
  datagram[2] = static_cast<char>(command & 0xFF);
  datagram[3] = static_cast<char>(command >> 8);
  datagram.replace(4, ip.size(), ip);
  datagram[4 + 86] = static_cast<char>(port & 0xFF);
  datagram[4 + 87] = static_cast<char>(port >> 8);
  datagram.replace(4 + 120, name.size(), name);
  for (size_t i = 4 + 200; i < 4 + 320; ++i) {
    datagram[i] = static_cast<char>(i);  // the camera's own bytes, passed on unchanged
  }
  datagram.resize(size);
  return datagram;
}

class SearchResponder {
 public:
  SearchResponder(const char* bindAddress, uint16_t port, std::vector<std::string> replies)
      : replies_(std::move(replies)) {
    socket_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    setIntOption(socket_.get(), SOL_SOCKET, SO_REUSEADDR, 1);
    setIntOption(socket_.get(), SOL_SOCKET, SO_BROADCAST, 1);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    ::inet_pton(AF_INET, bindAddress, &local.sin_addr);
    bound_ = ::bind(socket_.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    socklen_t size = sizeof local;
    ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&local), &size);
    port_ = ntohs(local.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~SearchResponder() {
    stop_.set();
    thread_.join();
  }
  SearchResponder(const SearchResponder&) = delete;
  SearchResponder& operator=(const SearchResponder&) = delete;

  bool bound() const { return bound_; }
  uint16_t port() const { return port_; }
  int requests() const { return requests_.load(); }

 private:
  void run() {
    for (;;) {
      if (waitReadable(socket_.get(), stop_.fd(), -1) != WaitResult::Ready) {
        return;
      }
      char request[64];
      sockaddr_in from{};
      socklen_t size = sizeof from;
      const ssize_t got =
          ::recvfrom(socket_.get(), request, sizeof request, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &size);
      if (got != 4 || std::memcmp(request, "DH\x01\x01", 4) != 0) {
        continue;
      }
      ++requests_;
      for (const auto& reply : replies_) {
        ::sendto(socket_.get(), reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), size);
      }
    }
  }

  std::vector<std::string> replies_;
  UniqueFd socket_;
  bool bound_ = false;
  uint16_t port_ = 0;
  std::atomic<int> requests_{0};
  WakeSignal stop_;
  std::thread thread_;
};

}  // namespace lumvara::test
