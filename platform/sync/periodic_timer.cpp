#include "platform/sync/periodic_timer.h"

#include <chrono>

namespace lumvara {

PeriodicTimer::~PeriodicTimer() { stop(); }

void PeriodicTimer::start(uint32_t periodMs, std::function<void()> callback) {
  stop();
  callback_ = std::move(callback);
  wake_.reset();
  running_ = true;
  thread_ = std::thread([this, periodMs] { run(periodMs); });
}

void PeriodicTimer::stop() {
  running_ = false;
  wake_.set();
  if (thread_.joinable()) {
    thread_.join();
  }
}

void PeriodicTimer::run(uint32_t periodMs) {
  using Clock = std::chrono::steady_clock;
  const auto period = std::chrono::milliseconds(periodMs == 0 ? 1 : periodMs);
  auto next = Clock::now() + period;
  while (running_) {
    const auto now = Clock::now();
    if (now < next) {
      const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
      if (wake_.wait(static_cast<uint32_t>(waitMs)) || !running_) {
        continue;  // a stop request, or a spurious set: re-check the flag
      }
      if (Clock::now() < next) {
        continue;
      }
    }
    callback_();
    next += period;
    if (Clock::now() > next + 10 * period) {
      next = Clock::now() + period;  // far behind (suspended machine): do not burst
    }
  }
}

}  // namespace lumvara
