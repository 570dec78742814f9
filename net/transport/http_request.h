#pragma once
// Request composition: one request line followed by the common header block,
// sent with a single send.
//
// Requests are refused (never sent, never cut) when they would carry a line
// break from caller text (a CR or LF in user, password, host or file name
// would let a caller inject header lines) or when they exceed the sizes we
// accept: a request line of kMaxRequestLine bytes and a whole request of
// kMaxRequestBytes. The longest request the camera client builds from
// 63-byte credentials and host names and 127-byte file names fits these.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace lumvara {

class CTcpSocket;
class CmdConnection;

inline constexpr size_t kMaxRequestLine = 511;
inline constexpr size_t kMaxRequestBytes = 1023;
inline constexpr size_t kMaxCommonHeaderBlock = 1023;
inline constexpr std::string_view kRequestLineEnd = " HTTP/1.1\r\n";

// True when the text holds a CR or LF byte.
bool hasLineBreak(std::string_view text);

// The header lines every request carries, ending with the empty line that
// ends the header. `host` and `port` are the caller's own (not the resolved
// address). Empty when the host holds a line break.
std::optional<std::string> buildCommonHeaderBlock(const char* host, int port);

// printf-style request line; refused (nullopt) when longer than
// kMaxRequestLine or when it holds any line break but the final CRLF of
// " HTTP/1.1\r\n", which it must end with.
std::optional<std::string> formatRequestLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Request line + common header block, refused when longer than
// kMaxRequestBytes or when the line is not a valid request line.
std::optional<std::string> composeRequest(std::string_view requestLine, std::string_view commonHeaderBlock);

// Compose and send in one step: 1 sent, 0 refused or the send failed.
int sendRequest(CTcpSocket& connection, std::string_view requestLine, std::string_view commonHeaderBlock);
int sendRequest(CmdConnection& connection, std::string_view requestLine, std::string_view commonHeaderBlock);

}  // namespace lumvara
