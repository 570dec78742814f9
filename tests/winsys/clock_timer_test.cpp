// Window timers on a manual clock: a 30-second timer fires when the test
// moves the clock 30 seconds, at once, and never on real time alone.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/sync/clock.h"
#include "platform/winsys/message_loop.h"
#include "platform/winsys/window.h"

namespace lumvara::winsys {
namespace {

using namespace std::chrono_literals;

// A top-level window that counts WM_TIMER by id.
class TimerWindow {
 public:
  TimerWindow() {
    WindowDesc desc;
    desc.rect = {0, 0, 64, 48};
    desc.style = WS_VISIBLE;
    desc.proc = [this](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
      if (m == WM_TIMER) fired.push_back(static_cast<uintptr_t>(wp));
      return DefWindowProc(w, m, wp, lp);
    };
    handle = CreateWindow(desc);
  }
  ~TimerWindow() { DestroyWindow(handle); }

  HWND handle = nullptr;
  std::vector<uintptr_t> fired;
};

TEST(ManualClock, StandsStillUntilAdvanced) {
  EXPECT_FALSE(ClockIsManual());
  const SteadyTime before = std::chrono::steady_clock::now();
  {
    ManualClock clock;
    EXPECT_TRUE(ClockIsManual());
    const SteadyTime start = ClockNow();
    EXPECT_GE(start, before);
    std::this_thread::sleep_for(5ms);  // real time passes; the clock does not
    EXPECT_EQ(ClockNow(), start);
    clock.Advance(30s);
    EXPECT_EQ(ClockNow() - start, std::chrono::steady_clock::duration(30s));
    EXPECT_EQ(clock.Now(), ClockNow());
  }
  EXPECT_FALSE(ClockIsManual());
  EXPECT_GE(ClockNow(), before);
}

TEST(ManualClockTimers, ThirtySecondTimerFiresWhenThirtySecondsPass) {
  ManualClock clock;
  TimerWindow window;
  ASSERT_EQ(SetTimer(window.handle, 1023, 30000), 1023u);
  PumpMessages(0);
  clock.Advance(29999ms);
  PumpMessages(0);
  EXPECT_TRUE(window.fired.empty());
  clock.Advance(1ms);
  PumpMessages(0);
  EXPECT_EQ(window.fired, std::vector<uintptr_t>{1023});
  // The timer keeps its period until killed, and a late one fires once.
  clock.Advance(95s);
  PumpMessages(0);
  EXPECT_EQ(window.fired, (std::vector<uintptr_t>{1023, 1023}));
  ASSERT_TRUE(KillTimer(window.handle, 1023));
  clock.Advance(60s);
  PumpMessages(0);
  EXPECT_EQ(window.fired.size(), 2u);
}

TEST(ManualClockTimers, RestartCountsFromTheRestart) {
  ManualClock clock;
  TimerWindow window;
  SetTimer(window.handle, 1024, 30000);
  clock.Advance(20s);
  PumpMessages(0);
  SetTimer(window.handle, 1024, 30000);  // a renewal: 30 s from now
  clock.Advance(20s);
  PumpMessages(0);
  EXPECT_TRUE(window.fired.empty());
  clock.Advance(10s);
  PumpMessages(0);
  EXPECT_EQ(window.fired, std::vector<uintptr_t>{1024});
}

TEST(ManualClockTimers, RealTimeAloneFiresNothing) {
  ManualClock clock;
  TimerWindow window;
  SetTimer(window.handle, 7, 1);
  // A fixed wait here only proves that nothing fires on real time.
  const auto end = std::chrono::steady_clock::now() + 60ms;
  while (std::chrono::steady_clock::now() < end) PumpMessages(10);
  EXPECT_TRUE(window.fired.empty());
  clock.Advance(1ms);
  PumpMessages(0);
  EXPECT_EQ(window.fired, std::vector<uintptr_t>{7});
}

TEST(ManualClockTimers, WaitingLoopWakesWhenTheClockMoves) {
  ManualClock clock;
  std::atomic<bool> ready{false};
  std::atomic<bool> fired{false};
  std::thread ui([&] {
    WindowDesc desc;
    desc.rect = {0, 0, 32, 32};
    desc.style = WS_VISIBLE;
    desc.proc = [&](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
      if (m == WM_TIMER && wp == 1023) {
        fired = true;
        PostQuitMessage(0);
      }
      return DefWindowProc(w, m, wp, lp);
    };
    HWND window = CreateWindow(desc);
    SetTimer(window, 1023, 30000);
    ready = true;
    RunMessageLoop();  // blocks: nothing is due in real time
    DestroyWindow(window);
  });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!ready && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(ready);
  clock.Advance(30s);
  while (!fired && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(fired);
  if (!fired) clock.Advance(1h);  // let the loop end all the same
  ui.join();
}

TEST(SystemClockTimers, TimersStillRunOnRealTime) {
  TimerWindow window;
  SetTimer(window.handle, 3, 5);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (window.fired.empty() && std::chrono::steady_clock::now() < deadline) PumpMessages(50);
  EXPECT_EQ(window.fired.front(), 3u);
}

}  // namespace
}  // namespace lumvara::winsys
