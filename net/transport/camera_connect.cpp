#include "net/transport/camera_connect.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/log/log.h"
#include "platform/sockets/socket_ops.h"

namespace lumvara {

namespace {

void setOptionOrReport(int fd, int level, int name, const char* message) {
  if (!setIntOption(fd, level, name, name == TCP_NODELAY ? 1 : kSocketBufferBytes)) {
    logf(message, static_cast<long>(errno));
  }
}

}  // namespace

UniqueFd connectToCamera(const char* host, int port, const HostResolver& resolver, int wakeFd, std::string& dotted) {
  static const HostResolver systemResolver = systemHostResolver();
  std::string resolved;
  if (host == nullptr || !resolveHost(host, resolver ? resolver : systemResolver, resolved)) {
    return UniqueFd();
  }
  dotted = resolved.substr(0, kMaxAddressText);
  in_addr address{};
  if (!parseIPv4(dotted, address) || port < 0 || port > 65535) {
    return UniqueFd();
  }

  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    logf("create socket failed, errno=%ld\n", static_cast<long>(errno));
    return UniqueFd();
  }
  if (!setIntOption(fd.get(), SOL_SOCKET, SO_REUSEADDR, 1)) {
    logf("Error in setsockopt(SO_REUSEADDR), errno=%ld\n", static_cast<long>(errno));
    return UniqueFd();
  }
  setOptionOrReport(fd.get(), IPPROTO_TCP, TCP_NODELAY, "Error in setsockopt(TCP_NODELAY), errno=%ld\n");
  setOptionOrReport(fd.get(), SOL_SOCKET, SO_SNDBUF, "Error in setsockopt(SO_SNDBUF), errno=%ld\n");
  setOptionOrReport(fd.get(), SOL_SOCKET, SO_RCVBUF, "Error in setsockopt(SO_RCVBUF), errno=%ld\n");

  const auto result = connectWithTimeout(fd.get(), address, static_cast<uint16_t>(port), kConnectTimeoutMs, wakeFd);
  if (result != ConnectResult::Connected) {
    ::shutdown(fd.get(), SHUT_RDWR);
    return UniqueFd();
  }
  return fd;
}

}  // namespace lumvara
