#pragma once
// The system's IMA ADPCM variant: standard step and index tables, but every
// block is self-contained (each call starts from a zero state), the first
// sample of a byte sits in its high nibble, and quantisation/reconstruction
// use integer multiplication and division. Camera and client both code this
// way, so a reference IMA coder would not interoperate.

#include <cstdint>

namespace lumvara {

// Caller-owned scratch. The encoder uses only the first pair, the decoder
// only the second; each call zeroes its own pair before it starts, so nothing
// is carried from one block to the next.
struct AdpcmState {
  std::int32_t encPredictor;
  std::int32_t encStepIndex;
  std::int32_t decPredictor;
  std::int32_t decStepIndex;
};
static_assert(sizeof(AdpcmState) == 16, "AdpcmState is four 32-bit integers");

// Encodes pcmBytes / 2 samples (an odd trailing byte is ignored) into one
// nibble each. `out` must hold pcmBytes / 4 bytes, plus one when the sample
// count is odd; the last low nibble of an odd count is left 0. A negative
// count encodes nothing. Allocates nothing.
void AdpcmEncodeBlock(AdpcmState* state, const std::int16_t* pcm, std::int32_t pcmBytes, std::uint8_t* out);

// Decodes `adpcmBytes` bytes into 2 * adpcmBytes samples written to `out`.
// A negative count decodes nothing. Allocates nothing.
void AdpcmDecodeBlock(AdpcmState* state, const std::uint8_t* adpcm, std::int32_t adpcmBytes, std::int16_t* out);

// Block sizes in use: talk blocks of 512 samples and camera frames of 1024.
inline constexpr std::int32_t kTalkPcmBlockBytes = 1024;
inline constexpr std::int32_t kTalkAdpcmBlockBytes = kTalkPcmBlockBytes / 4;
inline constexpr std::int32_t kCameraAdpcmFrameBytes = 512;
inline constexpr std::int32_t kCameraAdpcmFrameSamples = kCameraAdpcmFrameBytes * 2;

}  // namespace lumvara
