#pragma once
// The clocks the recorder reads: a wrapping 32-bit millisecond tick (the
// file's age and its 25 fps frame clock) and the local wall-clock time that
// names folders and files. Tests replace both to run without sleeping.

#include <cstdint>
#include <functional>

namespace lumvara {

struct RecordLocalTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;  // 0..999
};

struct RecordClock {
  std::function<uint32_t()> tickMs;
  std::function<RecordLocalTime()> localTime;

  // Monotonic milliseconds since boot (wrapping) and the system's local time.
  static RecordClock System();
};

}  // namespace lumvara
