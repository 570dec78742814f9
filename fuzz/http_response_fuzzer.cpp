// Reading a command answer off a connection: the input is everything the
// camera sends before it closes the connection.

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>

#include "fuzz/fuzz_check.h"
#include "net/transport/http_response.h"

namespace {

// Writes what the socket buffer takes at once; a thread writes the rest.
std::thread sendAll(int fd, const uint8_t* data, size_t size) {
  const int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  size_t sent = 0;
  while (sent < size) {
    const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  ::fcntl(fd, F_SETFL, flags);
  if (sent == size) {
    ::shutdown(fd, SHUT_WR);
    return {};
  }
  return std::thread([fd, data, size, sent]() mutable {
    while (sent < size) {
      const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // the reader gave up and closed
      sent += static_cast<size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int pair[2];
  FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0);
  std::thread writer = sendAll(pair[1], data, size);

  lumvara::HttpResponse response;
  const int result = lumvara::readResponse(pair[0], response);
  // The reader is done with the connection, as the command worker is.
  ::close(pair[0]);
  if (writer.joinable()) writer.join();
  ::close(pair[1]);

  FUZZ_CHECK(result >= -2);
  FUZZ_CHECK(response.header.size() < lumvara::kResponseAreaSize);
  FUZZ_CHECK(response.header.size() <= size);
  // What was kept is what the camera sent, in order: the header is a prefix
  // of the input and the body follows it directly.
  FUZZ_CHECK(std::memcmp(response.header.data(), data, response.header.size()) == 0);
  FUZZ_CHECK(response.header.size() + response.body.size() <= size);
  FUZZ_CHECK(std::memcmp(response.body.data(), data + response.header.size(), response.body.size()) == 0);
  if (result > 0) {
    FUZZ_CHECK(response.contentLength >= 0 && response.contentLength <= static_cast<int>(lumvara::kResponseAreaSize));
    FUZZ_CHECK(response.body.size() == static_cast<size_t>(response.contentLength));
    FUZZ_CHECK(static_cast<size_t>(result) == response.header.size() + response.body.size());
    FUZZ_CHECK(static_cast<size_t>(result) <= size);
  }
  return 0;
}
