#include "platform/sync/event.h"

#include <chrono>

namespace lumvara {

Event::Event(Reset reset, bool initiallySignalled) : reset_(reset), signalled_(initiallySignalled) {}

void Event::set() {
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
  }
  if (reset_ == Reset::Manual) {
    cond_.notify_all();
  } else {
    cond_.notify_one();
  }
}

void Event::reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

bool Event::consumeLocked() {
  if (!signalled_) {
    return false;
  }
  if (reset_ == Reset::Auto) {
    signalled_ = false;
  }
  return true;
}

bool Event::wait(uint32_t timeoutMs) {
  std::unique_lock lock(mutex_);
  if (!cond_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; })) {
    return false;
  }
  return consumeLocked();
}

void Event::waitForever() {
  std::unique_lock lock(mutex_);
  cond_.wait(lock, [this] { return signalled_; });
  consumeLocked();
}

bool Event::tryWait() {
  std::lock_guard lock(mutex_);
  return consumeLocked();
}

}  // namespace lumvara
