// Per-thread message queues: posting, sending, retrieval with timers and
// coalesced paints, dispatch, and painting calls.
#include "platform/winsys/message_loop.h"

#include <algorithm>
#include <mutex>
#include <optional>

#include "platform/sync/clock.h"
#include "platform/winsys/window_canvas.h"
#include "platform/winsys/window_tree.h"

namespace lumvara::winsys {

namespace {

// Upper bound on messages PumpMessages dispatches in one call, so that a
// window that never validates its paint cannot hold the caller forever.
constexpr int kMaxPumpBatch = 10000;

LRESULT CallProc(const WindowProc& proc, HWND window, UINT message, WPARAM w, LPARAM l) {
  return proc ? proc(window, message, w, l) : DefWindowProc(window, message, w, l);
}

// Answers messages other threads sent to this thread's windows. Called with
// the lock held; runs the procedures without it.
void AnswerSent(MessageQueue& queue, std::unique_lock<std::mutex>& lock) {
  WindowTree& tree = WindowTree::Get();
  while (!queue.sent.empty()) {
    std::shared_ptr<SentMessage> sent = queue.sent.front();
    queue.sent.pop_front();
    Node* node = tree.Find(sent->msg.hwnd);
    WindowProc proc = node ? node->proc : WindowProc{};
    const bool live = node != nullptr;
    lock.unlock();
    LRESULT result = live ? CallProc(proc, sent->msg.hwnd, sent->msg.message, sent->msg.wParam, sent->msg.lParam) : 0;
    lock.lock();
    sent->result = result;
    sent->done = true;
    tree.sent_done.notify_all();
  }
}

// The earliest timer of the queue's windows. Called with the lock held.
struct DueTimer {
  Node* node = nullptr;
  uintptr_t id = 0;
  Clock::time_point due;
};
std::optional<DueTimer> EarliestTimer(MessageQueue& queue) {
  WindowTree& tree = WindowTree::Get();
  std::optional<DueTimer> best;
  for (uint64_t id : queue.windows) {
    Node* node = tree.Find(id);
    if (!node) continue;
    for (auto& [timer_id, timer] : node->timers) {
      if (!best || timer.due < best->due) best = DueTimer{node, timer_id, timer.due};
    }
  }
  return best;
}

Node* WindowNeedingPaint(MessageQueue& queue) {
  WindowTree& tree = WindowTree::Get();
  for (uint64_t id : queue.windows) {
    Node* node = tree.Find(id);
    if (node && node->needs_paint && WindowTree::Visible(node)) return node;
  }
  return nullptr;
}

enum class Fetch { kMessage, kQuit, kTimeout };

// Takes the next message of the calling thread, waiting until `deadline`
// (none: forever).
Fetch Next(MSG* msg, std::optional<Clock::time_point> deadline) {
  WindowTree& tree = WindowTree::Get();
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  std::unique_lock lock(tree.mutex);
  for (;;) {
    AnswerSent(*queue, lock);
    if (!queue->posted.empty()) {
      *msg = queue->posted.front();
      queue->posted.pop_front();
      return Fetch::kMessage;
    }
    if (queue->quit) {
      queue->quit = false;
      *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue->exit_code), 0};
      return Fetch::kQuit;
    }
    const Clock::time_point now = Clock::now();
    // Timers count on the installable clock (a test may move it by hand);
    // deadlines and presenter polls stay on real time.
    const Clock::time_point timer_now = ClockNow();
    std::optional<DueTimer> timer = EarliestTimer(*queue);
    if (timer && timer->due <= timer_now) {
      Timer& t = timer->node->timers[timer->id];
      t.due = timer_now + std::chrono::milliseconds(t.period_ms);
      *msg = MSG{WindowTree::HandleOf(timer->node), WM_TIMER, timer->id, 0};
      return Fetch::kMessage;
    }
    if (Node* node = WindowNeedingPaint(*queue)) {
      *msg = MSG{WindowTree::HandleOf(node), WM_PAINT, 0, 0};
      return Fetch::kMessage;
    }

    lock.unlock();
    const int poll_ms = ServicePresenters(*queue);
    lock.lock();
    if (!queue->posted.empty() || !queue->sent.empty() || queue->quit) continue;
    // A manual clock may have moved while the lock was released; its
    // listener's wake-up needs the lock, so after this check none is lost.
    if (timer && timer->due <= ClockNow()) continue;

    std::optional<Clock::time_point> wake = deadline;
    // A manual clock's time is no real time to wait for: its moves wake us.
    if (timer && !ClockIsManual()) wake = wake ? std::min(*wake, timer->due) : timer->due;
    if (poll_ms >= 0) {
      const Clock::time_point poll = now + std::chrono::milliseconds(poll_ms);
      wake = wake ? std::min(*wake, poll) : poll;
    }
    if (deadline && now >= *deadline) return Fetch::kTimeout;
    if (wake) {
      queue->wake.wait_until(lock, *wake);
    } else {
      queue->wake.wait(lock);
    }
    // Presenters may have new pixels or events; timers may be due. A wake by
    // an invalidation or a post is seen at the top of the loop.
  }
}

}  // namespace

bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  if (!node || !node->queue || !node->queue->alive) return false;
  node->queue->posted.push_back(MSG{window, message, wParam, lParam});
  node->queue->wake.notify_all();
  return true;
}

LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowTree& tree = WindowTree::Get();
  std::unique_lock lock(tree.mutex);
  Node* node = tree.Find(window);
  if (!node || !node->queue || !node->queue->alive) return 0;
  if (node->queue == CurrentQueue()) {
    WindowProc proc = node->proc;
    lock.unlock();
    return CallProc(proc, window, message, wParam, lParam);
  }
  auto sent = std::make_shared<SentMessage>();
  sent->msg = MSG{window, message, wParam, lParam};
  std::shared_ptr<MessageQueue> target = node->queue;
  target->sent.push_back(sent);
  target->wake.notify_all();
  tree.sent_done.wait(lock, [&] { return sent->done || !target->alive; });
  return sent->result;
}

bool GetMessage(MSG* msg) { return Next(msg, std::nullopt) == Fetch::kMessage; }

bool PeekMessage(MSG* msg) {
  bool quit = false;
  return WaitMessage(msg, 0, &quit) || quit;
}

bool WaitMessage(MSG* msg, int timeout_ms, bool* quit) {
  const Fetch got = Next(msg, Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0)));
  if (quit) *quit = got == Fetch::kQuit;
  return got == Fetch::kMessage;
}

LRESULT DispatchMessage(const MSG& msg) {
  if (!msg.hwnd) return 0;
  WindowProc proc;
  {
    WindowTree& tree = WindowTree::Get();
    std::lock_guard lock(tree.mutex);
    Node* node = tree.Find(msg.hwnd);
    if (!node) return 0;  // destroyed after the message was queued
    if (msg.message == WM_TIMER && !node->timers.count(msg.wParam)) return 0;
    proc = node->proc;
  }
  return CallProc(proc, msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

bool PumpMessages(int timeout_ms) {
  MSG msg;
  bool quit = false;
  if (!WaitMessage(&msg, timeout_ms, &quit)) return !quit;
  DispatchMessage(msg);
  for (int i = 0; i < kMaxPumpBatch; ++i) {
    if (!WaitMessage(&msg, 0, &quit)) return !quit;
    DispatchMessage(msg);
  }
  return true;
}

int RunMessageLoop() {
  MSG msg;
  while (GetMessage(&msg)) DispatchMessage(msg);
  return static_cast<int>(msg.wParam);
}

void PostQuitMessage(int exit_code) {
  WindowTree& tree = WindowTree::Get();
  std::shared_ptr<MessageQueue> queue = CurrentQueue();
  std::lock_guard lock(tree.mutex);
  queue->quit = true;
  queue->exit_code = exit_code;
  queue->wake.notify_all();
}

LRESULT DefWindowProc(HWND window, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_ERASEBKGND:
      return FillWindowBackground(window) ? 1 : 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);  // erases when asked, then validates
      EndPaint(window, &paint);
      return 0;
    }
    default:
      return 0;
  }
}

// Wakes every message loop after a manual clock moved, so due timers fire.
void WakeLoopsForClock() {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  tree.WakeAllQueues();
}

uintptr_t SetTimer(HWND window, uintptr_t id, uint32_t period_ms) {
  static std::once_flag listening;
  std::call_once(listening, [] { AddClockListener(&WakeLoopsForClock); });
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  if (!node) return 0;
  Timer& timer = node->timers[id];
  timer.period_ms = std::max<uint32_t>(period_ms, 1);
  timer.due = ClockNow() + std::chrono::milliseconds(timer.period_ms);
  if (node->queue) node->queue->wake.notify_all();
  return id;
}

bool KillTimer(HWND window, uintptr_t id) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  return node && node->timers.erase(id) > 0;
}

bool InvalidateRect(HWND window, const Rect* rect, bool erase) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  if (!node) return false;
  const Rect area = rect ? *rect : Rect{0, 0, node->rect.width(), node->rect.height()};
  WindowTree::Invalidate(node, area, erase);
  return true;
}

bool UpdateWindow(HWND window) {
  WindowTree& tree = WindowTree::Get();
  WindowProc proc;
  {
    std::lock_guard lock(tree.mutex);
    Node* node = tree.Find(window);
    if (!node) return false;
    if (!node->needs_paint || !WindowTree::Visible(node) || node->queue != CurrentQueue()) return true;
    proc = node->proc;
  }
  CallProc(proc, window, WM_PAINT, 0, 0);
  return true;
}

bool BeginPaint(HWND window, PAINTSTRUCT* paint) {
  WindowTree& tree = WindowTree::Get();
  bool erase = false;
  WindowProc proc;
  {
    std::lock_guard lock(tree.mutex);
    Node* node = tree.Find(window);
    if (!node) return false;
    if (paint) paint->rcPaint = node->update;
    erase = node->erase;
    node->update = {};
    node->needs_paint = false;
    node->erase = false;
    proc = node->proc;
  }
  const bool erased = erase && CallProc(proc, window, WM_ERASEBKGND, 0, 0) != 0;
  if (paint) paint->fErase = erase && !erased;
  return true;
}

void EndPaint(HWND, const PAINTSTRUCT*) {}

bool ValidateRect(HWND window) {
  WindowTree& tree = WindowTree::Get();
  std::lock_guard lock(tree.mutex);
  Node* node = tree.Find(window);
  if (!node) return false;
  node->update = {};
  node->needs_paint = false;
  node->erase = false;
  return true;
}

}  // namespace lumvara::winsys
