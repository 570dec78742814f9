// Device contexts: fills, frames, DrawText placement, fonts by GDI height
// and width, Chinese faces, window contexts.
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include <cstdlib>
#include <string>

#include "gfx/pixels.h"
#include "platform/gfx/device_context.h"
#include "platform/gfx/font.h"
#include "platform/gfx/font_aliases.h"
#include "platform/gfx/surface.h"
#include "platform/winsys/window_canvas.h"
#include "platform/winsys/message_loop.h"
#include "platform/winsys/presenter.h"
#include "platform/winsys/window.h"

namespace lumvara::gfx {
namespace {

using testing::Fill;
using testing::FindInk;
using testing::Ink;
using testing::PixelAt;

constexpr uint32_t kBlack = 0x000000;

// Draws `text` white on black into a fresh surface and returns the ink.
struct Drawn {
  std::unique_ptr<Surface> surface;
  Ink ink;
  int result = 0;
};

Drawn Draw(const std::string& text, Rect box, uint32_t format, std::shared_ptr<const Font> font, int width = 400,
           int height = 120) {
  Drawn d;
  d.surface = Surface::Create(width, height);
  auto dc = DeviceContext::ForSurface(*d.surface);
  dc->SetBkMode(TRANSPARENT);
  dc->SetTextColor(RGB(255, 255, 255));
  dc->SelectFont(std::move(font));
  d.result = dc->DrawText(text, &box, format);
  d.ink = FindInk(*d.surface, kBlack);
  return d;
}

std::shared_ptr<const Font> Sans(int height, int width = 0) {
  return Font::Create(height, width, Font::kNormalWeight, "DejaVu Sans");
}

TEST(DrawText, PlacesTextInTheBoxPerAlignment) {
  const Rect box{20, 10, 380, 50};
  struct Case {
    const char* name;
    uint32_t format;
  } cases[] = {{"left", DT_LEFT}, {"right", DT_RIGHT}, {"centre", DT_CENTER}};
  for (const Case& c : cases) {
    Drawn d = Draw("Lumvara 2024-03-05", box, c.format, Sans(20));
    ASSERT_GT(d.ink.count, 100) << c.name;
    EXPECT_EQ(Intersect(d.ink.box, box), d.ink.box) << c.name << ": ink outside the box";
    const int left_gap = d.ink.box.left - box.left;
    const int right_gap = box.right - d.ink.box.right;
    if (c.format == DT_LEFT) {
      EXPECT_LE(left_gap, 3) << c.name;
      EXPECT_GT(right_gap, 100) << c.name;
    } else if (c.format == DT_RIGHT) {
      EXPECT_LE(right_gap, 3) << c.name;
      EXPECT_GT(left_gap, 100) << c.name;
    } else {
      EXPECT_NEAR(left_gap, right_gap, 3) << c.name;
    }
    EXPECT_LE(d.ink.box.top - box.top, 6) << c.name << ": top aligned";
  }
}

TEST(DrawText, ClipsToTheBoxUnlessToldNotTo) {
  const Rect box{50, 20, 120, 40};  // far too small for the text
  const std::string text = "WWWWWWWWWWWWWWWWWWWW\nsecond line";
  for (uint32_t align : {DT_LEFT, DT_RIGHT, DT_CENTER}) {
    Drawn clipped = Draw(text, box, align, Sans(24));
    ASSERT_GT(clipped.ink.count, 0);
    EXPECT_EQ(Intersect(clipped.ink.box, box), clipped.ink.box) << "align " << align;
    Drawn unclipped = Draw(text, box, align | DT_NOCLIP, Sans(24));
    EXPECT_NE(Intersect(unclipped.ink.box, box), unclipped.ink.box) << "align " << align;
  }
}

TEST(DrawText, TransparentKeepsTheBackgroundOpaqueFillsIt) {
  auto surface = Surface::Create(200, 40);
  Fill(*surface, 0x336699);
  auto dc = DeviceContext::ForSurface(*surface);
  dc->SelectFont(Sans(20));
  dc->SetTextColor(RGB(255, 255, 0));
  Rect box{0, 0, 200, 40};
  dc->SetBkMode(TRANSPARENT);
  ASSERT_GT(dc->DrawText("iii", &box, DT_LEFT), 0);
  EXPECT_EQ(PixelAt(*surface, 1, 1), 0x336699u);  // between the glyphs: untouched
  EXPECT_EQ(PixelAt(*surface, 150, 30), 0x336699u);
  // Somewhere a glyph is solid text colour.
  EXPECT_GT(FindInk(*surface, 0x336699).count, 0);

  Fill(*surface, 0x336699);
  dc->SetBkMode(OPAQUE);
  dc->SetBkColor(RGB(0, 0, 255));
  ASSERT_GT(dc->DrawText("iii", &box, DT_LEFT), 0);
  EXPECT_EQ(PixelAt(*surface, 0, 1), 0x0000FFu);     // the text's extent is filled
  EXPECT_EQ(PixelAt(*surface, 150, 30), 0x336699u);  // beyond it nothing
}

TEST(DrawText, TextColourIsExact) {
  Drawn d = Draw("HIH", {0, 0, 200, 60}, DT_LEFT, Sans(40));
  int exact = 0;
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 200; ++x) exact += PixelAt(*d.surface, x, y) == 0xFFFFFF;
  }
  EXPECT_GT(exact, 50) << "solid stems carry the text colour itself";
}

