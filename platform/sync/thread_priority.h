#pragma once
// Scheduling priority of the calling thread, standing in for Win32 thread
// priorities. A time-critical thread (a decode or render thread that must
// meet its tick) gets a raised priority within the normal time-sharing
// class: a negative nice value, never a real-time class, so that a busy
// decoder can slow other work down but never starve it.

namespace lumvara {

enum class ThreadPriority {
  Normal,
  TimeCritical,
};

// Applies `priority` to the calling thread. False when the system refused
// (raising a priority needs CAP_SYS_NICE or a suitable RLIMIT_NICE); the
// thread then keeps the priority it had, which is not an error for callers.
bool setCurrentThreadPriority(ThreadPriority priority);

}  // namespace lumvara
