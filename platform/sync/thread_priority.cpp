#include "platform/sync/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace lumvara {

namespace {

// Nice values per priority; on Linux a nice value belongs to one thread.
constexpr int kNormalNice = 0;
constexpr int kTimeCriticalNice = -10;

}  // namespace

bool setCurrentThreadPriority(ThreadPriority priority) {
  const int nice = priority == ThreadPriority::TimeCritical ? kTimeCriticalNice : kNormalNice;
  const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
  return ::setpriority(PRIO_PROCESS, thread, nice) == 0;
}

}  // namespace lumvara
