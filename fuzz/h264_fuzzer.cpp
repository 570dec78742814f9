// The H.264 decoder layer: a stream of access units, each given whole as the
// player gives one frame's payload. Input: units, each a 16-bit
// little-endian length and that many bytes (the last takes what remains).

#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_check.h"
#include "platform/h264/h264_decoder.h"

namespace {

// Reads every byte a picture says it has, as the converter does.
void readPicture(const lumvara::H264Picture& picture) {
  FUZZ_CHECK(picture.luma != nullptr && picture.chroma1 != nullptr && picture.chroma2 != nullptr);
  FUZZ_CHECK(picture.width > 0 && picture.height > 0);
  FUZZ_CHECK(picture.lumaStride >= picture.width);
  const uint32_t chromaWidth = (picture.width + 1) / 2;
  const uint32_t chromaHeight = (picture.height + 1) / 2;
  FUZZ_CHECK(picture.chromaStride >= chromaWidth);
  uint32_t sum = 0;
  for (uint32_t y = 0; y < picture.height; ++y) {
    const uint8_t* row = picture.luma + static_cast<size_t>(y) * picture.lumaStride;
    for (uint32_t x = 0; x < picture.width; ++x) sum += row[x];
  }
  for (uint32_t y = 0; y < chromaHeight; ++y) {
    const uint8_t* cb = picture.chroma1 + static_cast<size_t>(y) * picture.chromaStride;
    const uint8_t* cr = picture.chroma2 + static_cast<size_t>(y) * picture.chromaStride;
    for (uint32_t x = 0; x < chromaWidth; ++x) sum += cb[x] + cr[x];
  }
  FUZZ_CHECK(sum <= 255u * 3u * picture.lumaStride * picture.height);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A fresh decoder per input, as each player creates its own: an input
  // then crashes alone, whatever ran before it.
  const auto decoder = lumvara::H264Decoder::create(lumvara::H264DecoderAttributes{});
  FUZZ_CHECK(decoder != nullptr);
  size_t at = 0;
  while (at < size) {
    size_t length = size - at;
    if (length >= 2) {
      length = static_cast<size_t>(data[at] | (data[at + 1] << 8));
      at += 2;
      if (length > size - at) length = size - at;
    }
    lumvara::H264Picture picture;
    const int result = decoder->decodeAccessUnit(data + at, length, picture);
    if (length == 0) FUZZ_CHECK(result != 0 && picture.error != 0);
    if (result == 0 && picture.error == 0) readPicture(picture);
    at += length;
  }
  return 0;
}
