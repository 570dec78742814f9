#include "apps/camsim/h264_test_pattern.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "camsim/test_decoder.h"

namespace {

using lumvara::camsim::H264TestPattern;

std::string Number(uint32_t index) {
  char text[16];
  std::snprintf(text, sizeof text, "%06u", index);
  return text;
}

TEST(H264TestPattern, DecodesTo640x360WithKeyFramesEvery50) {
  // 2026-12-10 00:00:00 UTC
  const std::time_t shown = 1796860800;
  const auto units = H264TestPattern::encodeFrames(101, 640, 360, 50, shown);
  ASSERT_EQ(units.size(), 101u);
  camsim_test::TestDecoder decoder;
  for (uint32_t i = 0; i < units.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_FALSE(units[i].bytes.empty());
    EXPECT_EQ(units[i].key, i % 50 == 0);
    const auto picture = decoder.decode(units[i].bytes.data(), units[i].bytes.size());
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(picture->width, 640);
    EXPECT_EQ(picture->height, 360);
    EXPECT_EQ(H264TestPattern::readText(picture->luma.data(), picture->stride, H264TestPattern::kNumberX,
                                        H264TestPattern::kNumberY, H264TestPattern::kNumberDigits,
                                        H264TestPattern::kNumberScale),
              Number(i));
  }
}

TEST(H264TestPattern, PictureShowsTheGivenTime) {
  H264TestPattern pattern;
  ASSERT_TRUE(pattern.ok());
  const std::time_t shown = 1796860800 + 3723;  // 2026-12-10 01:02:03
  const auto unit = pattern.encode(0, shown);
  camsim_test::TestDecoder decoder;
  const auto picture = decoder.decode(unit.bytes.data(), unit.bytes.size());
  ASSERT_TRUE(picture.has_value());
  EXPECT_EQ(
      H264TestPattern::readText(picture->luma.data(), picture->stride, H264TestPattern::kTimeX, H264TestPattern::kTimeY,
                                H264TestPattern::kTimeChars, H264TestPattern::kTimeScale),
      "2026-12-10 01:02:03");
}

TEST(H264TestPattern, KeyFrameStartsWithParameterSets) {
  const auto units = H264TestPattern::encodeFrames(2);
  ASSERT_EQ(units.size(), 2u);
  // Annex B: a start code, then a sequence parameter set (NAL type 7).
  const auto& key = units[0].bytes;
  ASSERT_GE(key.size(), 5u);
  EXPECT_EQ(key[0], 0);
  EXPECT_EQ(key[1], 0);
  const size_t nal = key[2] == 1 ? 3 : 4;
  EXPECT_EQ(key[nal] & 0x1F, 7);
}

TEST(H264TestPattern, ReadTextRecognisesEveryGlyphAndRejectsBlankCells) {
  const int width = 400, height = 60, scale = 4;
  std::vector<uint8_t> luma(static_cast<size_t>(width) * height, 16);
  const char text[] = "0123456789:- ";
  H264TestPattern::drawText(luma.data(), width, width, height, 2, 2, text, scale, 235);
  EXPECT_EQ(H264TestPattern::readText(luma.data(), width, 2, 2, 13, scale), text);
  std::vector<uint8_t> white(luma.size(), 235);
  EXPECT_EQ(H264TestPattern::readText(white.data(), width, 2, 2, 2, scale), "??");
}

TEST(H264TestPattern, DrawTextClipsAtThePictureEdge) {
  const int width = 20, height = 10;
  std::vector<uint8_t> luma(static_cast<size_t>(width + 8) * height, 0);
  // Stride wider than the picture: nothing may land in the padding or beyond.
  H264TestPattern::drawText(luma.data(), width + 8, width, height, 12, 4, "88", 3, 200);
  for (int y = 0; y < height; ++y) {
    for (int x = width; x < width + 8; ++x) EXPECT_EQ(luma[y * (width + 8) + x], 0);
  }
}

}  // namespace
