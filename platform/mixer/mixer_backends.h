#pragma once
// The mixer backends behind MixerDevice::Open (mixer_device.cpp).

#include "platform/mixer/mixer_device.h"

#include <memory>

namespace lumvara {

std::unique_ptr<MixerDevice> OpenPulseMixer();
std::unique_ptr<MixerDevice> OpenFileMixer();

}  // namespace lumvara
