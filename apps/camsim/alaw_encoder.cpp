#include "apps/camsim/alaw_encoder.h"

#include <cmath>

namespace lumvara::camsim {

uint8_t AlawEncodeSample(int16_t sample) {
  // 13-bit magnitude, segment = position of the leading one above bit 4,
  // then the even bits inverted as the line code requires.
  int value = sample >> 3;
  uint8_t sign = 0x80;
  if (value < 0) {
    sign = 0x00;
    value = -value - 1;
  }
  uint8_t code;
  if (value < 32) {
    code = static_cast<uint8_t>(value >> 1);
  } else {
    int segment = 1;
    for (int v = value >> 5; v > 1 && segment < 7; v >>= 1) ++segment;
    code = static_cast<uint8_t>((segment << 4) | ((value >> segment) & 0x0F));
  }
  return static_cast<uint8_t>((sign | code) ^ 0x55);
}

std::vector<int16_t> ToneSamples(int tone_hz, uint64_t start, size_t count, int amplitude) {
  std::vector<int16_t> samples(count);
  constexpr double kRate = 8000.0;
  const double step = 2.0 * M_PI * tone_hz / kRate;
  for (size_t i = 0; i < count; ++i) {
    samples[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(step * double(start + i))));
  }
  return samples;
}

}  // namespace lumvara::camsim
