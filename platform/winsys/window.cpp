// The window tree's calls: creation, destruction, rectangles, visibility,
// parents, styles, text, focus and screen metrics.
#include "platform/winsys/window.h"

#include <algorithm>

#include "platform/winsys/window_tree.h"

namespace lumvara::winsys {

namespace {

Rect ClientOf(const Node* node) { return {0, 0, node->rect.width(), node->rect.height()}; }

LRESULT CallProc(const WindowProc& proc, HWND window, UINT message, WPARAM w, LPARAM l) {
  return proc ? proc(window, message, w, l) : DefWindowProc(window, message, w, l);
}

// The proc of a live window, copied so that it runs without the tree lock.
WindowProc ProcOf(HWND window) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  return node ? node->proc : WindowProc{};
}

bool OwnedByCaller(const Node* node) { return node->queue == CurrentQueue(); }

// Where the window lies in its parent's client area, to repaint what it
// uncovers. Call with the tree mutex held.
void InvalidateUnder(Node* node, const Rect& rect_in_parent) {
  if (node->parent) WindowTree::Invalidate(node->parent, rect_in_parent, true);
}

std::shared_ptr<Framebuffer> MakeFramebuffer(const Rect& rect, std::unique_ptr<Presenter> presenter) {
  auto fb = std::make_shared<Framebuffer>();
  fb->Resize(rect.width(), rect.height());
  fb->screen_origin = {rect.left, rect.top};
  fb->present_anywhere = presenter->presents_from_any_thread();
  fb->presenter = std::move(presenter);
  fb->dirty = true;  // the first look shows the new, black window
  return fb;
}

// Sends WM_SIZE for a new client size: directly on the window's thread,
// posted from any other.
void NotifySize(HWND window, bool direct, int width, int height) {
  const LPARAM size = MakePointParam(width, height) & 0xFFFFFFFF;
  if (direct) {
    CallProc(ProcOf(window), window, WM_SIZE, 0, size);
  } else {
    PostMessage(window, WM_SIZE, 0, size);
  }
}

}  // namespace

HWND CreateWindow(const WindowDesc& desc, std::unique_ptr<Presenter> presenter) {
  const bool top_level = desc.parent == nullptr;
  if (top_level) {
    if (desc.rect.width() < 1 || desc.rect.height() < 1 || desc.rect.width() > kMaxSide ||
        desc.rect.height() > kMaxSide) {
      return nullptr;
    }
    if (!presenter) presenter = CreateHeadlessPresenter();
    if (!presenter->Open(desc.rect, desc.text, desc.style)) return nullptr;
  }

  WindowTree& tree = WindowTree::Get();
  HWND handle = nullptr;
  {
    std::lock_guard lock(tree.mutex);
    Node* parent = nullptr;
    if (!top_level) {
      parent = tree.Find(desc.parent);
      if (!parent) return nullptr;
    }
    auto node = std::make_unique<Node>();
    node->id = tree.NextId();
    node->parent = parent;
    node->style = desc.style;
    node->rect = desc.rect;
    if (node->rect.right < node->rect.left) node->rect.right = node->rect.left;
    if (node->rect.bottom < node->rect.top) node->rect.bottom = node->rect.top;
    node->text = desc.text;
    node->proc = desc.proc;
    node->background = desc.background;
    node->queue = CurrentQueue();
    if (top_level) {
      node->framebuffer = MakeFramebuffer(node->rect, std::move(presenter));
      node->framebuffer->owner = node->queue;
    }
    Node* added = tree.Add(std::move(node));
    if (parent) parent->children.push_back(added);
    added->queue->windows.insert(added->id);
    handle = WindowTree::HandleOf(added);
  }

  if (CallProc(desc.proc, handle, WM_CREATE, 0, 0) == -1) {
    DestroyWindow(handle);
    return nullptr;
  }
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(handle);
  if (!node) return nullptr;
  WindowTree::Invalidate(node, ClientOf(node), true);
  return handle;
}

HWND CreateWindow(const WindowDesc& desc) { return CreateWindow(desc, nullptr); }

