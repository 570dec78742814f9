// The video window through the hosting API: focus frame, clicks, keys, full
// screen and back, size handling, as the headless window's pixels and the
// window tree show them.
#include <chrono>

#include "control/control_fixture.h"
#include "platform/winsys/message_loop.h"
#include "platform/winsys/window.h"

namespace control_test {
namespace {

using namespace std::chrono_literals;
namespace winsys = lumvara::winsys;

class VideoWindowTest : public ControlTest {
 protected:
  // The video window: the control window's child that covers it.
  winsys::HWND VideoView() {
    winsys::Point client;
    winsys::HWND area = winsys::ChildWindowFromPoint(top_, {kWindowWidth / 2, kWindowHeight / 2}, &client);
    return area ? winsys::GetParent(area) : nullptr;
  }

  // The four edges of the frame and a pixel just inside it.
  void ExpectFrame(uint32_t colour, const char* what) {
    int w = 0;
    int h = 0;
    const auto pixels = Pixels(top_, &w, &h);
    for (auto [x, y] : {std::pair{0, 0}, {w / 2, 0}, {w - 1, h / 2}, {w / 2, h - 1}, {0, h / 2}, {w - 1, h - 1}}) {
      EXPECT_EQ(Pixel(pixels, w, x, y), colour) << what << " at " << x << "," << y;
    }
    EXPECT_EQ(Pixel(pixels, w, 1, 1), kBlack) << what;
    EXPECT_EQ(Pixel(pixels, w, w - 2, h - 2), kBlack) << what;
  }

