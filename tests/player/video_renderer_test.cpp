#include "player/video_renderer.h"

#include <gtest/gtest.h>

#include <string>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "player/bmp_image.h"
#include "player/i420_converter.h"
#include "player/picture_fixtures.h"
#include "player/test_files.h"
#include "tests/wait_until.h"

namespace lumvara {
namespace {

using test::Colour;
using test::HeadlessWindow;

// Loads and presents one picture under the picture lock, as the player does.
bool show(VideoRenderer& renderer, const std::vector<uint8_t>& picture, int width, int height, winsys::HWND window) {
  std::lock_guard<std::mutex> guard(renderer.pictureLock());
  if (!renderer.loadPicture(picture.data(), width, height, window)) {
    return false;
  }
  renderer.presentPicture();
  return true;
}

// The picture converted as the renderer converts it: the expected snapshot.
std::vector<uint8_t> converted(const std::vector<uint8_t>& picture, int width, int height) {
  std::vector<uint8_t> bgrx(static_cast<size_t>(width) * height * 4);
  convertI420ToBgrx(packedI420(picture.data(), width, height), bgrx.data(), width * 4);
  return bgrx;
}

// A BMP image of the picture, rows bottom first.
std::vector<uint8_t> expectedBmp(const std::vector<uint8_t>& picture, int width, int height) {
  const auto bgrx = converted(picture, width, height);
  std::vector<uint8_t> bmp(bmpImageSize(width, height));
  writeBmpToBuffer(bmp.data(), bgrx.data(), width * 4, width, height);
  return bmp;
}

TEST(VideoRenderer, StretchesPictureOverTheWindow) {
  HeadlessWindow window(0, 0, 640, 360);
  ASSERT_NE(window.handle(), nullptr);
  VideoRenderer renderer;
  const auto picture = test::quadrantPicture(1280, 720);
  ASSERT_TRUE(show(renderer, picture, 1280, 720, window.handle()));
  EXPECT_EQ(window.colourAt(160, 90), Colour::Red);
  EXPECT_EQ(window.colourAt(480, 90), Colour::Green);
  EXPECT_EQ(window.colourAt(160, 270), Colour::Blue);
  EXPECT_EQ(window.colourAt(480, 270), Colour::White);
  EXPECT_EQ(renderer.width(), 1280);
  EXPECT_EQ(renderer.height(), 720);
}

// The player's window is usually a child: the picture fills the child's
// area of its top-level window and nothing outside it.
TEST(VideoRenderer, DrawsIntoChildWindowOnly) {
  HeadlessWindow top(100, 100, 640, 480);
  winsys::WindowDesc desc;
  desc.parent = top.handle();
  desc.style = winsys::WS_VISIBLE | winsys::WS_CHILD;
  desc.rect = {50, 40, 370, 220};
  winsys::HWND child = winsys::CreateWindow(desc);
  ASSERT_NE(child, nullptr);
  VideoRenderer renderer;
  const auto picture = test::quadrantPicture(640, 360);
  ASSERT_TRUE(show(renderer, picture, 640, 360, child));
  EXPECT_EQ(top.colourAt(50 + 80, 40 + 45), Colour::Red);
  EXPECT_EQ(top.colourAt(50 + 240, 40 + 45), Colour::Green);
  EXPECT_EQ(top.colourAt(50 + 80, 40 + 135), Colour::Blue);
  EXPECT_EQ(top.colourAt(50 + 240, 40 + 135), Colour::White);
  for (const winsys::Point outside : {winsys::Point{10, 10}, winsys::Point{400, 100}, winsys::Point{200, 300},
                                      winsys::Point{49, 100}, winsys::Point{200, 220}}) {
    EXPECT_EQ(top.colourAt(outside.x, outside.y), Colour::Black) << outside.x << "," << outside.y;
  }
  winsys::DestroyWindow(child);
}

TEST(VideoRenderer, KeepProportionLeavesBarsAboveAndBelow) {
  HeadlessWindow window(0, 0, 640, 480);
  VideoRenderer renderer;
  renderer.renderActualProportion(1);
  const auto picture = test::quadrantPicture(1280, 720);
  ASSERT_TRUE(show(renderer, picture, 1280, 720, window.handle()));
  // t = 360, p = 60: rows 60 ... 419 hold the picture.
  EXPECT_EQ(window.colourAt(160, 30), Colour::Black);
  EXPECT_EQ(window.colourAt(160, 70), Colour::Red);
  EXPECT_EQ(window.colourAt(480, 410), Colour::White);
  EXPECT_EQ(window.colourAt(480, 450), Colour::Black);
}

TEST(VideoRenderer, MarginsCropThePicture) {
  HeadlessWindow window(0, 0, 320, 180);
  VideoRenderer renderer;
  // Only the right half and the top half remain: all green.
  renderer.adjustViewArea(640, 0, 0, 360);
  const auto picture = test::quadrantPicture(1280, 720);
  ASSERT_TRUE(show(renderer, picture, 1280, 720, window.handle()));
  for (int x : {10, 160, 310}) {
    for (int y : {10, 90, 170}) {
      EXPECT_EQ(window.colourAt(x, y), Colour::Green) << x << "," << y;
    }
  }
}

struct EffectCase {
  int32_t effect;
  Colour topLeft, topRight, bottomLeft, bottomRight;
};

class RenderEffect : public ::testing::TestWithParam<EffectCase> {};

TEST_P(RenderEffect, MirrorsAsAsked) {
  const EffectCase c = GetParam();
  HeadlessWindow window(0, 0, 320, 180);
  VideoRenderer renderer;
  renderer.setRenderEffect(c.effect);
  const auto picture = test::quadrantPicture(640, 360);
  ASSERT_TRUE(show(renderer, picture, 640, 360, window.handle()));
  EXPECT_EQ(window.colourAt(80, 45), c.topLeft);
  EXPECT_EQ(window.colourAt(240, 45), c.topRight);
  EXPECT_EQ(window.colourAt(80, 135), c.bottomLeft);
  EXPECT_EQ(window.colourAt(240, 135), c.bottomRight);
}

INSTANTIATE_TEST_SUITE_P(Effects, RenderEffect,
                         ::testing::Values(EffectCase{0, Colour::Red, Colour::Green, Colour::Blue, Colour::White},
                                           EffectCase{1, Colour::Green, Colour::Red, Colour::White, Colour::Blue},
                                           EffectCase{2, Colour::Blue, Colour::White, Colour::Red, Colour::Green},
                                           EffectCase{3, Colour::White, Colour::Blue, Colour::Green, Colour::Red},
                                           EffectCase{4, Colour::Red, Colour::Green, Colour::Blue, Colour::White},
                                           EffectCase{-1, Colour::Red, Colour::Green, Colour::Blue, Colour::White}),
                         [](const auto& c) {
                           return c.param.effect < 0 ? "effectMinus" + std::to_string(-c.param.effect)
                                                     : "effect" + std::to_string(c.param.effect);
                         });

TEST(VideoRenderer, RebuildsOnlyWhatAChangeNeeds) {
  HeadlessWindow first(100, 100, 320, 180);
  HeadlessWindow second(100, 100, 320, 180);
  VideoRenderer renderer;
  const auto small = test::quadrantPicture(640, 360);
  const auto large = test::quadrantPicture(1280, 720);

  ASSERT_TRUE(show(renderer, small, 640, 360, first.handle()));
  RendererCounters c = renderer.counters();
  EXPECT_EQ(c.displaySetups, 1u);
  EXPECT_EQ(c.clipSetups, 1u);
  EXPECT_EQ(c.surfaceBuilds, 1u);

  // The same window, rectangle and size: nothing is rebuilt.
  ASSERT_TRUE(show(renderer, small, 640, 360, first.handle()));
  c = renderer.counters();
  EXPECT_EQ(c.displaySetups, 1u);
  EXPECT_EQ(c.clipSetups, 1u);
  EXPECT_EQ(c.surfaceBuilds, 1u);

  // Another window with the same rectangle: only the clipping follows it.
  ASSERT_TRUE(show(renderer, small, 640, 360, second.handle()));
  c = renderer.counters();
  EXPECT_EQ(c.displaySetups, 1u);
  EXPECT_EQ(c.clipSetups, 2u);
  EXPECT_EQ(c.surfaceBuilds, 1u);

  // Moving the window without resizing rebuilds everything.
  ASSERT_TRUE(winsys::MoveWindow(second.handle(), 150, 120, 320, 180, false));
  ASSERT_TRUE(show(renderer, small, 640, 360, second.handle()));
  c = renderer.counters();
  EXPECT_EQ(c.displaySetups, 2u);
  EXPECT_EQ(c.clipSetups, 3u);
  EXPECT_EQ(c.surfaceBuilds, 2u);
  EXPECT_EQ(second.colourAt(80, 45), Colour::Red);

  // A new picture size rebuilds the surface only.
  ASSERT_TRUE(show(renderer, large, 1280, 720, second.handle()));
  c = renderer.counters();
  EXPECT_EQ(c.displaySetups, 2u);
  EXPECT_EQ(c.clipSetups, 3u);
  EXPECT_EQ(c.surfaceBuilds, 3u);
  EXPECT_EQ(renderer.width(), 1280);
}

TEST(VideoRenderer, HiddenWindowDrawsNothingAndSnapshotsTimeOut) {
  HeadlessWindow window(0, 0, 320, 180);
  winsys::ShowWindow(window.handle(), winsys::SW_HIDE);
  VideoRenderer renderer;
  const auto picture = test::quadrantPicture(640, 360);
  const auto before = window.pixels();
  EXPECT_FALSE(show(renderer, picture, 640, 360, window.handle()));
  EXPECT_EQ(window.pixels(), before);

  std::atomic<bool> stop{false};
  std::thread presenter([&] {
    while (!stop.load()) {
      show(renderer, picture, 640, 360, window.handle());
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  std::vector<uint8_t> buffer(bmpImageSize(640, 360), 0x5A);
  EXPECT_EQ(renderer.capture(nullptr, buffer.data()), CaptureResult::TimedOut);
  stop.store(true);
  presenter.join();
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t v) { return v == 0x5A; }));
}

TEST(VideoRenderer, DeadWindowFailsAndNextWindowStartsAfresh) {
  VideoRenderer renderer;
  const auto picture = test::quadrantPicture(640, 360);
  winsys::HWND dead = nullptr;
  {
    HeadlessWindow gone(0, 0, 320, 180);
    dead = gone.handle();
    ASSERT_TRUE(show(renderer, picture, 640, 360, dead));
  }
  EXPECT_FALSE(show(renderer, picture, 640, 360, dead));
  HeadlessWindow window(0, 0, 320, 180);
  ASSERT_TRUE(show(renderer, picture, 640, 360, window.handle()));
  EXPECT_EQ(window.colourAt(80, 45), Colour::Red);
}

// A flat dark-grey picture, so that text on it stands out.
std::vector<uint8_t> greyPicture(int width, int height) {
  std::vector<uint8_t> picture(packedI420Size(width, height), 128);
  std::fill(picture.begin(), picture.begin() + static_cast<ptrdiff_t>(width) * height, 40);
  return picture;
}

OsdStringRecord osdEntry(int32_t position, int32_t mode, const char* text) {
  OsdStringRecord entry{};
  std::strcpy(entry.faceName, "DejaVu Sans");
  std::strcpy(entry.text, text);
  entry.fontHeight = 24;
  entry.green = 255;
  entry.mode = mode;
  entry.position = position;
  return entry;
}

// The window's pixels after presenting a grey picture of the window's size
// with one text entry at a frame time.
std::vector<uint8_t> presentWithEntry(const OsdStringRecord& entry, int64_t time, int8_t zone,
                                      const ViewMargins& margins = {}) {
  HeadlessWindow window(0, 0, 640, 360);
  VideoRenderer renderer;
  if (margins.left != 0 || margins.top != 0 || margins.right != 0 || margins.bottom != 0) {
    renderer.adjustViewArea(margins.left, margins.right, margins.top, margins.bottom);
  }
  renderer.setOsdString(5, entry);
  const auto picture = greyPicture(640, 360);
  std::lock_guard<std::mutex> guard(renderer.pictureLock());
  renderer.setFrameTime(time, zone);
  if (renderer.loadPicture(picture.data(), 640, 360, window.handle())) {
    renderer.presentPicture();
  }
  return window.pixels();
}

struct StampCase {
  int8_t zone;
  const char* shown;
};

class TimeStampEntry : public ::testing::TestWithParam<StampCase> {};

// A time-stamp entry draws exactly what a plain entry with the expected
// text draws: the frame time less the zone in hours, read as UTC.
TEST_P(TimeStampEntry, DrawsFrameTimeLessZoneHours) {
  const StampCase c = GetParam();
  const int64_t frameTime = 1709647629;  // 2024-03-05 14:07:09 UTC
  const auto stamped = presentWithEntry(osdEntry(LUMVARA_OSD_BOTTOM_RIGHT, 1, "Cam "), frameTime, c.zone);
  const std::string plain = std::string("Cam ") + c.shown;
  const auto expected = presentWithEntry(osdEntry(LUMVARA_OSD_BOTTOM_RIGHT, 0, plain.c_str()), 0, 0);
  EXPECT_EQ(stamped, expected);
  const auto other = presentWithEntry(osdEntry(LUMVARA_OSD_BOTTOM_RIGHT, 0, "Cam 2000-01-01 00:00:00"), 0, 0);
  EXPECT_NE(stamped, other);
}

INSTANTIATE_TEST_SUITE_P(Zones, TimeStampEntry,
                         ::testing::Values(StampCase{0, "2024-03-05 14:07:09"},
                                           StampCase{static_cast<int8_t>(0xF8), "2024-03-05 22:07:09"},
                                           StampCase{8, "2024-03-05 06:07:09"}),
                         [](const auto& stamp) {
                           return stamp.param.zone < 0 ? "zoneMinus" + std::to_string(-stamp.param.zone)
                                                       : "zone" + std::to_string(stamp.param.zone);
                         });

bool hasBrightPixel(const std::vector<uint8_t>& pixels, int width, int top, int bottom) {
  for (int y = top; y < bottom; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
      if (p[1] > 150) {
        return true;
      }
    }
  }
  return false;
}

// Boxes are measured from the picture's own corner: with a left margin of
// 200, a top-left entry lies in the cropped-off part and is not seen.
TEST(OnScreenDisplayInRenderer, TopLeftEntryIsCutOffByLeftMargin) {
  const OsdStringRecord entry = osdEntry(LUMVARA_OSD_TOP_LEFT, 0, "ABC");
  const auto uncropped = presentWithEntry(entry, 0, 0);
  EXPECT_TRUE(hasBrightPixel(uncropped, 640, 0, 60));
  const auto cropped = presentWithEntry(entry, 0, 0, ViewMargins{200, 0, 0, 0});
  EXPECT_FALSE(hasBrightPixel(cropped, 640, 0, 60));
}

TEST(OnScreenDisplayInRenderer, EntrySwitchedOffAndOnShowsTheNewRecord) {
  HeadlessWindow window(0, 0, 640, 360);
  VideoRenderer renderer;
  const auto picture = greyPicture(640, 360);
  renderer.setOsdString(0, osdEntry(LUMVARA_OSD_TOP_LEFT, 0, "first"));
  ASSERT_TRUE(show(renderer, picture, 640, 360, window.handle()));
  EXPECT_TRUE(hasBrightPixel(window.pixels(), 640, 0, 60));
  EXPECT_EQ(renderer.removeOsdstring(0), 1);
  ASSERT_TRUE(show(renderer, picture, 640, 360, window.handle()));
  EXPECT_FALSE(hasBrightPixel(window.pixels(), 640, 0, 360));
  renderer.setOsdString(0, osdEntry(LUMVARA_OSD_BOTTOM_LEFT, 0, "second"));
  ASSERT_TRUE(show(renderer, picture, 640, 360, window.handle()));
  const auto pixels = window.pixels();
  EXPECT_FALSE(hasBrightPixel(pixels, 640, 0, 60));
  EXPECT_TRUE(hasBrightPixel(pixels, 640, 300, 360));
}

TEST(OnScreenDisplayInRenderer, IndicesOutsideZeroToFifteenAreRefused) {
  VideoRenderer renderer;
  const OsdStringRecord entry = osdEntry(LUMVARA_OSD_TOP_LEFT, 0, "x");
  EXPECT_EQ(renderer.setOsdString(16, entry), 0);
  EXPECT_EQ(renderer.setOsdString(-1, entry), 0);
  EXPECT_EQ(renderer.setOsdString(15, entry), 1);
  EXPECT_EQ(renderer.removeOsdstring(16), 0);
  EXPECT_EQ(renderer.removeOsdstring(-1), 0);
  EXPECT_EQ(renderer.removeOsdstring(15), 1);
}

// Presents the picture every few milliseconds on its own thread, as the
// decode thread does, while a test makes snapshot requests.
class Presenting {
 public:
  Presenting(VideoRenderer& renderer, const std::vector<uint8_t>& picture, int width, int height, winsys::HWND window)
      : thread_([&, width, height, window] {
          while (!stop_.load()) {
            show(renderer, picture, width, height, window);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          }
        }) {}
  ~Presenting() {
    stop_.store(true);
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Presenting the last picture again (without a new frame time) shows the
// same time stamp.
TEST(OnScreenDisplayInRenderer, RepeatedPresentationShowsTheSameTime) {
  HeadlessWindow window(0, 0, 640, 360);
  VideoRenderer renderer;
  renderer.setOsdString(2, osdEntry(LUMVARA_OSD_TOP_RIGHT, 1, ""));
  const auto picture = greyPicture(640, 360);
  {
    std::lock_guard<std::mutex> guard(renderer.pictureLock());
    renderer.setFrameTime(1709647629, 0);
    ASSERT_TRUE(renderer.loadPicture(picture.data(), 640, 360, window.handle()));
    renderer.presentPicture();
  }
  const auto first = window.pixels();
  ASSERT_TRUE(show(renderer, picture, 640, 360, window.handle()));
  EXPECT_EQ(window.pixels(), first);
}

// The settings changes of one pass of SettingsChangeWhilePresenting.
void changeSettings(VideoRenderer& renderer, int i) {
  renderer.setOsdString(i % 16, osdEntry(10 + i % 5, i % 2, "changing"));
  renderer.setRenderEffect(i % 4);
  renderer.adjustViewArea(i, i, i, i);
  renderer.renderActualProportion(i % 2);
  if (i % 3 == 0) {
    renderer.removeOsdstring(i % 16);
  }
}

// Settings and text entries change from another thread while pictures are
// presented (the thread checker watches the hand-over); afterwards the
// renderer draws exactly what a renderer given the same changes at rest
// draws, so no change was lost or torn.
TEST(OnScreenDisplayInRenderer, SettingsChangeWhilePresenting) {
  constexpr int kChanges = 40;
  HeadlessWindow window(0, 0, 320, 180);
  VideoRenderer renderer;
  const auto picture = test::quadrantPicture(640, 360);
  {
    Presenting presenting(renderer, picture, 640, 360, window.handle());
    for (int i = 0; i < kChanges; ++i) {
      changeSettings(renderer, i);
      const int32_t width = renderer.width();
      const int32_t height = renderer.height();
      EXPECT_TRUE(width == 0 || width == 640) << width;
      EXPECT_TRUE(height == 0 || height == 360) << height;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  EXPECT_EQ(renderer.width(), 640);
  EXPECT_EQ(renderer.height(), 360);

  VideoRenderer atRest;
  for (int i = 0; i < kChanges; ++i) {
    changeSettings(atRest, i);
  }
  HeadlessWindow changed(0, 0, 320, 180);
  HeadlessWindow reference(0, 0, 320, 180);
  ASSERT_TRUE(show(renderer, picture, 640, 360, changed.handle()));
  ASSERT_TRUE(show(atRest, picture, 640, 360, reference.handle()));
  const auto pixels = changed.pixels();
  EXPECT_EQ(pixels, reference.pixels());
  EXPECT_TRUE(hasBrightPixel(pixels, 320, 0, 180)) << "the picture was drawn";
}

TEST(Snapshot, FileIsWholePictureBottomUpReadableByImageMagick) {
  HeadlessWindow window(0, 0, 640, 360);
  VideoRenderer renderer;
  const auto picture = test::quadrantPicture(1280, 720);
  // Crop, mirror and text must not reach the snapshot.
  renderer.adjustViewArea(100, 50, 20, 30);
  renderer.setRenderEffect(3);
  OsdStringRecord entry{};
  std::strcpy(entry.text, "SNAPSHOT TEXT");
  entry.fontHeight = 40;
  entry.position = LUMVARA_OSD_CENTRE;
  entry.green = 255;
  renderer.setOsdString(0, entry);

  test::TempDir dir;
  const std::string path = dir.path() + "/snap.bmp";
  {
    Presenting presenting(renderer, picture, 1280, 720, window.handle());
    EXPECT_EQ(renderer.capture(path.c_str(), nullptr), CaptureResult::Written);
  }
  ASSERT_EQ(std::filesystem::file_size(path), 3686454u);
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(file, expectedBmp(picture, 1280, 720));
  // The first stored row is the picture's bottom row: blue then white.
  EXPECT_EQ(test::classify(&file[54]), Colour::Blue);
  EXPECT_EQ(test::classify(&file[54 + 1279 * 4]), Colour::White);

  std::vector<uint8_t> rgb;
  ASSERT_TRUE(test::readWithImageMagick(path, 1280, 720, &rgb));
  const auto bgrx = converted(picture, 1280, 720);
  for (int y = 0; y < 720; y += 37) {
    for (int x = 0; x < 1280; x += 53) {
      const uint8_t* want = &bgrx[(static_cast<size_t>(y) * 1280 + x) * 4];
      const uint8_t* got = &rgb[(static_cast<size_t>(y) * 1280 + x) * 3];
      ASSERT_EQ(got[0], want[2]) << x << "," << y;
      ASSERT_EQ(got[1], want[1]) << x << "," << y;
      ASSERT_EQ(got[2], want[0]) << x << "," << y;
    }
  }
}

TEST(Snapshot, BufferHoldsTheBmpImage) {
  HeadlessWindow window(0, 0, 320, 180);
  VideoRenderer renderer;
  renderer.setRenderEffect(1);
  const auto picture = test::quadrantPicture(640, 360);
  std::vector<uint8_t> buffer(bmpImageSize(640, 360) + 16, 0x5A);
  {
    Presenting presenting(renderer, picture, 640, 360, window.handle());
    while (renderer.width() == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(renderer.capture(nullptr, buffer.data()), CaptureResult::Written);
  }
  const auto expected = expectedBmp(picture, 640, 360);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
  EXPECT_TRUE(std::all_of(buffer.end() - 16, buffer.end(), [](uint8_t v) { return v == 0x5A; }));
}

TEST(Snapshot, SecondRequestWhilePendingIsRefused) {
  HeadlessWindow window(0, 0, 320, 180);
  VideoRenderer renderer;
  test::TempDir dir;
  const std::string firstPath = dir.path() + "/first.bmp";
  const std::string secondPath = dir.path() + "/second.bmp";
  std::thread first([&] {
    EXPECT_EQ(renderer.capture(firstPath.c_str(), nullptr, std::chrono::seconds(10)), CaptureResult::Written);
  });
  ASSERT_TRUE(test::waitUntil([&] { return renderer.capturePending(); }, std::chrono::seconds(5)));
  EXPECT_EQ(renderer.capture(secondPath.c_str(), nullptr), CaptureResult::Refused);
  // The next presentation serves the first request, which then ends.
  const auto picture = test::quadrantPicture(64, 36);
  ASSERT_TRUE(show(renderer, picture, 64, 36, window.handle()));
  first.join();
  EXPECT_FALSE(renderer.capturePending());
  EXPECT_EQ(std::filesystem::file_size(firstPath), bmpImageSize(64, 36));
  EXPECT_FALSE(std::filesystem::exists(secondPath));
  // Once withdrawn, a new request is accepted (and times out: nothing presents).
  EXPECT_EQ(renderer.capture(secondPath.c_str(), nullptr, std::chrono::milliseconds(20)), CaptureResult::TimedOut);
}

TEST(Snapshot, UnwritablePathTimesOutAfterTheWaitAndLeavesNoFile) {
  HeadlessWindow window(0, 0, 320, 180);
  VideoRenderer renderer;
  const auto picture = test::quadrantPicture(640, 360);
  test::TempDir dir;
  const std::string path = dir.path() + "/no/such/folder/snap.bmp";
  Presenting presenting(renderer, picture, 640, 360, window.handle());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(renderer.capture(path.c_str(), nullptr), CaptureResult::TimedOut);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(195));
  EXPECT_LT(waited, std::chrono::milliseconds(1000));
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(Snapshot, WithdrawnRequestNeverWritesTheBuffer) {
  HeadlessWindow window(0, 0, 320, 180);
  VideoRenderer renderer;
  const auto picture = test::quadrantPicture(640, 360);
  std::vector<uint8_t> buffer(bmpImageSize(640, 360), 0x5A);
  EXPECT_EQ(renderer.capture(nullptr, buffer.data(), std::chrono::milliseconds(20)), CaptureResult::TimedOut);
  ASSERT_TRUE(show(renderer, picture, 640, 360, window.handle()));
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t v) { return v == 0x5A; }));
}

// The buffer was sized for the picture the renderer reported; a larger
// picture arriving meanwhile must not be written into it. The request stays
// pending through the larger pictures and is served by the next picture of
// its size.
TEST(Snapshot, BufferIsNotFilledFromPictureOfAnotherSize) {
  constexpr size_t kGuard = 64;
  HeadlessWindow window(0, 0, 320, 180);
  VideoRenderer renderer;
  const auto small = test::quadrantPicture(64, 36);
  const auto large = test::quadrantPicture(640, 360);
  ASSERT_TRUE(show(renderer, small, 64, 36, window.handle()));
  std::vector<uint8_t> buffer(bmpImageSize(64, 36) + kGuard, 0x5A);
  std::thread requester(
      [&] { EXPECT_EQ(renderer.capture(nullptr, buffer.data(), std::chrono::seconds(10)), CaptureResult::Written); });
  // The larger pictures come only once the request is in place.
  ASSERT_TRUE(test::waitUntil([&] { return renderer.capturePending(); }, std::chrono::seconds(5)));
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(show(renderer, large, 640, 360, window.handle()));
  }
  EXPECT_TRUE(renderer.capturePending()) << "a larger picture served the request";
  ASSERT_TRUE(show(renderer, small, 64, 36, window.handle()));
  requester.join();
  const auto expected = expectedBmp(small, 64, 36);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
  EXPECT_TRUE(std::all_of(buffer.end() - kGuard, buffer.end(), [](uint8_t v) { return v == 0x5A; }));
}

}  // namespace
}  // namespace lumvara
