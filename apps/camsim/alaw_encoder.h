// G.711 A-law compression of 16-bit PCM, and the camera's test tone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumvara::camsim {

uint8_t AlawEncodeSample(int16_t sample);

// `count` samples of a sine tone at 8000 Hz, continuing from sample `start`.
std::vector<int16_t> ToneSamples(int tone_hz, uint64_t start, size_t count, int amplitude = 8000);

}  // namespace lumvara::camsim
