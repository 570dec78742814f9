// The public window calls a native host uses.
#include <lumvara/window.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/winsys/window_canvas.h"
#include "platform/winsys/message_loop.h"
#include "platform/winsys/presenter.h"
#include "platform/winsys/window.h"

namespace {

struct Heard {
  std::vector<int> events;
  std::vector<long> a;
  std::vector<long> b;
};

void Listen(LumvaraWindow, int event, long a, long b, void* context) {
  auto* heard = static_cast<Heard*>(context);
  heard->events.push_back(event);
  heard->a.push_back(a);
  heard->b.push_back(b);
}

TEST(WindowApi, CreatesReadsAndDestroysAHeadlessWindow) {
  LumvaraWindow window = lumvara_window_create(LUMVARA_WINDOW_HEADLESS, "host", 64, 48);
  ASSERT_NE(window, nullptr);
  LumvaraWindow child = lumvara_window_create_child(window, 8, 4, 16, 8);
  ASSERT_NE(child, nullptr);
  int x = -1, y = -1, w = 0, h = 0;
  ASSERT_EQ(lumvara_window_get_rect(child, &x, &y, &w, &h), 1);
  EXPECT_EQ(x, 8);
  EXPECT_EQ(y, 4);
  EXPECT_EQ(w, 16);
  EXPECT_EQ(h, 8);

  // Asking first tells the size; a too small buffer is left alone.
  EXPECT_EQ(lumvara_window_read_pixels(window, nullptr, 0, 0, &w, &h), 64 * 4 * 48);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 48);
  std::vector<unsigned char> small(16, 0xAB);
  EXPECT_EQ(lumvara_window_read_pixels(window, small.data(), 16, 0, nullptr, nullptr), 64 * 4 * 48);
  EXPECT_EQ(small, std::vector<unsigned char>(16, 0xAB));
  const int pitch = 64 * 4 + 16;
  std::vector<unsigned char> pixels(pitch * 48, 0xAB);
  EXPECT_EQ(
      lumvara_window_read_pixels(window, pixels.data(), static_cast<long>(pixels.size()), pitch, nullptr, nullptr),
      pitch * 48);
  EXPECT_EQ(pixels[0], 0);          // black window
  EXPECT_EQ(pixels[64 * 4], 0xAB);  // padding beyond the row untouched
  EXPECT_EQ(lumvara_window_read_pixels(child, pixels.data(), static_cast<long>(pixels.size()), pitch, nullptr, nullptr),
            0);

  EXPECT_EQ(lumvara_window_destroy(window), 1);
  EXPECT_EQ(lumvara_window_destroy(window), 0);
  EXPECT_EQ(lumvara_window_get_rect(child, &x, &y, &w, &h), 0);
  EXPECT_EQ(lumvara_window_show(child, 1), 0);
  EXPECT_EQ(lumvara_window_run(window), 0);
}

TEST(WindowApi, ChangeCounterMovesWhenTheWindowIsDrawnOn) {
  LumvaraWindow window = lumvara_window_create(LUMVARA_WINDOW_HEADLESS, nullptr, 32, 32);
  LumvaraWindow child = lumvara_window_create_child(window, 0, 0, 8, 8);
  EXPECT_EQ(lumvara_window_pump(10), 1);
  const unsigned long before = lumvara_window_changes(window);
  EXPECT_GT(before, 0u);  // the first paint erased the windows
  EXPECT_EQ(lumvara_window_pump(0), 1);
  EXPECT_EQ(lumvara_window_changes(window), before);  // nothing new: no change
  lumvara::winsys::InvalidateRect(child, nullptr, true);
  lumvara_window_pump(0);
  EXPECT_GT(lumvara_window_changes(window), before);
  EXPECT_EQ(lumvara_window_changes(child), 0u);
  lumvara_window_destroy(window);
  EXPECT_EQ(lumvara_window_changes(window), 0u);
  EXPECT_EQ(lumvara_window_send_key(window, 13), 0);
}

