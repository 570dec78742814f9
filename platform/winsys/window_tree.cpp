#include "platform/winsys/window_tree.h"

#include <algorithm>
#include <cstring>

namespace lumvara::winsys {

WindowTree& WindowTree::Get() {
  // Never destroyed: windows may outlive static destruction order.
  static WindowTree* tree = new WindowTree;
  return *tree;
}

Node* WindowTree::Find(uint64_t id) {
  auto it = nodes_.find(id);
  return it == nodes_.end() ? nullptr : it->second.get();
}

Node* WindowTree::Find(HWND window) { return Find(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(window))); }

Node* WindowTree::Add(std::unique_ptr<Node> node) {
  Node* raw = node.get();
  nodes_.emplace(raw->id, std::move(node));
  return raw;
}

void WindowTree::Remove(Node* node) {
  if (node->parent) {
    auto& siblings = node->parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), node), siblings.end());
  }
  if (node->queue) node->queue->windows.erase(node->id);
  if (focus == HandleOf(node)) focus = nullptr;
  nodes_.erase(node->id);
}

Node* WindowTree::TopOf(Node* node) {
  while (node->parent) node = node->parent;
  return node;
}

Point WindowTree::ScreenOrigin(const Node* node) {
  Point p;
  for (; node; node = node->parent) {
    p.x += node->rect.left;
    p.y += node->rect.top;
  }
  return p;
}

bool WindowTree::Visible(const Node* node) {
  for (; node; node = node->parent) {
    if (!(node->style & WS_VISIBLE)) return false;
  }
  return true;
}

void WindowTree::Invalidate(Node* node, const Rect& rect, bool erase) {
  const Rect client{0, 0, node->rect.width(), node->rect.height()};
  const Rect area = Intersect(rect, client);
  if (area.empty() || !(node->style & WS_VISIBLE)) return;
  node->update = Union(node->update, area);
  node->needs_paint = true;
  node->erase = node->erase || erase;
  if (node->queue) node->queue->wake.notify_all();
  if (node->style & WS_CLIPCHILDREN) return;
  for (Node* child : node->children) {
    Invalidate(child, area.offset(-child->rect.left, -child->rect.top), erase);
  }
}

void WindowTree::WakeAllQueues() {
  for (auto& [id, node] : nodes_) {
    if (node->queue) node->queue->wake.notify_all();
  }
}

void WindowTree::InvalidateTree(Node* node) {
  if (!(node->style & WS_VISIBLE)) return;
  const Rect client{0, 0, node->rect.width(), node->rect.height()};
  if (!client.empty()) {
    node->update = Union(node->update, client);
    node->needs_paint = true;
    node->erase = true;
    if (node->queue) node->queue->wake.notify_all();
  }
  for (Node* child : node->children) InvalidateTree(child);
}

void SchedulePresenterUpdate(Node* top_level) {
  Framebuffer* fb = top_level->framebuffer.get();
  if (!fb) return;
  fb->presenter_changed = true;
  fb->presenter_rect = top_level->rect;
  fb->presenter_title = top_level->text;
  fb->presenter_visible = (top_level->style & WS_VISIBLE) != 0;
  fb->presenter_topmost = top_level->topmost;
  if (top_level->queue) top_level->queue->wake.notify_all();
}

namespace {

// Marks the thread's queue dead when the thread ends, so that posting to its
// windows fails instead of piling up and a blocked SendMessage is released.
struct QueueHolder {
  std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
  ~QueueHolder() {
    WindowTree& tree = WindowTree::Get();
    std::lock_guard lock(tree.mutex);
    queue->alive = false;
    queue->posted.clear();
    for (auto& sent : queue->sent) sent->done = true;
    queue->sent.clear();
    queue->wake.notify_all();
    tree.sent_done.notify_all();
  }
};

}  // namespace

std::shared_ptr<MessageQueue> CurrentQueue() {
  thread_local QueueHolder holder;
  return holder.queue;
}

}  // namespace lumvara::winsys
