#include <gtest/gtest.h>

#include "loopback_peer.h"
#include "net/transport/cmd_connection.h"
#include "net/transport/http_request.h"

namespace lumvara {
namespace {

const std::string kFirstFiveLines =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-excel, "
    "application/vnd.ms-powerpoint, application/msword, application/QVOD, */*\r\n"
    "Accept-Language: zh-cn\r\n"
    "UA-CPU: x86\r\n"
    "Accept-Encoding: gzip,deflate\r\n"
    "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; windows NT 5.1; .NET CLR 1.1.4222; .NET CLR 2.0.50727)\r\n";

TEST(CommonHeaderBlock, IsTheFixedLinesThenHostAndKeepAlive) {
  ASSERT_EQ(kFirstFiveLines.size(), 332u);
  const auto block = buildCommonHeaderBlock("cam.example", 8081);
  ASSERT_TRUE(block);
  EXPECT_EQ(*block, kFirstFiveLines + "Host: cam.example:8081\r\nConnection: Keep-Alive\r\n\r\n");
}

TEST(RequestComposition, SendsRequestLineAndCommonBlockExactlyOnTheWire) {
  std::string wire;
  std::string expected;
  {
    test::LoopbackPeer peer([&](int fd) { wire = test::readUntilQuiet(fd, 300); });
    CmdConnection connection;
    ASSERT_EQ(connection.connect("127.0.0.1", peer.port()), 1);
    const auto block = buildCommonHeaderBlock("127.0.0.1", peer.port());
    ASSERT_TRUE(block);
    const auto line = formatRequestLine("GET decoder_control.cgi?loginuse=%s&loginpas=%s&command=%d HTTP/1.1\r\n",
                                        "admin", "secret", 0);
    ASSERT_TRUE(line);
    EXPECT_EQ(sendRequest(connection, *line, *block), 1);
    connection.close();
    expected = "GET decoder_control.cgi?loginuse=admin&loginpas=secret&command=0 HTTP/1.1\r\n" + kFirstFiveLines +
               "Host: 127.0.0.1:" + std::to_string(peer.port()) + "\r\nConnection: Keep-Alive\r\n\r\n";
  }
  EXPECT_EQ(wire, expected);
  const std::string line = "GET decoder_control.cgi?loginuse=admin&loginpas=secret&command=0 HTTP/1.1\r\n";
  EXPECT_EQ(wire.substr(0, line.size()), line);
  EXPECT_EQ(wire.substr(line.size(), 332), kFirstFiveLines);
  EXPECT_EQ(wire.substr(line.size() + 332, 6), "Host: ");
  EXPECT_EQ(wire.substr(wire.size() - 26), "Connection: Keep-Alive\r\n\r\n");
}

// The step of request building that must refuse a case; the steps before
// it must accept it.
enum class RefusedBy { HeaderBlock, RequestLine, Composition };

struct RefusalCase {
  const char* name;
  std::string user;
  std::string host;
  size_t padding;  // extra characters in the request line
  RefusedBy refusedBy;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class RequestRefusal : public ::testing::TestWithParam<RefusalCase> {};

// Caller text with a line break would inject header lines; over-long requests
// do not fit what we accept. Neither is cut or sent.
TEST_P(RequestRefusal, IsRefusedNotCut) {
  const auto& c = GetParam();
  const auto block = buildCommonHeaderBlock(c.host.c_str(), 81);
  if (c.refusedBy == RefusedBy::HeaderBlock) {
    EXPECT_FALSE(block) << *block;
    return;
  }
  ASSERT_TRUE(block) << "the header block is accepted";
  const std::string pad(c.padding, 'p');
  const auto line = formatRequestLine("GET /livestream.cgi?user=%s&pwd=%s&streamid=0&audio=0&filename=%s HTTP/1.1\r\n",
                                      c.user.c_str(), "pwd", pad.c_str());
  if (c.refusedBy == RefusedBy::RequestLine) {
    EXPECT_FALSE(line) << *line;
    return;
  }
  ASSERT_TRUE(line) << "the request line is accepted";
  EXPECT_FALSE(composeRequest(*line, *block)) << *line;
}

const RefusalCase kRefusals[] = {
    {"CarriageReturnInUser", "ad\rmin", "127.0.0.1", 0, RefusedBy::RequestLine},
    {"LineFeedInUser", "admin\nX-Evil: 1", "127.0.0.1", 0, RefusedBy::RequestLine},
    {"LineFeedInHost", "admin", "cam\n", 0, RefusedBy::HeaderBlock},
    {"CarriageReturnInHost", "admin", "cam\r", 0, RefusedBy::HeaderBlock},
    {"RequestLineOverLimit", "admin", "127.0.0.1", 500, RefusedBy::RequestLine},
    {"HeaderBlockOverLimit", "admin", std::string(700, 'h'), 0, RefusedBy::HeaderBlock},
    {"WholeRequestOverLimit", "admin", std::string(600, 'h'), 0, RefusedBy::Composition},
    {"WholeRequestOverLimitByLine", "admin", std::string(300, 'h'), 400, RefusedBy::Composition},
};

INSTANTIATE_TEST_SUITE_P(Cases, RequestRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST(RequestComposition, AcceptsTheLongestRequestFromFullFields) {
  const std::string user(63, 'u');
  const std::string pwd(63, 'p');
  const std::string host(63, 'h');
  const std::string file(127, 'f');
  const auto block = buildCommonHeaderBlock(host.c_str(), 65535);
  ASSERT_TRUE(block);
  const auto line =
      formatRequestLine("GET /livestream.cgi?user=%s&pwd=%s&streamid=%d&filename=%s&offset=%d HTTP/1.1\r\n",
                        user.c_str(), pwd.c_str(), -2147483647, file.c_str(), -2147483647);
  ASSERT_TRUE(line);
  const auto request = composeRequest(*line, *block);
  ASSERT_TRUE(request);
  EXPECT_LE(request->size(), kMaxRequestBytes);
}

TEST(RequestComposition, RequestLineMustEndWithHttpVersionAndOneLineBreak) {
  EXPECT_FALSE(formatRequestLine("GET /x.cgi HTTP/1.0\r\n"));
  EXPECT_FALSE(formatRequestLine("GET /x.cgi\r\n HTTP/1.1\r\n"));
  EXPECT_TRUE(formatRequestLine("GET /x.cgi HTTP/1.1\r\n"));
}

}  // namespace
}  // namespace lumvara
