// Message queues: posting across threads, sending, timers, paints, input.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/winsys/window_canvas.h"
#include "platform/winsys/message_loop.h"
#include "platform/winsys/presenter.h"
#include "platform/winsys/window.h"

namespace lumvara::winsys {
namespace {

using namespace std::chrono_literals;

// A top-level window whose procedure records every message it gets.
class RecordingWindow {
 public:
  explicit RecordingWindow(Rect rect = {0, 0, 320, 240}, uint32_t style = WS_VISIBLE) {
    WindowDesc desc;
    desc.rect = rect;
    desc.style = style;
    desc.proc = [this](HWND w, UINT m, WPARAM wp, LPARAM lp) { return Record(w, m, wp, lp); };
    handle = CreateWindow(desc);
  }
  ~RecordingWindow() { DestroyWindow(handle); }

  HWND Child(Rect rect, uint32_t style = WS_CHILD | WS_VISIBLE) {
    WindowDesc desc;
    desc.parent = handle;
    desc.rect = rect;
    desc.style = style;
    desc.proc = [this](HWND w, UINT m, WPARAM wp, LPARAM lp) { return Record(w, m, wp, lp); };
    return CreateWindow(desc);
  }

  std::vector<MSG> Of(UINT message) const {
    std::vector<MSG> out;
    for (const MSG& m : log) {
      if (m.message == message) out.push_back(m);
    }
    return out;
  }

  HWND handle = nullptr;
  std::vector<MSG> log;
  std::vector<Rect> paints;
  bool validate_paint = true;

