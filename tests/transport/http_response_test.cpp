#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "loopback_peer.h"
#include "net/transport/cmd_connection.h"
#include "net/transport/http_response.h"
#include "net/transport/http_values.h"
#include "platform/sockets/wake_signal.h"

namespace lumvara {
namespace {

using Clock = std::chrono::steady_clock;

// One piece the peer sends, then a pause before the next.
struct Piece {
  std::string bytes;
  int pauseMs = 0;
};

constexpr int kHeaderPlusBody = -100;

struct ResponseCase {
  const char* name;
  std::vector<Piece> pieces;
  int expected;  // kHeaderPlusBody: header bytes + body length of the case
  std::string body;
  int holdMs = 100;  // how long the peer keeps the connection open after its last piece
};

const std::string kOkHeader = "HTTP/1.1 200 OK\r\nServer: cam\r\n";

int readFromPeer(const std::vector<Piece>& pieces, HttpResponse& response, int closeAfterMs = 100) {
  test::LoopbackPeer peer([&](int fd) {
    for (const auto& piece : pieces) {
      test::sendText(fd, piece.bytes);
      test::pause(piece.pauseMs);
    }
    test::pause(closeAfterMs);
  });
  CmdConnection connection;
  if (connection.connect("127.0.0.1", peer.port()) != 1) {
    return -99;
  }
  return readResponse(connection.socket(), response);
}

void PrintTo(const ResponseCase& c, std::ostream* os) { *os << c.name; }

class ResponseReader : public ::testing::TestWithParam<ResponseCase> {};

TEST_P(ResponseReader, ReadsHeaderAndBodyOrFails) {
  const auto& c = GetParam();
  HttpResponse response;
  const int result = readFromPeer(c.pieces, response, c.holdMs);
  if (c.expected == kHeaderPlusBody) {
    EXPECT_EQ(result, static_cast<int>(response.header.size() + c.body.size()));
  } else {
    EXPECT_EQ(result, c.expected);
  }
  EXPECT_EQ(response.body, c.body);
}

const ResponseCase kResponses[] = {
    {"WholeResponse", {{kOkHeader + "Content-length: 10\r\n\r\nport=81;ab"}}, kHeaderPlusBody, "port=81;ab"},
    {"CapitalLengthIsNotRecognised", {{kOkHeader + "Content-Length: 5\r\n\r\nabcde"}}, kHeaderPlusBody, ""},
    {"SplitBodyStoredContiguously",
     {{kOkHeader + "Content-length: 12\r\n\r\nfirst", 60}, {"-sec", 60}, {"ond"}},
     kHeaderPlusBody,
     "first-second"},
    {"ZeroLengthGivesHeaderBytes", {{kOkHeader + "Content-length: 0\r\n\r\n"}}, kHeaderPlusBody, ""},
    {"LengthWithBlanksAndSplitHeader",
     {{"HTTP/1.1 200 OK\r\nContent-le", 50}, {"ngth:   3\r\n\r\nxyz"}},
     kHeaderPlusBody,
     "xyz"},
    // Silence of over a second cuts the body short: a failure.
    {"SilenceCutsTheBody", {{kOkHeader + "Content-length: 10\r\n\r\n01234"}}, -1, "01234", 1600},
    {"ContentLengthAboveTheBodyAreaIsRefused", {{kOkHeader + "Content-length: 128001\r\n\r\nabc"}}, -1, ""},
    {"HugeContentLengthIsRefused", {{kOkHeader + "Content-length: 99999999999999999999\r\n\r\nabc"}}, -1, ""},
    {"NegativeContentLengthIsRefused", {{kOkHeader + "Content-length: -5\r\n\r\nabc"}}, -1, ""},
    {"HeaderLineOver1023BytesIsRefused", {{"X-Long: " + std::string(1100, 'x') + "\r\n\r\n"}}, -1, ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, ResponseReader, ::testing::ValuesIn(kResponses),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST(ResponseReader, PeerClosingBeforeTheBodyIsCompleteGivesZero) {
  HttpResponse response;
  EXPECT_EQ(readFromPeer({{kOkHeader + "Content-length: 10\r\n\r\n0123"}}, response, 0), 0);
}

TEST(ResponseReader, HeaderLineOfExactly1023BytesIsAccepted) {
  HttpResponse response;
  const std::string line = "X-Long: " + std::string(1023 - 10, 'x') + "\r\n";
  ASSERT_EQ(line.size(), 1023u);
  EXPECT_GT(readFromPeer({{line + "Content-length: 2\r\n\r\nok"}}, response), 0);
  EXPECT_EQ(response.body, "ok");
}

TEST(ResponseReader, HeaderOver128000BytesIsRefused) {
  std::string header = kOkHeader;
  while (header.size() < 130000) {
    header += "X-Filler: " + std::string(1000, 'f') + "\r\n";
  }
  HttpResponse response;
  EXPECT_EQ(readFromPeer({{header + "\r\n"}}, response), -1);
  EXPECT_LT(response.header.size(), kResponseAreaSize);
}

TEST(ResponseReader, TricklingPeerEndsTheLineAfterFiveSeconds) {
  std::vector<Piece> pieces;
  for (int i = 0; i < 14; ++i) {
    pieces.push_back({"x", 500});
  }
  HttpResponse response;
  const auto start = Clock::now();
  EXPECT_EQ(readFromPeer(pieces, response, 0), -2);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count(), 8);
}

TEST(ResponseReader, WakeSignalEndsTheWaitAtOnce) {
  test::LoopbackPeer peer([](int fd) { test::readUntilQuiet(fd, 2000); });
  CmdConnection connection;
  ASSERT_EQ(connection.connect("127.0.0.1", peer.port()), 1);
  WakeSignal stop;
  std::thread stopper([&] {
    test::pause(100);
    stop.set();
  });
  HttpResponse response;
  const auto start = Clock::now();
  EXPECT_EQ(readResponse(connection.socket(), response, stop.fd()), -1);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 800);
  stopper.join();
  connection.close();
}

TEST(ResponseReader, InterruptFromAnotherThreadEndsTheRead) {
  test::LoopbackPeer peer([](int fd) { test::readUntilQuiet(fd, 3000); });
  CmdConnection connection;
  ASSERT_EQ(connection.connect("127.0.0.1", peer.port()), 1);
  std::thread stopper([&] {
    test::pause(100);
    connection.interrupt();
  });
  HttpResponse response;
  const auto start = Clock::now();
  EXPECT_EQ(readResponse(connection.socket(), response), 0);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 800);
  stopper.join();
  connection.close();
}

struct IntCase {
  const char* body;
  const char* key;
  int found;
  int value;
};

TEST(ValueReaders, IntegerValues) {
  const IntCase cases[] = {
      {"var port=81;", "port=", 1, 81},
      {"var port=;", "port=", 1, 0},
      {"var port=abc;", "port=", 1, 0},
      {"var httpport=8080;var port=81;", "port=", 1, 8080},  // first occurrence, even inside a longer key
      {"var port=-3;", "port=", 1, -3},
      {"var port=81", "port=", 1, 81},
      {"var other=1;", "port=", 0, 1234},
  };
  for (const auto& c : cases) {
    int value = 1234;
    EXPECT_EQ(intValue(c.key, c.body, value), c.found) << c.body;
    EXPECT_EQ(value, c.value) << c.body;
  }
}

struct StringCase {
  const char* body;
  int found;
  const char* value;
};

TEST(ValueReaders, StringValues) {
  const StringCase cases[] = {
      {"var mask=\"255.255.255.0\";", 1, "255.255.255.0"},
      {"var mask=255.255.255.0;", 1, ""},  // not quoted: destination untouched, key still found
      {"var mask=\"\";", 1, ""},
      {"var mask=\"unterminated;", 1, ""},
      {"var gateway=\"1.1.1.1\";", 0, ""},
  };
  for (const auto& c : cases) {
    char dest[64] = {};
    EXPECT_EQ(stringValue("mask=", c.body, dest, sizeof dest), c.found) << c.body;
    EXPECT_STREQ(dest, c.value) << c.body;
  }
}

TEST(ValueReaders, StringValueIsCutToItsField) {
  const std::string body = "var alias=\"" + std::string(100, 'a') + "\";";
  char dest[64];
  std::memset(dest, 'Z', sizeof dest);
  EXPECT_EQ(stringValue("alias=", body, dest, sizeof dest), 1);
  EXPECT_EQ(std::string(dest), std::string(63, 'a'));
}

TEST(ValueReaders, ResultValue) {
  EXPECT_EQ(resultValue("var result=\"ok\";"), 0);
  EXPECT_EQ(resultValue("var result=\"Auth Failed\";"), -1);
  EXPECT_EQ(resultValue("var result=ok;"), -1);
  EXPECT_EQ(resultValue("var port=81;"), -1);
  EXPECT_EQ(resultValue(""), -1);
}

}  // namespace
}  // namespace lumvara
