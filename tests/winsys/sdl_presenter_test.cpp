// The SDL2 presenter shows a window on a real X server (a private Xvfb) and
// on SDL's offscreen driver, and turns SDL's events into window messages.
#include <SDL.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/winsys/window_canvas.h"
#include "platform/winsys/message_loop.h"
#include "platform/winsys/presenter.h"
#include "platform/winsys/window.h"

// SDL talks to the session bus through libdbus, whose process-wide state is
// only released when SDL shuts down completely, which a library keeping its
// windows for the life of the process never does.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\n";
}

namespace lumvara::winsys {
namespace {

using namespace std::chrono_literals;

constexpr const char* kXvfb = "/usr/bin/Xvfb";

// A private X server on a display number it picks itself (-displayfd), local
// socket only. Stopped when the object goes.
class PrivateXServer {
 public:
  bool Start() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      execl(kXvfb, "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x600x24", "-nolisten", "tcp", "-nolisten",
            "unix", "-nolock", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) return false;
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return false;
    display_ = ":" + number;
    return true;
  }
  ~PrivateXServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

template <typename Pred>
bool PumpUntil(Pred done, std::chrono::milliseconds limit = 3000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    PumpMessages(10);
  }
  return true;
}

// Shows a coloured window, reads back what SDL shows, and feeds a click
// through SDL's queue.
void ShowsPixelsAndDeliversInput() {
  std::unique_ptr<Presenter> presenter = CreateSdlPresenter();
  ASSERT_NE(presenter, nullptr) << SDL_GetError();
  std::vector<MSG> got;
  WindowDesc desc;
  desc.rect = {0, 0, 160, 120};
  desc.text = "lumvara test";
  desc.background = 0x3366CC;
  desc.proc = [&](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == WM_LBUTTONDOWN || m == WM_CLOSE || m == WM_KEYDOWN) got.push_back(MSG{w, m, wp, lp});
    if (m == WM_CLOSE) return 0;
    return DefWindowProc(w, m, wp, lp);
  };
  HWND top = CreateWindow(desc, std::move(presenter));
  ASSERT_NE(top, nullptr);
  EXPECT_STREQ(PresenterName(top), "sdl");

  std::vector<uint8_t> px;
  int w = 0, h = 0;
  auto shows_colour = [&] {
    if (!ReadPresentedPixels(top, &px, &w, &h) || w < 80 || h < 60) return false;
    const uint8_t* centre = &px[(static_cast<size_t>(h / 2) * w + w / 2) * 4];
    return centre[0] == 0xCC && centre[1] == 0x66 && centre[2] == 0x33;
  };
  EXPECT_TRUE(PumpUntil(shows_colour)) << "window does not show its background";

  SDL_Window* sdl_window = SDL_GetWindowFromID(1);
  ASSERT_NE(sdl_window, nullptr);
  SDL_Event click{};
  click.type = SDL_MOUSEBUTTONDOWN;
  click.button.windowID = SDL_GetWindowID(sdl_window);
  click.button.button = SDL_BUTTON_LEFT;
  click.button.clicks = 1;
  click.button.x = 12;
  click.button.y = 34;
  SDL_PushEvent(&click);
  SDL_Event key{};
  key.type = SDL_KEYDOWN;
  key.key.windowID = click.button.windowID;
  key.key.keysym.sym = SDLK_ESCAPE;
  SDL_PushEvent(&key);
  SDL_Event close{};
  close.type = SDL_WINDOWEVENT;
  close.window.windowID = click.button.windowID;
  close.window.event = SDL_WINDOWEVENT_CLOSE;
  SDL_PushEvent(&close);
  ASSERT_TRUE(PumpUntil([&] { return got.size() >= 3; }));
  EXPECT_EQ(got[0].message, WM_LBUTTONDOWN);
  EXPECT_EQ(PointParamX(got[0].lParam), 12);
  EXPECT_EQ(PointParamY(got[0].lParam), 34);
  EXPECT_EQ(got[1].message, WM_KEYDOWN);
  EXPECT_EQ(got[1].wParam, VK_ESCAPE);
  EXPECT_EQ(got[2].message, WM_CLOSE);

