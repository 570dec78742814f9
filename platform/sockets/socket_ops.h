#pragma once
// Small BSD-socket helpers: IPv4 text handling, socket options, a bounded and
// interruptible connect, and readiness waits that a WakeSignal ends at once.
//
// Every wait takes `wakeFd`: -1 for none, else a descriptor (usually
// WakeSignal::fd()) whose readability ends the wait with Woken.

#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "platform/sockets/unique_fd.h"

namespace lumvara {

enum class WaitResult { Ready, Timeout, Woken, Error };

// Waits until `fd` is readable (or has hung up) for at most timeoutMs
// (negative: no limit). Error leaves errno set.
WaitResult waitReadable(int fd, int wakeFd, int timeoutMs);
WaitResult waitWritable(int fd, int wakeFd, int timeoutMs);

// Accepts what inet_aton accepts (dotted IPv4 in its classic forms).
bool parseIPv4(const std::string& text, in_addr& out);
std::string formatIPv4(in_addr address);

// Name to first IPv4 address as dotted text via getaddrinfo; false when the
// name does not resolve. Blocking: call it only where a stall is acceptable.
bool lookupHostIPv4(const std::string& name, std::string& dotted);

bool setIntOption(int fd, int level, int name, int value);
bool setNonBlocking(int fd, bool nonBlocking);

enum class ConnectResult { Connected, Failed, TimedOut, Woken };

// Non-blocking connect of `fd` to address:port, waiting at most timeoutMs for
// it to complete, then switched back to blocking mode. A refused connection
// fails at once (its error is read from SO_ERROR). errno holds the cause of
// Failed.
ConnectResult connectWithTimeout(int fd, in_addr address, uint16_t port, int timeoutMs, int wakeFd);

// Sends the whole buffer (looping over partial sends, no SIGPIPE); false on
// error.
bool sendAll(int fd, const void* data, size_t length);

}  // namespace lumvara
