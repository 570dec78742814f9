#pragma once
// One audio buffer handed to a wave device, the way a wave header is: the
// owner keeps the memory; the device reads (playback) or fills (capture) it
// from the moment it is queued until it comes back done, and never touches
// it afterwards.

#include <cstdint>

namespace lumvara {

struct WaveBuffer {
    std::uint8_t* data = nullptr;
    std::uint32_t length = 0;         // bytes to play, or room to fill
    std::uint32_t bytesRecorded = 0;  // capture: bytes filled when it came back
    std::uint32_t position = 0;       // device's progress through the buffer
};

// 8000 Hz, 16-bit little-endian, mono: the one format on both directions.
inline constexpr std::uint32_t kWaveSampleRate = 8000;
inline constexpr std::uint8_t kWaveChannels = 1;
inline constexpr std::uint32_t kWaveBytesPerSecond = kWaveSampleRate * 2 * kWaveChannels;

}  // namespace lumvara
