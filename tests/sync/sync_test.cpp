#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/sync/event.h"
#include "platform/sync/periodic_timer.h"
#include "platform/sync/tick.h"
#include "wait_until.h"

namespace lumvara {
namespace {

using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

TEST(Event, AutoResetReleasesOneWaitAndClears) {
  Event event(Event::Reset::Auto);
  event.set();
  EXPECT_TRUE(event.wait(0));
  EXPECT_FALSE(event.wait(0));
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
  Event event(Event::Reset::Manual, true);
  EXPECT_TRUE(event.wait(0));
  EXPECT_TRUE(event.tryWait());
  event.reset();
  EXPECT_FALSE(event.tryWait());
}

TEST(Event, TimedWaitTimesOutAfterItsLimit) {
  Event event;
  const auto start = Clock::now();
  EXPECT_FALSE(event.wait(50));
  EXPECT_GE(msSince(start), 45);
}

TEST(Event, SetFromAnotherThreadWakesAWaiterAtOnce) {
  Event event;
  const auto start = Clock::now();
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    event.set();
  });
  EXPECT_TRUE(event.wait(5000));
  EXPECT_LT(msSince(start), 2000);
  setter.join();
}

TEST(Tick, AdvancesInMillisecondsAndComparesAcrossTheWrap) {
  const uint32_t start = tickCount();
  sleepMs(30);
  const uint32_t elapsed = ticksSince(start);
  EXPECT_GE(elapsed, 29u);
  EXPECT_LT(elapsed, 5000u);
  // Unsigned subtraction measures across the 2^32 wrap.
  const uint32_t beforeWrap = 0xFFFFFFF0u;
  const uint32_t afterWrap = 0x10u;
  EXPECT_EQ(afterWrap - beforeWrap, 0x20u);
}

TEST(PeriodicTimer, NeverRunsAheadOfTheClockAndStopsForGood) {
  std::atomic<int> ticks{0};
  PeriodicTimer timer;
  const auto started = Clock::now();
  timer.start(10, [&] { ++ticks; });
  ASSERT_TRUE(test::waitUntil([&] { return ticks.load() >= 20; }, std::chrono::seconds(10)));
  timer.stop();
  const long due = msSince(started) / 10;
  const int counted = ticks.load();
  // Ticks are scheduled against the clock: a late wake-up catches up, but
  // never runs ahead of the time that has passed.
  EXPECT_LE(counted, due + 1);
  EXPECT_FALSE(timer.running());
  // Once stop has returned no tick runs any more.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(ticks.load(), counted);
}

}  // namespace
}  // namespace lumvara