// The frame stamp goes with the drawing done under it, into the top-level
// window holding the drawn window, and nothing else moves it: drawing
// without a stamp, a stamp on another thread, a stamp that has ended.
TEST(WindowApi, FrameInputTimeFollowsTheStampedDrawing) {
  using lumvara::winsys::FrameInputStamp;
  using lumvara::winsys::WindowCanvas;
  LumvaraWindow window = lumvara_window_create(LUMVARA_WINDOW_HEADLESS, nullptr, 32, 32);
  LumvaraWindow child = lumvara_window_create_child(window, 0, 0, 8, 8);
  LumvaraWindow other = lumvara_window_create(LUMVARA_WINDOW_HEADLESS, nullptr, 16, 16);
  lumvara_window_pump(10);
  EXPECT_EQ(lumvara_window_frame_input_time(window), 0.0);  // painted, but no camera frame yet

  {
    const FrameInputStamp stamp(1000.5);
    WindowCanvas canvas(child);
    ASSERT_TRUE(canvas);
  }
  EXPECT_EQ(lumvara_window_frame_input_time(window), 1000.5);
  EXPECT_EQ(lumvara_window_frame_input_time(child), 0.0);  // asked of the top-level window only
  EXPECT_EQ(lumvara_window_frame_input_time(other), 0.0);

  { WindowCanvas canvas(child); }  // the stamp has ended
  lumvara::winsys::InvalidateRect(child, nullptr, true);
  lumvara_window_pump(0);
  EXPECT_EQ(lumvara_window_frame_input_time(window), 1000.5);

  std::thread([&] {
    const FrameInputStamp stamp(2000.0);
    WindowCanvas canvas(other);
  }).join();
  { WindowCanvas canvas(window); }
  EXPECT_EQ(lumvara_window_frame_input_time(other), 2000.0);
  EXPECT_EQ(lumvara_window_frame_input_time(window), 1000.5);

  {
    const FrameInputStamp outer(3000.0);
    {
      const FrameInputStamp inner(0);
      WindowCanvas canvas(window);
    }  // 0 marks nothing
    EXPECT_EQ(lumvara_window_frame_input_time(window), 1000.5);
    WindowCanvas canvas(window);
  }
  EXPECT_EQ(lumvara_window_frame_input_time(window), 3000.0);

  lumvara_window_destroy(other);
  lumvara_window_destroy(window);
  EXPECT_EQ(lumvara_window_frame_input_time(window), 0.0);
  EXPECT_EQ(lumvara_window_frame_input_time(nullptr), 0.0);
}

TEST(WindowApi, RefusesBadArguments) {
  struct Case {
    int kind;
    int width;
    int height;
  } cases[] = {{LUMVARA_WINDOW_HEADLESS, 0, 10},
               {LUMVARA_WINDOW_HEADLESS, 10, -1},
               {LUMVARA_WINDOW_HEADLESS, 16385, 10},
               {7, 10, 10}};
  for (const Case& c : cases) {
    EXPECT_EQ(lumvara_window_create(c.kind, nullptr, c.width, c.height), nullptr)
        << c.kind << " " << c.width << "x" << c.height;
  }
  EXPECT_EQ(lumvara_window_create_child(nullptr, 0, 0, 10, 10), nullptr);
  EXPECT_EQ(lumvara_window_set_event_handler(nullptr, Listen, nullptr), 0);
}

TEST(WindowApi, TitleAndFullScreenCalls) {
  LumvaraWindow window = lumvara_window_create(LUMVARA_WINDOW_HEADLESS, "first", 40, 30);
  ASSERT_NE(window, nullptr);
  LumvaraWindow child = lumvara_window_create_child(window, 0, 0, 10, 10);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(lumvara_window_set_title(window, "second"), 1);
  EXPECT_EQ(lumvara::winsys::GetWindowText(window), "second");
  EXPECT_EQ(lumvara_window_set_title(window, nullptr), 1);
  EXPECT_EQ(lumvara::winsys::GetWindowText(window), "");
  // A headless window has no screen to fill; a child is never full screen.
  EXPECT_EQ(lumvara_window_set_fullscreen(window, 1), 0);
  EXPECT_EQ(lumvara_window_set_fullscreen(child, 1), 0);
  EXPECT_EQ(lumvara_window_destroy(window), 1);
  EXPECT_EQ(lumvara_window_set_title(window, "gone"), 0);
  EXPECT_EQ(lumvara_window_set_fullscreen(window, 0), 0);
}

TEST(WindowApi, HostHearsSizeInputAndCloseAndRunReturns) {
  LumvaraWindow window = lumvara_window_create(LUMVARA_WINDOW_HEADLESS, nullptr, 100, 80);
  ASSERT_NE(window, nullptr);
  Heard heard;
  ASSERT_EQ(lumvara_window_set_event_handler(window, Listen, &heard), 1);
  ASSERT_EQ(lumvara_window_set_rect(window, 0, 0, 120, 90), 1);
  EXPECT_EQ(lumvara_window_send_mouse(window, 7, 9, 1, 2), 1);
  EXPECT_EQ(lumvara_window_send_mouse(window, 7, 9, 2, 1), 0);  // no such button
  EXPECT_EQ(lumvara_window_send_key(window, 13), 1);
  lumvara::winsys::PostMessage(window, lumvara::winsys::WM_CLOSE, 0, 0);
  EXPECT_EQ(lumvara_window_run(window), 1);
  ASSERT_EQ(heard.events, (std::vector<int>{LUMVARA_WINDOW_EVENT_SIZE, LUMVARA_WINDOW_EVENT_MOUSE,
                                            LUMVARA_WINDOW_EVENT_KEY, LUMVARA_WINDOW_EVENT_CLOSE}));
  EXPECT_EQ(heard.a[0], 120);
  EXPECT_EQ(heard.b[0], 90);
  EXPECT_EQ(heard.a[1], 7 | 9 << 16);
  EXPECT_EQ(heard.b[1], 1 | 2 << 8);
  EXPECT_EQ(heard.a[2], 13);
  EXPECT_EQ(lumvara_window_get_rect(window, nullptr, nullptr, nullptr, nullptr), 1);  // still there
  lumvara_window_quit();
  EXPECT_EQ(lumvara_window_pump(0), 0);
  EXPECT_EQ(lumvara_window_destroy(window), 1);
}

}  // namespace