TEST(DrawText, BrokenUtf8StillDrawsTheRest) {
  // "AB" then something that is not text: the letters are drawn, followed by
  // replacement marks, or by nothing after a NUL.
  struct Case {
    const char* name;
    std::string text;
    bool marks;
  } cases[] = {
      {"cut multi-byte character", std::string("AB\xE4\xB8"), true},
      {"stray byte", std::string("AB\xFF"), true},
      {"embedded NUL", std::string("AB\0CD", 5), false},
  };
  const Drawn letters = Draw("AB", {0, 0, 400, 60}, DT_LEFT, Sans(24));
  for (const Case& c : cases) {
    Drawn broken = Draw(c.text, {0, 0, 400, 60}, DT_LEFT, Sans(24));
    EXPECT_EQ(broken.ink.box.left, letters.ink.box.left) << c.name;
    if (c.marks) {
      EXPECT_GT(broken.ink.box.right, letters.ink.box.right + 5) << c.name;
    } else {
      EXPECT_EQ(broken.ink.box, letters.ink.box) << c.name;
      EXPECT_EQ(broken.ink.count, letters.ink.count) << c.name;
    }
  }
}

TEST(DrawText, LineBreaksAndSingleLine) {
  Rect multi{0, 0, 300, 200}, single{0, 0, 300, 200}, wrapped{0, 0, 60, 200};
  auto surface = Surface::Create(10, 10);
  auto dc = DeviceContext::ForSurface(*surface);
  dc->SelectFont(Sans(20));
  const int one = dc->DrawText("one two", &single, DT_CALCRECT | DT_SINGLELINE);
  const int two = dc->DrawText("one\r\ntwo", &multi, DT_CALCRECT);
  const int words = dc->DrawText("one two three four", &wrapped, DT_CALCRECT | DT_WORDBREAK);
  EXPECT_NEAR(one, 20, 2);
  EXPECT_NEAR(two, 2 * one, 3);
  EXPECT_GE(words, 3 * one - 3);
  EXPECT_LE(wrapped.right, 60);
  EXPECT_EQ(single.bottom, one);
  Rect joined{0, 0, 300, 200};
  EXPECT_NEAR(dc->DrawText("one\ntwo", &joined, DT_CALCRECT | DT_SINGLELINE), one, 1);
}

TEST(Font, HeightsFollowGdiMeaning) {
  auto surface = Surface::Create(10, 10);
  auto dc = DeviceContext::ForSurface(*surface);
  auto cell_of = [&](int height) {
    dc->SelectFont(Sans(height));
    Rect r{0, 0, 1000, 1000};
    return dc->DrawText("Hg", &r, DT_CALCRECT | DT_SINGLELINE);
  };
  struct Case {
    int height;
    int min_cell, max_cell;
  } cases[] = {
      {24, 23, 25},                                             // cell height
      {-24, 26, 31},                                            // character height: the cell is taller
      {0, Font::kDefaultHeight - 1, Font::kDefaultHeight + 1},  // default size
      {36, 35, 37},
  };
  for (const Case& c : cases) {
    const int cell = cell_of(c.height);
    EXPECT_GE(cell, c.min_cell) << "height " << c.height;
    EXPECT_LE(cell, c.max_cell) << "height " << c.height;
  }
  // The same number as a character height draws bigger letters.
  Drawn cell_font = Draw("H", {0, 0, 100, 100}, DT_LEFT, Sans(30));
  Drawn char_font = Draw("H", {0, 0, 100, 100}, DT_LEFT, Sans(-30));
  EXPECT_GT(char_font.ink.box.height(), cell_font.ink.box.height());
}

