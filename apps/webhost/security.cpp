#include "apps/webhost/security.h"

#include <sys/random.h>

#include <algorithm>
#include <cctype>

namespace lumvara::webhost {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

const char* const kLoopbackNames[] = {"127.0.0.1", "localhost", "[::1]"};

}  // namespace

bool HostAllowed(std::string_view host, uint16_t port) {
  const std::string suffix = ":" + std::to_string(port);
  if (host.size() <= suffix.size() || host.substr(host.size() - suffix.size()) != suffix) return false;
  const std::string_view name = host.substr(0, host.size() - suffix.size());
  for (const char* allowed : kLoopbackNames) {
    if (EqualsNoCase(name, allowed)) return true;
  }
  return false;
}

OriginPolicy::OriginPolicy(uint16_t port, std::vector<std::string> extra) : allowed_(std::move(extra)) {
  for (const char* name : kLoopbackNames) {
    allowed_.push_back(std::string("http://") + name + ":" + std::to_string(port));
  }
}

bool OriginPolicy::Allowed(std::string_view origin) const {
  if (origin.empty()) return false;
  return std::any_of(allowed_.begin(), allowed_.end(), [&](const std::string& a) { return a == origin; });
}

std::string RandomToken() {
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n <= 0) return {};
    got += static_cast<size_t>(n);
  }
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

bool SecretsEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

std::string CookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const size_t end = header.find(';');
    const std::string_view pair = Trim(header.substr(0, end));
    const size_t eq = pair.find('=');
    if (eq != std::string_view::npos && Trim(pair.substr(0, eq)) == name) {
      return std::string(Trim(pair.substr(eq + 1)));
    }
    if (end == std::string_view::npos) break;
    header.remove_prefix(end + 1);
  }
  return {};
}

std::string SessionCookieHeader(std::string_view session) {
  return std::string(kSessionCookie) + "=" + std::string(session) + "; Path=/; HttpOnly; SameSite=Strict";
}

}  // namespace lumvara::webhost
