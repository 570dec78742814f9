// Surfaces, stretch blits into windows and between surfaces, mirror blits.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "gfx/pixels.h"
#include "platform/gfx/blit.h"
#include "platform/gfx/surface.h"
#include "platform/winsys/window_canvas.h"
#include "platform/winsys/message_loop.h"
#include "platform/winsys/presenter.h"
#include "platform/winsys/window.h"

namespace lumvara::gfx {
namespace {

using testing::Fill;
using testing::FindInk;
using testing::PixelAt;
using winsys::HWND;

TEST(Surface, CreatesOnlySensibleSizes) {
  struct Case {
    int w, h;
    bool ok;
  } cases[] = {{1, 1, true},
               {1280, 720, true},
               {0, 10, false},
               {10, -1, false},
               {Surface::kMaxSide + 1, 1, false},
               {Surface::kMaxSide, 1, true}};
  for (const Case& c : cases) {
    auto s = Surface::Create(c.w, c.h);
    EXPECT_EQ(s != nullptr, c.ok) << c.w << "x" << c.h;
    if (!s) continue;
    int pitch = 0;
    const uint8_t* bits = s->Lock(&pitch);
    EXPECT_GE(pitch, c.w * 4);
    EXPECT_EQ(FindInk(bits, pitch, c.w, c.h, 0).count, 0) << "new surfaces are black";
    s->Unlock();
  }
}

// A picture whose every pixel is distinct: red = x, green = y, blue = 7.
std::unique_ptr<Surface> Gradient(int w, int h) {
  auto s = Surface::Create(w, h);
  int pitch = 0;
  uint8_t* bits = s->Lock(&pitch);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = bits + y * pitch + x * 4;
      p[0] = 7;
      p[1] = static_cast<uint8_t>(y);
      p[2] = static_cast<uint8_t>(x);
      p[3] = 0;
    }
  }
  s->Unlock();
  return s;
}

TEST(MirrorBlit, MirrorsAKnownPicture) {
  constexpr int W = 5, H = 3;
  struct Case {
    uint32_t mirror;
    bool flip_x, flip_y;
  } cases[] = {{0, false, false},
               {kMirrorLeftRight, true, false},
               {kMirrorUpDown, false, true},
               {kMirrorLeftRight | kMirrorUpDown, true, true},
               {4, false, false}};
  for (const Case& c : cases) {
    auto s = Gradient(W, H);
    MirrorBlit(*s, c.mirror);
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        const int sx = c.flip_x ? W - 1 - x : x;
        const int sy = c.flip_y ? H - 1 - y : y;
        ASSERT_EQ(PixelAt(*s, x, y), static_cast<uint32_t>(sx << 16 | sy << 8 | 7))
            << "mirror " << c.mirror << " at " << x << "," << y;
      }
    }
  }
}

TEST(MirrorBlit, LeavesRowPaddingAlone) {
  constexpr int W = 3, H = 4, kPitch = W * 4 + 8;
  std::vector<uint8_t> buffer(kPitch * H, 0xEE);
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W * 4; ++x) buffer[y * kPitch + x] = static_cast<uint8_t>(y * 16 + x);
  }
  MirrorPixels(buffer.data(), W, H, kPitch, kMirrorLeftRight | kMirrorUpDown);
  for (int y = 0; y < H; ++y) {
    for (int x = W * 4; x < kPitch; ++x) EXPECT_EQ(buffer[y * kPitch + x], 0xEE);
  }
  EXPECT_EQ(buffer[0], static_cast<uint8_t>((H - 1) * 16 + (W - 1) * 4));
}

TEST(StretchBlit, SameSizeCopiesExactly) {
  std::mt19937 random(42);
  auto src = Surface::Create(67, 33);
  int pitch = 0;
  uint8_t* bits = src->Lock(&pitch);
  for (int y = 0; y < 33; ++y) {
    for (int x = 0; x < 67 * 4; ++x) bits[y * pitch + x] = static_cast<uint8_t>(random());
  }
  src->Unlock();
  auto dst = Surface::Create(100, 50);
  ASSERT_TRUE(StretchBlit(*src, {0, 0, 67, 33}, *dst, {10, 5, 77, 38}));
  for (int y = 0; y < 33; ++y) {
    for (int x = 0; x < 67; ++x) ASSERT_EQ(PixelAt(*dst, x + 10, y + 5), PixelAt(*src, x, y));
  }
  EXPECT_EQ(PixelAt(*dst, 9, 5), 0u);
  EXPECT_EQ(PixelAt(*dst, 77, 38), 0u);
}

