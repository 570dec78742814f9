#include "apps/camsim/http_request.h"

#include <gtest/gtest.h>

namespace {

using lumvara::camsim::ParseHttpRequest;

TEST(HttpRequestParse, ReadsStreamAndCommandStyles) {
  struct Case {
    const char* head;
    const char* cgi;
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      {"GET /livestream.cgi?user=admin&pwd=&streamid=10&audio=0&filename= HTTP/1.1\r\n\r\n", "livestream.cgi",
       "streamid", "10"},
      {"GET decoder_control.cgi?loginuse=admin&loginpas=x&command=0 HTTP/1.1\r\nHost: a\r\n\r\n", "decoder_control.cgi",
       "command", "0"},
      {"GET set_alias.cgi?loginuse=a&loginpas=b&alias=My Cam HTTP/1.1\r\n\r\n", "set_alias.cgi", "alias", "My Cam"},
      {"GET /livestream.cgi?user=a&user=b HTTP/1.0\r\n\r\n", "livestream.cgi", "user", "a"},
      {"GET /get_params.cgi HTTP/1.1\r\n\r\n", "get_params.cgi", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head);
    const auto request = ParseHttpRequest(c.head);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->cgi, c.cgi);
    EXPECT_EQ(request->value(c.key), c.value);
  }
}

TEST(HttpRequestParse, EmptyValuesAndMissingKeys) {
  const auto request = ParseHttpRequest("GET /livestream.cgi?user=admin&pwd=&filename= HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(request.has_value());
  EXPECT_TRUE(request->has("pwd"));
  EXPECT_EQ(request->value("pwd", "x"), "");
  EXPECT_FALSE(request->has("offset"));
  EXPECT_EQ(request->intValue("offset", -7), -7);
  EXPECT_EQ(request->line, "GET /livestream.cgi?user=admin&pwd=&filename= HTTP/1.1");
}

TEST(HttpRequestParse, RejectsWhatIsNotAGetRequest) {
  for (const char* head : {"POST /x.cgi HTTP/1.1\r\n\r\n", "GET /x.cgi\r\n\r\n", "GET  HTTP/1.1\r\n\r\n",
                           "GET / HTTP/1.1\r\n\r\n", "no line end"}) {
    SCOPED_TRACE(head);
    EXPECT_FALSE(ParseHttpRequest(head).has_value());
  }
}

}  // namespace