  // A move on the desktop moves the window's screen rectangle.
  SDL_Event moved{};
  moved.type = SDL_WINDOWEVENT;
  moved.window.windowID = click.button.windowID;
  moved.window.event = SDL_WINDOWEVENT_MOVED;
  moved.window.data1 = 30;
  moved.window.data2 = 40;
  SDL_PushEvent(&moved);
  Rect moved_rect;
  EXPECT_TRUE(PumpUntil([&] { return GetWindowRect(top, &moved_rect) && moved_rect.left == 30; }));
  EXPECT_EQ(moved_rect, (Rect{30, 40, 190, 160}));

  // Resizing follows through to the desktop window.
  ASSERT_TRUE(MoveWindow(top, 30, 40, 200, 100, true));
  EXPECT_TRUE(PumpUntil([&] {
    int sw = 0, sh = 0;
    SDL_GetWindowSize(sdl_window, &sw, &sh);
    return sw == 200 && sh == 100;
  }));
  EXPECT_TRUE(DestroyWindow(top));
}

TEST(SdlPresenter, ShowsWindowUnderXvfb) {
  if (access(kXvfb, X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed (package xvfb)";
  PrivateXServer server;
  ASSERT_TRUE(server.Start()) << "Xvfb did not start";
  setenv("DISPLAY", server.display().c_str(), 1);
  setenv("SDL_VIDEODRIVER", "x11", 1);
  ShowsPixelsAndDeliversInput();
}

TEST(SdlPresenter, ShowsWindowOnOffscreenDriver) {
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  ShowsPixelsAndDeliversInput();
}

TEST(SdlPresenter, ChildMadeTopLevelGetsADesktopWindowOfItsOwn) {
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  WindowDesc desc;
  desc.rect = {0, 0, 160, 120};
  HWND top = CreateWindow(desc, CreateSdlPresenter());
  ASSERT_NE(top, nullptr);
  WindowDesc child_desc;
  child_desc.parent = top;
  child_desc.style = WS_CHILD | WS_VISIBLE;
  child_desc.rect = {10, 10, 90, 70};
  child_desc.background = 0x00FF00;
  HWND view = CreateWindow(child_desc);
  ASSERT_NE(view, nullptr);

  SetWindowStyle(view, (GetWindowStyle(view) & ~WS_CHILD) | WS_POPUP);
  EXPECT_EQ(SetParent(view, nullptr), top);
  MoveWindow(view, 0, 0, GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1, true);
  SetWindowTopmost(view, true);
  EXPECT_STREQ(PresenterName(view), "sdl");
  std::vector<uint8_t> px;
  int w = 0, h = 0;
  EXPECT_TRUE(PumpUntil([&] {
    return ReadPresentedPixels(view, &px, &w, &h) && w == GetSystemMetrics(SM_CXSCREEN) - 1 && px.size() > 4 &&
           px[1] == 0xFF;
  }));

  EXPECT_EQ(SetParent(view, top), nullptr);
  EXPECT_EQ(PresenterName(view), nullptr);
  PumpMessages(10);
  EXPECT_TRUE(DestroyWindow(top));
  EXPECT_FALSE(IsWindow(view));
}

TEST(SdlPresenter, RefusesWindowsOnASecondThread) {
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  ASSERT_NE(CreateSdlPresenter(), nullptr);
  bool refused = false;
  std::thread other([&] { refused = CreateSdlPresenter() == nullptr; });
  other.join();
  EXPECT_TRUE(refused);
  EXPECT_NE(CreateSdlPresenter(), nullptr);
}

TEST(SdlPresenter, FailsCleanlyWithoutADisplay) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  setenv("SDL_VIDEODRIVER", "x11", 1);
  EXPECT_EQ(CreateSdlPresenter(), nullptr);
}

}  // namespace
}  // namespace lumvara::winsys