 private:
  LRESULT Record(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    log.push_back(MSG{w, m, wp, lp});
    if (m == WM_PAINT && validate_paint) {
      PAINTSTRUCT ps;
      BeginPaint(w, &ps);
      paints.push_back(ps.rcPaint);
      EndPaint(w, &ps);
      return 0;
    }
    return DefWindowProc(w, m, wp, lp);
  }
};

// Pumps until `done` or a time limit passes.
template <typename Pred>
bool PumpUntil(Pred done, std::chrono::milliseconds limit = 2000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    PumpMessages(5);
  }
  return true;
}

TEST(MessageLoop, PostsFromOtherThreadsArriveInOrder) {
  RecordingWindow window;
  PumpMessages(0);
  window.log.clear();
  constexpr int kPerThread = 2000;
  auto poster = [&](WPARAM thread) {
    for (int i = 0; i < kPerThread; ++i) {
      ASSERT_TRUE(PostMessage(window.handle, WM_USER + 1, thread, i));
    }
  };
  std::thread a(poster, 1), b(poster, 2);
  a.join();
  b.join();
  ASSERT_TRUE(PumpUntil([&] { return window.Of(WM_USER + 1).size() == 2 * kPerThread; }));
  LPARAM next[3] = {0, 0, 0};
  for (const MSG& m : window.Of(WM_USER + 1)) {
    EXPECT_EQ(m.lParam, next[m.wParam]) << "thread " << m.wParam;
    next[m.wParam] = m.lParam + 1;
  }
}

TEST(MessageLoop, SendFromAnotherThreadRunsOnWindowThread) {
  std::thread::id window_thread = std::this_thread::get_id();
  std::atomic<bool> ran_on_window_thread{false};
  WindowDesc desc;
  desc.rect = {0, 0, 10, 10};
  desc.proc = [&](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == WM_USER) {
      ran_on_window_thread = std::this_thread::get_id() == window_thread;
      return static_cast<LRESULT>(wp + lp);
    }
    return DefWindowProc(w, m, wp, lp);
  };
  HWND window = CreateWindow(desc);
  std::atomic<LRESULT> result{0};
  std::atomic<bool> done{false};
  std::thread sender([&] {
    result = SendMessage(window, WM_USER, 40, 2);
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  sender.join();
  EXPECT_EQ(result.load(), 42);
  EXPECT_TRUE(ran_on_window_thread);
  DestroyWindow(window);
}

TEST(MessageLoop, TimerFiresUntilKilled) {
  RecordingWindow window;
  ASSERT_EQ(SetTimer(window.handle, 1023, 10), 1023u);
  ASSERT_TRUE(PumpUntil([&] { return window.Of(WM_TIMER).size() >= 3; }));
  for (const MSG& m : window.Of(WM_TIMER)) EXPECT_EQ(m.wParam, 1023u);
  ASSERT_TRUE(KillTimer(window.handle, 1023));
  EXPECT_FALSE(KillTimer(window.handle, 1023));
  const size_t fired = window.Of(WM_TIMER).size();
  const auto end = std::chrono::steady_clock::now() + 60ms;
  while (std::chrono::steady_clock::now() < end) PumpMessages(5);
  EXPECT_EQ(window.Of(WM_TIMER).size(), fired);
}

TEST(MessageLoop, RestartingATimerPostponesIt) {
  RecordingWindow window;
  SetTimer(window.handle, 7, 150);
  const auto start = std::chrono::steady_clock::now();
  // Restarted before it was due: it now fires a whole period after the restart.
  std::this_thread::sleep_for(100ms);
  SetTimer(window.handle, 7, 150);
  ASSERT_TRUE(PumpUntil([&] { return !window.Of(WM_TIMER).empty(); }));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 240ms);
}

TEST(MessageLoop, KilledTimerThatWasDueIsNotDelivered) {
  RecordingWindow window;
  SetTimer(window.handle, 5, 1);
  std::this_thread::sleep_for(20ms);  // due, not yet retrieved
  KillTimer(window.handle, 5);
  PumpMessages(20);
  EXPECT_TRUE(window.Of(WM_TIMER).empty());
}

TEST(MessageLoop, PaintsCoalesceIntoOneWithTheUnion) {
  RecordingWindow window;
  PumpMessages(0);
  window.paints.clear();
  Rect a{10, 10, 20, 20}, b{50, 5, 60, 15};
  for (int i = 0; i < 5; ++i) {
    InvalidateRect(window.handle, &a, false);
    InvalidateRect(window.handle, &b, false);
  }
  PostMessage(window.handle, WM_USER, 0, 0);
  PumpMessages(10);
  ASSERT_EQ(window.paints.size(), 1u);
  EXPECT_EQ(window.paints[0], (Rect{10, 5, 60, 20}));
  // Posted messages go before the paint.
  ASSERT_GE(window.log.size(), 2u);
  EXPECT_EQ(window.log[window.log.size() - 2].message, WM_USER);
  PumpMessages(10);
  EXPECT_EQ(window.paints.size(), 1u);
}

TEST(MessageLoop, HiddenWindowIsNotPainted) {
  RecordingWindow window({0, 0, 100, 100});
  HWND child = window.Child({0, 0, 50, 50}, WS_CHILD);
  PumpMessages(0);
  window.paints.clear();
  window.log.clear();
  InvalidateRect(child, nullptr, true);
  PumpMessages(10);
  for (const MSG& m : window.log) EXPECT_NE(m.hwnd, child);
}

TEST(MessageLoop, InvalidatingParentReachesChildrenUnlessItClipsThem) {
  for (uint32_t clip : {0u, WS_CLIPCHILDREN}) {
    RecordingWindow window({0, 0, 100, 100}, WS_VISIBLE | clip);
    HWND child = window.Child({10, 10, 50, 50});
    PumpMessages(0);
    window.log.clear();
    Rect corner{0, 0, 20, 20};
    InvalidateRect(window.handle, &corner, false);
    PumpMessages(10);
    bool child_painted = false;
    for (const MSG& m : window.Of(WM_PAINT)) child_painted |= m.hwnd == child;
    EXPECT_EQ(child_painted, clip == 0) << "style " << clip;
  }
}

TEST(MessageLoop, ShowingOrMovingAWindowRepaintsItsChildrenToo) {
  RecordingWindow window({0, 0, 100, 100}, WS_VISIBLE | WS_CLIPCHILDREN);
  HWND dialog = window.Child({0, 0, 80, 80});
  HWND video = window.Child({1, 1, 79, 79});
  SetParent(video, dialog);
  PumpMessages(0);
  auto painted = [&](HWND w) {
    for (const MSG& m : window.Of(WM_PAINT)) {
      if (m.hwnd == w) return true;
    }
    return false;
  };
  ShowWindow(dialog, SW_HIDE);
  PumpMessages(0);
  window.log.clear();
  ShowWindow(dialog, SW_SHOW);
  PumpMessages(10);
  EXPECT_TRUE(painted(video));
  window.log.clear();
  MoveWindow(dialog, 5, 5, 80, 80, true);
  PumpMessages(10);
  EXPECT_TRUE(painted(video));
}

TEST(MessageLoop, BeginPaintErasesWithBackgroundWhenAsked) {
  WindowDesc desc;
  desc.rect = {0, 0, 4, 4};
  desc.background = 0x102030;
  HWND top = CreateWindow(desc);
  PumpMessages(10);  // first paint erases with the background
  std::vector<uint8_t> px;
  int w = 0, h = 0;
  ASSERT_TRUE(ReadPresentedPixels(top, &px, &w, &h));
  ASSERT_EQ(px.size(), 4u * 4 * 4);
  EXPECT_EQ(px[0], 0x30);  // blue
  EXPECT_EQ(px[1], 0x20);  // green
  EXPECT_EQ(px[2], 0x10);  // red
  DestroyWindow(top);
}

TEST(MessageLoop, MoveSendsSizeOnOwnThreadAndPostsFromOthers) {
  RecordingWindow window;
  HWND child = window.Child({0, 0, 10, 10});
  window.log.clear();
  MoveWindow(child, 1, 1, 30, 20, true);
  auto sizes = window.Of(WM_SIZE);
  ASSERT_EQ(sizes.size(), 1u);  // sent at once
  EXPECT_EQ(PointParamX(sizes[0].lParam), 30);
  EXPECT_EQ(PointParamY(sizes[0].lParam), 20);
  MoveWindow(child, 5, 5, 30, 20, true);  // a move without a new size
  EXPECT_EQ(window.Of(WM_SIZE).size(), 1u);

  std::thread other([&] { MoveWindow(child, 0, 0, 40, 25, false); });
  other.join();
  EXPECT_EQ(window.Of(WM_SIZE).size(), 1u);
  ASSERT_TRUE(PumpUntil([&] { return window.Of(WM_SIZE).size() == 2; }));
  EXPECT_EQ(PointParamX(window.Of(WM_SIZE)[1].lParam), 40);
}

TEST(MessageLoop, QuitEndsTheLoopWithItsCode) {
  RecordingWindow window;
  PostMessage(window.handle, WM_USER, 0, 0);
  PostQuitMessage(3);
  EXPECT_EQ(RunMessageLoop(), 3);
  EXPECT_EQ(window.Of(WM_USER).size(), 1u);  // posted before the quit: delivered
}

TEST(MessageLoop, MessagesOfDestroyedWindowAreDropped) {
  int seen = 0;
  WindowDesc desc;
  desc.rect = {0, 0, 10, 10};
  desc.proc = [&](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == WM_USER) ++seen;
    return DefWindowProc(w, m, wp, lp);
  };
  HWND top = CreateWindow(desc);
  PostMessage(top, WM_USER, 0, 0);
  SetTimer(top, 1, 1);
  DestroyWindow(top);
  std::this_thread::sleep_for(5ms);
  PumpMessages(10);
  EXPECT_EQ(seen, 0);
}

