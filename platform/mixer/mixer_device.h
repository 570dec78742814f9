#pragma once
// The system mixer: volume and mute of the default output (speakers) and
// the default input (microphone), of the sound backend the environment
// selects when the mixer opens (platform/wave/wave_backend.h): PulseAudio
// (mixer_pulse.cpp) or the file backend's levels, kept in this process and
// applied to its streams (mixer_file.cpp). Each object is short-lived; every
// call has taken effect when it returns.

#include "platform/wave/wave_buffer.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace lumvara {

enum class MixerLine { kSpeakers, kMicrophone };

struct MixerControl {
  std::uint32_t volume = 0;  // loudest channel, 0..kMixerVolumeMaximum is 0..100 %
  bool muted = false;
  std::uint8_t channels = 1;
};

// The normal (100 %) volume of a line; louder values amplify.
inline constexpr std::int64_t kMixerVolumeMaximum = kWaveVolumeNorm;
inline constexpr std::int64_t kMixerVolumeLimit = kWaveVolumeLimit;

class MixerDevice {
 public:
  // nullptr when the backend is not reachable (no server answers, an
  // unknown backend name); bounded and quiet.
  static std::unique_ptr<MixerDevice> Open();

  virtual ~MixerDevice() = default;
  MixerDevice(const MixerDevice&) = delete;
  MixerDevice& operator=(const MixerDevice&) = delete;

  // The line's current control values; empty when the line does not exist.
  virtual std::optional<MixerControl> Read(MixerLine line) = 0;

  // Sets every channel of the line to `volume` (0..kMixerVolumeLimit).
  virtual bool SetVolume(MixerLine line, std::uint32_t volume) = 0;
  virtual bool SetMute(MixerLine line, bool muted) = 0;

 protected:
  MixerDevice() = default;
};

}  // namespace lumvara
