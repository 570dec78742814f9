#pragma once
// The steady time that window timers count on. Normally the system's
// steady clock; a test installs a ManualClock and moves time by hand, so a
// 30-second timer fires when the test says 30 seconds have passed, at once.
//
// Only code that reads ClockNow() follows a manual clock (the message
// loop's SetTimer timers, the control's own time keeping). tickCount(),
// sleeps and the timeouts of waits stay on real time.

#include <chrono>
#include <cstdint>

namespace lumvara {

using SteadyTime = std::chrono::steady_clock::time_point;

// The current time of the installed clock. Any thread.
SteadyTime ClockNow();

// True while a ManualClock is installed. Code that waits for a clock time
// must not turn a manual time into a real-time wait; it waits for a clock
// listener's wake-up instead.
bool ClockIsManual();

// Called (on the thread that moves the clock) after a manual clock moved, so
// that threads waiting for clock times re-check. At most a few listeners for
// the whole process; a listener is never removed.
using ClockListener = void (*)();
void AddClockListener(ClockListener listener);

// A clock that stands still until Advance moves it. Installs itself for its
// lifetime (one at a time; the constructor aborts when another is
// installed). It starts at the real time of its creation.
class ManualClock {
 public:
  ManualClock();
  ~ManualClock();
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;

  SteadyTime Now() const;
  // Moves time forward and tells the listeners. Any thread.
  void Advance(std::chrono::milliseconds step);
};

}  // namespace lumvara
