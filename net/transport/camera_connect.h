#pragma once
// The connect procedure shared by CTcpSocket and CmdConnection: resolve the
// host, create the socket with its options (SO_REUSEADDR, TCP_NODELAY, 8 KiB
// buffers), connect non-blocking with a 3-second bound, then back to
// blocking. Failures print the camera client's diagnostics through logf.

#include <string>

#include "net/transport/host_resolver.h"
#include "platform/sockets/unique_fd.h"

namespace lumvara {

inline constexpr int kConnectTimeoutMs = 3000;
inline constexpr int kSocketBufferBytes = 8192;
inline constexpr size_t kMaxAddressText = 127;

// Returns the connected socket (blocking mode) or an invalid fd. An empty
// resolver means the system lookup; a readable `wakeFd` (-1: none) gives up
// at once. `dotted` receives the peer address text when resolution
// succeeded. No socket is created when the host does not resolve.
UniqueFd connectToCamera(const char* host, int port, const HostResolver& resolver, int wakeFd, std::string& dotted);

}  // namespace lumvara