TEST(StretchBlit, ScalesWithBilinearFilter) {
  // Black and white halves doubled: nearest-neighbour would give only the two
  // colours; bilinear blends across the edge.
  auto src = Surface::Create(2, 1);
  Fill(*src, 0x000000);
  int pitch = 0;
  uint8_t* bits = src->Lock(&pitch);
  bits[4] = bits[5] = bits[6] = 0xFF;
  src->Unlock();
  auto dst = Surface::Create(8, 1);
  ASSERT_TRUE(StretchBlit(*src, {0, 0, 2, 1}, *dst, {0, 0, 8, 1}));
  EXPECT_EQ(PixelAt(*dst, 0, 0), 0x000000u);  // edges padded, not faded
  EXPECT_EQ(PixelAt(*dst, 7, 0), 0xFFFFFFu);
  int blended = 0;
  for (int x = 0; x < 8; ++x) {
    const uint32_t p = PixelAt(*dst, x, 0);
    if (p != 0 && p != 0xFFFFFF) ++blended;
  }
  EXPECT_GE(blended, 2);
}

TEST(StretchBlit, ReadsOnlyTheSourceRectangle) {
  // A red 10x10 square inside a blue border: stretching just the square must
  // not pull blue in at its edges.
  auto src = Surface::Create(30, 30);
  Fill(*src, 0x0000FF);
  int pitch = 0;
  uint8_t* bits = src->Lock(&pitch);
  for (int y = 10; y < 20; ++y) {
    for (int x = 10; x < 20; ++x) reinterpret_cast<uint32_t*>(bits + y * pitch)[x] = 0xFF0000;
  }
  src->Unlock();
  auto dst = Surface::Create(37, 23);
  ASSERT_TRUE(StretchBlit(*src, {10, 10, 20, 20}, *dst, {0, 0, 37, 23}));
  EXPECT_EQ(FindInk(*dst, 0xFF0000).count, 0);
}

TEST(StretchBlit, RefusesBadRectangles) {
  auto src = Surface::Create(10, 10);
  auto dst = Surface::Create(10, 10);
  const Rect bad_sources[] = {{0, 0, 0, 10}, {-1, 0, 5, 5}, {0, 0, 11, 10}, {5, 5, 4, 6}};
  for (const Rect& r : bad_sources) EXPECT_FALSE(StretchBlit(*src, r, *dst, {0, 0, 5, 5}));
  EXPECT_FALSE(StretchBlit(*src, {0, 0, 5, 5}, *dst, {3, 3, 3, 8}));
}

// A headless top-level window at a screen position with a child inside.
class WindowBlit : public ::testing::Test {
 protected:
  void SetUp() override {
    winsys::WindowDesc top_desc;
    top_desc.rect = {100, 50, 300, 200};  // 200 x 150 at (100, 50)
    top_desc.background = 0x202020;
    top = winsys::CreateWindow(top_desc);
    winsys::WindowDesc child_desc;
    child_desc.parent = top;
    child_desc.style = winsys::WS_CHILD | winsys::WS_VISIBLE;
    child_desc.rect = {20, 10, 120, 90};  // screen (120, 60) - (220, 140)
    child_desc.background = 0x202020;
    child = winsys::CreateWindow(child_desc);
    winsys::PumpMessages(0);
  }
  void TearDown() override { winsys::DestroyWindow(top); }

  std::vector<uint8_t> Shown(int* w, int* h) {
    std::vector<uint8_t> px;
    EXPECT_TRUE(winsys::ReadPresentedPixels(top, &px, w, h));
    return px;
  }

  // Blits a plain picture onto the child's screen rectangle; returns what
  // changed in the top-level window.
  testing::Ink BlitOverChild(uint32_t colour) {
    auto picture = Surface::Create(8, 8);
    Fill(*picture, colour);
    Rect r;
    winsys::GetWindowRect(child, &r);
    EXPECT_TRUE(StretchBlitToScreen(*picture, {0, 0, 8, 8}, r, child));
    int w = 0, h = 0;
    std::vector<uint8_t> px = Shown(&w, &h);
    return FindInk(px.data(), w * 4, w, h, 0x202020);
  }

  HWND top = nullptr;
  HWND child = nullptr;
};

TEST_F(WindowBlit, DrawsWhereTheWindowIsAndNowhereElse) {
  auto picture = Surface::Create(64, 36);
  Fill(*picture, 0x00FF00);
  // The destination is larger than the window on every side: the clip keeps
  // the picture inside the window.
  ASSERT_TRUE(StretchBlitToScreen(*picture, {0, 0, 64, 36}, {90, 30, 260, 180}, child));
  int w = 0, h = 0;
  std::vector<uint8_t> px = Shown(&w, &h);
  ASSERT_EQ(w, 200);
  const auto ink = FindInk(px.data(), w * 4, w, h, 0x202020);
  EXPECT_EQ(ink.box, (Rect{20, 10, 120, 90}));
  EXPECT_EQ(ink.count, 100 * 80);
}

