#include "player/i420_converter.h"

#include <gtest/gtest.h>

#include <string>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "player/colour_tables.h"
#include "player/formula_conversion.h"

namespace lumvara {
namespace {

void referenceConvert(const I420Planes& src, uint8_t* dst, int pitch) { test::formulaConvert(src, dst, pitch); }

std::string pathName(ConversionPath path) {
  switch (path) {
    case ConversionPath::Fastest:
      return "fastest";
    case ConversionPath::Vector256:
      return "vector256";
    case ConversionPath::Tables:
      break;
  }
  return "tables";
}

struct Picture {
  std::vector<uint8_t> luma, cb, cr;
  I420Planes planes;
};

Picture makePicture(int width, int height, int lumaStride, int chromaStride, std::mt19937& random) {
  Picture p;
  const int ch = height / 2;
  p.luma.resize(static_cast<size_t>(lumaStride) * height);
  p.cb.resize(static_cast<size_t>(chromaStride) * std::max(ch, 1));
  p.cr.resize(p.cb.size());
  std::uniform_int_distribution<int> byte(0, 255);
  for (auto* plane : {&p.luma, &p.cb, &p.cr}) {
    for (auto& v : *plane) {
      v = static_cast<uint8_t>(byte(random));
    }
  }
  p.planes = {p.luma.data(), p.cb.data(), p.cr.data(), lumaStride, chromaStride, width, height};
  return p;
}

struct SizeCase {
  int width, height, lumaStride, chromaStride;
};

class ConversionMatchesFormula : public ::testing::TestWithParam<std::tuple<SizeCase, ConversionPath>> {};

// Random pictures, odd strides, odd sizes: every byte equals the formula,
// and nothing is written past each row's width x 4 bytes.
TEST_P(ConversionMatchesFormula, OnRandomPictures) {
  const auto [size, path] = GetParam();
  std::mt19937 random(static_cast<unsigned>(size.width * 131 + size.height));
  Picture picture = makePicture(size.width, size.height, size.lumaStride, size.chromaStride, random);
  const int pitch = size.width * 4 + 12;
  constexpr uint8_t kCanary = 0xA5;
  std::vector<uint8_t> expected(static_cast<size_t>(pitch) * size.height, kCanary);
  std::vector<uint8_t> actual(expected.size(), kCanary);
  referenceConvert(picture.planes, expected.data(), pitch);
  convertI420ToBgrx(picture.planes, actual.data(), pitch, path);
  for (int row = 0; row < size.height; ++row) {
    for (int i = 0; i < pitch; ++i) {
      const size_t at = static_cast<size_t>(row) * pitch + i;
      ASSERT_EQ(actual[at], expected[at]) << "row " << row << " byte " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ConversionMatchesFormula,
    ::testing::Combine(::testing::Values(SizeCase{640, 360, 640, 320}, SizeCase{64, 48, 67, 35},
                                         SizeCase{37, 23, 41, 19}, SizeCase{17, 2, 17, 9}, SizeCase{1, 1, 3, 1},
                                         SizeCase{2, 7, 5, 3}, SizeCase{1280, 720, 1283, 651}),
                       ::testing::Values(ConversionPath::Fastest, ConversionPath::Vector256, ConversionPath::Tables)),
    [](const auto& c) {
      const SizeCase size = std::get<0>(c.param);
      return std::to_string(size.width) + "x" + std::to_string(size.height) + "_strides" +
             std::to_string(size.lumaStride) + "_" + std::to_string(size.chromaStride) + "_" +
             pathName(std::get<1>(c.param));
    });

// Output rows that share their place within a cache line, at every such
// place: the widest vector path lines its stores up with the cache lines
// and covers the columns in front and behind with overlapping groups. Every
// byte equals the formula and nothing outside the rows is written.
TEST(ColourConversion, RowsStartingAnywhereInACacheLineMatchFormula) {
  std::mt19937 random(7);
  for (const int width : {64, 66, 100, 127, 128, 190, 1920}) {
    const int height = 5;
    Picture picture = makePicture(width, height, width, width / 2, random);
    const int pitch = (width * 4 + 63) / 64 * 64 + 64;  // a whole number of cache lines
    for (const int offset : {0, 4, 16, 32, 60}) {
      constexpr uint8_t kCanary = 0x5A;
      std::vector<uint8_t> expected(static_cast<size_t>(pitch) * height + 128, kCanary);
      std::vector<uint8_t> actual(expected.size(), kCanary);
      // Where the rows start relative to a 64-byte boundary.
      const auto base = reinterpret_cast<uintptr_t>(actual.data());
      const size_t start = (64 - base % 64) % 64 + static_cast<size_t>(offset);
      referenceConvert(picture.planes, expected.data() + start, pitch);
      for (const ConversionPath path : {ConversionPath::Fastest, ConversionPath::Vector256}) {
        std::fill(actual.begin(), actual.end(), kCanary);
        convertI420ToBgrx(picture.planes, actual.data() + start, pitch, path);
        const auto differ = std::mismatch(actual.begin(), actual.end(), expected.begin());
        ASSERT_TRUE(differ.first == actual.end())
            << width << " wide, rows at " << offset << " bytes past a line, " << pathName(path)
            << ": first difference at byte " << (differ.first - actual.begin()) - static_cast<long>(start)
            << " of the picture";
      }
    }
  }
}

// Every combination of 0, 16, 235 and 255 in the three planes, through every
// path, in pictures wide enough for each vector code.
TEST(ColourConversion, ExtremeValuesMatchFormula) {
  const uint8_t extremes[] = {0, 16, 235, 255};
  for (uint8_t y : extremes) {
    for (uint8_t a : extremes) {
      for (uint8_t b : extremes) {
        constexpr int w = 130;
        constexpr int h = 4;
        std::vector<uint8_t> luma(w * h, y), cb(w / 2 * h / 2, a), cr(w / 2 * h / 2, b);
        const I420Planes planes{luma.data(), cb.data(), cr.data(), w, w / 2, w, h};
        std::vector<uint8_t> expected(w * h * 4), actual(w * h * 4);
        referenceConvert(planes, expected.data(), w * 4);
        for (const ConversionPath path : {ConversionPath::Fastest, ConversionPath::Vector256, ConversionPath::Tables}) {
          convertI420ToBgrx(planes, actual.data(), w * 4, path);
          ASSERT_EQ(actual, expected) << int(y) << " " << int(a) << " " << int(b) << " " << pathName(path);
        }
      }
    }
  }
}

// Every luma value with every chroma pair, 2^24 pixels, through each vector
// path: their 16-bit carry arithmetic must match the formula everywhere.
TEST(ColourConversion, EveryInputCombinationMatchesFormula) {
  constexpr int w = 512;  // 256 blocks: one per Cr value
  constexpr int h = 128;  // 64 block rows: four luma values each
  std::vector<uint8_t> luma(w * h), cb(w / 2 * h / 2), cr(w / 2 * h / 2);
  std::vector<uint8_t> expected(w * h * 4), actual(w * h * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      luma[y * w + x] = static_cast<uint8_t>((y / 2) * 4 + (y % 2) * 2 + x % 2);
    }
  }
  for (int blockRow = 0; blockRow < h / 2; ++blockRow) {
    for (int block = 0; block < w / 2; ++block) {
      cr[blockRow * (w / 2) + block] = static_cast<uint8_t>(block);
    }
  }
  for (int blue = 0; blue < 256; ++blue) {
    std::fill(cb.begin(), cb.end(), static_cast<uint8_t>(blue));
    const I420Planes planes{luma.data(), cb.data(), cr.data(), w, w / 2, w, h};
    referenceConvert(planes, expected.data(), w * 4);
    for (const ConversionPath path : {ConversionPath::Fastest, ConversionPath::Vector256}) {
      convertI420ToBgrx(planes, actual.data(), w * 4, path);
      ASSERT_EQ(actual, expected) << "cb " << blue << " " << pathName(path);
    }
  }
}

TEST(ColourConversion, KnownColours) {
  struct Case {
    uint8_t y, cb, cr;
    uint8_t blue, green, red;
  };
  // BT.601 studio-range primaries and greys.
  const Case cases[] = {
      {16, 128, 128, 0, 0, 0},        {235, 128, 128, 255, 255, 255},
      {126, 128, 128, 128, 128, 128},  // 76309 * 110 >> 16 = 128
      {82, 90, 240, 0, 0, 255},        // red
      {145, 54, 34, 0, 255, 0},        // green
      {41, 240, 110, 255, 0, 0},       // blue
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> luma(4, c.y), cb(1, c.cb), cr(1, c.cr), out(16);
    convertI420ToBgrx({luma.data(), cb.data(), cr.data(), 2, 1, 2, 2}, out.data(), 8);
    EXPECT_NEAR(out[0], c.blue, 2) << int(c.y);
    EXPECT_NEAR(out[1], c.green, 2) << int(c.y);
    EXPECT_NEAR(out[2], c.red, 2) << int(c.y);
    EXPECT_EQ(out[3], 0);
  }
}

TEST(ColourTables, EntriesAndClipRange) {
  const ColourTables& t = colourTables();
  EXPECT_EQ(t.L[16], 0);
  EXPECT_EQ(t.L[255], 76309 * 239);
  EXPECT_EQ(t.A0[0], -104597 * 128);
  EXPECT_EQ(t.A1[255], 53279 * 127);
  EXPECT_EQ(t.B2[128], 0);
  EXPECT_EQ(t.B1[1], -25675 * 127);
  EXPECT_EQ(t.clip(-384), 0);
  EXPECT_EQ(t.clip(-1), 0);
  EXPECT_EQ(t.clip(0), 0);
  EXPECT_EQ(t.clip(200), 200);
  EXPECT_EQ(t.clip(255), 255);
  EXPECT_EQ(t.clip(639), 255);
  // Every shifted sum the conversion can form stays inside the clip table.
  int low = 0;
  int high = 0;
  for (int y = 0; y < 256; ++y) {
    for (int c = 0; c < 256; ++c) {
      for (int d : {0, 255}) {
        low = std::min({low, (t.L[y] + t.A0[c]) >> 16, (t.L[y] - t.A1[c] - t.B1[d]) >> 16, (t.L[y] + t.B2[c]) >> 16});
        high = std::max({high, (t.L[y] + t.A0[c]) >> 16, (t.L[y] - t.A1[c] - t.B1[d]) >> 16, (t.L[y] + t.B2[c]) >> 16});
      }
    }
  }
  EXPECT_GE(low, ColourTables::kClipLow);
  EXPECT_LE(high, ColourTables::kClipHigh);
}

TEST(ColourConversion, PackedLayoutAndSize) {
  std::vector<uint8_t> buffer(packedI420Size(6, 4));
  EXPECT_EQ(buffer.size(), 6u * 4u + 2u * 3u * 2u);
  const I420Planes planes = packedI420(buffer.data(), 6, 4);
  EXPECT_EQ(planes.cb, buffer.data() + 24);
  EXPECT_EQ(planes.cr, buffer.data() + 30);
  EXPECT_EQ(planes.lumaStride, 6);
  EXPECT_EQ(planes.chromaStride, 3);
  EXPECT_EQ(packedI420Size(0, 4), 0u);
}

}  // namespace
}  // namespace lumvara
