#include "platform/h264/h264_decoder.h"

#include <gtest/gtest.h>

#include <string>

#include <cstdlib>

#include "h264/test_encoder.h"

namespace lumvara {
namespace {

struct SizeCase {
  int width;
  int height;
};

class DecodesEncodedSize : public ::testing::TestWithParam<SizeCase> {};

// Every encoded unit gives a picture of the encoded size with sane strides and
// the pattern's luma; sizes beyond 80x45 macroblocks decode as well.
TEST_P(DecodesEncodedSize, EveryUnitGivesPictureOfEncodedSize) {
  const SizeCase size = GetParam();
  const auto units = test::encodeTestPattern(size.width, size.height, 6, 3);
  ASSERT_EQ(units.size(), 6u);
  ASSERT_TRUE(units[0].key);
  auto decoder = H264Decoder::create(H264DecoderAttributes{});
  ASSERT_NE(decoder, nullptr);
  for (size_t n = 0; n < units.size(); ++n) {
    H264Picture picture;
    ASSERT_EQ(decoder->decodeAccessUnit(units[n].bytes.data(), units[n].bytes.size(), picture), 0) << n;
    ASSERT_EQ(picture.error, 0u) << n;
    EXPECT_EQ(picture.width, static_cast<uint32_t>(size.width));
    EXPECT_EQ(picture.height, static_cast<uint32_t>(size.height));
    EXPECT_GE(picture.lumaStride, picture.width);
    EXPECT_GE(picture.chromaStride, picture.width / 2);
    ASSERT_NE(picture.luma, nullptr);
    ASSERT_NE(picture.chroma1, nullptr);
    ASSERT_NE(picture.chroma2, nullptr);
    // Lossy, but a flat chroma and a luma ramp survive within a few steps.
    const int x = size.width / 3;
    const int y = size.height / 2;
    const int expectedLuma = static_cast<uint8_t>(x + y + static_cast<int>(n) * 3);
    EXPECT_NEAR(picture.luma[y * picture.lumaStride + x], expectedLuma, 6) << n;
    EXPECT_NEAR(picture.chroma1[(y / 2) * picture.chromaStride + x / 2], 90, 4) << n;
    EXPECT_NEAR(picture.chroma2[(y / 2) * picture.chromaStride + x / 2], 160, 4) << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, DecodesEncodedSize,
                         ::testing::Values(SizeCase{640, 360}, SizeCase{1280, 720}, SizeCase{1920, 1080},
                                           SizeCase{2560, 1440}),
                         [](const auto& c) {
                           return std::to_string(c.param.width) + "x" + std::to_string(c.param.height);
                         });

TEST(H264Decoder, RefusesEmptyInput) {
  auto decoder = H264Decoder::create(H264DecoderAttributes{});
  ASSERT_NE(decoder, nullptr);
  H264Picture picture;
  const uint8_t byte = 0;
  EXPECT_NE(decoder->decodeAccessUnit(nullptr, 10, picture), 0);
  EXPECT_NE(decoder->decodeAccessUnit(&byte, 0, picture), 0);
  EXPECT_NE(picture.error, 0u);
}

TEST(H264Decoder, PFrameBeforeAnyKeyFrameGivesNoPicture) {
  const auto units = test::encodeTestPattern(320, 240, 3, 10);
  ASSERT_EQ(units.size(), 3u);
  ASSERT_FALSE(units[1].key);
  auto decoder = H264Decoder::create(H264DecoderAttributes{});
  H264Picture picture;
  const int rc = decoder->decodeAccessUnit(units[1].bytes.data(), units[1].bytes.size(), picture);
  EXPECT_TRUE(rc != 0 || picture.error != 0);
}

enum class Damage { TruncateHalf, ScrambleMiddle, Garbage };

class CorruptUnit : public ::testing::TestWithParam<Damage> {};

// A damaged key frame reports an error (no picture is used) and the next key
// frame decodes normally.
TEST_P(CorruptUnit, ReportsErrorAndNextKeyFrameDecodes) {
  const auto units = test::encodeTestPattern(640, 360, 4, 2);
  ASSERT_EQ(units.size(), 4u);
  ASSERT_TRUE(units[2].key);
  auto decoder = H264Decoder::create(H264DecoderAttributes{});
  H264Picture picture;
  ASSERT_EQ(decoder->decodeAccessUnit(units[0].bytes.data(), units[0].bytes.size(), picture), 0);
  ASSERT_EQ(picture.error, 0u);

  std::vector<uint8_t> bad = units[0].bytes;
  switch (GetParam()) {
    case Damage::TruncateHalf:
      bad.resize(bad.size() / 2);
      break;
    case Damage::ScrambleMiddle: {
      std::srand(7);
      for (size_t i = bad.size() / 3; i < bad.size() * 2 / 3; ++i) {
        bad[i] = static_cast<uint8_t>(std::rand());
      }
      break;
    }
    case Damage::Garbage:
      for (size_t i = 0; i < bad.size(); ++i) {
        bad[i] = static_cast<uint8_t>(i * 37 + 11);
      }
      break;
  }
  const int rc = decoder->decodeAccessUnit(bad.data(), bad.size(), picture);
  EXPECT_TRUE(rc != 0 || picture.error != 0);

  ASSERT_EQ(decoder->decodeAccessUnit(units[2].bytes.data(), units[2].bytes.size(), picture), 0);
  EXPECT_EQ(picture.error, 0u);
  EXPECT_EQ(picture.width, 640u);
  EXPECT_EQ(picture.height, 360u);
}

INSTANTIATE_TEST_SUITE_P(Damages, CorruptUnit,
                         ::testing::Values(Damage::TruncateHalf, Damage::ScrambleMiddle, Damage::Garbage),
                         [](const auto& c) {
                           switch (c.param) {
                             case Damage::TruncateHalf:
                               return std::string("TruncateHalf");
                             case Damage::ScrambleMiddle:
                               return std::string("ScrambleMiddle");
                             case Damage::Garbage:
                               break;
                           }
                           return std::string("Garbage");
                         });

}  // namespace
}  // namespace lumvara
