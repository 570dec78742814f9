#include "player/bmp_image.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "player/test_files.h"

namespace lumvara {
namespace {

uint32_t read32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// A BGRX picture whose pixel (x, y) is (x, y, x ^ y, 0) in its low bits.
std::vector<uint8_t> patternPicture(uint32_t width, uint32_t height, int pitch) {
  std::vector<uint8_t> pixels(static_cast<size_t>(pitch) * height, 0xEE);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = &pixels[y * pitch + x * 4];
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y);
      p[2] = static_cast<uint8_t>(x ^ y);
      p[3] = 0;
    }
  }
  return pixels;
}

TEST(BmpImage, HeadersForA1280By720Picture) {
  uint8_t h[kBmpHeadersSize];
  writeBmpHeaders(h, 1280, 720);
  EXPECT_EQ(bmpImageSize(1280, 720), 3686454u);
  EXPECT_EQ(h[0], 'B');
  EXPECT_EQ(h[1], 'M');
  EXPECT_EQ(read32(h + 2), 3686454u);
  EXPECT_EQ(read32(h + 6), 0u);
  EXPECT_EQ(read32(h + 10), 54u);
  EXPECT_EQ(read32(h + 14), 40u);
  EXPECT_EQ(read32(h + 18), 1280u);
  EXPECT_EQ(read32(h + 22), 720u);
  EXPECT_EQ(read16(h + 26), 1);
  EXPECT_EQ(read16(h + 28), 32);
  EXPECT_EQ(read32(h + 30), 0u);
  EXPECT_EQ(read32(h + 34), 1280u * 720u * 4u);
  for (int at = 38; at < 54; ++at) {
    EXPECT_EQ(h[at], 0) << at;
  }
}

TEST(BmpImage, BufferHoldsRowsBottomFirstWithoutPitchPadding) {
  constexpr uint32_t w = 5;
  constexpr uint32_t h = 3;
  constexpr int pitch = w * 4 + 8;
  const auto pixels = patternPicture(w, h, pitch);
  std::vector<uint8_t> buffer(bmpImageSize(w, h) + 4, 0x77);
  writeBmpToBuffer(buffer.data(), pixels.data(), pitch, w, h);
  for (uint32_t row = 0; row < h; ++row) {
    const uint8_t* stored = &buffer[kBmpHeadersSize + row * w * 4];
    const uint8_t* source = &pixels[(h - 1 - row) * pitch];
    EXPECT_TRUE(std::equal(stored, stored + w * 4, source)) << row;
  }
  // Nothing past the image.
  EXPECT_EQ(buffer[bmpImageSize(w, h)], 0x77);
}

// ImageMagick reads the file back with the pixels we wrote.
TEST(BmpImage, FileReadBackByImageMagick) {
  constexpr uint32_t w = 1280;
  constexpr uint32_t h = 720;
  const int pitch = w * 4 + 64;
  const auto pixels = patternPicture(w, h, pitch);
  test::TempDir dir;
  const std::string bmp = dir.path() + "/snap.bmp";
  ASSERT_TRUE(writeBmpFile(bmp.c_str(), pixels.data(), pitch, w, h));
  EXPECT_EQ(std::filesystem::file_size(bmp), 3686454u);

  std::vector<uint8_t> rgb;
  ASSERT_TRUE(test::readWithImageMagick(bmp, w, h, &rgb));
  for (uint32_t y = 0; y < h; y += 97) {
    for (uint32_t x = 0; x < w; x += 61) {
      const uint8_t* got = &rgb[(y * w + x) * 3];
      const uint8_t* want = &pixels[y * pitch + x * 4];
      ASSERT_EQ(got[0], want[2]) << x << "," << y;  // red
      ASSERT_EQ(got[1], want[1]) << x << "," << y;
      ASSERT_EQ(got[2], want[0]) << x << "," << y;  // blue
    }
  }
}

TEST(BmpImage, UnwritablePathFailsAndLeavesNoFile) {
  test::TempDir dir;
  const std::string path = dir.path() + "/missing/folder/snap.bmp";
  const auto pixels = patternPicture(4, 4, 16);
  EXPECT_FALSE(writeBmpFile(path.c_str(), pixels.data(), 16, 4, 4));
  EXPECT_FALSE(std::filesystem::exists(path));
}

// A write that fails half way (the file size limit stands in for a full
// disk) leaves no truncated image behind.
TEST(BmpImage, FailedWriteRemovesThePartialFile) {
  test::TempDir dir;
  const std::string path = dir.path() + "/big.bmp";
  const auto pixels = patternPicture(256, 256, 1024);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(writeBmpFile(path.c_str(), pixels.data(), 1024, 256, 256) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the write was reported as done";
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace lumvara
