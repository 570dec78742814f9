#include "net/transport/tcp_socket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "net/transport/camera_connect.h"
#include "platform/sockets/socket_ops.h"

namespace lumvara {

namespace {

// How often the receive thread re-checks its stop flag when nothing wakes it.
constexpr int kReceivePollMs = 200;

}  // namespace

CTcpSocket::CTcpSocket() = default;

CTcpSocket::~CTcpSocket() { close(); }

void CTcpSocket::setFrameHandler(FrameHandler handler, void* context) {
  handler_ = handler;
  handlerContext_ = context;
}

void CTcpSocket::setResolver(HostResolver resolver) { resolver_ = std::move(resolver); }

std::string CTcpSocket::address() const {
  std::lock_guard lock(addressLock_);
  return address_;
}

int CTcpSocket::connect(const char* host, int port, int wakeFd) {
  close();
  std::string dotted;
  UniqueFd fd = connectToCamera(host, port, resolver_, wakeFd, dotted);
  {
    std::lock_guard lock(addressLock_);
    address_ = dotted;
  }
  port_ = port;
  if (!fd.valid()) {
    return 0;
  }

  // No lock here: the owner serialises connect and close, and holding the
  // close lock would make a corrupt stream seen at once look like a close
  // already in progress to the receive thread.
  reassembler_.clear();
  stop_ = false;
  receiving_ = true;
  socket_ = fd.release();
  receiveThread_ = std::thread([this] { receiveLoop(); });
  receiveThreadId_ = receiveThread_.get_id();
  return 1;
}

int CTcpSocket::close() {
  if (std::this_thread::get_id() == receiveThreadId_.load()) {
    closeFromReceiveThread();
    return 1;
  }
  std::lock_guard lock(closeLock_);
  stop_ = true;
  const int fd = socket_.load();
  if (fd >= 0) {
    ::shutdown(fd, SHUT_RDWR);
  }
  stopEvent_.set();
  joinReceiveThread();
  stopEvent_.reset();
  std::lock_guard sendGuard(sendLock_);
  const int closing = socket_.exchange(-1);
  if (closing >= 0) {
    ::close(closing);
  }
  return 1;
}

void CTcpSocket::closeFromReceiveThread() {
  stop_ = true;
  // A closer on another thread holds the lock and will close the socket
  // once this thread has ended; waiting for it here would deadlock.
  std::unique_lock lock(closeLock_, std::try_to_lock);
  if (!lock.owns_lock()) {
    return;
  }
  const int fd = socket_.load();
  if (fd >= 0) {
    ::shutdown(fd, SHUT_RDWR);  // ends a send blocked on another thread
  }
  std::lock_guard sendGuard(sendLock_);
  const int closing = socket_.exchange(-1);
  if (closing >= 0) {
    ::close(closing);
  }
}

void CTcpSocket::joinReceiveThread() {
  if (receiveThread_.joinable()) {
    receiveThread_.join();
  }
  receiveThreadId_ = std::thread::id();
}

bool CTcpSocket::send(const void* data, size_t length) {
  std::lock_guard lock(sendLock_);
  const int fd = socket_.load();
  if (fd < 0) {
    return false;
  }
  return sendAll(fd, data, length);
}

void CTcpSocket::deliverFrame(const uint8_t* frame, size_t totalLength, void* context) {
  auto* self = static_cast<CTcpSocket*>(context);
  if (self->handler_ != nullptr) {
    self->handler_(frame, static_cast<int>(totalLength), self->handlerContext_);
  }
}

void CTcpSocket::receiveLoop() {
  receiveThreadId_ = std::this_thread::get_id();
  const int fd = socket_.load();
  while (!stop_) {
    switch (waitReadable(fd, stopEvent_.fd(), kReceivePollMs)) {
      case WaitResult::Woken:
        stop_ = true;
        break;
      case WaitResult::Timeout:
        break;
      case WaitResult::Error:
        if (errno == EBADF) {
          stop_ = true;
        }
        break;
      case WaitResult::Ready:
        receiveOnce();
        break;
    }
  }
  receiving_ = false;
}

void CTcpSocket::receiveOnce() {
  const int fd = socket_.load();
  if (fd < 0) {
    stop_ = true;
    return;
  }
  const ssize_t received = ::recv(fd, reassembler_.freeSpace(), reassembler_.freeBytes(), 0);
  if (received == 0) {
    stop_ = true;  // the peer closed; the socket stays open for its owner
    return;
  }
  if (received < 0) {
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      stop_ = true;  // reset by the peer: no more data will come
    }
    return;
  }
  if (reassembler_.commit(static_cast<size_t>(received), deliverFrame, this) == FrameReassembler::Status::Corrupt) {
    closeFromReceiveThread();
  }
}

}  // namespace lumvara