struct InputCase {
  const char* name;
  Point at;
  int button;
  int clicks;
  UINT expected;
  bool on_child;
  Point client;
};

TEST(MessageLoop, MousePressesReachTheWindowUnderThePointer) {
  const InputCase cases[] = {
      {"left on child", {30, 40}, 1, 1, WM_LBUTTONDOWN, true, {20, 30}},
      {"right on child", {30, 40}, 3, 1, WM_RBUTTONDOWN, true, {20, 30}},
      {"double on child", {11, 11}, 1, 2, WM_LBUTTONDBLCLK, true, {1, 1}},
      {"left beside child", {5, 5}, 1, 1, WM_LBUTTONDOWN, false, {5, 5}},
  };
  for (const InputCase& c : cases) {
    RecordingWindow window;
    HWND child = window.Child({10, 10, 110, 110});
    window.log.clear();
    ASSERT_TRUE(InjectMouseDown(window.handle, c.at, c.button, c.clicks));
    PumpMessages(10);
    auto got = window.Of(c.expected);
    ASSERT_EQ(got.size(), 1u) << c.name;
    EXPECT_EQ(got[0].hwnd, c.on_child ? child : window.handle) << c.name;
    EXPECT_EQ(PointParamX(got[0].lParam), c.client.x) << c.name;
    EXPECT_EQ(PointParamY(got[0].lParam), c.client.y) << c.name;
    EXPECT_EQ(GetFocus(), got[0].hwnd) << c.name;
  }
}

TEST(MessageLoop, KeysGoToTheFocusWindow) {
  RecordingWindow window;
  HWND child = window.Child({10, 10, 110, 110});
  InjectMouseDown(window.handle, {20, 20}, 1, 1);
  ASSERT_TRUE(InjectKeyDown(window.handle, static_cast<uint32_t>(VK_ESCAPE)));
  PumpMessages(10);
  auto keys = window.Of(WM_KEYDOWN);
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].hwnd, child);
  EXPECT_EQ(keys[0].wParam, VK_ESCAPE);
  EXPECT_FALSE(InjectKeyDown(child, static_cast<uint32_t>(VK_RETURN)));  // not top-level
}

}  // namespace
}  // namespace lumvara::winsys
