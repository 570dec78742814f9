#pragma once
// The fixed-point tables of the I420 to BGRX conversion: studio-range
// BT.601 coefficients 1.164, 1.596, 0.813, 2.017 and 0.392 in 16.16 fixed
// point, and a clip table that saturates the shifted sums to 0..255.
// A0 and A1 are the red-difference (Cr) terms of red and green, B2 and B1
// the blue-difference (Cb) terms of blue and green.

#include <cstdint>

namespace lumvara {

struct ColourTables {
  static constexpr int kLumaScale = 76309;    // L[i] = 76309 * (i - 16)
  static constexpr int kRedFromCr = 104597;   // A0[i] = 104597 * (i - 128)
  static constexpr int kGreenFromCr = 53279;  // A1[i] = 53279 * (i - 128)
  static constexpr int kBlueFromCb = 132201;  // B2[i] = 132201 * (i - 128)
  static constexpr int kGreenFromCb = 25675;  // B1[i] = 25675 * (i - 128)
  static constexpr int kClipLow = -384;
  static constexpr int kClipHigh = 639;

  int32_t L[256];
  int32_t A0[256];
  int32_t A1[256];
  int32_t B2[256];
  int32_t B1[256];
  uint8_t clipStorage[kClipHigh - kClipLow + 1];

  // clip[i] for i in -384 ... 639.
  uint8_t clip(int32_t i) const { return clipStorage[i - kClipLow]; }
};

// The process's one set of tables, built on first use and never changed
// afterwards, so any number of renderers may read them at once.
const ColourTables& colourTables();

}  // namespace lumvara
