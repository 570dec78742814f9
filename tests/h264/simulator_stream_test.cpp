// The camera simulator's H.264 test pattern through our decoder: every
// access unit gives a picture of the encoded size showing its own frame
// number, and a damaged unit costs only the pictures up to the next key
// frame.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "apps/camsim/h264_test_pattern.h"
#include "platform/h264/h264_decoder.h"

namespace lumvara {
namespace {

using camsim::H264TestPattern;

std::string frameNumber(uint32_t index) {
  char text[16];
  std::snprintf(text, sizeof text, "%06u", index);
  return text;
}

std::string shownNumber(const H264Picture& picture) {
  return H264TestPattern::readText(picture.luma, static_cast<int>(picture.lumaStride), H264TestPattern::kNumberX,
                                   H264TestPattern::kNumberY, H264TestPattern::kNumberDigits,
                                   H264TestPattern::kNumberScale);
}

struct SizeCase {
  int width;
  int height;
};

class SimulatorStream : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SimulatorStream, EveryUnitDecodesToItsPictureAtTheEncodedSize) {
  const SizeCase size = GetParam();
  const auto units = H264TestPattern::encodeFrames(12, size.width, size.height, 5);
  ASSERT_EQ(units.size(), 12u);
  auto decoder = H264Decoder::create(H264DecoderAttributes{});
  ASSERT_NE(decoder, nullptr);
  for (uint32_t i = 0; i < units.size(); ++i) {
    H264Picture picture;
    ASSERT_EQ(decoder->decodeAccessUnit(units[i].bytes.data(), units[i].bytes.size(), picture), 0) << i;
    ASSERT_EQ(picture.error, 0u) << i;
    EXPECT_EQ(picture.width, static_cast<uint32_t>(size.width));
    EXPECT_EQ(picture.height, static_cast<uint32_t>(size.height));
    EXPECT_EQ(shownNumber(picture), frameNumber(i));
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SimulatorStream,
                         ::testing::Values(SizeCase{640, 360}, SizeCase{1280, 720}, SizeCase{1920, 1080}),
                         [](const auto& size) {
                           return std::to_string(size.param.width) + "x" + std::to_string(size.param.height);
                         });

TEST(SimulatorStream, CorruptUnitReportsErrorAndNextKeyFrameShowsItsNumber) {
  const auto units = H264TestPattern::encodeFrames(10, 640, 360, 5);
  ASSERT_EQ(units.size(), 10u);
  ASSERT_TRUE(units[5].key);
  auto decoder = H264Decoder::create(H264DecoderAttributes{});
  H264Picture picture;
  for (uint32_t i = 0; i < 2; ++i) {
    ASSERT_EQ(decoder->decodeAccessUnit(units[i].bytes.data(), units[i].bytes.size(), picture), 0);
    ASSERT_EQ(picture.error, 0u);
  }
  std::vector<uint8_t> damaged = units[2].bytes;
  damaged.resize(damaged.size() / 2);
  const int rc = decoder->decodeAccessUnit(damaged.data(), damaged.size(), picture);
  EXPECT_TRUE(rc != 0 || picture.error != 0);

  ASSERT_EQ(decoder->decodeAccessUnit(units[5].bytes.data(), units[5].bytes.size(), picture), 0);
  ASSERT_EQ(picture.error, 0u);
  EXPECT_EQ(shownNumber(picture), frameNumber(5));
}

}  // namespace
}  // namespace lumvara
