#pragma once
// A periodic timer on its own thread, standing in for a multimedia timer:
// every `periodMs` it calls the callback until stopped. The callback runs on
// the timer thread and must be short (it usually just sets an Event).

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "platform/sync/event.h"

namespace lumvara {

class PeriodicTimer {
 public:
  PeriodicTimer() = default;
  ~PeriodicTimer();
  PeriodicTimer(const PeriodicTimer&) = delete;
  PeriodicTimer& operator=(const PeriodicTimer&) = delete;

  // Starts the timer thread; a running timer is stopped first. Ticks are
  // scheduled against a steady clock so that they do not drift.
  void start(uint32_t periodMs, std::function<void()> callback);

  // Stops the thread and waits for it; bounded by one callback run. Must not
  // be called from the callback itself.
  void stop();

  bool running() const { return running_.load(); }

 private:
  void run(uint32_t periodMs);

  std::function<void()> callback_;
  std::atomic<bool> running_{false};
  Event wake_{Event::Reset::Auto};
  std::thread thread_;
};

}  // namespace lumvara
