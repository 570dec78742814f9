#include "net/transport/cmd_connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include "net/transport/camera_connect.h"
#include "platform/sockets/socket_ops.h"

namespace lumvara {

CmdConnection::~CmdConnection() { close(); }

void CmdConnection::setResolver(HostResolver resolver) { resolver_ = std::move(resolver); }

int CmdConnection::connect(const char* host, int port, int wakeFd) {
  close();
  std::string dotted;
  UniqueFd fd = connectToCamera(host, port, resolver_, wakeFd, dotted);
  address_ = dotted;
  port_ = port;
  if (!fd.valid()) {
    return 0;
  }
  std::lock_guard lock(lock_);
  socket_ = fd.release();
  return 1;
}

int CmdConnection::close() {
  std::lock_guard lock(lock_);
  const int fd = socket_.exchange(-1);
  if (fd >= 0) {
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
  }
  return 1;
}

void CmdConnection::interrupt() {
  std::lock_guard lock(lock_);
  const int fd = socket_.load();
  if (fd >= 0) {
    ::shutdown(fd, SHUT_RDWR);
  }
}

bool CmdConnection::send(const void* data, size_t length) {
  const int fd = socket_.load();
  if (fd < 0) {
    return false;
  }
  return sendAll(fd, data, length);
}

}  // namespace lumvara
