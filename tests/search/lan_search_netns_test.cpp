// LAN search across a real broadcast: a client namespace and a camera
// namespace joined by a veth pair that this test creates and removes. The
// broadcast never leaves the pair. Needs root; skipped otherwise.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/search/lan_search_context.h"
#include "search_responder.h"

namespace lumvara {
namespace {

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Two namespaces and the veth pair between them; addresses exist only inside.
class NamespacePair {
 public:
  NamespacePair() {
    const std::string tag = std::to_string(::getpid() % 100000);
    client_ = "lvs-cli-" + tag;
    camera_ = "lvs-cam-" + tag;
    const std::string clientLink = "lvsc" + tag;
    const std::string cameraLink = "lvsd" + tag;
    ready_ = run("ip netns add " + client_) && run("ip netns add " + camera_) &&
             run("ip link add " + clientLink + " netns " + client_ + " type veth peer name " + cameraLink + " netns " +
                 camera_) &&
             run("ip -n " + client_ + " addr add 10.213.7.1/24 dev " + clientLink) &&
             run("ip -n " + camera_ + " addr add 10.213.7.2/24 dev " + cameraLink) &&
             run("ip -n " + client_ + " link set " + clientLink + " up") &&
             run("ip -n " + camera_ + " link set " + cameraLink + " up") &&
             run("ip -n " + client_ + " route add default dev " + clientLink) &&
             run("ip -n " + camera_ + " route add default dev " + cameraLink);
  }
  ~NamespacePair() {
    // Deleting a namespace removes the veth end inside it, and with it the pair.
    run("ip netns del " + client_);
    run("ip netns del " + camera_);
  }
  bool ready() const { return ready_; }
  const std::string& client() const { return client_; }
  const std::string& camera() const { return camera_; }

 private:
  std::string client_;
  std::string camera_;
  bool ready_ = false;
};

// Runs `make` on a thread that has entered the namespace, so that every
// socket it creates belongs there; sockets keep their namespace afterwards.
template <typename Make>
auto makeInNamespace(const std::string& name, Make make) -> decltype(make()) {
  decltype(make()) made;
  std::thread worker([&] {
    const int fd = ::open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::setns(fd, CLONE_NEWNET), 0);
    ::close(fd);
    made = make();
  });
  worker.join();
  return made;
}

struct Collected {
  std::mutex lock;
  std::vector<std::vector<uint8_t>> records;
  static void collect(const SearchResultRecord* record, void* context) {
    auto* self = static_cast<Collected*>(context);
    const auto* bytes = reinterpret_cast<const uint8_t*>(record);
    std::lock_guard guard(self->lock);
    self->records.emplace_back(bytes, bytes + sizeof *record);
  }
};

TEST(LanSearchNamespaces, BroadcastFindsEveryCameraOnTheLink) {
  if (::geteuid() != 0 || !run("ip netns list")) {
    GTEST_SKIP() << "needs root and iproute2 to create a network-namespace pair for the broadcast";
  }
  NamespacePair pair;
  ASSERT_TRUE(pair.ready()) << "could not build the namespace pair";

  using Responder = std::unique_ptr<test::SearchResponder>;
  // Two cameras on the broadcast port; the second answers twice; a third
  // socket sends another client's request and a short answer.
  auto first = makeInNamespace(pair.camera(), [] {
    return Responder(
        new test::SearchResponder("0.0.0.0", kSearchPort, {test::answerDatagram("10.213.7.2", 81, "Camera one")}));
  });
  const auto twice = test::answerDatagram("10.213.7.2", 82, "Camera two");
  auto second = makeInNamespace(pair.camera(), [&] {
    return Responder(new test::SearchResponder("0.0.0.0", kSearchPort, {twice, twice}));
  });
  auto odd = makeInNamespace(pair.camera(), [] {
    return Responder(new test::SearchResponder(
        "0.0.0.0", kSearchPort,
        {std::string("DH\x01\x01", 4), test::answerDatagram("10.213.7.2", 83, "Short", 4 + 124)}));
  });
  ASSERT_TRUE(first->bound() && second->bound() && odd->bound());

  sockaddr_in broadcast{};
  broadcast.sin_family = AF_INET;
  broadcast.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  broadcast.sin_port = htons(kSearchPort);
  auto search = makeInNamespace(pair.client(), [&] {
    auto context = std::make_unique<LanSearchContext>(broadcast);
    return context->start() ? std::move(context) : nullptr;
  });
  ASSERT_TRUE(search);

  Collected collected;
  ASSERT_TRUE(search->search(Collected::collect, &collected));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (;;) {
    {
      std::lock_guard guard(collected.lock);
      if (collected.records.size() >= 4) break;
    }
    if (std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // nothing more may come
  search->stop();

  std::lock_guard guard(collected.lock);
  ASSERT_EQ(collected.records.size(), 4u) << "two cameras, one answering twice, one short answer";
  int ports[4] = {};
  for (size_t i = 0; i < 4; ++i) {
    const auto& record = collected.records[i];
    ports[i] = record[86] | (record[87] << 8);
    EXPECT_STREQ(reinterpret_cast<const char*>(record.data()), "10.213.7.2");
    if (ports[i] == 83) {
      for (size_t b = 124; b < 320; ++b) ASSERT_EQ(record[b], 0) << "byte " << b;
    }
  }
  std::sort(ports, ports + 4);
  EXPECT_EQ(std::vector<int>(ports, ports + 4), (std::vector<int>{81, 82, 82, 83}));
}

}  // namespace
}  // namespace lumvara
