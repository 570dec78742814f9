#pragma once
// Encodes a moving test pattern into H.264 access units with libx264 (through
// libavcodec), so that decoder tests have real camera-like input: Annex B
// byte stream, no B frames, a key frame every `keyInterval` pictures.

#include <cstdint>
#include <vector>

namespace lumvara::test {

struct EncodedUnit {
  std::vector<uint8_t> bytes;
  bool key = false;
};

// Picture n: luma ramps that move with n, flat chroma. Empty on failure.
std::vector<EncodedUnit> encodeTestPattern(int width, int height, int count, int keyInterval);

}  // namespace lumvara::test