TEST(Font, WidthStretchesGlyphs) {
  Drawn narrow = Draw("HHHHHH", {0, 0, 400, 60}, DT_LEFT, Sans(24, 8));
  Drawn wide = Draw("HHHHHH", {0, 0, 400, 60}, DT_LEFT, Sans(24, 16));
  Drawn natural = Draw("HHHHHH", {0, 0, 400, 60}, DT_LEFT, Sans(24, 0));
  const double ratio = static_cast<double>(wide.ink.box.width()) / narrow.ink.box.width();
  EXPECT_NEAR(ratio, 2.0, 0.25);
  EXPECT_EQ(wide.ink.box.height(), narrow.ink.box.height());
  EXPECT_GT(natural.ink.count, 0);
}

TEST(Font, UnknownFaceFallsBackToTheDefault) {
  auto surface = Surface::Create(10, 10);
  auto dc = DeviceContext::ForSurface(*surface);
  Rect unknown{0, 0, 1000, 100}, fallback{0, 0, 1000, 100};
  dc->SelectFont(Font::Create(20, 0, 400, "No Such Face 1234"));
  dc->DrawText("Lumvara", &unknown, DT_CALCRECT);
  dc->SelectFont(Font::Create(20, 0, 400, ""));
  dc->DrawText("Lumvara", &fallback, DT_CALCRECT);
  EXPECT_EQ(unknown, fallback);
  EXPECT_GT(Draw("Lumvara", {0, 0, 400, 100}, DT_LEFT, Font::Create(20, 0, 400, "No Such Face 1234")).ink.count, 100);
}

// Which font fontconfig picks for a face name once our aliases are loaded.
std::string MatchedFamily(const char* face) {
  EnsureFontAliases();
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(face));
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  std::string family;
  FcChar8* value = nullptr;
  if (match && FcPatternGetString(match, FC_FAMILY, 0, &value) == FcResultMatch) {
    family = reinterpret_cast<const char*>(value);
  }
  if (match) FcPatternDestroy(match);
  FcPatternDestroy(pattern);
  return family;
}

TEST(Font, ChineseWindowsFacesMapToACjkFont) {
  for (const char* face : {"宋体", "SimSun", "黑体", "Microsoft YaHei"}) {
    EXPECT_EQ(MatchedFamily(face), "WenQuanYi Micro Hei") << face;
  }
}

TEST(Font, SongTiRendersChineseGlyphs) {
  auto font = Font::Create(24, 0, Font::kNormalWeight, "宋体");
  // Every character has a real glyph (no boxes of hex digits).
  PangoFontMap* map = pango_cairo_font_map_new();
  PangoContext* context = pango_font_map_create_context(map);
  PangoLayout* layout = pango_layout_new(context);
  pango_layout_set_font_description(layout, font->description());
  const std::string text = "报警 移动侦测 2024年";
  pango_layout_set_text(layout, text.c_str(), -1);
  EXPECT_EQ(pango_layout_get_unknown_glyphs_count(layout), 0);
  g_object_unref(layout);
  g_object_unref(context);
  g_object_unref(map);

  Drawn d = Draw(text, {5, 5, 395, 39}, DT_LEFT, font);
  EXPECT_GT(d.ink.count, 300);
  EXPECT_EQ(Intersect(d.ink.box, Rect{5, 5, 395, 39}), d.ink.box);
  // Different characters draw different shapes.
  Drawn zhong = Draw("中", {0, 0, 60, 60}, DT_LEFT, font, 60, 60);
  Drawn wen = Draw("文", {0, 0, 60, 60}, DT_LEFT, font, 60, 60);
  EXPECT_NE(zhong.ink.box, wen.ink.box);
}

