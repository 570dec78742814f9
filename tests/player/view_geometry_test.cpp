#include "player/view_geometry.h"

#include <gtest/gtest.h>

#include <string>

namespace lumvara {
namespace {

using winsys::Rect;

struct FitCase {
  Rect destination;
  int32_t width, height;
  Rect expected;
};

class KeepProportion : public ::testing::TestWithParam<FitCase> {};

TEST_P(KeepProportion, FitsPictureWithEqualBars) {
  const FitCase c = GetParam();
  EXPECT_EQ(fitKeepingProportion(c.destination, c.width, c.height), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, KeepProportion,
                         ::testing::Values(
                             // 480 x 1280 > 640 x 720: t = 360, p = 60, bars above and below.
                             FitCase{{0, 0, 640, 480}, 1280, 720, {0, 60, 640, 420}},
                             // t = 500 x 1280 / 720 = 888, p = 56, bars left and right.
                             FitCase{{0, 0, 1000, 500}, 1280, 720, {56, 0, 944, 500}},
                             // Screen coordinates are kept: only the bars move the edges.
                             FitCase{{100, 200, 740, 680}, 1280, 720, {100, 260, 740, 620}},
                             // Same proportions: nothing changes.
                             FitCase{{0, 0, 640, 360}, 1280, 720, {0, 0, 640, 360}},
                             // Huge products stay exact (64-bit): a 1-pixel-high strip.
                             FitCase{{0, 0, 4000, 3000}, 14000000, 1, {0, 1500, 4000, 1500}},
                             // No picture size: the destination as it is.
                             FitCase{{0, 0, 640, 480}, 0, 0, {0, 0, 640, 480}}),
                         [](const auto& c) {
                           return std::to_string(c.param.width) + "x" + std::to_string(c.param.height) + "_into_" +
                                  std::to_string(c.param.destination.width()) + "x" +
                                  std::to_string(c.param.destination.height()) + "_at_" +
                                  std::to_string(c.param.destination.left) + "_" +
                                  std::to_string(c.param.destination.top);
                         });

struct CropCase {
  ViewMargins margins;
  Rect expected;
};

class Margins : public ::testing::TestWithParam<CropCase> {};

TEST_P(Margins, ApplyOnlyWhenTheyLeaveSomething) {
  const CropCase c = GetParam();
  EXPECT_EQ(croppedSource(1280, 720, c.margins), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, Margins,
                         ::testing::Values(
                             // Left 100 applies; right 2000 is not less than the 1180 left; top 0
                             // is ignored; bottom 50 applies.
                             CropCase{{100, 0, 2000, 50}, {100, 0, 1280, 670}},
                             CropCase{{0, 0, 0, 0}, {0, 0, 1280, 720}}, CropCase{{10, 20, 30, 40}, {10, 20, 1250, 680}},
                             // Each margin is measured against what the earlier ones left.
                             CropCase{{640, 0, 639, 0}, {640, 0, 641, 720}},
                             CropCase{{640, 0, 640, 0}, {640, 0, 1280, 720}},
                             CropCase{{1280, 720, 0, 0}, {0, 0, 1280, 720}},
                             CropCase{{-5, -5, -5, -5}, {0, 0, 1280, 720}},
                             CropCase{{0, 700, 0, 19}, {0, 700, 1280, 701}}),
                         [](const auto& c) {
                           auto n = [](int32_t v) { return v < 0 ? "minus" + std::to_string(-v) : std::to_string(v); };
                           return "left" + n(c.param.margins.left) + "_top" + n(c.param.margins.top) + "_right" +
                                  n(c.param.margins.right) + "_bottom" + n(c.param.margins.bottom);
                         });

}  // namespace
}  // namespace lumvara