TEST_F(WindowBlit, StretchesOntoTheDestinationRectangle) {
  auto picture = Surface::Create(10, 10);
  Fill(*picture, 0xFF00FF);
  // Half the window, letterbox style: rows 20..60 of the child.
  Rect child_screen;
  ASSERT_TRUE(winsys::GetWindowRect(child, &child_screen));
  const Rect dst{child_screen.left, child_screen.top + 20, child_screen.right, child_screen.top + 60};
  ASSERT_TRUE(StretchBlitToScreen(*picture, {0, 0, 10, 10}, dst, child));
  int w = 0, h = 0;
  std::vector<uint8_t> px = Shown(&w, &h);
  const auto ink = FindInk(px.data(), w * 4, w, h, 0x202020);
  EXPECT_EQ(ink.box, (Rect{20, 30, 120, 70}));
  EXPECT_EQ(PixelAt(px.data(), w * 4, 70, 50), 0xFF00FFu);
}

TEST_F(WindowBlit, HiddenWindowDrawsNothing) {
  winsys::ShowWindow(child, winsys::SW_HIDE);
  EXPECT_EQ(BlitOverChild(0xFFFFFF).count, 0);
}

TEST_F(WindowBlit, ChildPartlyOutsideItsParentIsCut) {
  winsys::MoveWindow(child, 150, 100, 100, 100, true);  // runs off the bottom right
  winsys::PumpMessages(0);
  EXPECT_EQ(BlitOverChild(0x0000FF).box, (Rect{150, 100, 200, 150}));
}

TEST_F(WindowBlit, DeadWindowFails) {
  auto picture = Surface::Create(8, 8);
  winsys::DestroyWindow(child);
  EXPECT_FALSE(StretchBlitToScreen(*picture, {0, 0, 8, 8}, {0, 0, 8, 8}, child));
}

// Two threads blit plain pictures onto the child while the loop thread moves
// it: every blit succeeds, each thread's picture reaches the window, and
// nothing lands outside the places the child has been or mixes the two.
TEST_F(WindowBlit, ConcurrentBlitsFromOtherThreadsWhileTheLoopRuns) {
  constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBackground = 0x202020;
  std::atomic<bool> moved{false};
  std::atomic<bool> stop{false};
  struct Outcome {
    int drawn = 0;
    int drawn_after_moves = 0;
    int failed = 0;
  };
  auto drawer = [&](uint32_t colour, Outcome* outcome) {
    auto picture = Surface::Create(32, 18);
    Fill(*picture, colour);
    Rect r;
    // At least one blit each after the last move's repaint, however the
    // threads are scheduled: otherwise that repaint may be the last thing
    // drawn and leave no picture to look at.
    while (!stop || outcome->drawn_after_moves == 0) {
      const bool after_moves = moved;
      if (!winsys::GetWindowRect(child, &r)) continue;
      if (StretchBlitToScreen(*picture, {0, 0, 32, 18}, r, child)) {
        ++outcome->drawn;
        if (after_moves) ++outcome->drawn_after_moves;
      } else {
        ++outcome->failed;
      }
    }
  };
  Outcome red, green;
  std::thread a(drawer, kRed, &red), b(drawer, kGreen, &green);
  for (int i = 0; i < 20; ++i) {
    winsys::MoveWindow(child, 20 + i, 10, 100 - i, 80, true);
    winsys::PumpMessages(2);
  }
  winsys::PumpMessages(0);  // the last move's repaint, before the last blits
  moved = true;
  stop = true;
  a.join();
  b.join();
  EXPECT_GT(red.drawn, 0);
  EXPECT_GT(green.drawn, 0);
  EXPECT_EQ(red.failed + green.failed, 0);

  int w = 0, h = 0;
  std::vector<uint8_t> px = Shown(&w, &h);
  ASSERT_EQ(w, 200);
  ASSERT_EQ(h, 150);
  // The child's left edge moved from 20 to 39; its right edge stayed at 120.
  const auto ink = FindInk(px.data(), w * 4, w, h, kBackground);
  EXPECT_GT(ink.count, 0);
  EXPECT_GE(ink.box.left, 20);
  EXPECT_GE(ink.box.top, 10);
  EXPECT_LE(ink.box.right, 120);
  EXPECT_LE(ink.box.bottom, 90);
  int others = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint32_t p = PixelAt(px.data(), w * 4, x, y);
      if (p != kBackground && p != kRed && p != kGreen) ++others;
    }
  }
  EXPECT_EQ(others, 0) << "pixels neither background nor one of the two pictures";
}

}  // namespace
}  // namespace lumvara::gfx