  static void HostHandler(LumvaraWindow, int event, long a, long, void* context) {
    if (event == LUMVARA_WINDOW_EVENT_KEY) static_cast<std::vector<long>*>(context)->push_back(a);
  }
};

TEST_F(VideoWindowTest, BeforePlayVideoTheAreaIsBlackWithAGreyFrame) {
  Pump(50);
  ExpectFrame(kGrey, "initial");
  int w = 0;
  int h = 0;
  const auto pixels = Pixels(top_, &w, &h);
  for (int y = 1; y < h - 1; y += 7) {
    for (int x = 1; x < w - 1; x += 7) ASSERT_EQ(Pixel(pixels, w, x, y), kBlack) << x << "," << y;
  }
}

TEST_F(VideoWindowTest, SetFocusDrawsTheFrameRedGreyRed) {
  const std::pair<int, uint32_t> steps[] = {{1, kRed}, {0, kGrey}, {5, kRed}};
  for (auto [focus, colour] : steps) {
    EXPECT_EQ(Call("SetFocus", {focus}), 0);
    ExpectFrame(colour, ("SetFocus(" + std::to_string(focus) + ")").c_str());
  }
  // A repaint keeps the state.
  winsys::InvalidateRect(VideoView(), nullptr, true);
  Pump(50);
  ExpectFrame(kRed, "after repaint");
}

TEST_F(VideoWindowTest, PressesFireNotifyAndTurnTheFrameRed) {
  struct Case {
    int button;
    int clicks;
    int lType;
  };
  const Case cases[] = {{3, 1, 0}, {1, 1, 0}, {1, 2, 1}};
  for (const Case& c : cases) {
    Call("SetFocus", {0});
    Forget();
    ASSERT_EQ(lumvara_window_send_mouse(top_, 100, 100, c.button, c.clicks), 1);
    ASSERT_TRUE(PumpUntil([&] { return !Events().empty(); }, 2s)) << c.button << "/" << c.clicks;
    EXPECT_EQ(Events(), (std::vector<Heard>{{LUMVARA_SINK_EVENT, 1, {c.lType, 0}, {}}}));
    ExpectFrame(kRed, "after a press");
  }
  // A press on the frame itself counts too.
  Forget();
  lumvara_window_send_mouse(top_, 0, 0, 3, 1);
  ASSERT_TRUE(PumpUntil([&] { return !Events().empty(); }, 2s));
  EXPECT_EQ(Events()[0].longs, (std::vector<int32_t>{0, 0}));
}

TEST_F(VideoWindowTest, EnterAndEscapeAreSwallowedOtherKeysReachTheHost) {
  std::vector<long> keys;
  lumvara_window_set_event_handler(top_, &VideoWindowTest::HostHandler, &keys);
  lumvara_window_send_mouse(top_, 100, 100, 1, 1);  // focus into the video area
  Pump(50);
  Forget();
  winsys::HWND view = VideoView();
  ASSERT_NE(view, nullptr);
  for (int key : {27, 13}) lumvara_window_send_key(top_, key);
  lumvara_window_send_key(top_, 'S');
  ASSERT_TRUE(PumpUntil([&] { return !keys.empty(); }, 2s));
  Pump(50);
  EXPECT_EQ(keys, (std::vector<long>{'S'}));
  EXPECT_TRUE(Events().empty());
  EXPECT_TRUE(winsys::IsWindow(view));
  EXPECT_TRUE(winsys::IsWindowVisible(view));
  lumvara_window_set_event_handler(top_, nullptr, nullptr);
}

TEST_F(VideoWindowTest, ShowMaxCoversTheScreenLessOnePixelAndShowNormalReturns) {
  winsys::SetScreenSize(1920, 1080);
  winsys::HWND view = VideoView();
  winsys::HWND control = lumvara_control_window(control_);
  ASSERT_EQ(winsys::GetParent(view), control);

  Call("ShowMax");
  Pump(50);
  winsys::Rect rect;
  ASSERT_TRUE(winsys::GetWindowRect(view, &rect));
  EXPECT_EQ(rect, (winsys::Rect{0, 0, 1919, 1079}));
  EXPECT_EQ(winsys::GetParent(view), nullptr);
  EXPECT_EQ(winsys::GetWindowStyle(view) & (winsys::WS_POPUP | winsys::WS_CHILD), winsys::WS_POPUP);
  // Its own pixels now: the frame along the new edges, black inside.
  int w = 0;
  int h = 0;
  auto pixels = Pixels(view, &w, &h);
  ASSERT_EQ(w, 1919);
  ASSERT_EQ(h, 1079);
  EXPECT_EQ(Pixel(pixels, w, 1918, 1078), kGrey);
  EXPECT_EQ(Pixel(pixels, w, 960, 540), kBlack);
  // Clicks still report.
  Forget();
  lumvara_window_send_mouse(view, 900, 500, 1, 2);
  ASSERT_TRUE(PumpUntil([&] { return !Events().empty(); }, 2s));
  EXPECT_EQ(Events()[0].longs, (std::vector<int32_t>{1, 0}));
  // Repeated, it stays.
  Call("ShowMax");
  ASSERT_TRUE(winsys::GetWindowRect(view, &rect));
  EXPECT_EQ(rect, (winsys::Rect{0, 0, 1919, 1079}));

  Call("ShowNormal");
  Pump(50);
  EXPECT_EQ(winsys::GetParent(view), control);
  EXPECT_EQ(winsys::GetWindowStyle(view) & (winsys::WS_POPUP | winsys::WS_CHILD), winsys::WS_CHILD);
  winsys::Rect client;
  winsys::GetClientRect(control, &client);
  ASSERT_TRUE(winsys::GetWindowRect(view, &rect));
  winsys::Rect controlRect;
  winsys::GetWindowRect(control, &controlRect);
  EXPECT_EQ(rect, controlRect);
  ExpectFrame(kRed, "after ShowNormal");  // the double click focused it
}

TEST_F(VideoWindowTest, TheVideoWindowFollowsTheControlsSize) {
  winsys::HWND control = lumvara_control_window(control_);
  winsys::HWND view = VideoView();
  ASSERT_EQ(lumvara_window_set_rect(control, 0, 0, 200, 150), 1);
  Pump(50);
  winsys::Rect rect;
  winsys::GetWindowRect(view, &rect);
  EXPECT_EQ(rect, (winsys::Rect{0, 0, 200, 150}));
  // The video area is one pixel in from each edge.
  winsys::Point client;
  winsys::HWND area = winsys::ChildWindowFromPoint(top_, {100, 75}, &client);
  winsys::Rect areaRect;
  winsys::GetWindowRect(area, &areaRect);
  EXPECT_EQ(areaRect, (winsys::Rect{1, 1, 199, 149}));
  Call("UpdataSize");
  Pump(50);
  winsys::GetWindowRect(view, &rect);
  EXPECT_EQ(rect, (winsys::Rect{0, 0, 200, 150}));
}

}  // namespace
}  // namespace control_test
