#include "platform/jpeg/jpeg_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <turbojpeg.h>

#include <cstdlib>

namespace lumvara {
namespace {

// Encodes a picture whose left half is pure red and right half pure blue,
// with 4:4:4 sampling at high quality so colours survive.
std::vector<uint8_t> encodeHalves(int width, int height) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      const bool left = x < width / 2;
      p[0] = left ? 255 : 0;
      p[1] = 0;
      p[2] = left ? 0 : 255;
    }
  }
  tjhandle handle = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  const int rc = tjCompress2(handle, rgb.data(), width, width * 3, height, TJPF_RGB, &out, &size, TJSAMP_444, 95, 0);
  std::vector<uint8_t> bytes;
  if (rc == 0) {
    bytes.assign(out, out + size);
  }
  tjFree(out);
  tjDestroy(handle);
  return bytes;
}

TEST(JpegDecoder, DecodesToBgrxWithItsSize) {
  const auto jpeg = encodeHalves(64, 48);
  ASSERT_FALSE(jpeg.empty());
  JpegDecoder decoder;
  BgrxImage image;
  ASSERT_TRUE(decoder.decode(jpeg.data(), jpeg.size(), image));
  EXPECT_EQ(image.width, 64u);
  EXPECT_EQ(image.height, 48u);
  ASSERT_EQ(image.pixels.size(), 64u * 48u * 4u);
  const uint8_t* left = &image.pixels[(20 * 64 + 5) * 4];
  const uint8_t* right = &image.pixels[(20 * 64 + 60) * 4];
  // Byte order blue, green, red, then a fourth byte.
  EXPECT_LE(left[0], 8);
  EXPECT_GE(left[2], 247);
  EXPECT_GE(right[0], 247);
  EXPECT_LE(right[2], 8);
}

enum class Damage { Empty, NotAJpeg, HeaderOnly, ZeroedHeader };

class CorruptJpeg : public ::testing::TestWithParam<Damage> {};

TEST_P(CorruptJpeg, FailsCleanlyAndLeavesImageEmpty) {
  auto jpeg = encodeHalves(64, 48);
  ASSERT_FALSE(jpeg.empty());
  switch (GetParam()) {
    case Damage::Empty:
      jpeg.clear();
      break;
    case Damage::NotAJpeg:
      for (size_t i = 0; i < jpeg.size(); ++i) {
        jpeg[i] = static_cast<uint8_t>(i * 13);
      }
      break;
    case Damage::HeaderOnly:
      jpeg.resize(20);
      break;
    case Damage::ZeroedHeader:
      std::fill(jpeg.begin(), jpeg.begin() + 200, 0);
      break;
  }
  JpegDecoder decoder;
  BgrxImage image;
  image.width = 9;
  EXPECT_FALSE(decoder.decode(jpeg.data(), jpeg.size(), image));
  EXPECT_EQ(image.width, 0u);
  EXPECT_TRUE(image.pixels.empty());
}

INSTANTIATE_TEST_SUITE_P(Damages, CorruptJpeg,
                         ::testing::Values(Damage::Empty, Damage::NotAJpeg, Damage::HeaderOnly, Damage::ZeroedHeader),
                         [](const auto& c) {
                           switch (c.param) {
                             case Damage::Empty:
                               return std::string("Empty");
                             case Damage::NotAJpeg:
                               return std::string("NotAJpeg");
                             case Damage::HeaderOnly:
                               return std::string("HeaderOnly");
                             case Damage::ZeroedHeader:
                               break;
                           }
                           return std::string("ZeroedHeader");
                         });

// A header can claim any size; a huge one is refused without allocating.
TEST(JpegDecoder, RefusesHugeClaimedSize) {
  auto jpeg = encodeHalves(16, 16);
  // The SOF0 segment holds height and width as big-endian 16-bit values
  // 3 and 5 bytes after its length field.
  size_t sof = 0;
  for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      sof = i;
      break;
    }
  }
  ASSERT_NE(sof, 0u);
  jpeg[sof + 5] = 0xFF;
  jpeg[sof + 6] = 0xF0;
  jpeg[sof + 7] = 0xFF;
  jpeg[sof + 8] = 0xF0;
  JpegDecoder decoder;
  BgrxImage image;
  EXPECT_FALSE(decoder.decode(jpeg.data(), jpeg.size(), image));
  EXPECT_TRUE(image.pixels.empty());
}

// Random damage anywhere never crashes or overruns; it either fails or gives
// a picture of the original size.
TEST(JpegDecoder, RandomDamageNeverBreaksTheDecoder) {
  const auto original = encodeHalves(64, 48);
  JpegDecoder decoder;
  std::srand(11);
  for (int round = 0; round < 200; ++round) {
    auto jpeg = original;
    const int flips = 1 + std::rand() % 8;
    for (int i = 0; i < flips; ++i) {
      jpeg[static_cast<size_t>(std::rand()) % jpeg.size()] = static_cast<uint8_t>(std::rand());
    }
    jpeg.resize(jpeg.size() - static_cast<size_t>(std::rand()) % (jpeg.size() / 2));
    BgrxImage image;
    if (decoder.decode(jpeg.data(), jpeg.size(), image)) {
      EXPECT_EQ(image.pixels.size(), static_cast<size_t>(image.width) * image.height * 4);
    }
  }
  // The decoder is still good for a whole image afterwards.
  BgrxImage image;
  EXPECT_TRUE(decoder.decode(original.data(), original.size(), image));
}

}  // namespace
}  // namespace lumvara
