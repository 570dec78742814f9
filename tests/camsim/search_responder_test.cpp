#include "apps/camsim/search_responder.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "apps/camsim/camera_simulator.h"

namespace {

using namespace lumvara::camsim;

// A UDP socket on loopback that asks and collects answers.
class Searcher {
 public:
  Searcher() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  ~Searcher() { ::close(fd_); }

  void send(uint16_t port, const std::string& datagram) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }

  std::optional<std::string> receive(int timeout_ms = 2000) {
    pollfd fd = {fd_, POLLIN, 0};
    if (::poll(&fd, 1, timeout_ms) <= 0) return std::nullopt;
    char buffer[2000];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0) return std::nullopt;
    return std::string(buffer, static_cast<size_t>(n));
  }

 private:
  int fd_ = -1;
};

const std::string kRequest("DH\x01\x01", 4);

SearchResponderOptions Loopback() {
  SearchResponderOptions options;
  options.port = 0;
  options.camera_ip = "127.0.0.9";
  options.camera_port = 0x1F90;  // 8080
  options.camera_name = "Porch";
  return options;
}

TEST(SearchResponder, AnswersTheRequesterWithTheCameraRecord) {
  SearchResponder responder(Loopback());
  ASSERT_TRUE(responder.start());
  Searcher searcher;
  searcher.send(responder.port(), kRequest);
  const auto answer = searcher.receive();
  ASSERT_TRUE(answer.has_value());
  ASSERT_EQ(answer->size(), kSearchAnswerSize);
  EXPECT_EQ(answer->substr(0, 4), std::string("DH\x01\x08", 4));
  const char* record = answer->data() + 4;
  EXPECT_STREQ(record, "127.0.0.9");
  EXPECT_EQ(static_cast<uint8_t>(record[86]), 0x90);
  EXPECT_EQ(static_cast<uint8_t>(record[87]), 0x1F);
  EXPECT_STREQ(record + 120, "Porch");
  EXPECT_EQ(responder.requestsAnswered(), 1);
}

TEST(SearchResponder, IgnoresEverythingButASearchRequest) {
  SearchResponder responder(Loopback());
  ASSERT_TRUE(responder.start());
  Searcher searcher;
  for (const std::string& datagram : {std::string("DH\x01\x08", 4), std::string("XH\x01\x01", 4),
                                      std::string("DH\x01", 3), std::string("dh\x01\x01", 4)}) {
    searcher.send(responder.port(), datagram);
  }
  EXPECT_FALSE(searcher.receive(300).has_value());
  EXPECT_EQ(responder.requestsAnswered(), 0);
}

TEST(SearchResponder, DuplicateAndShortAnswersWhenAsked) {
  SearchResponderOptions options = Loopback();
  options.copies = 2;
  options.answer_size = 100;
  SearchResponder responder(options);
  ASSERT_TRUE(responder.start());
  Searcher searcher;
  searcher.send(responder.port(), kRequest);
  for (int i = 0; i < 2; ++i) {
    const auto answer = searcher.receive();
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->size(), 100u);
  }
  EXPECT_FALSE(searcher.receive(200).has_value());
}

TEST(SearchResponder, LongNamesAreCutInsideTheirFields) {
  SearchResponderOptions options = Loopback();
  options.camera_name = std::string(500, 'n');
  options.camera_ip = std::string(40, '1');
  const std::string answer = SearchResponder::buildAnswer(options);
  ASSERT_EQ(answer.size(), kSearchAnswerSize);
  const char* record = answer.data() + 4;
  EXPECT_EQ(std::strlen(record), 15u);
  EXPECT_EQ(record[86], 0x00 + static_cast<char>(0x90));
  EXPECT_EQ(std::strlen(record + 120), 63u);
}

TEST(SearchResponder, SimulatorAnswersWithItsOwnAddressAndPort) {
  SimulatorOptions options;
  options.search_port = 0;
  options.camera_name = "Camsim";
  CameraSimulator simulator(options);
  ASSERT_TRUE(simulator.start()) << simulator.lastError();
  ASSERT_NE(simulator.searchPort(), 0);
  Searcher searcher;
  searcher.send(simulator.searchPort(), kRequest);
  const auto answer = searcher.receive();
  ASSERT_TRUE(answer.has_value());
  ASSERT_EQ(answer->size(), kSearchAnswerSize);
  const auto* record = reinterpret_cast<const uint8_t*>(answer->data() + 4);
  EXPECT_STREQ(reinterpret_cast<const char*>(record), "127.0.0.1");
  EXPECT_EQ(record[86] | record[87] << 8, simulator.port());
  EXPECT_STREQ(reinterpret_cast<const char*>(record + 120), "Camsim");
}

}  // namespace
