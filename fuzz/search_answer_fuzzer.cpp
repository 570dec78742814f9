// LAN search answers: the input is one datagram sent to a started search
// context over loopback, followed by a known answer that marks the end.
// Every answer the context reports is read whole, the way a caller reads
// the record (its texts with a bound).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <random>

#include "fuzz/fuzz_check.h"
#include "net/search/lan_search_context.h"

namespace {

constexpr char kEndName[] = "end of input";

struct Collector {
  std::mutex lock;
  std::condition_variable changed;
  uint64_t endWanted[2] = {};  // the marker of the input under way
  bool endSeen = false;
  size_t answers = 0;
  // The record the input's datagram must give: its bytes after the
  // header, zero past its end.
  uint8_t expected[sizeof(SearchResultRecord)] = {};
  bool recordMatched = true;
};

void onAnswer(const SearchResultRecord* record, void* context) {
  auto& collector = *static_cast<Collector*>(context);
  // The texts are read with a bound, as callers are told to.
  FUZZ_CHECK(strnlen(record->ip, sizeof record->ip) <= sizeof record->ip);
  FUZZ_CHECK(strnlen(record->name, sizeof record->name) <= sizeof record->name);
  std::lock_guard<std::mutex> guard(collector.lock);
  if (std::strncmp(record->name, kEndName, sizeof record->name) == 0 &&
      std::memcmp(record->reserved, collector.endWanted, sizeof collector.endWanted) == 0) {
    collector.endSeen = true;
    collector.changed.notify_all();
    return;
  }
  ++collector.answers;
  // Every byte of the record is read: all of it must be there.
  collector.recordMatched = collector.recordMatched && std::memcmp(record, collector.expected, sizeof *record) == 0;
}

struct World {
  lumvara::LanSearchContext context;
  int sender = -1;
  sockaddr_in target{};
  Collector collector;
  uint8_t endAnswer[lumvara::kSearchHeaderSize + sizeof(SearchResultRecord)] = {};

  World() : context(loopbackDestination()) {
    FUZZ_CHECK(context.start());
    sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    FUZZ_CHECK(sender >= 0);
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    target.sin_port = htons(context.localPort());
    FUZZ_CHECK(context.search(onAnswer, &collector));
    endAnswer[0] = lumvara::kSearchTag0;
    endAnswer[1] = lumvara::kSearchTag1;
    endAnswer[2] = lumvara::kSearchAnswerCommand & 0xFF;
    endAnswer[3] = lumvara::kSearchAnswerCommand >> 8;
    std::memcpy(endAnswer + lumvara::kSearchHeaderSize + offsetof(SearchResultRecord, name), kEndName, sizeof kEndName);
  }

  // The search request goes to the sender's side of loopback, never out.
  static sockaddr_in loopbackDestination() {
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    destination.sin_port = htons(9);  // discard; nobody listens
    return destination;
  }

  void send(const uint8_t* data, size_t size) {
    const ssize_t sent = ::sendto(sender, data, size, 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    FUZZ_CHECK(sent == static_cast<ssize_t>(size));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World world;  // one context per process, as the library keeps
  // Loopback datagrams are at most 64 KiB; larger inputs are cut.
  const size_t datagram = size < 65000 ? size : 65000;
  // Each end marker carries 128 random bits of its own, so that an input
  // that looks like one cannot end the wait early. A counter would not do:
  // the fuzzer sees the marker compared and soon sends the next one.
  static std::mt19937_64 random{std::random_device{}()};
  const uint64_t marker[2] = {random(), random()};
  std::memcpy(world.endAnswer + lumvara::kSearchHeaderSize + offsetof(SearchResultRecord, reserved), marker,
              sizeof marker);
  {
    std::lock_guard<std::mutex> guard(world.collector.lock);
    std::memcpy(world.collector.endWanted, marker, sizeof marker);
    world.collector.endSeen = false;
    world.collector.answers = 0;
    world.collector.recordMatched = true;
    std::memset(world.collector.expected, 0, sizeof world.collector.expected);
    if (datagram > lumvara::kSearchHeaderSize) {
      std::memcpy(world.collector.expected, data + lumvara::kSearchHeaderSize,
                  std::min(datagram - lumvara::kSearchHeaderSize, sizeof world.collector.expected));
    }
  }
  world.send(data, datagram);
  world.send(world.endAnswer, sizeof world.endAnswer);
  std::unique_lock<std::mutex> guard(world.collector.lock);
  FUZZ_CHECK(
      world.collector.changed.wait_for(guard, std::chrono::seconds(10), [&] { return world.collector.endSeen; }));
  // An answer is a datagram that starts "DH" 0x0801; nothing else is one.
  const bool isAnswer = datagram >= lumvara::kSearchHeaderSize && data[0] == lumvara::kSearchTag0 &&
                        data[1] == lumvara::kSearchTag1 && data[2] == (lumvara::kSearchAnswerCommand & 0xFF) &&
                        data[3] == (lumvara::kSearchAnswerCommand >> 8);
  FUZZ_CHECK(world.collector.answers == (isAnswer ? 1u : 0u));
  FUZZ_CHECK(world.collector.recordMatched);
  return 0;
}
