// The exported mixer calls: volume and mute of the speakers (default
// output) and the microphone (default input). Each call opens the mixer,
// acts on one control and closes it again.
//
// Percentages map linearly onto 0..kMixerVolumeMaximum, the server's
// normal volume, with truncating integer division both ways: with a
// maximum of 65536, 50 % writes 32768 and reads back as 50. The maximum is
// a constant of the sound server, so the read can never divide by zero.
#include "platform/mixer/mixer_device.h"

#include <lumvara/audio.h>

#include <cstdint>

namespace {

using lumvara::kMixerVolumeMaximum;
using lumvara::MixerDevice;
using lumvara::MixerLine;

int SetVolume(MixerLine line, int percent) {
  auto mixer = MixerDevice::Open();
  if (!mixer) return LUMVARA_E_FAIL;
  // Wide arithmetic: any int percentage scales without overflow; values
  // the server cannot take (negative, beyond its limit) are refused.
  const std::int64_t value = std::int64_t{percent} * kMixerVolumeMaximum / 100;
  if (value < 0 || value > lumvara::kMixerVolumeLimit) return LUMVARA_E_FAIL;
  return mixer->SetVolume(line, static_cast<std::uint32_t>(value)) ? LUMVARA_S_OK : LUMVARA_E_FAIL;
}

int GetVolume(MixerLine line) {
  auto mixer = MixerDevice::Open();
  if (!mixer) return -1;
  const auto control = mixer->Read(line);
  if (!control) return -1;
  return static_cast<int>(std::int64_t{control->volume} * 100 / kMixerVolumeMaximum);
}

int SetMute(MixerLine line, int mute) {
  auto mixer = MixerDevice::Open();
  if (!mixer) return LUMVARA_E_FAIL;
  return mixer->SetMute(line, mute != 0) ? LUMVARA_S_OK : LUMVARA_E_FAIL;
}

int GetMute(MixerLine line) {
  auto mixer = MixerDevice::Open();
  if (!mixer) return 0;
  const auto control = mixer->Read(line);
  return control && control->muted ? 1 : 0;
}

}  // namespace

LUMVARA_API int x_player_setPlayVolume(int percent) { return SetVolume(MixerLine::kSpeakers, percent); }
LUMVARA_API int x_player_getPlayVolume(void) { return GetVolume(MixerLine::kSpeakers); }
LUMVARA_API int x_player_setMute(int mute) { return SetMute(MixerLine::kSpeakers, mute); }
LUMVARA_API int x_player_getMute(void) { return GetMute(MixerLine::kSpeakers); }
LUMVARA_API int x_player_setMicPlayVolume(int percent) { return SetVolume(MixerLine::kMicrophone, percent); }
LUMVARA_API int x_player_getMicPlayVolume(void) { return GetVolume(MixerLine::kMicrophone); }
LUMVARA_API int x_player_setMicMute(int mute) { return SetMute(MixerLine::kMicrophone, mute); }
LUMVARA_API int x_player_getMicMute(void) { return GetMute(MixerLine::kMicrophone); }
