// The installable steady clock: the system's, or a manual one for tests.
#include "platform/sync/clock.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace lumvara {

namespace {

using Rep = std::chrono::steady_clock::duration::rep;

std::atomic<bool> g_manual{false};
std::atomic<Rep> g_manualTime{0};  // time since the steady clock's epoch

struct Listeners {
  std::mutex mutex;
  std::vector<ClockListener> list;
};

Listeners& TheListeners() {
  static Listeners listeners;
  return listeners;
}

void TellListeners() {
  std::vector<ClockListener> copy;
  {
    Listeners& l = TheListeners();
    std::lock_guard lock(l.mutex);
    copy = l.list;
  }
  for (ClockListener listener : copy) listener();
}

}  // namespace

SteadyTime ClockNow() {
  if (g_manual.load(std::memory_order_acquire)) {
    return SteadyTime(std::chrono::steady_clock::duration(g_manualTime.load(std::memory_order_acquire)));
  }
  return std::chrono::steady_clock::now();
}

bool ClockIsManual() { return g_manual.load(std::memory_order_acquire); }

void AddClockListener(ClockListener listener) {
  Listeners& l = TheListeners();
  std::lock_guard lock(l.mutex);
  for (ClockListener known : l.list) {
    if (known == listener) return;
  }
  l.list.push_back(listener);
}

ManualClock::ManualClock() {
  g_manualTime.store(std::chrono::steady_clock::now().time_since_epoch().count(), std::memory_order_release);
  if (g_manual.exchange(true, std::memory_order_acq_rel)) {
    std::fprintf(stderr, "ManualClock: another manual clock is installed\n");
    std::abort();
  }
  TellListeners();
}

ManualClock::~ManualClock() {
  g_manual.store(false, std::memory_order_release);
  TellListeners();
}

SteadyTime ManualClock::Now() const { return ClockNow(); }

void ManualClock::Advance(std::chrono::milliseconds step) {
  g_manualTime.fetch_add(std::chrono::duration_cast<std::chrono::steady_clock::duration>(step).count(),
                         std::memory_order_acq_rel);
  TellListeners();
}

}  // namespace lumvara
