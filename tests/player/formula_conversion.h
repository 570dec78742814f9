#pragma once
// The I420 to BGRX conversion written out plainly from its formula, without
// tables or vectors: what the converter must match byte for byte. Shared by
// the conversion tests and the conversion benchmark.

#include <algorithm>
#include <cstdint>

#include "player/i420_converter.h"

namespace lumvara::test {

inline uint8_t clampToByte(int64_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Odd sizes use the nearest chroma sample; no chroma at all means 128.
inline void formulaConvert(const I420Planes& src, uint8_t* dst, int pitch) {
  const int cw = src.width / 2;
  const int ch = src.height / 2;
  for (int row = 0; row < src.height; ++row) {
    for (int x = 0; x < src.width; ++x) {
      int cb = 128;
      int cr = 128;
      if (cw > 0 && ch > 0) {
        const int cx = std::min(x / 2, cw - 1);
        const int cy = std::min(row / 2, ch - 1);
        cb = src.cb[cy * src.chromaStride + cx];
        cr = src.cr[cy * src.chromaStride + cx];
      }
      const int64_t y = 76309LL * (src.luma[row * src.lumaStride + x] - 16);
      uint8_t* p = dst + static_cast<ptrdiff_t>(row) * pitch + x * 4;
      p[0] = clampToByte((y + 132201LL * (cb - 128)) >> 16);
      p[1] = clampToByte((y - 53279LL * (cr - 128) - 25675LL * (cb - 128)) >> 16);
      p[2] = clampToByte((y + 104597LL * (cr - 128)) >> 16);
      p[3] = 0;
    }
  }
}

}  // namespace lumvara::test
