// The web host's HTTP requests: Boost.Beast's request parser with the
// host's limits, fed the stream in pieces of the fuzzer's choosing the way
// reads from a socket arrive, then the checks on the parsed Host, Origin and
// Cookie fields; and the same checks on the raw bytes as header values.
//
// Input: byte 0 (low 4 bits: N cut bytes; bits 4-5: the host's port), N
// bytes giving the piece lengths in turn (1 to 256), then the stream.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <utility>  // Boost 1.74 asio uses std::exchange without it

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include "apps/webhost/security.h"
#include "fuzz/fuzz_check.h"

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;

// The host's limits.
constexpr size_t kHeaderLimit = 8 * 1024;
constexpr size_t kBodyLimit = 64 * 1024;
// Requests read from one stream; the host reads them one after another.
constexpr int kMaxRequests = 8;

constexpr uint16_t kPorts[] = {8080, 80, 65535, 1};

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view View(beast::string_view s) { return {s.data(), s.size()}; }

void CheckValues(std::string_view host, std::string_view origin, std::string_view cookie, uint16_t port) {
  using namespace lumvara::webhost;
  const std::string p = std::to_string(port);
  const std::string lower = Lower(host);
  const bool hostExpected = lower == "127.0.0.1:" + p || lower == "localhost:" + p || lower == "[::1]:" + p;
  FUZZ_CHECK(HostAllowed(host, port) == hostExpected);

  static const std::string kExtra = "https://app.example.test";
  const OriginPolicy policy(port, {kExtra});
  const bool originExpected = origin == "http://127.0.0.1:" + p || origin == "http://localhost:" + p ||
                              origin == "http://[::1]:" + p || origin == kExtra;
  FUZZ_CHECK(policy.Allowed(origin) == originExpected);

  const std::string value = CookieValue(cookie, kSessionCookie);
  if (!value.empty()) {
    // A value is one item's, trimmed, and stands in the header as it is.
    FUZZ_CHECK(value.find(';') == std::string::npos);
    FUZZ_CHECK(value.front() != ' ' && value.front() != '\t' && value.back() != ' ' && value.back() != '\t');
    FUZZ_CHECK(cookie.find(value) != std::string_view::npos);
    FUZZ_CHECK(cookie.find(kSessionCookie) != std::string_view::npos);
  }
  // The host's own cookie, behind whatever came first, is found again.
  const std::string token = "0123456789abcdef0123456789abcdef";
  std::string prefix(cookie.substr(0, cookie.find(std::string(kSessionCookie))));
  std::string withOurs = prefix + (prefix.empty() ? "" : "; ") + SessionCookieHeader(token);
  if (prefix.find(';') == std::string::npos && prefix.find('=') != std::string::npos) {
    // A first item with a value of its own ends at the ';' we added.
    FUZZ_CHECK(CookieValue(withOurs, kSessionCookie) == token);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t cuts = std::min<size_t>(data[0] & 15, size - 1);
  const uint16_t port = kPorts[(data[0] >> 4) & 3];
  const uint8_t* cutBytes = data + 1;
  const std::string_view stream(reinterpret_cast<const char*>(data + 1 + cuts), size - 1 - cuts);

  CheckValues(stream, stream, stream, port);

  std::string pending;  // read but not yet taken by a parser, like the host's buffer
  size_t at = 0;        // how much of the stream has been "received"
  size_t cut = 0;
  for (int n = 0; n < kMaxRequests; ++n) {
    http::request_parser<http::string_body> parser;
    parser.eager(true);
    parser.header_limit(kHeaderLimit);
    parser.body_limit(kBodyLimit);
    beast::error_code ec;
    for (;;) {
      // Hand the parser what is buffered until it needs more.
      while (!pending.empty() && !parser.is_done()) {
        const size_t used = parser.put(boost::asio::buffer(pending), ec);
        FUZZ_CHECK(used <= pending.size());
        pending.erase(0, used);
        if (ec == http::error::need_more) {
          ec = {};
          break;
        }
        if (ec) break;
        if (used == 0) break;
      }
      if (ec || parser.is_done()) break;
      if (at == stream.size()) {
        parser.put_eof(ec);
        break;
      }
      const size_t piece = cuts == 0 ? stream.size() - at : size_t{cutBytes[cut++ % cuts]} + 1;
      const size_t take = std::min(piece, stream.size() - at);
      pending.append(stream.substr(at, take));
      at += take;
    }
    if (ec || !parser.is_done()) {
      // A limit is answered "too large"; other errors close the connection.
      if (ec == http::error::header_limit) FUZZ_CHECK(!parser.is_header_done());
      return 0;
    }
    const http::request<http::string_body>& request = parser.get();
    FUZZ_CHECK(request.body().size() <= kBodyLimit);
    (void)websocket::is_upgrade(request);
    const std::string target(request.target());
    (void)target.substr(0, target.find('?'));
    CheckValues(View(request[http::field::host]), View(request[http::field::origin]),
                View(request[http::field::cookie]), port);
    if (!request.keep_alive()) return 0;
  }
  return 0;
}
