#include "audio/g711.h"

#include <gtest/gtest.h>

#include <array>
#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace lumvara {
namespace {

constexpr std::array<std::int16_t, 256> kIndependentAlaw = {
#include "alaw_table.inc"
};

TEST(AlawExpansion, MatchesIndependentTableForEveryCode) {
  for (int code = 0; code < 256; ++code) {
    EXPECT_EQ(AlawExpand(static_cast<std::uint8_t>(code)), kIndependentAlaw[code]) << "code " << code;
  }
}

TEST(AlawExpansion, LargestMagnitudeIs32256) {
  int largest = 0;
  for (int code = 0; code < 256; ++code) {
    largest = std::max(largest, std::abs(int{AlawExpand(static_cast<std::uint8_t>(code))}));
  }
  EXPECT_EQ(largest, 32256);
}

TEST(AlawExpansion, BlockExpandsEveryByte) {
  std::array<std::uint8_t, kCameraAlawFrameBytes> frame{};
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i * 37);
  std::array<std::int16_t, kCameraAlawFrameBytes> pcm{};
  AlawExpandBlock(frame.data(), frame.size(), pcm.data());
  for (std::size_t i = 0; i < frame.size(); ++i) ASSERT_EQ(pcm[i], kIndependentAlaw[frame[i]]);
}

TEST(AlawCompression, InvertsExpansionForEveryCode) {
  for (int code = 0; code < 256; ++code) {
    const auto c = static_cast<std::uint8_t>(code);
    EXPECT_EQ(AlawCompress(AlawExpand(c)), c) << "code " << code;
  }
}

TEST(AlawCompression, StaysWithinOneIntervalOfTheInput) {
  for (int s = -32768; s <= 32767; s += 7) {
    const int back = AlawExpand(AlawCompress(static_cast<std::int16_t>(s)));
    const int interval = std::abs(s) < 512 ? 16 : (std::abs(s) >> 4);  // coarse bound
    ASSERT_LE(std::abs(back - s), interval) << "sample " << s;
  }
}

}  // namespace
}  // namespace lumvara
