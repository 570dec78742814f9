#pragma once
// CmdConnection: a request connection. One request goes out, one response
// is read back synchronously by the calling thread (see http_response.h).
//
// Threading contract: one owner thread connects, sends, reads and closes.
// interrupt() may be called from any other thread: it shuts the socket down
// so that a read or send in progress on the owner thread ends at once; the
// owner still closes it.

#include <atomic>
#include <mutex>
#include <string>

#include "net/transport/host_resolver.h"

namespace lumvara {

class CmdConnection {
 public:
  CmdConnection() = default;
  ~CmdConnection();
  CmdConnection(const CmdConnection&) = delete;
  CmdConnection& operator=(const CmdConnection&) = delete;

  void setResolver(HostResolver resolver);

  // Closes a connection left open, then connects (bounded by 3 s, ended at
  // once by a readable `wakeFd`). Returns 1 connected, 0 not.
  int connect(const char* host, int port, int wakeFd = -1);

  // Returns 1, also when already closed.
  int close();

  // Any thread: shut the socket down in both directions, leave it to the owner to close.
  void interrupt();

  bool send(const void* data, size_t length);

  int socket() const { return socket_.load(); }
  bool isOpen() const { return socket_ >= 0; }
  const std::string& address() const { return address_; }
  int port() const { return port_; }

 private:
  std::mutex lock_;  // guards socket_ against interrupt() from another thread
  std::atomic<int> socket_{-1};
  std::string address_;
  int port_ = 0;
  HostResolver resolver_;
};

}  // namespace lumvara
