#pragma once
// The window tree's shared state: every live window, the message queue of
// each UI thread, the top-level framebuffers (framebuffer.h). Internal to
// winsys.
//
// One mutex (WindowTree::mutex) guards the tree, the queues, timers and paint
// state; it is never held while a window procedure or a presenter runs. A
// framebuffer has its own mutex; code that holds a framebuffer's mutex never
// takes the tree's (the order is tree, then framebuffer).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/winsys/framebuffer.h"
#include "platform/winsys/message_loop.h"
#include "platform/winsys/presenter.h"
#include "platform/winsys/window.h"

namespace lumvara::winsys {

using Clock = std::chrono::steady_clock;

class MessageQueue;

// A message sent from another thread, answered by the window's thread.
struct SentMessage {
  MSG msg;
  LRESULT result = 0;
  bool done = false;
};

class MessageQueue {
 public:
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  std::set<uint64_t> windows;  // ids of windows owned by this thread
  std::condition_variable wake;
  bool quit = false;
  int exit_code = 0;
  bool alive = true;  // false once the thread has ended
};

struct Timer {
  uint32_t period_ms = 0;
  Clock::time_point due;
};

struct Node {
  uint64_t id = 0;
  Node* parent = nullptr;
  std::vector<Node*> children;  // in creation order; later ones lie on top
  uint32_t style = 0;
  Rect rect;  // parent's client coordinates, screen for a top-level window
  std::string text;
  WindowProc proc;
  uint32_t background = 0;
  bool topmost = false;
  std::shared_ptr<MessageQueue> queue;
  std::shared_ptr<Framebuffer> framebuffer;  // top-level windows only
  Rect update;                               // pending paint, client coordinates
  bool needs_paint = false;
  bool erase = false;
  std::map<uintptr_t, Timer> timers;
};

class WindowTree {
 public:
  static WindowTree& Get();

  std::mutex mutex;

  // All below: call with `mutex` held.
  Node* Find(HWND window);
  Node* Add(std::unique_ptr<Node> node);
  void Remove(Node* node);
  uint64_t NextId() { return next_id_++; }
  Node* Find(uint64_t id);

  static HWND HandleOf(const Node* node) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(node->id)); }
  static Node* TopOf(Node* node);
  // Screen position of the client (0, 0) of a window.
  static Point ScreenOrigin(const Node* node);
  // True when the window and its ancestors are visible.
  static bool Visible(const Node* node);
  // Adds `rect` (client coordinates) to a window's update area and, unless the
  // window clips its children, to the overlapping children's; wakes its queue.
  static void Invalidate(Node* node, const Rect& rect, bool erase);
  // Invalidates a window and every descendant whole (a window that appears
  // or moves shows nothing valid yet), whatever their styles.
  static void InvalidateTree(Node* node);
  // Wakes the queue of every window's thread (they re-check their timers).
  void WakeAllQueues();

  // Signalled when a cross-thread SendMessage has been answered.
  std::condition_variable sent_done;
  HWND focus = nullptr;
  int screen_width = 1920;
  int screen_height = 1080;

 private:
  WindowTree() = default;
  std::map<uint64_t, std::unique_ptr<Node>> nodes_;
  uint64_t next_id_ = 1;
};

// The calling thread's queue, made on first use.
std::shared_ptr<MessageQueue> CurrentQueue();

// Presents dirty framebuffers of the queue's top-level windows (on the
// owning thread) and polls their presenters' events; returns how soon to
// poll again (-1: no need).
int ServicePresenters(MessageQueue& queue);

// Records the presenter state of a top-level window for the owning loop to
// apply. Call with the tree mutex held.
void SchedulePresenterUpdate(Node* top_level);

// Fills a window's visible client area with its background colour.
bool FillWindowBackground(HWND window);

// Input sink that turns a top-level window's desktop events into messages.
// It only records what the presenter reports; Flush() acts on it afterwards,
// when no presenter is running (a resize may run window procedures that
// destroy windows and their presenters).
class RecordedInput : public InputSink {
 public:
  virtual void Flush() = 0;
};
std::unique_ptr<RecordedInput> MakeInputSink(HWND top_level);

}  // namespace lumvara::winsys
