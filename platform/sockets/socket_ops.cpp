#include "platform/sockets/socket_ops.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace lumvara {

namespace {

WaitResult waitFor(int fd, short events, int wakeFd, int timeoutMs) {
  pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
  const nfds_t count = wakeFd >= 0 ? 2 : 1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int waitMs = timeoutMs;
    if (timeoutMs >= 0) {
      const auto left = deadline - std::chrono::steady_clock::now();
      waitMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
      if (waitMs < 0) {
        waitMs = 0;
      }
    }
    const int ready = ::poll(fds, count, waitMs);
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      return WaitResult::Error;
    }
    if (count == 2 && fds[1].revents != 0) {
      return WaitResult::Woken;
    }
    if (ready == 0) {
      return WaitResult::Timeout;
    }
    if (fds[0].revents & POLLNVAL) {
      errno = EBADF;
      return WaitResult::Error;
    }
    return WaitResult::Ready;
  }
}

}  // namespace

WaitResult waitReadable(int fd, int wakeFd, int timeoutMs) { return waitFor(fd, POLLIN, wakeFd, timeoutMs); }

WaitResult waitWritable(int fd, int wakeFd, int timeoutMs) { return waitFor(fd, POLLOUT, wakeFd, timeoutMs); }

bool parseIPv4(const std::string& text, in_addr& out) { return ::inet_aton(text.c_str(), &out) != 0; }

std::string formatIPv4(in_addr address) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

bool lookupHostIPv4(const std::string& name, std::string& dotted) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    return false;
  }
  const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  dotted = formatIPv4(address->sin_addr);
  ::freeaddrinfo(found);
  return true;
}

bool setIntOption(int fd, int level, int name, int value) {
  return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}

bool setNonBlocking(int fd, bool nonBlocking) {
  const int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0) {
    return false;
  }
  const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return ::fcntl(fd, F_SETFL, wanted) == 0;
}

ConnectResult connectWithTimeout(int fd, in_addr address, uint16_t port, int timeoutMs, int wakeFd) {
  if (!setNonBlocking(fd, true)) {
    return ConnectResult::Failed;
  }
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr = address;
  peer.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0 && errno != EINPROGRESS) {
    return ConnectResult::Failed;
  }
  switch (waitWritable(fd, wakeFd, timeoutMs)) {
    case WaitResult::Timeout:
      return ConnectResult::TimedOut;
    case WaitResult::Woken:
      return ConnectResult::Woken;
    case WaitResult::Error:
      return ConnectResult::Failed;
    case WaitResult::Ready:
      break;
  }
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
    return ConnectResult::Failed;
  }
  if (error != 0) {
    errno = error;
    return ConnectResult::Failed;
  }
  if (!setNonBlocking(fd, false)) {
    return ConnectResult::Failed;
  }
  return ConnectResult::Connected;
}

bool sendAll(int fd, const void* data, size_t length) {
  const auto* bytes = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t sent = ::send(fd, bytes, length, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace lumvara
