#include "control/module/prop_page.h"

#include <atomic>

#include "control/module/module_ids.h"
#include "platform/gfx/device_context.h"
#include "platform/winsys/message_loop.h"

namespace lumvara::control {

namespace {

constexpr gfx::COLORREF kFace = gfx::RGB(240, 240, 240);  // a dialog's face colour
constexpr gfx::COLORREF kText = gfx::RGB(0, 0, 0);
constexpr int kMargin = 12;
constexpr int kCaptionHeight = 24;

std::atomic<size_t> g_live_pages{0};

void Paint(winsys::HWND window) {
  winsys::PAINTSTRUCT paint;
  if (!winsys::BeginPaint(window, &paint)) return;
  if (auto dc = gfx::DeviceContext::ForWindow(window)) {
    winsys::Rect client;
    winsys::GetClientRect(window, &client);
    dc->FillRect(client, kFace);
    dc->SetBkMode(gfx::TRANSPARENT);
    dc->SetTextColor(kText);
    winsys::Rect caption{kMargin, kMargin / 2, client.right - kMargin, kMargin / 2 + kCaptionHeight};
    dc->DrawText(kPropPageCaption, &caption, gfx::DT_LEFT | gfx::DT_SINGLELINE | gfx::DT_VCENTER);
    winsys::Rect hint{kMargin, caption.bottom + kMargin, client.right - kMargin, client.bottom - kMargin};
    dc->DrawText(CLumvaraPropPage::HintText(), &hint, gfx::DT_LEFT | gfx::DT_WORDBREAK);
  }
  winsys::EndPaint(window, &paint);
}

winsys::LRESULT PageProc(winsys::HWND window, winsys::UINT message, winsys::WPARAM wParam, winsys::LPARAM lParam) {
  switch (message) {
    case winsys::WM_PAINT:
      Paint(window);
      return 0;
    case winsys::WM_ERASEBKGND:
      return 1;  // the paint fills the whole page
    case winsys::WM_CREATE:
      g_live_pages.fetch_add(1);
      return 0;
    case winsys::WM_DESTROY:
      g_live_pages.fetch_sub(1);
      return 0;
    default:
      return winsys::DefWindowProc(window, message, wParam, lParam);
  }
}

}  // namespace

const char* CLumvaraPropPage::HintText() { return "Lumvara 控件没有需要在此设置的属性。"; }

winsys::HWND CLumvaraPropPage::Create(winsys::HWND parent, int x, int y, int width, int height) {
  if (!winsys::IsWindow(parent)) return nullptr;
  winsys::WindowDesc desc;
  desc.parent = parent;
  desc.style = winsys::WS_CHILD | winsys::WS_VISIBLE;
  desc.rect = {x, y, x + width, y + height};
  desc.text = kPropPageCaption;
  desc.background = 0xF0F0F0;
  desc.proc = PageProc;
  // Counted from WM_CREATE to WM_DESTROY.
  return winsys::CreateWindow(desc);
}

size_t CLumvaraPropPage::LiveCount() { return g_live_pages.load(); }

}  // namespace lumvara::control
