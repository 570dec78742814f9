#include "apps/camsim/connection_link.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "apps/camsim/http_request.h"

namespace lumvara::camsim {

void ConnectionLink::setPieces(std::vector<size_t> pieces, std::chrono::milliseconds gap) {
  pieces.erase(std::remove(pieces.begin(), pieces.end(), size_t{0}), pieces.end());
  pieces_ = std::move(pieces);
  gap_ = gap;
  pieceIndex_ = 0;
}

bool ConnectionLink::send(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (pieces_.empty()) return sendAll(bytes, size);
  size_t done = 0;
  while (done < size) {
    const size_t piece = std::min(pieces_[pieceIndex_ % pieces_.size()], size - done);
    ++pieceIndex_;
    if (!sendAll(bytes + done, piece)) return false;
    done += piece;
    if (gap_.count() > 0 && !sleep(gap_)) return false;
  }
  return true;
}

bool ConnectionLink::sendAll(const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::send(fd_, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
    if (fds[1].revents != 0) return false;
    if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return false;
  }
  return true;
}

ConnectionLink::Event ConnectionLink::wait(int timeout_ms) {
  pollfd fds[3] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  const int ready = ::poll(fds, 3, timeout_ms);
  if (ready <= 0) return Event::kTimeout;
  if (fds[1].revents != 0) return Event::kStopped;
  if (fds[0].revents != 0) return Event::kReadable;
  if (fds[2].revents != 0) {
    uint64_t count = 0;
    (void)!::read(wakeFd_, &count, sizeof count);
    return Event::kWoken;
  }
  return Event::kTimeout;
}

ssize_t ConnectionLink::receive(uint8_t* buffer, size_t size) {
  const ssize_t n = ::recv(fd_, buffer, size, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return -1;
  if (n < 0) return 0;  // a reset reads as the end of the connection
  return n;
}

bool ConnectionLink::sleep(std::chrono::milliseconds duration) {
  pollfd fd = {stopFd_, POLLIN, 0};
  return ::poll(&fd, 1, static_cast<int>(duration.count())) == 0;
}

std::optional<std::string> ConnectionLink::readHead(int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string head(pending_.begin(), pending_.end());
  pending_.clear();
  for (;;) {
    const size_t end = head.find("\r\n\r\n");
    if (end != std::string::npos) {
      pending_.assign(head.begin() + static_cast<std::ptrdiff_t>(end + 4), head.end());
      head.resize(end + 4);
      return head;
    }
    if (head.size() > kMaxRequestHead) return std::nullopt;
    int wait_ms = -1;
    if (timeout_ms >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      wait_ms = static_cast<int>(left.count());
    }
    const Event event = wait(wait_ms);
    if (event == Event::kStopped || event == Event::kTimeout) return std::nullopt;
    if (event == Event::kWoken) continue;
    uint8_t buffer[4096];
    const ssize_t n = receive(buffer, sizeof buffer);
    if (n == 0) return std::nullopt;
    if (n > 0) head.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
  }
}

}  // namespace lumvara::camsim
