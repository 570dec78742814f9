#include "apps/webhost/security.h"

#include <gtest/gtest.h>

#include <set>

namespace lumvara::webhost {
namespace {

TEST(WebHostSecurity, HostHeaderMustNameLoopbackWithOurPort) {
  struct Case {
    const char* host;
    bool allowed;
  } cases[] = {
      {"127.0.0.1:8765", true},
      {"localhost:8765", true},
      {"LocalHost:8765", true},
      {"[::1]:8765", true},
      {"127.0.0.1", false},
      {"localhost", false},
      {"127.0.0.1:8766", false},
      {"127.0.0.1:87650", false},
      {"evil.example:8765", false},
      {"127.0.0.1.evil:8765", false},
      {"localhost.evil.example:8765", false},
      {"", false},
      {":8765", false},
      {"127.0.0.2:8765", false},
      {"[::1]:8765 ", false},
      {"x127.0.0.1:8765", false},
  };
  for (const Case& c : cases) EXPECT_EQ(HostAllowed(c.host, 8765), c.allowed) << c.host;
}

TEST(WebHostSecurity, OriginsAreOurOwnAndTheAllowedOnesExactly) {
  const OriginPolicy policy(8765, {"https://cameras.example.com"});
  struct Case {
    const char* origin;
    bool allowed;
  } cases[] = {
      {"http://127.0.0.1:8765", true},
      {"http://localhost:8765", true},
      {"http://[::1]:8765", true},
      {"https://cameras.example.com", true},
      {"https://cameras.example.com:443", false},
      {"http://cameras.example.com", false},
      {"https://evil.example.com", false},
      {"http://127.0.0.1:9999", false},
      {"null", false},
      {"", false},
      {"http://127.0.0.1:8765/", false},
  };
  for (const Case& c : cases) EXPECT_EQ(policy.Allowed(c.origin), c.allowed) << c.origin;
}

TEST(WebHostSecurity, TokensAreRandom128BitHex) {
  std::set<std::string> seen;
  for (int i = 0; i < 32; ++i) {
    const std::string t = RandomToken();
    ASSERT_EQ(t.size(), 32u);
    EXPECT_EQ(t.find_first_not_of("0123456789abcdef"), std::string::npos);
    seen.insert(t);
  }
  EXPECT_EQ(seen.size(), 32u);
}

TEST(WebHostSecurity, SecretsCompareWhole) {
  EXPECT_TRUE(SecretsEqual("abc", "abc"));
  EXPECT_FALSE(SecretsEqual("abc", "abd"));
  EXPECT_FALSE(SecretsEqual("abc", "ab"));
  EXPECT_FALSE(SecretsEqual("", "a"));
}

TEST(WebHostSecurity, CookieValueFindsTheNamedCookie) {
  struct Case {
    const char* header;
    const char* value;
  } cases[] = {
      {"lumvara_session=abc", "abc"},
      {"a=1; lumvara_session=abc; b=2", "abc"},
      {"a=1;lumvara_session=abc", "abc"},
      {"xlumvara_session=abc", ""},
      {"lumvara_session_x=abc", ""},
      {"a=1; b=2", ""},
      {"", ""},
      {"lumvara_session", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(CookieValue(c.header, kSessionCookie), c.value) << c.header;
}

TEST(WebHostSecurity, SessionCookieIsHttpOnlyAndStrict) {
  const std::string header = SessionCookieHeader("abc");
  EXPECT_EQ(header.rfind("lumvara_session=abc;", 0), 0u);
  EXPECT_NE(header.find("HttpOnly"), std::string::npos);
  EXPECT_NE(header.find("SameSite=Strict"), std::string::npos);
}

}  // namespace
}  // namespace lumvara::webhost
