#include "platform/mixer/mixer_backends.h"
#include "platform/wave/wave_backend.h"

namespace lumvara {

std::unique_ptr<MixerDevice> MixerDevice::Open() {
  const auto backend = SelectedWaveBackend();
  if (!backend) return nullptr;
  return *backend == WaveBackend::kFile ? OpenFileMixer() : OpenPulseMixer();
}

}  // namespace lumvara
