#pragma once
// Which sound backend the wave and mixer layers use. The environment is
// read each time a device or mixer opens:
//
//   LUMVARA_AUDIO      unset, empty or "pulse": PulseAudio, the default.
//                      "file": no sound server. Playback is written to a
//                      WAV file and capture read from one, each paced in
//                      real time by a thread of its own; the mixer's volume
//                      and mute are kept in this process and apply to the
//                      file streams. Any other value: nothing opens (the
//                      name is logged).
//   LUMVARA_AUDIO_OUT  file backend, playback: the WAV file (8000 Hz mono
//                      16-bit PCM) a playback device writes. It is created
//                      or truncated at open and is a whole WAV file at every
//                      moment while it grows, holding what the output
//                      played: the queued buffers, and silence whenever the
//                      queue ran dry, so its duration is the time the
//                      device was open. A "%d" in the name becomes the
//                      number of the playback open in this process (1, 2,
//                      ...), so that several players get a file each;
//                      without it every open truncates the same file. Unset
//                      or empty: played at the same pace and discarded.
//   LUMVARA_AUDIO_IN   file backend, capture: the WAV file (8000 Hz mono
//                      16-bit PCM) a capture device reads. Each open starts
//                      at the file's first sample; time passes in it only
//                      while capture runs, and it loops at its end, so a
//                      short file is an endless microphone signal. Unset or
//                      empty: the input is silence.

#include <optional>

namespace lumvara {

enum class WaveBackend { kPulse, kFile };

inline constexpr const char* kAudioBackendVariable = "LUMVARA_AUDIO";
inline constexpr const char* kAudioOutputVariable = "LUMVARA_AUDIO_OUT";
inline constexpr const char* kAudioInputVariable = "LUMVARA_AUDIO_IN";

// The backend LUMVARA_AUDIO names now; empty (and logged) for an unknown name.
std::optional<WaveBackend> SelectedWaveBackend();

}  // namespace lumvara
