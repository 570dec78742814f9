#pragma once
// Reading a command response: header lines up to the empty line, then a
// body of exactly "Content-length:" bytes.
//
// Runs on the calling thread (the command worker or the record search
// thread). `wakeFd` (-1: none) ends any wait at once with -1, so that an
// owner being destroyed never waits out the camera.
//
// Results: total bytes (header + body) on success; 0 when the connection
// ended before the body was read completely; -1 on failure (select or
// receive error, body cut by silence, a header line over 1023 bytes, a header
// over 128000 bytes or a content length outside 0..128000); -2 when a peer
// trickled one header line for more than 5 s.

#include <string>

namespace lumvara {

inline constexpr size_t kMaxHeaderLine = 1023;
inline constexpr size_t kResponseAreaSize = 128000;
inline constexpr int kResponseWaitMs = 1010;
inline constexpr int kLineTrickleSeconds = 5;
inline constexpr int kBodyReadAttempts = 19;
// Matched exactly, case included: "Content-Length:" is not recognised.
inline constexpr const char* kContentLengthKey = "Content-length:";

struct HttpResponse {
  std::string header;  // every header line, CRLFs included
  std::string body;    // exactly the bytes received of the body
  int contentLength = 0;
};

// Reads one line (up to and including LF) into `line`. Returns its length,
// the bytes read so far on silence of more than ~1 s or on peer close, -1 on
// error or when the line exceeds kMaxHeaderLine, -2 when it took more than
// 5 whole seconds.
int readLine(int fd, std::string& line, int wakeFd = -1);

int readResponse(int fd, HttpResponse& response, int wakeFd = -1);

}  // namespace lumvara