TEST(DeviceContext, FillAndOnePixelFrame) {
  auto surface = Surface::Create(20, 20);
  auto dc = DeviceContext::ForSurface(*surface);
  ASSERT_TRUE(dc->FrameRect({2, 3, 12, 10}, RGB(255, 0, 0)));
  const Ink ink = FindInk(*surface, kBlack);
  EXPECT_EQ(ink.box, (Rect{2, 3, 12, 10}));
  EXPECT_EQ(ink.count, 2 * 10 + 2 * 5);  // the edge only
  EXPECT_EQ(PixelAt(*surface, 2, 3), 0xFF0000u);
  EXPECT_EQ(PixelAt(*surface, 11, 9), 0xFF0000u);
  EXPECT_EQ(PixelAt(*surface, 5, 5), kBlack);
  ASSERT_TRUE(dc->FillRect({0, 0, 20, 20}, RGB(172, 172, 172)));
  EXPECT_EQ(FindInk(*surface, 0xACACAC).count, 0);
}

TEST(DeviceContext, WindowContextDrawsInClientCoordinatesClipped) {
  winsys::WindowDesc top_desc;
  top_desc.rect = {0, 0, 100, 80};
  winsys::HWND top = winsys::CreateWindow(top_desc);
  winsys::WindowDesc child_desc;
  child_desc.parent = top;
  child_desc.style = winsys::WS_CHILD | winsys::WS_VISIBLE;
  child_desc.rect = {10, 20, 50, 60};
  winsys::HWND child = winsys::CreateWindow(child_desc);
  winsys::PumpMessages(0);

  auto dc = DeviceContext::ForWindow(child);
  ASSERT_NE(dc, nullptr);
  ASSERT_TRUE(dc->FillRect({-5, -5, 1000, 1000}, RGB(0, 255, 0)));
  std::vector<uint8_t> px;
  int w = 0, h = 0;
  ASSERT_TRUE(winsys::ReadPresentedPixels(top, &px, &w, &h));
  EXPECT_EQ(FindInk(px.data(), w * 4, w, h, kBlack).box, (Rect{10, 20, 50, 60}));

  dc->SetBkMode(TRANSPARENT);
  dc->SetTextColor(RGB(255, 255, 0));
  Rect box{0, 0, 40, 40};
  EXPECT_GT(dc->DrawText("W", &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE), 0);
  ASSERT_TRUE(winsys::ReadPresentedPixels(top, &px, &w, &h));
  EXPECT_EQ(FindInk(px.data(), w * 4, w, h, kBlack).box, (Rect{10, 20, 50, 60}));
  int text = 0;
  for (int y = 20; y < 60; ++y) {
    for (int x = 10; x < 50; ++x) text += PixelAt(px.data(), w * 4, x, y) != 0x00FF00;
  }
  EXPECT_GT(text, 20);

  winsys::DestroyWindow(child);
  EXPECT_FALSE(dc->FillRect({0, 0, 5, 5}, RGB(1, 2, 3)));
  EXPECT_EQ(dc->DrawText("x", &box, DT_LEFT), 0);
  EXPECT_EQ(DeviceContext::ForWindow(child), nullptr);
  winsys::DestroyWindow(top);
}

TEST(DeviceContext, ParentThatClipsChildrenLeavesThemAlone) {
  for (uint32_t clip : {0u, winsys::WS_CLIPCHILDREN}) {
    winsys::WindowDesc top_desc;
    top_desc.rect = {0, 0, 60, 40};
    top_desc.style = winsys::WS_VISIBLE | clip;
    winsys::HWND top = winsys::CreateWindow(top_desc);
    winsys::WindowDesc child_desc;
    child_desc.parent = top;
    child_desc.style = winsys::WS_CHILD | winsys::WS_VISIBLE;
    child_desc.rect = {10, 10, 30, 20};
    winsys::CreateWindow(child_desc);
    winsys::PumpMessages(0);
    ASSERT_TRUE(DeviceContext::ForWindow(top)->FillRect({0, 0, 60, 40}, RGB(255, 0, 0)));
    std::vector<uint8_t> px;
    int w = 0, h = 0;
    ASSERT_TRUE(winsys::ReadPresentedPixels(top, &px, &w, &h));
    const Ink untouched = FindInk(px.data(), w * 4, w, h, 0xFF0000);
    if (clip) {
      EXPECT_EQ(untouched.box, (Rect{10, 10, 30, 20}));
      EXPECT_EQ(untouched.count, 20 * 10);
    } else {
      EXPECT_EQ(untouched.count, 0);
    }
    winsys::DestroyWindow(top);
  }
}

}  // namespace
}  // namespace lumvara::gfx
