#pragma once
// One entry of a device's command queue, and the command codes the worker
// knows.

#include <lumvara/device.h>

#include <array>
#include <cstdint>

namespace lumvara {

inline constexpr int kCommandPayloadSize = LUMVARA_COMMAND_PAYLOAD_MAX;

struct DeviceCommand {
  int32_t code = 0;
  // The caller's bytes, zero after them.
  std::array<uint8_t, kCommandPayloadSize> payload{};
  int32_t payloadLength = 0;
};

// Camera control codes, passed through to decoder_control.cgi unnamed.
bool isCameraControlCode(int code);

}  // namespace lumvara