bool DestroyWindow(HWND window) {
  WindowTree& tree = WindowTree::Get();
  // The window first, then its children, each told before anything is removed.
  std::vector<std::pair<HWND, WindowProc>> doomed;
  {
    std::lock_guard lock(tree.mutex);
    Node* node = tree.Find(window);
    if (!node) return false;
    std::vector<Node*> pending{node};
    while (!pending.empty()) {
      Node* n = pending.back();
      pending.pop_back();
      doomed.emplace_back(WindowTree::HandleOf(n), n->proc);
      for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) pending.push_back(*it);
    }
  }
  for (auto& [handle, proc] : doomed) CallProc(proc, handle, WM_DESTROY, 0, 0);

  std::vector<std::unique_ptr<Presenter>> presenters;
  {
    std::lock_guard lock(tree.mutex);
    Node* node = tree.Find(window);
    if (!node) return true;  // destroyed meanwhile by a WM_DESTROY handler
    if (WindowTree::Visible(node)) InvalidateUnder(node, node->rect);
    for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) {
      Node* n = tree.Find(it->first);
      if (!n) continue;
      if (n->framebuffer) {
        std::lock_guard fb_lock(n->framebuffer->mutex);
        presenters.push_back(std::move(n->framebuffer->presenter));
      }
      tree.Remove(n);
    }
  }
  // Presenters are released here, on the window's thread, outside every lock.
  presenters.clear();
  return true;
}

bool IsWindow(HWND window) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  return tree.Find(window) != nullptr;
}

bool GetWindowRect(HWND window, Rect* rect) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  if (!node || !rect) return false;
  const Point origin = WindowTree::ScreenOrigin(node);
  *rect = {origin.x, origin.y, origin.x + node->rect.width(), origin.y + node->rect.height()};
  return true;
}

bool GetClientRect(HWND window, Rect* rect) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  if (!node || !rect) return false;
  *rect = ClientOf(node);
  return true;
}

bool ClientToScreen(HWND window, Point* point) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  if (!node || !point) return false;
  const Point origin = WindowTree::ScreenOrigin(node);
  point->x += origin.x;
  point->y += origin.y;
  return true;
}

bool ScreenToClient(HWND window, Point* point) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  if (!node || !point) return false;
  const Point origin = WindowTree::ScreenOrigin(node);
  point->x -= origin.x;
  point->y -= origin.y;
  return true;
}

bool IsWindowVisible(HWND window) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  return node && WindowTree::Visible(node);
}

namespace {

// Applies a visibility change. Call with the tree mutex held.
void SetVisible(Node* node, bool visible) {
  const bool was = (node->style & WS_VISIBLE) != 0;
  if (was == visible) return;
  if (visible) {
    node->style |= WS_VISIBLE;
    WindowTree::InvalidateTree(node);
  } else {
    node->style &= ~WS_VISIBLE;
    node->needs_paint = false;
    node->update = {};
    InvalidateUnder(node, node->rect);
  }
  if (node->framebuffer) SchedulePresenterUpdate(node);
}

}  // namespace

bool ShowWindow(HWND window, int command) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  if (!node) return false;
  const bool was = (node->style & WS_VISIBLE) != 0;
  SetVisible(node, command != SW_HIDE);
  return was;
}

bool MoveWindow(HWND window, int x, int y, int width, int height, bool repaint) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  WindowTree& tree = WindowTree::Get();
  bool resized = false;
  bool direct = false;
  {
    std::lock_guard lock(tree.mutex);
    Node* node = tree.Find(window);
    if (!node) return false;
    if (node->framebuffer && (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)) {
      return false;
    }
    const Rect old = node->rect;
    const Rect next{x, y, x + width, y + height};
    resized = old.width() != width || old.height() != height;
    node->rect = next;
    if (node->framebuffer) {
      std::lock_guard fb_lock(node->framebuffer->mutex);
      node->framebuffer->Resize(width, height);
      node->framebuffer->screen_origin = {x, y};
      node->framebuffer->dirty = true;
    }
    if (node->framebuffer) SchedulePresenterUpdate(node);
    if (repaint && WindowTree::Visible(node)) {
      InvalidateUnder(node, old);
      WindowTree::InvalidateTree(node);
    }
    direct = OwnedByCaller(node);
  }
  if (resized) NotifySize(window, direct, width, height);
  return true;
}

bool SetWindowTopmost(HWND window, bool topmost) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  if (!node) return false;
  node->topmost = topmost;
  if (node->framebuffer) SchedulePresenterUpdate(node);
  return true;
}

HWND GetParent(HWND window) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  return node && node->parent ? WindowTree::HandleOf(node->parent) : nullptr;
}

HWND GetTopLevel(HWND window) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  return node ? WindowTree::HandleOf(WindowTree::TopOf(node)) : nullptr;
}

