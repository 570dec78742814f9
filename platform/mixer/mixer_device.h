#pragma once
// The system mixer: volume and mute of the default output (speakers) and
// the default input (microphone) through PulseAudio. Each object is one
// short-lived connection; every call waits for the server's answer.

#include "platform/wave/pulse_connection.h"

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

// The normal (100 %) volume of a sink or source; louder values amplify.
inline constexpr std::int64_t kMixerVolumeMaximum = PA_VOLUME_NORM;
inline constexpr std::int64_t kMixerVolumeLimit = PA_VOLUME_MAX;

class MixerDevice {
public:
    // nullptr when no server answers (bounded, quiet).
    static std::unique_ptr<MixerDevice> Open();

    // The line's current control values; empty when the line does not exist.
    std::optional<MixerControl> Read(MixerLine line);

    // Sets every channel of the line to `volume` (0..kMixerVolumeLimit).
    bool SetVolume(MixerLine line, std::uint32_t volume);
    bool SetMute(MixerLine line, bool muted);

private:
    MixerDevice() = default;
    std::unique_ptr<PulseConnection> connection_;
};

}  // namespace lumvara
