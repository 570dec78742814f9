#include "player/osd_layout.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace lumvara {

namespace {

constexpr int32_t kEdge = 5;
constexpr int32_t kSecondsPerHour = 3600;
constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the valid UTF-8 sequence at p (at most `left` bytes), 0 when
// the bytes there do not start one.
size_t validSequenceLength(const unsigned char* p, size_t left) {
  const unsigned char c = p[0];
  size_t length = 0;
  uint32_t minimum = 0;
  uint32_t code = 0;
  if (c < 0x80) {
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    length = 2;
    minimum = 0x80;
    code = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    length = 3;
    minimum = 0x800;
    code = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    length = 4;
    minimum = 0x10000;
    code = c & 0x07;
  } else {
    return 0;
  }
  if (length > left) {
    return 0;
  }
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) {
      return 0;
    }
    code = (code << 6) | (p[i] & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    return 0;
  }
  return length;
}

}  // namespace

OsdFontSize osdFontSize(const OsdStringRecord& entry, int32_t pictureWidth, int32_t destinationWidth) {
  if (pictureWidth > kWidePictureWidth && destinationWidth < kNarrowDestinationWidth) {
    return kWidePictureFont;
  }
  return {entry.fontHeight, entry.fontWidth};
}

OsdBox osdBox(const OsdStringRecord& entry, int32_t w, int32_t h, OsdBoxHeights heights) {
  const int32_t boxHeight = 2 * heights.half;
  const winsys::Rect top{kEdge, kEdge, w - kEdge, kEdge + boxHeight};
  const winsys::Rect bottom{kEdge, h - kEdge - boxHeight, w - kEdge, h - kEdge};
  switch (entry.position) {
    case LUMVARA_OSD_TOP_LEFT:
      return {top, OsdAlign::Left};
    case LUMVARA_OSD_TOP_RIGHT:
      return {top, OsdAlign::Right};
    case LUMVARA_OSD_BOTTOM_LEFT:
      return {bottom, OsdAlign::Left};
    case LUMVARA_OSD_BOTTOM_RIGHT:
      return {bottom, OsdAlign::Right};
    case LUMVARA_OSD_CENTRE:
      return {{kEdge, h / 2 - heights.half, w - kEdge, h / 2 + heights.half}, OsdAlign::Centre};
    default:
      return {{entry.left, entry.top, entry.right, entry.bottom}, OsdAlign::Left};
  }
}

std::string osdFieldText(const char* field, size_t size) {
  const size_t length = strnlen(field, size);
  const auto* bytes = reinterpret_cast<const unsigned char*>(field);
  std::string text;
  text.reserve(length);
  for (size_t i = 0; i < length;) {
    const size_t n = validSequenceLength(bytes + i, length - i);
    if (n == 0) {
      text += kReplacement;
      ++i;
      continue;
    }
    text.append(field + i, n);
    i += n;
  }
  return text;
}

std::string osdTimeStampText(const std::string& prefix, int64_t frameTime, int8_t zone) {
  const auto shown = static_cast<std::time_t>(frameTime - static_cast<int64_t>(zone) * kSecondsPerHour);
  std::tm calendar{};
  if (gmtime_r(&shown, &calendar) == nullptr) {
    return prefix;
  }
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", calendar.tm_year + 1900, calendar.tm_mon + 1,
                calendar.tm_mday, calendar.tm_hour, calendar.tm_min, calendar.tm_sec);
  return prefix + stamp;
}

std::string osdEntryText(const OsdStringRecord& entry, int64_t frameTime, int8_t zone) {
  std::string text = osdFieldText(entry.text, sizeof entry.text);
  if (entry.mode == LUMVARA_OSD_MODE_TIME_STAMP) {
    return osdTimeStampText(text, frameTime, zone);
  }
  return text;
}

}  // namespace lumvara
