// The public window calls: top-level windows for native hosts, their loop,
// their pixels.
#include <lumvara/window.h>

#include <climits>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/winsys/window_canvas.h"
#include "platform/winsys/message_loop.h"
#include "platform/winsys/presenter.h"
#include "platform/winsys/window.h"

namespace lumvara::winsys {

namespace {

// How long lumvara_window_run waits per round before it looks at its window.
constexpr int kRunSliceMs = 100;

struct HostWindow {
  LumvaraWindowEventHandler handler = nullptr;
  void* context = nullptr;
  bool closed = false;
  bool fullscreen = false;
  Rect normal_rect;  // where a full-screen window goes back to
};

std::mutex& HostMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<HWND, HostWindow>& Hosts() {
  static auto* hosts = new std::map<HWND, HostWindow>;
  return *hosts;
}

void Notify(HWND window, int event, long a, long b) {
  LumvaraWindowEventHandler handler = nullptr;
  void* context = nullptr;
  {
    std::lock_guard lock(HostMutex());
    auto it = Hosts().find(window);
    if (it == Hosts().end()) return;
    if (event == LUMVARA_WINDOW_EVENT_CLOSE) it->second.closed = true;
    handler = it->second.handler;
    context = it->second.context;
  }
  if (handler) handler(window, event, a, b, context);
}

int ButtonOf(UINT message) { return message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK ? 1 : 3; }

int ClicksOf(UINT message) { return message == WM_LBUTTONDBLCLK || message == WM_RBUTTONDBLCLK ? 2 : 1; }

LRESULT HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // The host decides; the window stays until lumvara_window_destroy.
      Notify(window, LUMVARA_WINDOW_EVENT_CLOSE, 0, 0);
      return 0;
    case WM_SIZE:
      Notify(window, LUMVARA_WINDOW_EVENT_SIZE, PointParamX(lParam) & 0xFFFF, (lParam >> 16) & 0xFFFF);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
      Notify(window, LUMVARA_WINDOW_EVENT_MOUSE, static_cast<long>(lParam & 0xFFFFFFFF),
             ButtonOf(message) | ClicksOf(message) << 8);
      return 0;
    case WM_KEYDOWN:
      Notify(window, LUMVARA_WINDOW_EVENT_KEY, static_cast<long>(wParam), 0);
      return 0;
    case WM_DESTROY: {
      std::lock_guard lock(HostMutex());
      Hosts().erase(window);
      return 0;
    }
    default:
      return DefWindowProc(window, message, wParam, lParam);
  }
}

bool ValidSize(int width, int height) { return width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide; }

}  // namespace

}  // namespace lumvara::winsys

using namespace lumvara::winsys;

extern "C" {

LUMVARA_API LumvaraWindow lumvara_window_create(int kind, const char* title, int width, int height) {
  if (!ValidSize(width, height)) return nullptr;
  std::unique_ptr<Presenter> presenter;
  if (kind == LUMVARA_WINDOW_HEADLESS) {
    presenter = CreateHeadlessPresenter();
  } else if (kind == LUMVARA_WINDOW_SDL) {
    presenter = CreateSdlPresenter();
  }
  if (!presenter) return nullptr;
  WindowDesc desc;
  desc.style = WS_VISIBLE | WS_CLIPCHILDREN;
  desc.rect = {0, 0, width, height};
  desc.text = title ? title : "";
  desc.proc = HostProc;
  HWND window = CreateWindow(desc, std::move(presenter));
  if (!window) return nullptr;
  std::lock_guard lock(HostMutex());
  Hosts()[window] = HostWindow{};
  return window;
}

LUMVARA_API LumvaraWindow lumvara_window_create_child(LumvaraWindow parent, int x, int y, int width, int height) {
  if (!IsWindow(parent) || width < 0 || height < 0 || width > kMaxSide || height > kMaxSide) {
    return nullptr;
  }
  WindowDesc desc;
  desc.parent = parent;
  desc.style = WS_CHILD | WS_VISIBLE;
  desc.rect = {x, y, x + width, y + height};
  return CreateWindow(desc);
}

LUMVARA_API int lumvara_window_destroy(LumvaraWindow window) { return DestroyWindow(window) ? 1 : 0; }

LUMVARA_API int lumvara_window_set_event_handler(LumvaraWindow window, LumvaraWindowEventHandler handler,
                                                 void* context) {
  if (!IsWindow(window)) return 0;
  std::lock_guard lock(HostMutex());
  HostWindow& host = Hosts()[window];
  host.handler = handler;
  host.context = context;
  return 1;
}

LUMVARA_API int lumvara_window_pump(int timeout_ms) { return PumpMessages(timeout_ms) ? 1 : 0; }

LUMVARA_API int lumvara_window_run(LumvaraWindow window) {
  if (!IsWindow(window)) return 0;
  for (;;) {
    {
      std::lock_guard lock(HostMutex());
      auto it = Hosts().find(window);
      if (it != Hosts().end() && it->second.closed) {
        it->second.closed = false;
        return 1;
      }
    }
    if (!IsWindow(window)) return 1;
    if (!PumpMessages(kRunSliceMs)) return 0;
  }
}

LUMVARA_API void lumvara_window_quit(void) { PostQuitMessage(0); }

LUMVARA_API int lumvara_window_get_rect(LumvaraWindow window, int* x, int* y, int* width, int* height) {
  Rect rect;
  if (!GetWindowRect(window, &rect)) return 0;
  if (x) *x = rect.left;
  if (y) *y = rect.top;
  if (width) *width = rect.width();
  if (height) *height = rect.height();
  return 1;
}

LUMVARA_API int lumvara_window_set_rect(LumvaraWindow window, int x, int y, int width, int height) {
  if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide) return 0;
  return MoveWindow(window, x, y, width, height, true) ? 1 : 0;
}

