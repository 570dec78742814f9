#include "record/record_clock.h"

#include <time.h>

namespace lumvara {
namespace {

uint32_t MonotonicTickMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

RecordLocalTime SystemLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  RecordLocalTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  t.millisecond = static_cast<int>(now.tv_nsec / 1000000);
  return t;
}

}  // namespace

RecordClock RecordClock::System() { return RecordClock{MonotonicTickMs, SystemLocalTime}; }

}  // namespace lumvara
