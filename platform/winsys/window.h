#pragma once
// The window tree: top-level windows and their children, with styles,
// visibility, rectangles and text, and the window procedure that receives
// their messages (message_loop.h).
//
// Handles. An HWND is an opaque value that names a window; it is never
// dereferenced. Handles are never reused within a process, so a handle whose
// window was destroyed stays dead: IsWindow() is false and every call below
// fails or does nothing for it. Every call here may be made from any thread;
// the tree is guarded by one lock that is never held while a window
// procedure runs.
//
// Coordinates. A child's rectangle is given in its parent's client
// coordinates; a top-level window's in screen coordinates. Windows have no
// borders or captions, so the client area is the whole window: the client
// rectangle is (0, 0, width, height).
//
// Pixels. Each top-level window owns a framebuffer of its size; its children
// draw into it (gfx, through framebuffer.h) and a presenter (presenter.h)
// shows it: headless for tests, SDL2 on a desktop.

#include <lumvara/window.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/winsys/rect.h"

namespace lumvara::winsys {

// The largest width or height a window may be created or sized to.
inline constexpr int kMaxSide = 16384;

// The same type as the public LumvaraWindow, so a host's handle is passed on
// unchanged.
using HWND = LumvaraWindow;
using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

// Styles.
inline constexpr uint32_t WS_POPUP = 0x80000000u;
inline constexpr uint32_t WS_CHILD = 0x40000000u;
inline constexpr uint32_t WS_VISIBLE = 0x10000000u;
inline constexpr uint32_t WS_CLIPCHILDREN = 0x02000000u;

// The window procedure: runs on the window's thread (the thread that created
// it) for every message dispatched or sent to the window. Its result is
// returned by SendMessage and otherwise ignored, except WM_CREATE: -1 makes
// the creation fail.
using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

class Presenter;

struct WindowDesc {
  // Null for a top-level window (then `rect` is in screen coordinates).
  HWND parent = nullptr;
  uint32_t style = WS_VISIBLE;
  Rect rect;
  std::string text;  // UTF-8
  // May be empty: then every message gets DefWindowProc.
  WindowProc proc;
  // Colour that DefWindowProc's WM_ERASEBKGND fills the client area with,
  // as 0x00RRGGBB.
  uint32_t background = 0x000000;
};

// Creates a window owned by the calling thread (that thread's message loop
// receives its posted messages, timers and paints). A child window needs a
// live parent. A top-level window needs a presenter to show its pixels; null
// means a headless one. WM_CREATE is sent before the call returns; when it
// answers -1 the window is destroyed and null returned. Null on failure.
HWND CreateWindow(const WindowDesc& desc, std::unique_ptr<Presenter> presenter);
// The same with a headless presenter for a top-level window.
HWND CreateWindow(const WindowDesc& desc);

// Destroys the window and its children, sending WM_DESTROY to the window and
// then to its children on the calling thread (the window's thread). Posted messages and timers of a destroyed
// window are dropped. False for a dead handle.
bool DestroyWindow(HWND window);

// True while the window exists.
bool IsWindow(HWND window);

// The window's rectangle in screen coordinates. False for a dead handle.
bool GetWindowRect(HWND window, Rect* rect);
// (0, 0, width, height). False for a dead handle.
bool GetClientRect(HWND window, Rect* rect);
// Client coordinates of `window` to screen coordinates and back.
bool ClientToScreen(HWND window, Point* point);
bool ScreenToClient(HWND window, Point* point);

// True when the window and all its ancestors have WS_VISIBLE.
bool IsWindowVisible(HWND window);
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOW = 5;
// Sets or clears WS_VISIBLE; returns whether it was visible before. A change
// invalidates the parent (or, for a shown window, the window itself).
bool ShowWindow(HWND window, int command);

// Moves and resizes: `x`, `y` in the parent's client coordinates (screen for
// a top-level window). A size change sends WM_SIZE (wParam 0, lParam
// width | height << 16) when called on the window's thread and posts it
// otherwise. `repaint` invalidates the old and new areas. A top-level
// window's framebuffer and presenter follow its size.
bool MoveWindow(HWND window, int x, int y, int width, int height, bool repaint);

// Marks the window as above all non-topmost windows (z-order HWND_TOPMOST);
// presenters that can keep a window on top do so.
bool SetWindowTopmost(HWND window, bool topmost);

// The parent, or null for a top-level window or a dead handle.
HWND GetParent(HWND window);
// The top-level window that holds this one (itself when top-level).
HWND GetTopLevel(HWND window);
// Moves the window under another parent, keeping its rectangle's values (now
// in the new parent's client coordinates). A null parent makes it top-level
// (the desktop's child): it gets a framebuffer and a presenter of the same
// kind as the one it was shown by (call this on the window's thread). A
// top-level window given a parent loses both. Returns the previous parent;
// null also on failure (check IsWindow).
HWND SetParent(HWND window, HWND parent);

uint32_t GetWindowStyle(HWND window);
// Replaces the style; WS_VISIBLE changes act as ShowWindow would.
bool SetWindowStyle(HWND window, uint32_t style);

// UTF-8 window text. Empty for a dead handle.
std::string GetWindowText(HWND window);
bool SetWindowText(HWND window, const std::string& text);

// The window that receives key messages; null when none. SetFocus returns
// the previous one. A mouse press focuses the window it lands in.
HWND GetFocus();
HWND SetFocus(HWND window);

// Screen size reported by GetSystemMetrics. Defaults to 1920 x 1080; the
// SDL presenter sets it from the desktop it opens on.
inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;
int GetSystemMetrics(int index);
void SetScreenSize(int width, int height);

// The deepest visible window under a point of a top-level window's client
// area; `*client` receives the point in that window's client coordinates.
// Null when the point is outside.
HWND ChildWindowFromPoint(HWND top_level, Point point, Point* client);

}  // namespace lumvara::winsys
