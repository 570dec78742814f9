#include "player/on_screen_display.h"

#include <gtest/gtest.h>

#include <string>

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/gfx/device_context.h"
#include "platform/gfx/surface.h"
#include "player/picture_fixtures.h"

namespace lumvara {
namespace {

using test::Colour;
using winsys::Rect;

struct Ink {
  Rect bounds{INT_MAX, INT_MAX, INT_MIN, INT_MIN};  // right and bottom exclusive
  int pixels = 0;
  bool any() const { return pixels > 0; }
};

// Pixels that are not black, and of them those of one colour.
Ink inkOf(const gfx::Surface& surface, bool (*match)(const uint8_t*)) {
  Ink ink;
  for (int y = 0; y < surface.height(); ++y) {
    for (int x = 0; x < surface.width(); ++x) {
      const uint8_t* p = surface.bits() + static_cast<size_t>(y) * surface.pitch() + x * 4;
      if (!match(p)) {
        continue;
      }
      ++ink.pixels;
      ink.bounds.left = std::min(ink.bounds.left, x);
      ink.bounds.top = std::min(ink.bounds.top, y);
      ink.bounds.right = std::max(ink.bounds.right, x + 1);
      ink.bounds.bottom = std::max(ink.bounds.bottom, y + 1);
    }
  }
  return ink;
}

bool notBlack(const uint8_t* p) { return p[0] > 40 || p[1] > 40 || p[2] > 40; }
bool white(const uint8_t* p) { return test::classify(p) == Colour::White; }
bool red(const uint8_t* p) { return test::classify(p) == Colour::Red; }

OsdStringRecord textEntry(int32_t position, const char* text, int32_t height) {
  OsdStringRecord entry{};
  std::strcpy(entry.faceName, "DejaVu Sans");
  std::strcpy(entry.text, text);
  entry.fontHeight = height;
  entry.red = 255;
  entry.position = position;
  entry.left = 200;
  entry.top = 150;
  entry.right = 440;
  entry.bottom = 210;
  return entry;
}

std::unique_ptr<gfx::Surface> drawOne(const OsdStringRecord& entry, int width, int height, OsdFrame frame) {
  auto surface = gfx::Surface::Create(width, height);
  OsdEntries entries;
  entries.records[3] = entry;
  entries.on[3] = true;
  auto dc = gfx::DeviceContext::ForSurface(*surface);
  drawOsdEntries(*dc, entries, frame);
  return surface;
}

OsdFrame frameFor(int width, int height) {
  OsdFrame frame;
  frame.boxWidth = width;
  frame.boxHeight = height;
  frame.pictureWidth = width;
  frame.destinationWidth = width;
  return frame;
}

class TextPosition : public ::testing::TestWithParam<int32_t> {};

// The text lands inside its box (the coloured copy may reach one pixel
// further right and down) and on the side its alignment says.
TEST_P(TextPosition, InkStaysInsideTheBoxOnTheAlignedSide) {
  const int32_t position = GetParam();
  const OsdStringRecord entry = textEntry(position, "Camera 7", 20);
  auto surface = drawOne(entry, 640, 360, frameFor(640, 360));
  const Ink ink = inkOf(*surface, notBlack);
  ASSERT_TRUE(ink.any());
  const OsdBox box = osdBox(entry, 640, 360);
  EXPECT_GE(ink.bounds.left, box.box.left);
  EXPECT_GE(ink.bounds.top, box.box.top);
  EXPECT_LE(ink.bounds.right, box.box.right + 1);
  EXPECT_LE(ink.bounds.bottom, box.box.bottom + 1);
  const int inkCentre = (ink.bounds.left + ink.bounds.right) / 2;
  switch (box.align) {
    case OsdAlign::Left:
      EXPECT_LT(ink.bounds.left, box.box.left + 6);
      break;
    case OsdAlign::Right:
      EXPECT_GT(ink.bounds.right, box.box.right - 6);
      break;
    case OsdAlign::Centre:
      EXPECT_NEAR(inkCentre, (box.box.left + box.box.right) / 2, 6);
      break;
  }
  // Top aligned: the text starts near the top of its box.
  EXPECT_LT(ink.bounds.top, box.box.top + 12);
}

INSTANTIATE_TEST_SUITE_P(Positions, TextPosition, ::testing::Values(10, 11, 12, 13, 14, 0));

TEST(OnScreenDisplay, WhiteEdgeSitsUpAndLeftOfColouredText) {
  const OsdStringRecord entry = textEntry(LUMVARA_OSD_TOP_LEFT, "HHHH", 40);
  auto surface = drawOne(entry, 640, 360, frameFor(640, 360));
  const Ink whiteInk = inkOf(*surface, white);
  const Ink redInk = inkOf(*surface, red);
  ASSERT_TRUE(whiteInk.any());
  ASSERT_TRUE(redInk.any());
  EXPECT_GT(redInk.pixels, whiteInk.pixels);
  EXPECT_EQ(redInk.bounds.left, whiteInk.bounds.left + 1);
  EXPECT_EQ(redInk.bounds.top, whiteInk.bounds.top + 1);
}

TEST(OnScreenDisplay, EntriesThatAreOffAreNotDrawn) {
  auto surface = gfx::Surface::Create(320, 180);
  OsdEntries entries;
  for (auto& record : entries.records) {
    record = textEntry(LUMVARA_OSD_CENTRE, "hidden", 20);
  }
  auto dc = gfx::DeviceContext::ForSurface(*surface);
  drawOsdEntries(*dc, entries, frameFor(320, 180));
  EXPECT_FALSE(inkOf(*surface, notBlack).any());
}

struct FontCase {
  int32_t pictureWidth;
  int32_t destinationWidth;
  bool large;
};

class WidePictureText : public ::testing::TestWithParam<FontCase> {};

// A wide picture in a narrow destination is written with the 36 x 17 font
// whatever the entry asks, so that it stays readable after scaling.
TEST_P(WidePictureText, UsesLargeFontOnlyWhenWideIntoNarrow) {
  const FontCase c = GetParam();
  const OsdStringRecord entry = textEntry(LUMVARA_OSD_TOP_LEFT, "HHH", 10);
  OsdFrame frame = frameFor(c.pictureWidth, 200);
  frame.destinationWidth = c.destinationWidth;
  auto surface = drawOne(entry, c.pictureWidth, 200, frame);
  const Ink ink = inkOf(*surface, notBlack);
  ASSERT_TRUE(ink.any());
  if (c.large) {
    EXPECT_GE(ink.bounds.height(), 20);
  } else {
    EXPECT_LE(ink.bounds.height(), 12);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, WidePictureText,
                         ::testing::Values(FontCase{1920, 640, true}, FontCase{1000, 640, false},
                                           FontCase{1920, 700, false}),
                         [](const auto& c) {
                           return std::to_string(c.param.pictureWidth) + "_into_" +
                                  std::to_string(c.param.destinationWidth);
                         });

}  // namespace
}  // namespace lumvara
