#include "audio/adpcm.h"

#include <algorithm>

namespace lumvara {
namespace {

constexpr std::int32_t kStepTable[89] = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// Indexed by the magnitude code 0..7; the sign bit takes no part.
constexpr std::int32_t kIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

constexpr std::int32_t kMaxStepIndex = 88;
constexpr std::int32_t kSignBit = 8;
constexpr std::int32_t kMaxCode = 7;

std::int32_t ClampSample(std::int32_t value) { return std::clamp<std::int32_t>(value, -32768, 32767); }

std::int32_t NextStepIndex(std::int32_t index, std::int32_t code) {
  return std::clamp<std::int32_t>(index + kIndexAdjust[code], 0, kMaxStepIndex);
}

// Reconstruction shared by both directions: delta = step * code / 4 + step / 8.
std::int32_t Delta(std::int32_t step, std::int32_t code) { return (step * code) / 4 + step / 8; }

}  // namespace

void AdpcmEncodeBlock(AdpcmState* state, const std::int16_t* pcm, std::int32_t pcmBytes, std::uint8_t* out) {
  state->encPredictor = 0;
  state->encStepIndex = 0;
  const std::int32_t samples = pcmBytes > 0 ? pcmBytes / 2 : 0;
  for (std::int32_t i = 0; i < samples; ++i) {
    const std::int32_t step = kStepTable[state->encStepIndex];
    std::int32_t diff = static_cast<std::int32_t>(pcm[i]) - state->encPredictor;
    std::int32_t sign = 0;
    if (diff < 0) {
      sign = kSignBit;
      diff = -diff;
    }
    const std::int32_t code = std::min((4 * diff) / step, kMaxCode);
    const std::int32_t delta = Delta(step, code);
    state->encPredictor = ClampSample(sign ? state->encPredictor - delta : state->encPredictor + delta);
    state->encStepIndex = NextStepIndex(state->encStepIndex, code);
    const auto nibble = static_cast<std::uint8_t>(sign | code);
    if (i % 2 == 0) {
      out[i / 2] = static_cast<std::uint8_t>(nibble << 4);
    } else {
      out[i / 2] = static_cast<std::uint8_t>(out[i / 2] | nibble);
    }
  }
}

void AdpcmDecodeBlock(AdpcmState* state, const std::uint8_t* adpcm, std::int32_t adpcmBytes, std::int16_t* out) {
  state->decPredictor = 0;
  state->decStepIndex = 0;
  const std::int32_t nibbles = adpcmBytes > 0 ? adpcmBytes * 2 : 0;
  for (std::int32_t i = 0; i < nibbles; ++i) {
    const std::uint8_t byte = adpcm[i / 2];
    const std::int32_t nibble = (i % 2 == 0) ? (byte >> 4) : (byte & 0x0F);
    const std::int32_t step = kStepTable[state->decStepIndex];
    const std::int32_t code = nibble & kMaxCode;
    const std::int32_t delta = Delta(step, code);
    state->decPredictor = ClampSample((nibble & kSignBit) ? state->decPredictor - delta : state->decPredictor + delta);
    out[i] = static_cast<std::int16_t>(state->decPredictor);
    state->decStepIndex = NextStepIndex(state->decStepIndex, code);
  }
}

}  // namespace lumvara
