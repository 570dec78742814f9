#pragma once
// Messages and the message loop. Each thread that creates windows has one
// queue; messages posted to a window go to its creating thread's queue and
// are dispatched there, in the order they were posted.
//
// Retrieval order: posted messages first (FIFO); when none is waiting, a
// timer that is due (WM_TIMER); then a window that needs painting (WM_PAINT).
// Paint requests are coalesced: however many InvalidateRect calls come in,
// a window gets one WM_PAINT whose update rectangle is the union of the
// requested ones, and none after BeginPaint has validated it.

#include <cstdint>

#include "platform/winsys/window.h"

namespace lumvara::winsys {

inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_ERASEBKGND = 0x0014;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_KEYUP = 0x0101;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_RBUTTONUP = 0x0205;
inline constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
inline constexpr UINT WM_USER = 0x0400;

// Virtual key codes carried by WM_KEYDOWN / WM_KEYUP in wParam. Letters and
// digits use their upper-case ASCII code.
inline constexpr WPARAM VK_BACK = 0x08;
inline constexpr WPARAM VK_TAB = 0x09;
inline constexpr WPARAM VK_RETURN = 0x0D;
inline constexpr WPARAM VK_ESCAPE = 0x1B;
inline constexpr WPARAM VK_SPACE = 0x20;
inline constexpr WPARAM VK_LEFT = 0x25;
inline constexpr WPARAM VK_UP = 0x26;
inline constexpr WPARAM VK_RIGHT = 0x27;
inline constexpr WPARAM VK_DOWN = 0x28;

// Mouse messages carry the point in the window's client coordinates:
// lParam = x | y << 16 (each a signed 16-bit value).
inline LPARAM MakePointParam(int x, int y) {
  return static_cast<LPARAM>((static_cast<uint32_t>(y & 0xFFFF) << 16) | (static_cast<uint32_t>(x) & 0xFFFF));
}
inline int PointParamX(LPARAM l) { return static_cast<int16_t>(l & 0xFFFF); }
inline int PointParamY(LPARAM l) { return static_cast<int16_t>((l >> 16) & 0xFFFF); }

struct MSG {
  HWND hwnd = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// Queues a message for the window's thread. Any thread. False for a dead
// handle. A null window posts a thread-less message that GetMessage of no
// thread returns; use PostThreadQuit for WM_QUIT.
bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Calls the window procedure. On the window's thread it is a direct call; from
// another thread the message is queued and the caller blocks until the
// window's thread has dispatched it (it must be running its loop). 0 for a
// dead handle.
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Waits for the calling thread's next message. False when it is WM_QUIT.
bool GetMessage(MSG* msg);
// Takes the next message if there is one, without waiting.
bool PeekMessage(MSG* msg);
// Like GetMessage but waits at most `timeout_ms` (0: do not wait); false on
// time-out, also sets `*quit` when WM_QUIT arrived.
bool WaitMessage(MSG* msg, int timeout_ms, bool* quit);
// Runs the window procedure of msg.hwnd (or nothing for a dead window).
LRESULT DispatchMessage(const MSG& msg);
// Dispatches every message that is ready, waiting at most `timeout_ms` for
// the first. False once WM_QUIT was retrieved.
bool PumpMessages(int timeout_ms);
// Runs the loop until WM_QUIT; returns its exit code.
int RunMessageLoop();

// Queues WM_QUIT (wParam = exit code) for the calling thread.
void PostQuitMessage(int exit_code);

// Default handling: WM_ERASEBKGND fills the client area with the window's
// background colour and returns 1; WM_CLOSE destroys the window; WM_PAINT
// begins and ends painting (erasing when asked); everything else returns 0.
LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Starts (or restarts, when the id is in use) a timer of the window: WM_TIMER
// with wParam = id every `period_ms` (at least 1 ms) until KillTimer. Any
// thread; the messages arrive on the window's thread. A late timer fires
// once, not once per missed period. Returns `id`, 0 on failure.
uintptr_t SetTimer(HWND window, uintptr_t id, uint32_t period_ms);
// False when the timer does not exist. After it returns no WM_TIMER of that
// id is retrieved, even one that was already due.
bool KillTimer(HWND window, uintptr_t id);

// Adds `rect` (client coordinates; null for the whole client area) to the
// window's update rectangle and schedules one WM_PAINT. `erase` makes
// BeginPaint send WM_ERASEBKGND first. Any thread.
bool InvalidateRect(HWND window, const Rect* rect, bool erase);
// Sends WM_PAINT at once when the window has an update rectangle (on the
// window's thread; elsewhere the paint stays queued).
bool UpdateWindow(HWND window);

struct PAINTSTRUCT {
  Rect rcPaint;         // update rectangle, client coordinates
  bool fErase = false;  // true when WM_ERASEBKGND was not handled (returned 0)
};
// Takes the window's update rectangle and validates it, sending
// WM_ERASEBKGND first when an erase was requested. Draw with a device
// context of the window (gfx). False for a dead handle.
bool BeginPaint(HWND window, PAINTSTRUCT* paint);
void EndPaint(HWND window, const PAINTSTRUCT* paint);
// Validates without painting.
bool ValidateRect(HWND window);

}  // namespace lumvara::winsys
