// The window tree: rectangles, visibility, parents, handles.
#include <gtest/gtest.h>

#include <vector>

#include "platform/winsys/window_canvas.h"
#include "platform/winsys/message_loop.h"
#include "platform/winsys/presenter.h"
#include "platform/winsys/window.h"

namespace lumvara::winsys {
namespace {

HWND MakeTop(Rect rect, WindowProc proc = {}) {
  WindowDesc desc;
  desc.rect = rect;
  desc.proc = std::move(proc);
  return CreateWindow(desc);
}

HWND MakeChild(HWND parent, Rect rect, uint32_t style = WS_CHILD | WS_VISIBLE, WindowProc proc = {}) {
  WindowDesc desc;
  desc.parent = parent;
  desc.style = style;
  desc.rect = rect;
  desc.proc = std::move(proc);
  return CreateWindow(desc);
}

TEST(Rect, SubtractLeavesDisjointPiecesCoveringTheRest) {
  const Rect base{0, 0, 10, 10};
  const Rect holes[] = {{2, 3, 5, 7}, {-5, -5, 3, 3}, {0, 0, 10, 10}, {20, 20, 30, 30}, {0, 4, 10, 6}};
  for (const Rect& hole : holes) {
    std::vector<Rect> pieces = Subtract(base, hole);
    int covered[10][10] = {};
    for (const Rect& p : pieces) {
      for (int y = p.top; y < p.bottom; ++y) {
        for (int x = p.left; x < p.right; ++x) ++covered[y][x];
      }
    }
    for (int y = 0; y < 10; ++y) {
      for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(covered[y][x], hole.contains({x, y}) ? 0 : 1) << x << "," << y;
      }
    }
  }
}

TEST(WindowTree, ChildRectanglesAreInScreenCoordinates) {
  HWND top = MakeTop({100, 50, 740, 530});
  HWND dialog = MakeChild(top, {10, 20, 310, 220});
  HWND video = MakeChild(dialog, {1, 1, 299, 199});
  struct Case {
    HWND window;
    Rect screen;
    Rect client;
  } cases[] = {
      {top, {100, 50, 740, 530}, {0, 0, 640, 480}},
      {dialog, {110, 70, 410, 270}, {0, 0, 300, 200}},
      {video, {111, 71, 409, 269}, {0, 0, 298, 198}},
  };
  for (const Case& c : cases) {
    Rect screen, client;
    ASSERT_TRUE(GetWindowRect(c.window, &screen));
    ASSERT_TRUE(GetClientRect(c.window, &client));
    EXPECT_EQ(screen, c.screen);
    EXPECT_EQ(client, c.client);
  }
  Point p{5, 6};
  ASSERT_TRUE(ClientToScreen(video, &p));
  EXPECT_EQ(p, (Point{116, 77}));
  ASSERT_TRUE(ScreenToClient(video, &p));
  EXPECT_EQ(p, (Point{5, 6}));

  // Moving the dialog moves its child on the screen.
  ASSERT_TRUE(MoveWindow(dialog, 30, 40, 300, 200, true));
  Rect screen;
  ASSERT_TRUE(GetWindowRect(video, &screen));
  EXPECT_EQ(screen, (Rect{131, 91, 429, 289}));
  DestroyWindow(top);
}

TEST(WindowTree, HiddenAncestorHidesChild) {
  HWND top = MakeTop({0, 0, 100, 100});
  HWND dialog = MakeChild(top, {0, 0, 50, 50});
  HWND video = MakeChild(dialog, {0, 0, 10, 10});
  EXPECT_TRUE(IsWindowVisible(video));
  EXPECT_TRUE(ShowWindow(dialog, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(video));
  EXPECT_TRUE(GetWindowStyle(video) & WS_VISIBLE);  // its own style is unchanged
  EXPECT_FALSE(ShowWindow(dialog, SW_SHOW));
  EXPECT_TRUE(IsWindowVisible(video));
  ASSERT_TRUE(SetWindowStyle(video, WS_CHILD));
  EXPECT_FALSE(IsWindowVisible(video));
  DestroyWindow(top);
}

TEST(WindowTree, DestroyedHandlesStayDeadAndAreNotReused) {
  HWND top = MakeTop({0, 0, 100, 100});
  HWND child = MakeChild(top, {0, 0, 10, 10});
  ASSERT_TRUE(DestroyWindow(top));
  for (HWND dead : {top, child}) {
    Rect r;
    EXPECT_FALSE(IsWindow(dead));
    EXPECT_FALSE(GetWindowRect(dead, &r));
    EXPECT_FALSE(GetClientRect(dead, &r));
    EXPECT_FALSE(PostMessage(dead, WM_USER, 0, 0));
    EXPECT_EQ(SendMessage(dead, WM_USER, 0, 0), 0);
    EXPECT_FALSE(IsWindowVisible(dead));
    EXPECT_FALSE(InvalidateRect(dead, nullptr, true));
    EXPECT_EQ(SetTimer(dead, 1, 10), 0u);
    EXPECT_FALSE(MoveWindow(dead, 0, 0, 5, 5, true));
    EXPECT_FALSE(DestroyWindow(dead));
    EXPECT_EQ(GetWindowText(dead), "");
  }
  HWND again = MakeTop({0, 0, 100, 100});
  EXPECT_NE(again, top);
  EXPECT_NE(again, child);
  EXPECT_FALSE(IsWindow(nullptr));
  DestroyWindow(again);
}

TEST(WindowTree, DestroyTellsWindowThenChildren) {
  std::vector<HWND> order;
  auto proc = [&](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == WM_DESTROY) order.push_back(w);
    return DefWindowProc(w, m, wp, lp);
  };
  HWND top = MakeTop({0, 0, 100, 100}, proc);
  HWND a = MakeChild(top, {0, 0, 10, 10}, WS_CHILD | WS_VISIBLE, proc);
  HWND a1 = MakeChild(a, {0, 0, 5, 5}, WS_CHILD | WS_VISIBLE, proc);
  HWND b = MakeChild(top, {10, 0, 20, 10}, WS_CHILD | WS_VISIBLE, proc);
  DestroyWindow(top);
  EXPECT_EQ(order, (std::vector<HWND>{top, a, a1, b}));
}

TEST(WindowTree, CreationFailsWhenCreateAnswersMinusOne) {
  HWND top = MakeTop({0, 0, 100, 100});
  HWND refused = MakeChild(top, {0, 0, 10, 10}, WS_CHILD,
                           [](HWND, UINT m, WPARAM, LPARAM) -> LRESULT { return m == WM_CREATE ? -1 : 0; });
  EXPECT_EQ(refused, nullptr);
  WindowDesc orphan;
  orphan.parent = reinterpret_cast<HWND>(uintptr_t{0x7FFFFFFF});
  EXPECT_EQ(CreateWindow(orphan), nullptr);
  WindowDesc empty_top;  // a top-level window needs a size
  EXPECT_EQ(CreateWindow(empty_top), nullptr);
  DestroyWindow(top);
}

TEST(WindowTree, SetParentToDesktopMakesTopLevelAndBack) {
  HWND top = MakeTop({0, 0, 200, 100});
  HWND view = MakeChild(top, {10, 10, 110, 60});
  EXPECT_EQ(PresenterName(view), nullptr);

  // Full screen the way a video window does it: popup of the desktop.
  SetWindowStyle(view, (GetWindowStyle(view) & ~WS_CHILD) | WS_POPUP);
  EXPECT_EQ(SetParent(view, nullptr), top);
  EXPECT_EQ(GetParent(view), nullptr);
  EXPECT_EQ(GetTopLevel(view), view);
  ASSERT_TRUE(MoveWindow(view, 0, 0, GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1, true));
  Rect r;
  ASSERT_TRUE(GetWindowRect(view, &r));
  EXPECT_EQ(r, (Rect{0, 0, 1919, 1079}));
  EXPECT_STREQ(PresenterName(view), "headless");
  std::vector<uint8_t> pixels;
  int w = 0, h = 0;
  ASSERT_TRUE(ReadWindowPixels(view, &pixels, &w, &h));
  EXPECT_EQ(w, 1919);
  EXPECT_EQ(h, 1079);

  EXPECT_EQ(SetParent(view, top), nullptr);
  EXPECT_EQ(GetParent(view), top);
  EXPECT_FALSE(ReadWindowPixels(view, &pixels, &w, &h));
  // A window cannot become its own descendant's child.
  HWND inner = MakeChild(view, {0, 0, 5, 5});
  EXPECT_EQ(SetParent(view, inner), nullptr);
  EXPECT_EQ(GetParent(view), top);
  DestroyWindow(top);
  EXPECT_FALSE(IsWindow(inner));
}

TEST(WindowTree, TextAndScreenMetrics) {
  HWND top = MakeTop({0, 0, 10, 10});
  ASSERT_TRUE(SetWindowText(top, "视频 video"));
  EXPECT_EQ(GetWindowText(top), "视频 video");
  SetScreenSize(1280, 720);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1280);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 720);
  SetScreenSize(0, 5);  // refused
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1280);
  DestroyWindow(top);
}

TEST(WindowTree, PointLandsOnDeepestVisibleWindow) {
  HWND top = MakeTop({0, 0, 200, 200});
  HWND dialog = MakeChild(top, {10, 10, 110, 110});
  HWND video = MakeChild(dialog, {1, 1, 99, 99});
  HWND hidden = MakeChild(video, {0, 0, 50, 50}, WS_CHILD);
  (void)hidden;
  struct Case {
    Point at;
    HWND expected;
    Point client;
  } cases[] = {
      {{5, 5}, top, {5, 5}},       {{10, 10}, dialog, {0, 0}},     {{11, 11}, video, {0, 0}},
      {{60, 70}, video, {49, 59}}, {{109, 109}, dialog, {99, 99}}, {{199, 199}, top, {199, 199}},
      {{200, 5}, nullptr, {}},
  };
  for (const Case& c : cases) {
    Point client;
    EXPECT_EQ(ChildWindowFromPoint(top, c.at, &client), c.expected) << c.at.x << "," << c.at.y;
    if (c.expected) {
      EXPECT_EQ(client, c.client);
    }
  }
  DestroyWindow(top);
}

}  // namespace
}  // namespace lumvara::winsys
