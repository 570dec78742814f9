#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <lumvara/search.h>

#include "net/search/lan_search_context.h"
#include "search_responder.h"

namespace lumvara {
namespace {

using Clock = std::chrono::steady_clock;

struct Answer {
  std::string ip;
  uint16_t port;
  std::string name;
  std::vector<uint8_t> record;
};

// Collects the answers a callback sees; the tests read them after waiting.
struct Answers {
  std::mutex lock;
  std::vector<Answer> seen;

  static void collect(const SearchResultRecord* record, void* context) {
    auto* self = static_cast<Answers*>(context);
    const auto* bytes = reinterpret_cast<const uint8_t*>(record);
    Answer answer{std::string(record->ip, strnlen(record->ip, sizeof record->ip)), record->port,
                  std::string(record->name, strnlen(record->name, sizeof record->name)),
                  std::vector<uint8_t>(bytes, bytes + sizeof *record)};
    std::lock_guard guard(self->lock);
    self->seen.push_back(std::move(answer));
  }

  size_t count() {
    std::lock_guard guard(lock);
    return seen.size();
  }

  bool waitFor(size_t wanted, int timeoutMs = 2000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (count() < wanted) {
      if (Clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
};

sockaddr_in destination(const char* address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  ::inet_pton(AF_INET, address, &to.sin_addr);
  return to;
}

TEST(LanSearch, ReportsEachAnswerWithItsRecord) {
  test::SearchResponder camera("127.0.0.1", 0, {test::answerDatagram("127.0.0.1", 81, "Front door")});
  LanSearchContext search(destination("127.0.0.1", camera.port()));
  ASSERT_TRUE(search.start());
  Answers answers;
  EXPECT_TRUE(search.search(Answers::collect, &answers));
  ASSERT_TRUE(answers.waitFor(1));
  std::lock_guard guard(answers.lock);
  EXPECT_EQ(answers.seen[0].ip, "127.0.0.1");
  EXPECT_EQ(answers.seen[0].port, 81);
  EXPECT_EQ(answers.seen[0].name, "Front door");
  // Bytes the system does not read arrive unchanged.
  EXPECT_EQ(answers.seen[0].record[250], static_cast<uint8_t>(4 + 250));
}

TEST(LanSearch, LoopbackBroadcastReachesAResponderOnAnyAddress) {
  test::SearchResponder camera("0.0.0.0", 0, {test::answerDatagram("127.0.0.1", 8081, "Yard")});
  LanSearchContext search(destination("127.255.255.255", camera.port()));
  ASSERT_TRUE(search.start());
  Answers answers;
  EXPECT_TRUE(search.search(Answers::collect, &answers));
  ASSERT_TRUE(answers.waitFor(1));
  EXPECT_EQ(camera.requests(), 1);
}

TEST(LanSearch, IgnoresForeignEmptyAndShortHeaderDatagrams) {
  test::SearchResponder camera("127.0.0.1", 0,
                               {std::string("DH\x01\x01", 4), std::string(), std::string("XH\x01\x08", 4),
                                std::string("DH", 2), test::answerDatagram("127.0.0.1", 81, "Real")});
  LanSearchContext search(destination("127.0.0.1", camera.port()));
  ASSERT_TRUE(search.start());
  Answers answers;
  search.search(Answers::collect, &answers);
  ASSERT_TRUE(answers.waitFor(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(answers.count(), 1u);
  // An empty datagram does not end the search.
  EXPECT_TRUE(search.receiving());
  search.search(Answers::collect, &answers);
  EXPECT_TRUE(answers.waitFor(2));
}

TEST(LanSearch, ShortAnswerReadsMissingBytesAsZero) {
  test::SearchResponder camera("127.0.0.1", 0, {test::answerDatagram("127.0.0.1", 81, "Shortname", 4 + 126)});
  LanSearchContext search(destination("127.0.0.1", camera.port()));
  ASSERT_TRUE(search.start());
  Answers answers;
  search.search(Answers::collect, &answers);
  ASSERT_TRUE(answers.waitFor(1));
  std::lock_guard guard(answers.lock);
  EXPECT_EQ(answers.seen[0].name, "Shortn");
  for (size_t i = 126; i < 320; ++i) {
    ASSERT_EQ(answers.seen[0].record[i], 0) << "byte " << i;
  }
}

TEST(LanSearch, DuplicateAnswersAreAllReported) {
  const auto answer = test::answerDatagram("127.0.0.1", 81, "Twice");
  test::SearchResponder camera("127.0.0.1", 0, {answer, answer});
  LanSearchContext search(destination("127.0.0.1", camera.port()));
  ASSERT_TRUE(search.start());
  Answers answers;
  search.search(Answers::collect, &answers);
  EXPECT_TRUE(answers.waitFor(2));
}

TEST(LanSearch, LaterAnswersGoToTheLatestCallback) {
  test::SearchResponder camera("127.0.0.1", 0, {test::answerDatagram("127.0.0.1", 81, "Cam")});
  LanSearchContext search(destination("127.0.0.1", camera.port()));
  ASSERT_TRUE(search.start());
  Answers first;
  Answers second;
  search.search(Answers::collect, &first);
  ASSERT_TRUE(first.waitFor(1));
  search.search(Answers::collect, &second);
  ASSERT_TRUE(second.waitFor(1));
  EXPECT_EQ(first.count(), 1u);
}

TEST(LanSearch, SearchWithNoCameraReportsNothingAndStopIsPrompt) {
  LanSearchContext search(destination("127.0.0.1", 9));  // discard port: nobody answers
  ASSERT_TRUE(search.start());
  Answers answers;
  EXPECT_TRUE(search.search(Answers::collect, &answers));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(answers.count(), 0u);
  const auto start = Clock::now();
  search.stop();
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 100);
  EXPECT_FALSE(search.receiving());
}

TEST(SearchDestination, DefaultsToBroadcastAndFollowsTheEnvironment) {
  ::unsetenv(kSearchAddrVariable);
  ::unsetenv(kSearchPortVariable);
  sockaddr_in to = searchDestinationFromEnvironment();
  EXPECT_EQ(ntohl(to.sin_addr.s_addr), INADDR_BROADCAST);
  EXPECT_EQ(ntohs(to.sin_port), 8600);
  ::setenv(kSearchAddrVariable, "127.0.0.1", 1);
  ::setenv(kSearchPortVariable, "18600", 1);
  to = searchDestinationFromEnvironment();
  EXPECT_EQ(ntohl(to.sin_addr.s_addr), INADDR_LOOPBACK);
  EXPECT_EQ(ntohs(to.sin_port), 18600);
  ::setenv(kSearchPortVariable, "99999", 1);  // out of range: the default port stays
  EXPECT_EQ(ntohs(searchDestinationFromEnvironment().sin_port), 8600);
  ::unsetenv(kSearchAddrVariable);
  ::unsetenv(kSearchPortVariable);
}

// The exports, against a responder named by the environment override.
TEST(BroadcastExports, LifecycleAndAnswers) {
  EXPECT_EQ(device_broadcast_unInitialization(), 1);  // without a context
  EXPECT_EQ(device_broadcast_search(Answers::collect, nullptr), 0);

  test::SearchResponder camera("127.0.0.1", 0, {test::answerDatagram("127.0.0.1", 81, "Exported")});
  ::setenv(kSearchAddrVariable, "127.0.0.1", 1);
  ::setenv(kSearchPortVariable, std::to_string(camera.port()).c_str(), 1);
  EXPECT_EQ(device_broadcast_Initialization(), 1);
  EXPECT_EQ(device_broadcast_Initialization(), 1);  // one context, one socket
  Answers answers;
  EXPECT_EQ(device_broadcast_search(Answers::collect, &answers), 1);
  EXPECT_TRUE(answers.waitFor(1));
  EXPECT_EQ(camera.requests(), 1);
  const auto start = Clock::now();
  EXPECT_EQ(device_broadcast_unInitialization(), 1);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 100);
  EXPECT_EQ(device_broadcast_search(Answers::collect, &answers), 0);
  ::unsetenv(kSearchAddrVariable);
  ::unsetenv(kSearchPortVariable);
}

struct TeardownFromCallback {
  std::atomic<int> result{-1};
  static void callback(const SearchResultRecord*, void* context) {
    static_cast<TeardownFromCallback*>(context)->result = device_broadcast_unInitialization();
  }
};

TEST(BroadcastExports, TeardownFromInsideACallbackIsRefusedNotDeadlocked) {
  test::SearchResponder camera("127.0.0.1", 0, {test::answerDatagram("127.0.0.1", 81, "Cam")});
  ::setenv(kSearchAddrVariable, "127.0.0.1", 1);
  ::setenv(kSearchPortVariable, std::to_string(camera.port()).c_str(), 1);
  ASSERT_EQ(device_broadcast_Initialization(), 1);
  TeardownFromCallback probe;
  device_broadcast_search(TeardownFromCallback::callback, &probe);
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (probe.result.load() < 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(probe.result.load(), 0);
  EXPECT_EQ(device_broadcast_unInitialization(), 1);
  ::unsetenv(kSearchAddrVariable);
  ::unsetenv(kSearchPortVariable);
}

}  // namespace
}  // namespace lumvara
