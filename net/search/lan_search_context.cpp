#include "net/search/lan_search_context.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/sockets/socket_ops.h"

namespace lumvara {

static_assert(std::endian::native == std::endian::little,
              "SearchResultRecord::port is read in place as a little-endian value");

namespace {

uint16_t readLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

sockaddr_in searchDestinationFromEnvironment() {
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  destination.sin_port = htons(kSearchPort);
  if (const char* address = std::getenv(kSearchAddrVariable); address != nullptr && *address != '\0') {
    in_addr parsed{};
    if (::inet_pton(AF_INET, address, &parsed) == 1) {
      destination.sin_addr = parsed;
    }
  }
  if (const char* port = std::getenv(kSearchPortVariable); port != nullptr && *port != '\0') {
    char* end = nullptr;
    const long value = std::strtol(port, &end, 10);
    if (*end == '\0' && value > 0 && value <= 65535) {
      destination.sin_port = htons(static_cast<uint16_t>(value));
    }
  }
  return destination;
}

LanSearchContext::LanSearchContext(sockaddr_in destination) : destination_(destination) {}

LanSearchContext::~LanSearchContext() { stop(); }

bool LanSearchContext::start() {
  if (socket_.valid()) {
    return true;
  }
  UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.valid() || !setIntOption(fd.get(), SOL_SOCKET, SO_BROADCAST, 1)) {
    return false;
  }
  // Cameras answer to the port the request came from, so any free port
  // serves; the kernel's choice never collides with a port in use.
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = 0;
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    return false;
  }
  socklen_t size = sizeof local;
  ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &size);
  localPort_ = ntohs(local.sin_port);
  socket_ = std::move(fd);
  stopSignal_.reset();
  receiving_ = true;
  receiveThread_ = std::thread([this] { receiveLoop(); });
  return true;
}

bool LanSearchContext::search(SearchResultCallback callback, void* context) {
  {
    std::lock_guard lock(callbackLock_);
    callback_ = callback;
    callbackContext_ = context;
  }
  if (!socket_.valid()) {
    return false;
  }
  uint8_t request[kSearchHeaderSize] = {kSearchTag0, kSearchTag1, static_cast<uint8_t>(kSearchRequestCommand & 0xFF),
                                        static_cast<uint8_t>(kSearchRequestCommand >> 8)};
  const ssize_t sent = ::sendto(socket_.get(), request, sizeof request, MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&destination_), sizeof destination_);
  return sent == static_cast<ssize_t>(sizeof request);
}

void LanSearchContext::stop() {
  stopSignal_.set();
  if (receiveThread_.joinable()) {
    receiveThread_.join();
  }
  socket_.reset();
  receiving_ = false;
}

bool LanSearchContext::onReceiveThread() const {
  return receiveThread_.joinable() && receiveThread_.get_id() == std::this_thread::get_id();
}

void LanSearchContext::receiveLoop() {
  alignas(SearchResultRecord) uint8_t area[kSearchDatagramArea];
  for (;;) {
    const WaitResult ready = waitReadable(socket_.get(), stopSignal_.fd(), -1);
    if (ready == WaitResult::Woken || ready == WaitResult::Error) {
      break;
    }
    std::memset(area, 0, sizeof area);
    const ssize_t got = ::recvfrom(socket_.get(), area, sizeof area, MSG_DONTWAIT, nullptr, nullptr);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNREFUSED) {
        continue;
      }
      break;
    }
    // An empty datagram is just another foreign datagram: ignoring it
    // keeps any host on the network from ending the search.
    handleDatagram(area, static_cast<size_t>(got));
  }
  receiving_ = false;
}

void LanSearchContext::handleDatagram(const uint8_t* area, size_t size) {
  if (size < kSearchHeaderSize || area[0] != kSearchTag0 || area[1] != kSearchTag1 ||
      readLe16(area + 2) != kSearchAnswerCommand) {
    return;
  }
  SearchResultCallback callback = nullptr;
  void* context = nullptr;
  {
    std::lock_guard lock(callbackLock_);
    callback = callback_;
    context = callbackContext_;
  }
  if (callback != nullptr) {
    callback(reinterpret_cast<const SearchResultRecord*>(area + kSearchHeaderSize), context);
  }
}

}  // namespace lumvara
