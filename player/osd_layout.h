#pragma once
// What an on-screen text entry shows and where: its font size, its box and
// alignment, and its text (the entry's own, or a prefix followed by the
// frame's date and time).

#include <lumvara/player.h>

#include <cstdint>
#include <string>

#include "platform/winsys/rect.h"

namespace lumvara {

enum class OsdAlign { Left, Right, Centre };

struct OsdFontSize {
  int32_t height = 0;
  int32_t width = 0;
};

struct OsdBox {
  winsys::Rect box;
  OsdAlign align = OsdAlign::Left;
};

// Height and width of a fixed box: 34 pixels for pictures, 24 for the JPEG
// player's window boxes.
struct OsdBoxHeights {
  int32_t half = 17;
};
inline constexpr OsdBoxHeights kPictureOsdBoxes{17};
inline constexpr OsdBoxHeights kWindowOsdBoxes{12};

// A wide picture (more than 1000 pixels) shown in a narrow destination (less
// than 700 pixels) would make the entry's own font unreadably small after
// scaling: such pictures use 36 x 17 whatever the entry asks.
inline constexpr int32_t kWidePictureWidth = 1000;
inline constexpr int32_t kNarrowDestinationWidth = 700;
inline constexpr OsdFontSize kWidePictureFont{36, 17};

OsdFontSize osdFontSize(const OsdStringRecord& entry, int32_t pictureWidth, int32_t destinationWidth);

// The box in the coordinates of what is drawn on, w x h: five fixed positions
// 5 pixels in from the edges, or the entry's own rectangle (left aligned).
OsdBox osdBox(const OsdStringRecord& entry, int32_t w, int32_t h, OsdBoxHeights heights = kPictureOsdBoxes);

// A fixed-size text field as UTF-8: it ends at its first NUL or at its last
// byte; bytes that are not valid UTF-8 become U+FFFD each.
std::string osdFieldText(const char* field, size_t size);

// prefix + "YYYY-MM-DD HH:MM:SS" of frameTime - zone * 3600 read as UTC.
std::string osdTimeStampText(const std::string& prefix, int64_t frameTime, int8_t zone);

// The text an entry shows for a frame.
std::string osdEntryText(const OsdStringRecord& entry, int64_t frameTime, int8_t zone);

}  // namespace lumvara
