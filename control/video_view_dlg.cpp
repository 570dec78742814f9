#include "control/video_view_dlg.h"

#include <cstring>

#include "control/dispatch/dispatcher.h"
#include "control/lumvara_ctrl.h"
#include "platform/gfx/device_context.h"
#include "platform/gfx/font.h"
#include "platform/winsys/message_loop.h"

namespace lumvara::control {

using namespace winsys;

namespace {

constexpr gfx::COLORREF kFocusedColour = gfx::RGB(255, 0, 0);
constexpr gfx::COLORREF kUnfocusedColour = gfx::RGB(172, 172, 172);
constexpr gfx::COLORREF kMessageBackground = gfx::RGB(0, 0, 0);
constexpr gfx::COLORREF kMessageColour = gfx::RGB(255, 255, 0);

// The dialog's font: "MS Shell Dlg" at 8 points is 11 pixels high at the
// usual 96 dots per inch.
std::shared_ptr<const gfx::Font> DialogFont() {
  static const std::shared_ptr<const gfx::Font> font =
      gfx::Font::Create(-11, 0, gfx::Font::kNormalWeight, "MS Shell Dlg");
  return font;
}

bool IsPress(UINT message) {
  return message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_LBUTTONDBLCLK;
}

}  // namespace

CVideoViewDlg::CVideoViewDlg() = default;

CVideoViewDlg::~CVideoViewDlg() {
  m_pOwner = nullptr;
  if (IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
}

bool CVideoViewDlg::Create(HWND parent, const Rect& rect) {
  WindowDesc dialog;
  dialog.parent = parent;
  dialog.style = WS_CHILD | WS_CLIPCHILDREN;
  dialog.rect = rect;
  dialog.proc = [this](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DialogProc(hwnd, message, wParam, lParam);
  };
  m_hWnd = CreateWindow(dialog);
  if (m_hWnd == nullptr) return false;

  // The static child: where the player renders and messages are shown. Its
  // place is set by LayoutVideoArea.
  WindowDesc video;
  video.parent = m_hWnd;
  video.style = WS_CHILD | WS_VISIBLE;
  video.rect = {1, 1, 1 + std::max(rect.width() - 2, 0), 1 + std::max(rect.height() - 2, 0)};
  video.proc = [this](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return StaticProc(hwnd, message, wParam, lParam);
  };
  m_stcVideo = CreateWindow(video);
  if (m_stcVideo == nullptr) {
    DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
    return false;
  }
  return true;
}

void CVideoViewDlg::LayoutVideoArea() {
  Rect client;
  if (!GetClientRect(m_hWnd, &client) || client.width() <= 0 || !m_bCreated) return;
  MoveWindow(m_stcVideo, 1, 1, client.width() - 2, client.height() - 2, true);
  InvalidateRect(m_hWnd, nullptr, true);
}

LRESULT CVideoViewDlg::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      Paint(hwnd, true);
      return 0;
    case WM_ERASEBKGND:
      // The video area and the frame cover everything.
      return 1;
    case WM_SIZE:
      DefWindowProc(hwnd, message, wParam, lParam);
      if (IsWindow(hwnd) && (lParam & 0xFFFF) > 0 && m_bCreated == 1) LayoutVideoArea();
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
      DrawFocusFrame(1);
      if (m_pOwner) m_pOwner->FireMessageNotify(0, 0);
      break;
    case WM_LBUTTONDBLCLK:
      DrawFocusFrame(1);
      if (m_pOwner) m_pOwner->FireMessageNotify(1, 0);
      break;
    case WM_KEYDOWN:
      // Enter and Escape would close a dialog; the video window swallows
      // them. Other keys go on to the host.
      if (wParam == VK_RETURN || wParam == VK_ESCAPE) return 0;
      if (m_pOwner) m_pOwner->ForwardKey(wParam);
      return 0;
    case WM_DESTROY:
      // Windows of a destroyed dialog are dead from here on.
      m_bCreated = 0;
      break;
    default:
      break;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

LRESULT CVideoViewDlg::StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (IsPress(message)) {
    // The static child takes no mouse input of its own: presses over it
    // belong to the dialog, in the dialog's coordinates.
    const int x = PointParamX(lParam) + 1;
    const int y = PointParamY(lParam) + 1;
    return SendMessage(m_hWnd, message, wParam, MakePointParam(x, y));
  }
  switch (message) {
    case WM_KEYDOWN:
      return SendMessage(m_hWnd, message, wParam, lParam);
    case WM_PAINT:
      Paint(hwnd, false);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    default:
      return DefWindowProc(hwnd, message, wParam, lParam);
  }
}

void CVideoViewDlg::Paint(HWND hwnd, bool frame) {
  PAINTSTRUCT paint;
  if (!BeginPaint(hwnd, &paint)) return;
  if (frame) DrawFocusFrame(m_bFocused);
  if (m_pOwner) {
    m_pOwner->PaintVideoArea();
  } else {
    FillMessageArea();
  }
  EndPaint(hwnd, &paint);
}

void CVideoViewDlg::DrawFocusFrame(int focused) {
  m_bFocused = focused != 0 ? 1 : 0;
  Rect client;
  if (!GetClientRect(m_hWnd, &client)) return;
  auto dc = gfx::DeviceContext::ForWindow(m_hWnd);
  if (!dc) return;
  dc->FrameRect(client, focused != 0 ? kFocusedColour : kUnfocusedColour);
}

void CVideoViewDlg::SetMessageText(const char* text) {
  std::memset(m_szMessage, 0, sizeof m_szMessage);
  const std::string cut = ConvertText(text ? text : "", sizeof m_szMessage - 1);
  std::memcpy(m_szMessage, cut.data(), cut.size());
  SetWindowText(m_stcVideo, m_szMessage);
  InvalidateRect(m_stcVideo, nullptr, true);
}

void CVideoViewDlg::FillMessageArea() {
  Rect client;
  if (!GetClientRect(m_stcVideo, &client)) return;
  auto dc = gfx::DeviceContext::ForWindow(m_stcVideo);
  if (!dc) return;
  dc->FillRect(client, kMessageBackground);
  if (m_szMessage[0] == '\0') return;
  SetWindowText(m_stcVideo, m_szMessage);
  // The text as the static control shows it: centred both ways, yellow on
  // whatever lies below.
  dc->SelectFont(DialogFont());
  dc->SetBkMode(gfx::TRANSPARENT);
  dc->SetTextColor(kMessageColour);
  dc->DrawText(m_szMessage, &client, gfx::DT_CENTER | gfx::DT_VCENTER | gfx::DT_SINGLELINE);
}

}  // namespace lumvara::control
