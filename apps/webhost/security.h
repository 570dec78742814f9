#pragma once
// The checks that keep pages of other sites away from the host: the exact
// Host header (against DNS rebinding), the Origin allow-list for WebSocket
// upgrades, and the per-launch token that is exchanged for a session cookie.
// Pure functions over strings, so they are tested and fuzzed on their own.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumvara::webhost {

// The session cookie's name.
inline constexpr std::string_view kSessionCookie = "lumvara_session";

// True when `host` (the request's Host header) is exactly one of
// 127.0.0.1:PORT, localhost:PORT or [::1]:PORT. Names are compared without
// regard to case; nothing else (no missing port, no other name) passes.
bool HostAllowed(std::string_view host, uint16_t port);

// The origins a WebSocket upgrade may come from: the host's own (the three
// spellings of its address with this port) and the extra ones given with
// --allow-origin, compared exactly (scheme, name and port).
class OriginPolicy {
 public:
  OriginPolicy(uint16_t port, std::vector<std::string> extra);
  bool Allowed(std::string_view origin) const;

 private:
  std::vector<std::string> allowed_;
};

// A random 128-bit value as 32 lower-case hex digits, from the kernel's
// random source. Empty when the source fails.
std::string RandomToken();

// Compares two secrets in time that depends only on their lengths.
bool SecretsEqual(std::string_view a, std::string_view b);

// The value of cookie `name` in a Cookie header ("a=1; b=2"), or empty.
std::string CookieValue(std::string_view header, std::string_view name);

// The Set-Cookie value that hands the session to the page: HttpOnly,
// SameSite=Strict, path /.
std::string SessionCookieHeader(std::string_view session);

}  // namespace lumvara::webhost
