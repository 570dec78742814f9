#pragma once
// G.711 A-law, the camera's second audio coding (frame kind 7): one byte per
// 8000 Hz sample.

#include <cstddef>
#include <cstdint>

namespace lumvara {

// Payload of a kind-7 frame: 960 bytes, 960 samples, 120 ms.
inline constexpr std::size_t kCameraAlawFrameBytes = 960;

// The standard A-law to linear expansion; magnitudes run 8..32256.
std::int16_t AlawExpand(std::uint8_t code);

// Expands `count` bytes into `count` samples. Allocates nothing.
void AlawExpandBlock(const std::uint8_t* alaw, std::size_t count, std::int16_t* out);

// The matching compression, for producing camera-side A-law (simulator,
// test signals): the code of the interval that holds the sample.
std::uint8_t AlawCompress(std::int16_t sample);

}  // namespace lumvara
