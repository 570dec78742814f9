// The JPEG decoder layer: the input is one frame's payload, as the MJPEG
// player hands it over. One decoder serves every input, as a player keeps
// one for its stream.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "platform/jpeg/jpeg_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static lumvara::JpegDecoder decoder;
  uint32_t width = 0;
  uint32_t height = 0;
  const bool sized = decoder.readSize(data, size, width, height);
  if (sized) FUZZ_CHECK(width > 0 && height > 0);

  lumvara::BgrxImage image;
  // Pictures larger than a camera sends are left to the size check alone:
  // decoding them would only measure the decoder's speed.
  if (sized && static_cast<uint64_t>(width) * height > 4096ull * 4096ull) return 0;
  if (!decoder.decode(data, size, image)) {
    FUZZ_CHECK(image.width == 0 && image.height == 0 && image.pixels.empty());
    return 0;
  }
  FUZZ_CHECK(sized && image.width == width && image.height == height);
  FUZZ_CHECK(image.pixels.size() == static_cast<size_t>(width) * height * 4);
  // Every pixel was written, its fourth byte included: read them all.
  uint32_t sum = 0;
  for (uint8_t byte : image.pixels) sum += byte;
  FUZZ_CHECK(sum <= image.pixels.size() * 255);
  return 0;
}
