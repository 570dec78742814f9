#include "net/transport/http_response.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/log/log.h"
#include "platform/sockets/socket_ops.h"
#include "platform/sync/tick.h"

namespace lumvara {

namespace {

void reportSelectError() { logf("select error %s, %d\n", std::strerror(errno), errno); }

void reportReceiveError() { logf("receive error %s\n", std::strerror(errno)); }

// The number after the first colon, atoi-style (leading blanks, optional
// sign, digits). Values too large for the body area saturate just above it
// so that they are refused rather than wrapped.
long parseContentLength(std::string_view line) {
  const size_t colon = line.find(':');
  size_t i = colon + 1;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
    ++i;
  }
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) {
    negative = line[i] == '-';
    ++i;
  }
  long value = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    value = value * 10 + (line[i] - '0');
    if (value > static_cast<long>(kResponseAreaSize)) {
      value = static_cast<long>(kResponseAreaSize) + 1;
      break;
    }
  }
  return negative ? -value : value;
}

enum class ReadStep { Data, Silence, Closed, Failed };

// One wait of ~1 s for the socket, then one receive of up to `size` bytes.
// Errors print their diagnostics; a wake ends it as a failure.
ReadStep waitAndReceive(int fd, int wakeFd, char* into, size_t size, size_t& got) {
  for (;;) {
    const WaitResult ready = waitReadable(fd, wakeFd, kResponseWaitMs);
    if (ready == WaitResult::Error) {
      reportSelectError();
      return ReadStep::Failed;
    }
    if (ready == WaitResult::Woken) {
      return ReadStep::Failed;
    }
    if (ready == WaitResult::Timeout) {
      return ReadStep::Silence;
    }
    const ssize_t received = ::recv(fd, into, size, 0);
    if (received < 0 && errno == EINTR) {
      continue;
    }
    if (received < 0) {
      reportReceiveError();
      return ReadStep::Failed;
    }
    got = static_cast<size_t>(received);
    return received == 0 ? ReadStep::Closed : ReadStep::Data;
  }
}

// Reads the body: at most kBodyReadAttempts waits of ~1 s, each followed by
// one receive of the bytes still missing. Returns the bytes received (a
// silence ends early), 0 on peer close or when the attempts ran out, -1 on
// error.
int readBody(int fd, std::string& body, size_t length, int wakeFd) {
  body.assign(length, '\0');
  size_t received = 0;
  for (int attempt = 0; attempt < kBodyReadAttempts && received < length; ++attempt) {
    size_t got = 0;
    const ReadStep step = waitAndReceive(fd, wakeFd, body.data() + received, length - received, got);
    if (step == ReadStep::Failed) {
      return -1;
    }
    if (step != ReadStep::Data) {
      body.resize(received);
      return step == ReadStep::Closed ? 0 : static_cast<int>(received);
    }
    received += got;
  }
  body.resize(received);
  return received < length ? 0 : static_cast<int>(received);
}

}  // namespace

int readLine(int fd, std::string& line, int wakeFd) {
  const int64_t start = secondsNow();
  line.clear();
  for (;;) {
    char byte = 0;
    size_t got = 0;
    const ReadStep step = waitAndReceive(fd, wakeFd, &byte, 1, got);
    if (step == ReadStep::Failed) {
      return -1;
    }
    if (step != ReadStep::Data) {
      return static_cast<int>(line.size());
    }
    if (line.size() >= kMaxHeaderLine) {
      return -1;  // longer than any header line we accept
    }
    line.push_back(byte);
    if (byte == '\n') {
      return static_cast<int>(line.size());
    }
    if (secondsNow() - start > kLineTrickleSeconds) {
      return -2;
    }
  }
}

int readResponse(int fd, HttpResponse& response, int wakeFd) {
  response = HttpResponse();
  long contentLength = 0;
  std::string line;
  for (;;) {
    const int got = readLine(fd, line, wakeFd);
    if (got < 0) {
      return got;
    }
    if (got == 0) {
      break;
    }
    // The header area keeps a terminating NUL, hence the strict bound.
    if (response.header.size() + line.size() >= kResponseAreaSize) {
      return -1;
    }
    response.header += line;
    if (line.find(kContentLengthKey) != std::string::npos) {
      contentLength = parseContentLength(line);
    }
    if (line == "\r\n") {
      break;
    }
  }
  if (contentLength < 0 || contentLength > static_cast<long>(kResponseAreaSize)) {
    return -1;
  }
  response.contentLength = static_cast<int>(contentLength);
  if (contentLength != 0) {
    const int got = readBody(fd, response.body, static_cast<size_t>(contentLength), wakeFd);
    if (got <= 0) {
      return got;
    }
    if (got < contentLength) {
      return -1;
    }
  }
  return static_cast<int>(response.header.size()) + response.contentLength;
}

}  // namespace lumvara
