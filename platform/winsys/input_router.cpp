// Turns a top-level window's desktop input into window messages: mouse
// presses go to the deepest visible window under the pointer (which takes
// the focus), keys to the focus window.
#include <functional>

#include "platform/winsys/message_loop.h"
#include "platform/winsys/window_tree.h"

namespace lumvara::winsys {

namespace {

// Mouse-button flags carried in wParam of mouse messages.
constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM MK_RBUTTON = 0x0002;
constexpr int kLeftButton = 1;
constexpr int kRightButton = 3;

UINT PressMessage(int button, int clicks) {
  if (button == kLeftButton) return clicks >= 2 ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN;
  if (button == kRightButton) return clicks >= 2 ? WM_RBUTTONDBLCLK : WM_RBUTTONDOWN;
  return 0;
}

UINT ReleaseMessage(int button) {
  if (button == kLeftButton) return WM_LBUTTONUP;
  if (button == kRightButton) return WM_RBUTTONUP;
  return 0;
}

WPARAM ButtonFlag(int button) { return button == kLeftButton ? MK_LBUTTON : MK_RBUTTON; }

bool IsTopLevel(HWND window) { return IsWindow(window) && GetParent(window) == nullptr; }

class TopLevelInput final : public RecordedInput {
 public:
  explicit TopLevelInput(HWND top) : top_(top) {}

  void MouseDown(Point point, int button, int clicks) override {
    actions_.push_back([this, point, button, clicks] {
      const UINT message = PressMessage(button, clicks);
      if (!message) return;
      Point client;
      HWND hit = ChildWindowFromPoint(top_, point, &client);
      if (!hit) return;
      SetFocus(hit);
      PostMessage(hit, message, ButtonFlag(button), MakePointParam(client.x, client.y));
    });
  }

  void MouseUp(Point point, int button) override {
    actions_.push_back([this, point, button] {
      const UINT message = ReleaseMessage(button);
      if (!message) return;
      Point client;
      HWND hit = ChildWindowFromPoint(top_, point, &client);
      if (hit) PostMessage(hit, message, 0, MakePointParam(client.x, client.y));
    });
  }

  void KeyDown(uint32_t virtual_key) override {
    actions_.push_back([this, virtual_key] {
      HWND focus = GetFocus();
      HWND target = focus && GetTopLevel(focus) == top_ ? focus : top_;
      PostMessage(target, WM_KEYDOWN, virtual_key, 1);
    });
  }

  void CloseRequested() override {
    actions_.push_back([this] { PostMessage(top_, WM_CLOSE, 0, 0); });
  }

  void Resized(int width, int height) override {
    actions_.push_back([this, width, height] {
      Rect rect;
      if (!GetWindowRect(top_, &rect)) return;
      if (rect.width() == width && rect.height() == height) return;
      MoveWindow(top_, rect.left, rect.top, width, height, true);
    });
  }

  void Moved(int x, int y) override {
    actions_.push_back([this, x, y] {
      Rect rect;
      if (!GetWindowRect(top_, &rect) || (rect.left == x && rect.top == y)) return;
      MoveWindow(top_, x, y, rect.width(), rect.height(), false);
    });
  }

  void Exposed() override {
    actions_.push_back([this] { InvalidateRect(top_, nullptr, false); });
  }

  void Flush() override {
    auto actions = std::move(actions_);
    actions_.clear();
    for (auto& action : actions) action();
  }

 private:
  HWND top_;
  std::vector<std::function<void()>> actions_;
};

}  // namespace

std::unique_ptr<RecordedInput> MakeInputSink(HWND top_level) { return std::make_unique<TopLevelInput>(top_level); }

bool InjectMouseDown(HWND top_level, Point point, int button, int clicks) {
  if (!IsTopLevel(top_level)) return false;
  TopLevelInput input(top_level);
  input.MouseDown(point, button, clicks);
  input.Flush();
  return true;
}

bool InjectKeyDown(HWND top_level, uint32_t virtual_key) {
  if (!IsTopLevel(top_level)) return false;
  TopLevelInput input(top_level);
  input.KeyDown(virtual_key);
  input.Flush();
  return true;
}

}  // namespace lumvara::winsys
