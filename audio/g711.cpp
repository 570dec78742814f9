#include "audio/g711.h"

#include <algorithm>

namespace lumvara {
namespace {

constexpr std::uint8_t kEvenBitToggle = 0x55;
constexpr std::uint8_t kSignMask = 0x80;

}  // namespace

std::int16_t AlawExpand(std::uint8_t code) {
  const std::uint8_t a = code ^ kEvenBitToggle;
  const int segment = (a >> 4) & 0x07;
  const int mantissa = a & 0x0F;
  const int magnitude = segment == 0 ? mantissa * 16 + 8 : (mantissa * 16 + 264) << (segment - 1);
  return static_cast<std::int16_t>((a & kSignMask) ? magnitude : -magnitude);
}

void AlawExpandBlock(const std::uint8_t* alaw, std::size_t count, std::int16_t* out) {
  for (std::size_t i = 0; i < count; ++i) out[i] = AlawExpand(alaw[i]);
}

std::uint8_t AlawCompress(std::int16_t sample) {
  const bool positive = sample >= 0;
  const int magnitude = positive ? sample : std::min(-static_cast<int>(sample), 32767);
  // Segments cover the magnitude in steps of 16 << (segment - 1).
  const int x = magnitude >> 4;
  int segment = 0;
  int mantissa = x;
  if (x >= 16) {
    segment = 1;
    while ((x >> (segment - 1)) >= 32) ++segment;
    mantissa = (x >> (segment - 1)) & 0x0F;
  }
  const auto a = static_cast<std::uint8_t>((positive ? kSignMask : 0) | (segment << 4) | mantissa);
  return static_cast<std::uint8_t>(a ^ kEvenBitToggle);
}

}  // namespace lumvara
