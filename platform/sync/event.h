#pragma once
// A waitable event in the Win32 style: manual-reset events stay signalled
// until reset; auto-reset events release one waiter and clear themselves.

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace lumvara {

class Event {
 public:
  enum class Reset { Auto, Manual };

  explicit Event(Reset reset = Reset::Auto, bool initiallySignalled = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Safe from any thread.
  void set();
  void reset();

  // Waits until signalled or until timeoutMs has passed; true when signalled.
  // An auto-reset event is cleared by the wait that sees it.
  bool wait(uint32_t timeoutMs);
  void waitForever();

  // Non-blocking check; clears an auto-reset event that is signalled.
  bool tryWait();

 private:
  bool consumeLocked();

  const Reset reset_;
  bool signalled_;
  std::mutex mutex_;
  std::condition_variable cond_;
};

}  // namespace lumvara
