#pragma once
// Calendar times of a record search, turned into seconds since 1970 the way
// mktime reads a local time (daylight saving left to the system).

#include <cstdint>
#include <optional>

namespace lumvara {

// `fields`: year, month (1-12), day (1-31), hour (0-23), minute, second
// (0-59). Nothing when a field is out of range or the time is not
// representable.
std::optional<int64_t> localCalendarSeconds(const int fields[6]);

}  // namespace lumvara
