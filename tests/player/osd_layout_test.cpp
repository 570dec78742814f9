#include "player/osd_layout.h"

#include <gtest/gtest.h>

#include <string>

#include <cstring>

namespace lumvara {
namespace {

using winsys::Rect;

OsdStringRecord entryAt(int32_t position) {
  OsdStringRecord entry{};
  entry.position = position;
  entry.left = 7;
  entry.top = 8;
  entry.right = 300;
  entry.bottom = 60;
  return entry;
}

struct BoxCase {
  int32_t position;
  OsdBoxHeights heights;
  Rect box;
  OsdAlign align;
};

class FixedBoxes : public ::testing::TestWithParam<BoxCase> {};

TEST_P(FixedBoxes, OnA1280By720Picture) {
  const BoxCase c = GetParam();
  const OsdBox box = osdBox(entryAt(c.position), 1280, 720, c.heights);
  EXPECT_EQ(box.box, c.box);
  EXPECT_EQ(box.align, c.align);
}

INSTANTIATE_TEST_SUITE_P(Positions, FixedBoxes,
                         ::testing::Values(BoxCase{10, kPictureOsdBoxes, {5, 5, 1275, 39}, OsdAlign::Left},
                                           BoxCase{11, kPictureOsdBoxes, {5, 5, 1275, 39}, OsdAlign::Right},
                                           BoxCase{12, kPictureOsdBoxes, {5, 681, 1275, 715}, OsdAlign::Left},
                                           BoxCase{13, kPictureOsdBoxes, {5, 681, 1275, 715}, OsdAlign::Right},
                                           BoxCase{14, kPictureOsdBoxes, {5, 343, 1275, 377}, OsdAlign::Centre},
                                           BoxCase{0, kPictureOsdBoxes, {7, 8, 300, 60}, OsdAlign::Left},
                                           BoxCase{15, kPictureOsdBoxes, {7, 8, 300, 60}, OsdAlign::Left},
                                           // The JPEG player's window boxes are 24 pixels high.
                                           BoxCase{10, kWindowOsdBoxes, {5, 5, 1275, 29}, OsdAlign::Left},
                                           BoxCase{13, kWindowOsdBoxes, {5, 691, 1275, 715}, OsdAlign::Right},
                                           BoxCase{14, kWindowOsdBoxes, {5, 348, 1275, 372}, OsdAlign::Centre}),
                         [](const auto& c) {
                           return "position" + std::to_string(c.param.position) + "_box" +
                                  std::to_string(2 * c.param.heights.half);
                         });

struct FontCase {
  int32_t pictureWidth;
  int32_t destinationWidth;
  bool overridden;
};

class WidePictureFont : public ::testing::TestWithParam<FontCase> {};

TEST_P(WidePictureFont, OverridesOnlyWidePictureInNarrowDestination) {
  const FontCase c = GetParam();
  OsdStringRecord entry{};
  entry.fontHeight = 20;
  entry.fontWidth = 9;
  const OsdFontSize size = osdFontSize(entry, c.pictureWidth, c.destinationWidth);
  if (c.overridden) {
    EXPECT_EQ(size.height, 36);
    EXPECT_EQ(size.width, 17);
  } else {
    EXPECT_EQ(size.height, 20);
    EXPECT_EQ(size.width, 9);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, WidePictureFont,
                         ::testing::Values(FontCase{1920, 640, true}, FontCase{1001, 699, true},
                                           FontCase{1000, 640, false}, FontCase{1920, 700, false},
                                           FontCase{1280, 1280, false}, FontCase{640, 320, false}),
                         [](const auto& c) {
                           return std::to_string(c.param.pictureWidth) + "_into_" +
                                  std::to_string(c.param.destinationWidth);
                         });

struct StampCase {
  int64_t time;
  int8_t zone;
  const char* expected;
};

class TimeStamp : public ::testing::TestWithParam<StampCase> {};

TEST_P(TimeStamp, ShowsTimeMinusZoneHoursAsUtc) {
  const StampCase c = GetParam();
  EXPECT_EQ(osdTimeStampText("", c.time, c.zone), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimeStamp,
    ::testing::Values(StampCase{0, 0, "1970-01-01 00:00:00"}, StampCase{1709647629, 0, "2024-03-05 14:07:09"},
                      // Zone byte 0xF8 is -8: eight hours later than UTC.
                      StampCase{1709647629, static_cast<int8_t>(0xF8), "2024-03-05 22:07:09"},
                      StampCase{1709647629, 8, "2024-03-05 06:07:09"}, StampCase{0, 8, "1969-12-31 16:00:00"},
                      StampCase{4294967295LL, -12, "2106-02-07 18:28:15"}),
    [](const auto& c) {
      return "time" + std::to_string(c.param.time) + "_zone" +
             (c.param.zone < 0 ? "minus" + std::to_string(-c.param.zone) : std::to_string(c.param.zone));
    });

TEST(OsdText, TimeStampEntryPrefixesItsText) {
  OsdStringRecord entry{};
  std::strcpy(entry.text, "Cam 1 ");
  entry.mode = LUMVARA_OSD_MODE_TIME_STAMP;
  EXPECT_EQ(osdEntryText(entry, 1709647629, 0), "Cam 1 2024-03-05 14:07:09");
  entry.mode = 0;
  EXPECT_EQ(osdEntryText(entry, 1709647629, 0), "Cam 1 ");
  entry.mode = 2;
  EXPECT_EQ(osdEntryText(entry, 1709647629, 0), "Cam 1 ");
}

TEST(OsdText, FieldWithoutTerminatorEndsAtItsLastByte) {
  OsdStringRecord entry{};
  std::memset(entry.text, 'x', sizeof entry.text);
  EXPECT_EQ(osdFieldText(entry.text, sizeof entry.text), std::string(128, 'x'));
  std::memset(entry.faceName, 'f', sizeof entry.faceName);
  EXPECT_EQ(osdFieldText(entry.faceName, sizeof entry.faceName), std::string(24, 'f'));
}

TEST(OsdText, InvalidUtf8BecomesReplacementCharacters) {
  struct Case {
    const char* bytes;
    const char* expected;
  };
  const Case cases[] = {
      {"\xE4\xB8\xAD\xE6\x96\x87", "\xE4\xB8\xAD\xE6\x96\x87"},  // valid Chinese stays
      {"a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b"},
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
      {"ab\xE4\xB8", "ab\xEF\xBF\xBD\xEF\xBF\xBD"},              // cut short at the end
  };
  for (const Case& c : cases) {
    char field[16] = {};
    std::memcpy(field, c.bytes, std::strlen(c.bytes));
    EXPECT_EQ(osdFieldText(field, sizeof field), c.expected) << c.bytes;
  }
}

}  // namespace
}  // namespace lumvara