LUMVARA_API int lumvara_window_set_title(LumvaraWindow window, const char* title) {
  return SetWindowText(window, title ? title : "") ? 1 : 0;
}

LUMVARA_API int lumvara_window_set_fullscreen(LumvaraWindow window, int on) {
  Rect target;
  {
    std::lock_guard lock(HostMutex());
    auto it = Hosts().find(window);
    if (it == Hosts().end()) return 0;
    if (it->second.fullscreen == (on != 0)) return 1;
    if (on) {
      Rect current;
      if (!GetWindowRect(window, &current)) return 0;
      it->second.normal_rect = current;
      target = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    } else {
      target = it->second.normal_rect;
    }
  }
  if (!SetPresenterFullscreen(window, on != 0)) return 0;
  {
    std::lock_guard lock(HostMutex());
    auto it = Hosts().find(window);
    if (it != Hosts().end()) it->second.fullscreen = on != 0;
  }
  // The host hears the new size (WM_SIZE) like any other resize.
  return MoveWindow(window, target.left, target.top, target.width(), target.height(), true) ? 1 : 0;
}

LUMVARA_API int lumvara_window_show(LumvaraWindow window, int visible) {
  if (!IsWindow(window)) return 0;
  ShowWindow(window, visible ? SW_SHOW : SW_HIDE);
  return 1;
}

LUMVARA_API long lumvara_window_read_pixels(LumvaraWindow window, void* buffer, long capacity, int pitch, int* width,
                                            int* height) {
  std::vector<uint8_t> pixels;
  int w = 0;
  int h = 0;
  if (!ReadWindowPixels(window, &pixels, &w, &h)) return 0;
  if (width) *width = w;
  if (height) *height = h;
  const long row = static_cast<long>(w) * 4;
  if (pitch < row) pitch = static_cast<int>(row);
  const long needed = static_cast<long>(pitch) * h;
  if (!buffer || capacity < needed) return needed;
  auto* out = static_cast<uint8_t*>(buffer);
  for (int y = 0; y < h; ++y) {
    std::memcpy(out + static_cast<long>(y) * pitch, pixels.data() + row * y, static_cast<size_t>(row));
  }
  return needed;
}

LUMVARA_API int lumvara_window_set_screen_size(int width, int height) {
  if (width < 1 || height < 1 || width > 16384 || height > 16384) return 0;
  SetScreenSize(width, height);
  return 1;
}

LUMVARA_API unsigned long lumvara_window_changes(LumvaraWindow window) {
  return static_cast<unsigned long>(FramebufferChanges(window));
}

LUMVARA_API double lumvara_window_frame_input_time(LumvaraWindow window) { return FrameInputMillis(window); }

LUMVARA_API int lumvara_window_send_mouse(LumvaraWindow window, int x, int y, int button, int clicks) {
  if (button != 1 && button != 3) return 0;
  return InjectMouseDown(window, {x, y}, button, clicks) ? 1 : 0;
}

LUMVARA_API int lumvara_window_send_key(LumvaraWindow window, int virtual_key) {
  if (virtual_key <= 0) return 0;
  return InjectKeyDown(window, static_cast<uint32_t>(virtual_key)) ? 1 : 0;
}

}  // extern "C"