HWND SetParent(HWND window, HWND parent) {
  WindowTree& tree = WindowTree::Get();
  std::unique_ptr<Presenter> sibling;
  std::string title;
  uint32_t style = 0;
  Rect rect;
  bool becomes_top_level = false;
  // A window that becomes top-level needs a presenter before it moves; it is
  // made outside the lock from the presenter that shows it now.
  {
    std::lock_guard lock(tree.mutex);
    Node* node = tree.Find(window);
    if (!node) return nullptr;
    if (!parent && node->parent) {
      becomes_top_level = true;
      Node* top = WindowTree::TopOf(node);
      std::lock_guard fb_lock(top->framebuffer->mutex);
      if (top->framebuffer->presenter) sibling = top->framebuffer->presenter->CreateSibling();
      title = node->text;
      style = node->style;
      rect = node->rect;
    }
  }
  if (becomes_top_level) {
    if (rect.width() < 1 || rect.height() < 1) rect = {rect.left, rect.top, rect.left + 1, rect.top + 1};
    if (!sibling || !sibling->Open(rect, title, style)) {
      sibling = CreateHeadlessPresenter();
      sibling->Open(rect, title, style);
    }
  }

  std::unique_ptr<Presenter> dropped;
  HWND previous = nullptr;
  {
    std::lock_guard lock(tree.mutex);
    Node* node = tree.Find(window);
    if (!node) return nullptr;
    Node* next = nullptr;
    if (parent) {
      next = tree.Find(parent);
      if (!next) return nullptr;
      for (Node* n = next; n; n = n->parent) {
        if (n == node) return nullptr;  // would make a cycle
      }
    }
    Node* old = node->parent;
    if (old == next) return old ? WindowTree::HandleOf(old) : nullptr;
    previous = old ? WindowTree::HandleOf(old) : nullptr;
    if (WindowTree::Visible(node)) InvalidateUnder(node, node->rect);
    if (old) {
      auto& siblings = old->children;
      siblings.erase(std::remove(siblings.begin(), siblings.end(), node), siblings.end());
    }
    node->parent = next;
    if (next) {
      next->children.push_back(node);
      if (node->framebuffer) {
        std::lock_guard fb_lock(node->framebuffer->mutex);
        dropped = std::move(node->framebuffer->presenter);
      }
      node->framebuffer.reset();
    } else {
      if (!sibling) return nullptr;  // became top-level meanwhile
      if (node->rect.width() < 1 || node->rect.height() < 1) {
        node->rect.right = node->rect.left + std::max(1, node->rect.width());
        node->rect.bottom = node->rect.top + std::max(1, node->rect.height());
      }
      node->framebuffer = MakeFramebuffer(node->rect, std::move(sibling));
      node->framebuffer->owner = node->queue;
      SchedulePresenterUpdate(node);
    }
    WindowTree::InvalidateTree(node);
  }
  dropped.reset();
  return previous;
}

uint32_t GetWindowStyle(HWND window) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  return node ? node->style : 0;
}

bool SetWindowStyle(HWND window, uint32_t style) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  if (!node) return false;
  const bool visible = (style & WS_VISIBLE) != 0;
  node->style = (style & ~WS_VISIBLE) | (node->style & WS_VISIBLE);
  SetVisible(node, visible);
  if (node->framebuffer) SchedulePresenterUpdate(node);
  return true;
}

std::string GetWindowText(HWND window) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  return node ? node->text : std::string{};
}

bool SetWindowText(HWND window, const std::string& text) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  if (!node) return false;
  node->text = text;
  if (node->framebuffer) SchedulePresenterUpdate(node);
  return true;
}

HWND GetFocus() {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  return tree.focus;
}

HWND SetFocus(HWND window) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  HWND previous = tree.focus;
  if (!window || tree.Find(window)) tree.focus = window;
  return previous;
}

int GetSystemMetrics(int index) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  if (index == SM_CXSCREEN) return tree.screen_width;
  if (index == SM_CYSCREEN) return tree.screen_height;
  return 0;
}

void SetScreenSize(int width, int height) {
  if (width < 1 || height < 1) return;
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  tree.screen_width = width;
  tree.screen_height = height;
}

namespace {

Node* Deepest(Node* node, Point point, Point* client) {
  for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) {
    Node* child = *it;
    if (!(child->style & WS_VISIBLE) || !child->rect.contains(point)) continue;
    return Deepest(child, {point.x - child->rect.left, point.y - child->rect.top}, client);
  }
  *client = point;
  return node;
}

}  // namespace

HWND ChildWindowFromPoint(HWND top_level, Point point, Point* client) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(top_level);
  if (!node || !ClientOf(node).contains(point) || !(node->style & WS_VISIBLE)) return nullptr;
  Point local;
  Node* hit = Deepest(node, point, &local);
  if (client) *client = local;
  return WindowTree::HandleOf(hit);
}

}  // namespace lumvara::winsys
