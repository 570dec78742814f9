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

// Mixer volume scale shared by every backend: kWaveVolumeNorm is 100 %
// (samples pass unchanged), values up to kWaveVolumeLimit amplify. These are
// PulseAudio's own PA_VOLUME_NORM and PA_VOLUME_MAX.
inline constexpr std::uint32_t kWaveVolumeNorm = 0x10000;
inline constexpr std::uint32_t kWaveVolumeLimit = 0x7FFFFFFF;

}  // namespace lumvara
