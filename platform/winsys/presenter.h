#pragma once
// Presenters show a top-level window's framebuffer somewhere and bring user
// input back as window messages. One file per backend fills the Presenter
// interface: headless_presenter.cpp (pixels kept in memory, for tests and
// hidden hosts) and sdl_presenter.cpp (a desktop window through SDL2: X11,
// Wayland, or SDL's offscreen and dummy drivers).
//
// Threads: the window tree calls a presenter on the thread that owns its
// top-level window, except Present() of a presenter whose
// presents_from_any_thread() is true, which runs on whichever thread
// released a drawing canvas (under the framebuffer lock).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/winsys/window.h"

namespace lumvara::winsys {

// Where input goes: the presenter reports it and the window tree turns it
// into messages for the window under the pointer (or the focus window).
class InputSink {
 public:
  virtual ~InputSink() = default;
  // Mouse press at a point of the top-level window's client area; `button`
  // 1 left, 3 right; `clicks` 2 for a double click.
  virtual void MouseDown(Point point, int button, int clicks) = 0;
  virtual void MouseUp(Point point, int button) = 0;
  // Key press with a virtual key code (message_loop.h).
  virtual void KeyDown(uint32_t virtual_key) = 0;
  // The user asked to close the window (posts WM_CLOSE).
  virtual void CloseRequested() = 0;
  // The desktop resized the window (moves it, sending WM_SIZE).
  virtual void Resized(int width, int height) = 0;
  // The user moved the window on the desktop: its screen rectangle follows.
  virtual void Moved(int x, int y) = 0;
  // The desktop lost the window's contents: present again.
  virtual void Exposed() = 0;
};

class Presenter {
 public:
  virtual ~Presenter() = default;
  // Backend name: "headless" or "sdl".
  virtual const char* name() const = 0;
  // Opens the output for a top-level window at a screen rectangle. False
  // when the backend cannot open (no display, for SDL).
  virtual bool Open(const Rect& screen_rect, const std::string& title, uint32_t style) = 0;
  // Follows the window's new screen rectangle.
  virtual void Move(const Rect& screen_rect) = 0;
  virtual void SetTitle(const std::string& title) = 0;
  virtual void SetVisible(bool visible) = 0;
  virtual void SetTopmost(bool topmost) = 0;
  // Takes the borders off the output for a full-screen window (true) or
  // gives them back; the window tree sets the screen-sized rectangle. False
  // when the backend has no screen to fill (the default).
  virtual bool SetFullscreen(bool on) {
    (void)on;
    return false;
  }
  // Shows a picture of the framebuffer: BGRX, `pitch` bytes per row.
  virtual void Present(const uint8_t* pixels, int pitch, int width, int height) = 0;
  virtual bool presents_from_any_thread() const = 0;
  // Copies what the output shows now (BGRX, tightly packed). False when the
  // backend cannot read it back or nothing was shown yet.
  virtual bool ReadBack(std::vector<uint8_t>* out, int* width, int* height) const = 0;
  // Collects pending desktop events and reports them to the sink. Called by
  // the owning thread's message loop; `*wake_ms` receives how soon the loop
  // should poll again when it has nothing else to do (-1: never).
  virtual void PollEvents(InputSink& sink, int* wake_ms) = 0;
  // A presenter of the same backend for another top-level window (a window
  // made top-level by SetParent). May return null.
  virtual std::unique_ptr<Presenter> CreateSibling() const = 0;
};

std::unique_ptr<Presenter> CreateHeadlessPresenter();
// Null when SDL2 cannot initialise its video subsystem. All SDL presenters
// of a process live on one thread (SDL's rule for video and events): the
// first call's thread; calls from any other thread return null.
std::unique_ptr<Presenter> CreateSdlPresenter();

// What a top-level window's presenter shows now (Presenter::ReadBack). Any
// thread for the headless presenter; the window's thread for SDL. False for a dead handle or a window that is not
// top-level.
bool ReadPresentedPixels(HWND top_level, std::vector<uint8_t>* out, int* width, int* height);
// Presenter::SetFullscreen of a top-level window; call it on the window's
// thread. False for a dead handle, a child window or a backend that cannot.
bool SetPresenterFullscreen(HWND top_level, bool on);
// The presenter's name ("headless", "sdl"); null when not top-level.
const char* PresenterName(HWND top_level);

// User input as a presenter reports it, for tests and for hosts that bring
// input from elsewhere (a web page): delivered as the desktop's would be.
// Any thread; the messages are posted to the windows' thread.
bool InjectMouseDown(HWND top_level, Point point, int button, int clicks);
bool InjectKeyDown(HWND top_level, uint32_t virtual_key);

}  // namespace lumvara::winsys
