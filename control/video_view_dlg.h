#pragma once
// CVideoViewDlg: the control's video window. A child window that covers the
// control's whole client area and holds one static child, the video and
// message area, one pixel in from each edge; the pixel left around it is the
// focus frame. The player renders into the static child; the control writes
// status texts into it.
//
// Everything here runs on the control's window thread. The player draws
// into the static child from its own threads; whichever paints last wins.

#include <cstdint>
#include <string>

#include "platform/winsys/window.h"

namespace lumvara::control {

class CLumvaraCtrl;

class CVideoViewDlg {
 public:
  // The dialog template and the static control's id in it.
  static constexpr int kTemplateId = 201;
  static constexpr int kVideoStaticId = 15026;
  static constexpr int kMessageBytes = 256;

  CVideoViewDlg();
  // Destroys the windows if they still exist.
  ~CVideoViewDlg();
  CVideoViewDlg(const CVideoViewDlg&) = delete;
  CVideoViewDlg& operator=(const CVideoViewDlg&) = delete;

  // Creates the dialog as a child of `parent` covering `rect` (parent's
  // client coordinates), hidden, and its static child. False on failure.
  bool Create(winsys::HWND parent, const winsys::Rect& rect);

  // Places the static child one pixel in from each edge of the client area.
  void LayoutVideoArea();

  // Stores the state and draws the one-pixel frame along the client edge:
  // red when `focused` is non-zero, grey otherwise.
  void DrawFocusFrame(int focused);
  // Stores a copy of the UTF-8 text (at most 255 bytes, cut at a character
  // boundary), makes it the static child's text and invalidates the child.
  void SetMessageText(const char* text);
  // Fills the video area black and, when a message is stored, draws it
  // centred in yellow.
  void FillMessageArea();

  winsys::HWND GetSafeHwnd() const { return m_hWnd; }
  winsys::HWND videoWindow() const { return m_stcVideo; }
  const char* message() const { return m_szMessage; }
  int focused() const { return m_bFocused; }

  CLumvaraCtrl* m_pOwner = nullptr;
  int32_t m_bCreated = 0;

 private:
  winsys::LRESULT DialogProc(winsys::HWND hwnd, winsys::UINT message, winsys::WPARAM wParam, winsys::LPARAM lParam);
  winsys::LRESULT StaticProc(winsys::HWND hwnd, winsys::UINT message, winsys::WPARAM wParam, winsys::LPARAM lParam);
  void Paint(winsys::HWND hwnd, bool frame);

  winsys::HWND m_hWnd = nullptr;
  winsys::HWND m_stcVideo = nullptr;
  int32_t m_bFocused = 0;
  char m_szMessage[kMessageBytes] = {};
};

}  // namespace lumvara::control
