#include "fake_camera.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "net/transport/stream_frame.h"
#include "platform/sockets/socket_ops.h"

namespace lumvara::test {
namespace {

sockaddr_in loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Waits for `fd` or the stop signal; true when `fd` is ready.
bool waitFd(int fd, int stopFd, int timeoutMs) { return waitReadable(fd, stopFd, timeoutMs) == WaitResult::Ready; }

}  // namespace

std::string FakeConnection::readRequest(int timeoutMs) {
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (text.find("\r\n\r\n") == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !waitFd(fd_, camera_.stopFd(), static_cast<int>(left.count()))) {
      return {};
    }
    char byte;
    if (::recv(fd_, &byte, 1, 0) != 1) return {};
    text.push_back(byte);
  }
  camera_.logRequest(index_, text.substr(0, text.find("\r\n")));
  return text;
}

std::vector<uint8_t> FakeConnection::readBytes(size_t count, int timeoutMs) {
  std::vector<uint8_t> bytes(count);
  size_t have = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (have < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !waitFd(fd_, camera_.stopFd(), static_cast<int>(left.count()))) {
      break;
    }
    const ssize_t got = ::recv(fd_, bytes.data() + have, count - have, 0);
    if (got <= 0) break;
    have += static_cast<size_t>(got);
  }
  bytes.resize(have);
  return bytes;
}

bool FakeConnection::waitPeerClose(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int waitMs = -1;  // a negative time-out waits without limit
    if (timeoutMs >= 0) {
      waitMs = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
      if (waitMs <= 0) return false;
    }
    if (!waitFd(fd_, camera_.stopFd(), waitMs)) return false;
    char sink[4096];
    const ssize_t got = ::recv(fd_, sink, sizeof sink, 0);
    if (got <= 0) return true;
  }
}

bool FakeConnection::send(const void* data, size_t size) { return sendAll(fd_, data, size); }

bool FakeConnection::sendFrame(uint8_t kind, size_t payloadSize, uint8_t fill) {
  std::vector<uint8_t> frame(kFrameHeaderSize + payloadSize, fill);
  writeFrameHeader(frame.data(), kind, 1700000000u, 0, static_cast<uint32_t>(payloadSize));
  return send(frame.data(), frame.size());
}

bool FakeConnection::sendAnswer(const std::string& body) {
  return send("HTTP/1.1 200 OK\r\nServer: fake\r\nContent-length: " + std::to_string(body.size()) +
              "\r\nContent-Type: text/plain\r\n\r\n" + body);
}

bool FakeConnection::pause(int ms) { return waitReadable(camera_.stopFd(), -1, ms) != WaitResult::Ready; }

void FakeConnection::holdOpen() { waitPeerClose(-1); }

FakeCamera::FakeCamera(Handler handler, bool acceptConnections) : handler_(std::move(handler)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address = loopback(0);
  ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  if (acceptConnections) {
    ::listen(listenFd_, 16);
    acceptThread_ = std::thread(&FakeCamera::acceptLoop, this);
    return;
  }
  // Nobody accepts and the queue is full: further connects get no answer.
  ::listen(listenFd_, 0);
  for (int i = 0; i < 3; ++i) {
    const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in peer = loopback(port_);
    ::connect(filler, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    backlogFillers_.push_back(filler);
  }
  ::usleep(50 * 1000);
}

FakeCamera::~FakeCamera() { stop(); }

void FakeCamera::stop() {
  if (stopped_.exchange(true)) return;
  stopSignal_.set();
  if (acceptThread_.joinable()) acceptThread_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (int fd : connectionFds_) ::shutdown(fd, SHUT_RDWR);
    threads.swap(connectionThreads_);
  }
  for (auto& thread : threads) thread.join();
  for (int fd : connectionFds_) ::close(fd);
  for (int fd : backlogFillers_) ::close(fd);
  ::close(listenFd_);
}

std::vector<std::string> FakeCamera::requestLines() const {
  std::vector<std::pair<int, std::string>> requests;
  {
    std::lock_guard<std::mutex> guard(lock_);
    requests = requests_;
  }
  std::stable_sort(requests.begin(), requests.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> lines;
  for (auto& request : requests) lines.push_back(std::move(request.second));
  return lines;
}

bool FakeCamera::waitForRequests(size_t count, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (requestLines().size() >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return requestLines().size() >= count;
}

void FakeCamera::logRequest(int connection, const std::string& line) {
  std::lock_guard<std::mutex> guard(lock_);
  requests_.emplace_back(connection, line);
}

void FakeCamera::acceptLoop() {
  while (waitFd(listenFd_, stopSignal_.fd(), -1)) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int index = accepted_.fetch_add(1);
    std::lock_guard<std::mutex> guard(lock_);
    connectionFds_.push_back(fd);
    connectionThreads_.emplace_back(&FakeCamera::serve, this, fd, index);
  }
}

void FakeCamera::serve(int fd, int index) {
  open_.fetch_add(1);
  FakeConnection connection(*this, fd, index);
  handler_(connection);
  ::shutdown(fd, SHUT_RDWR);
  open_.fetch_sub(1);
  // The descriptor is closed by stop(), after every handler has ended, so
  // that its number is never reused under a shutdown.
}

uint16_t closedLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

}  // namespace lumvara::test
