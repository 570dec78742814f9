#pragma once
// The PulseAudio wave backend: playback to the default sink and capture from
// the default source, each on a private server connection.

#include "platform/wave/wave_in_device.h"
#include "platform/wave/wave_out_device.h"

#include <memory>

namespace lumvara {

// nullptr when no server or no output/input is reachable (bounded, quiet).
std::unique_ptr<WaveOutDevice> OpenPulseWaveOut(WaveOutDevice::DoneHandler done, void* context);
std::unique_ptr<WaveInDevice> OpenPulseWaveIn(WaveInDevice::DoneHandler done, void* context);

}  // namespace lumvara
