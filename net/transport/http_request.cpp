#include "net/transport/http_request.h"

#include <cstdarg>
#include <cstdio>

#include "net/transport/cmd_connection.h"
#include "net/transport/tcp_socket.h"

namespace lumvara {

namespace {

// The fixed lines of the common header block (332 bytes together).
constexpr std::string_view kCommonHeaderLines =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-excel, "
    "application/vnd.ms-powerpoint, application/msword, application/QVOD, */*\r\n"
    "Accept-Language: zh-cn\r\n"
    "UA-CPU: x86\r\n"
    "Accept-Encoding: gzip,deflate\r\n"
    "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; windows NT 5.1; .NET CLR 1.1.4222; .NET CLR 2.0.50727)\r\n";

bool isValidRequestLine(std::string_view line) {
  if (line.size() > kMaxRequestLine || line.size() < kRequestLineEnd.size()) {
    return false;
  }
  if (line.substr(line.size() - kRequestLineEnd.size()) != kRequestLineEnd) {
    return false;
  }
  return !hasLineBreak(line.substr(0, line.size() - 2));
}

}  // namespace

bool hasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

std::optional<std::string> buildCommonHeaderBlock(const char* host, int port) {
  if (host == nullptr || hasLineBreak(host)) {
    return std::nullopt;
  }
  char hostLines[kMaxCommonHeaderBlock + 1];
  const int size =
      std::snprintf(hostLines, sizeof hostLines, "Host: %s:%d\r\nConnection: Keep-Alive\r\n\r\n", host, port);
  if (size < 0 || static_cast<size_t>(size) + kCommonHeaderLines.size() > kMaxCommonHeaderBlock) {
    return std::nullopt;
  }
  std::string block(kCommonHeaderLines);
  block.append(hostLines, static_cast<size_t>(size));
  return block;
}

std::optional<std::string> formatRequestLine(const char* format, ...) {
  char line[kMaxRequestLine + 1];
  va_list args;
  va_start(args, format);
  const int size = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (size < 0 || static_cast<size_t>(size) > kMaxRequestLine) {
    return std::nullopt;
  }
  std::string_view text(line, static_cast<size_t>(size));
  if (!isValidRequestLine(text)) {
    return std::nullopt;
  }
  return std::string(text);
}

std::optional<std::string> composeRequest(std::string_view requestLine, std::string_view commonHeaderBlock) {
  if (!isValidRequestLine(requestLine) || requestLine.size() + commonHeaderBlock.size() > kMaxRequestBytes) {
    return std::nullopt;
  }
  std::string request;
  request.reserve(requestLine.size() + commonHeaderBlock.size());
  request.append(requestLine);
  request.append(commonHeaderBlock);
  return request;
}

int sendRequest(CTcpSocket& connection, std::string_view requestLine, std::string_view commonHeaderBlock) {
  const auto request = composeRequest(requestLine, commonHeaderBlock);
  if (!request) {
    return 0;
  }
  return connection.send(request->data(), request->size()) ? 1 : 0;
}

int sendRequest(CmdConnection& connection, std::string_view requestLine, std::string_view commonHeaderBlock) {
  const auto request = composeRequest(requestLine, commonHeaderBlock);
  if (!request) {
    return 0;
  }
  return connection.send(request->data(), request->size()) ? 1 : 0;
}

}  // namespace lumvara
