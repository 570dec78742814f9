#pragma once
// Reading BGRX pixels in drawing tests.

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/gfx/surface.h"

namespace lumvara::gfx::testing {

// 0x00RRGGBB of a pixel (byte 3 ignored).
inline uint32_t PixelAt(const uint8_t* bits, int pitch, int x, int y) {
  const uint8_t* p = bits + static_cast<size_t>(y) * pitch + static_cast<size_t>(x) * 4;
  return static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
}

inline uint32_t PixelAt(const Surface& s, int x, int y) { return PixelAt(s.bits(), s.pitch(), x, y); }

inline void Fill(Surface& s, uint32_t rgb) {
  int pitch = 0;
  uint8_t* bits = s.Lock(&pitch);
  for (int y = 0; y < s.height(); ++y) {
    auto* row = reinterpret_cast<uint32_t*>(bits + static_cast<size_t>(y) * pitch);
    for (int x = 0; x < s.width(); ++x) row[x] = rgb;
  }
  s.Unlock();
}

// Where pixels differ from `background`: their bounding box and count.
struct Ink {
  Rect box;
  int count = 0;
};

inline Ink FindInk(const uint8_t* bits, int pitch, int width, int height, uint32_t background) {
  Ink ink;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (PixelAt(bits, pitch, x, y) == background) continue;
      if (ink.count == 0) {
        ink.box = {x, y, x + 1, y + 1};
      } else {
        ink.box.left = std::min(ink.box.left, x);
        ink.box.top = std::min(ink.box.top, y);
        ink.box.right = std::max(ink.box.right, x + 1);
        ink.box.bottom = std::max(ink.box.bottom, y + 1);
      }
      ++ink.count;
    }
  }
  return ink;
}

inline Ink FindInk(const Surface& s, uint32_t background) {
  return FindInk(s.bits(), s.pitch(), s.width(), s.height(), background);
}

}  // namespace lumvara::gfx::testing
