#include "net/device/record_dates.h"

#include <ctime>

namespace lumvara {

std::optional<int64_t> localCalendarSeconds(const int fields[6]) {
  const int year = fields[0], month = fields[1], day = fields[2];
  const int hour = fields[3], minute = fields[4], second = fields[5];
  if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }
  std::tm calendar{};
  calendar.tm_year = year - 1900;
  calendar.tm_mon = month - 1;
  calendar.tm_mday = day;
  calendar.tm_hour = hour;
  calendar.tm_min = minute;
  calendar.tm_sec = second;
  calendar.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&calendar);
  if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<int64_t>(seconds);
}

}  // namespace lumvara
