// The MJPEG player: its queue, the frames it ignores, snapshots of the raw
// JPEG bytes, render effects and text entries as they show in a headless
// window, recording restarts when the picture width changes, and SD-card
// playback from the camera simulator into a window.

#include "player/net_jpeg_stream_play.h"

#include <gtest/gtest.h>
#include <lumvara/device.h>
#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "apps/camsim/camera_simulator.h"
#include "device/device_test_support.h"
#include "platform/jpeg/jpeg_decoder.h"
#include "platform/winsys/window_canvas.h"
#include "player/drawing_token.h"
#include "player/picture_fixtures.h"
#include "player/test_files.h"

namespace lumvara {
namespace {

using namespace std::chrono_literals;
using test::Colour;
using test::HeadlessWindow;

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<uint8_t>(v >> (8 * i));
  }
}

// A whole stream frame: the little-endian header, then the payload.
std::vector<uint8_t> frameOf(uint8_t kind, const std::vector<uint8_t>& payload, uint32_t time = 0, int8_t zone = 0) {
  std::vector<uint8_t> frame(LUMVARA_FRAME_HEADER_SIZE, 0);
  putLe32(&frame[0], LUMVARA_FRAME_MAGIC);
  frame[4] = kind;
  putLe32(&frame[8], time);
  putLe32(&frame[16], static_cast<uint32_t>(payload.size()));
  frame[25] = static_cast<uint8_t>(zone);
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

// Encodes a BGRX picture as a 4:4:4 JPEG (sharp colour edges).
std::vector<uint8_t> encodeJpeg(const std::vector<uint8_t>& bgrx, int width, int height, int quality = 95) {
  tjhandle handle = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  const int rc =
      tjCompress2(handle, bgrx.data(), width, width * 4, height, TJPF_BGRX, &out, &size, TJSAMP_444, quality, 0);
  std::vector<uint8_t> jpeg;
  if (rc == 0) {
    jpeg.assign(out, out + size);
  }
  tjFree(out);
  tjDestroy(handle);
  return jpeg;
}

std::vector<uint8_t> bgrxOf(Colour colour) {
  switch (colour) {
    case Colour::Red:
      return {0, 0, 255, 0};
    case Colour::Green:
      return {0, 255, 0, 0};
    case Colour::Blue:
      return {255, 0, 0, 0};
    case Colour::White:
      return {255, 255, 255, 0};
    default:
      return {0, 0, 0, 0};
  }
}

std::vector<uint8_t> solidJpeg(Colour colour, int width = 32, int height = 24) {
  std::vector<uint8_t> bgrx;
  const auto pixel = bgrxOf(colour);
  for (int i = 0; i < width * height; ++i) {
    bgrx.insert(bgrx.end(), pixel.begin(), pixel.end());
  }
  return encodeJpeg(bgrx, width, height);
}

// Top-left red, top-right green, bottom-left blue, bottom-right white.
std::vector<uint8_t> quadrantJpeg(int width, int height) {
  std::vector<uint8_t> bgrx;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto pixel = bgrxOf(test::quadrantColour(x, y, width, height));
      bgrx.insert(bgrx.end(), pixel.begin(), pixel.end());
    }
  }
  return encodeJpeg(bgrx, width, height);
}

// Random pixels: a JPEG large enough that a recording of a few of them is
// kept.
std::vector<uint8_t> noiseJpeg(int width, int height, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bgrx(static_cast<size_t>(width) * height * 4);
  for (auto& byte : bgrx) {
    byte = static_cast<uint8_t>(random());
  }
  return encodeJpeg(bgrx, width, height, 90);
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The drawing layer is started around every test, as a host starts it
// around its players.
class JpegPlayer : public ::testing::Test {
 protected:
  void SetUp() override { drawingStartup(); }
  void TearDown() override { drawingShutdown(); }

  // A player whose render thread moves only when step() ticks it.
  static JpegPlayerOptions stepped(uint32_t captureWaitMs = 5000) {
    JpegPlayerOptions options;
    options.tickMs = 0;
    options.captureWaitMs = captureWaitMs;
    return options;
  }

  // One tick, and wait until the render thread has served it.
  static void step(CNetJpegStreamPlay& player) {
    const uint64_t before = player.counters().ticks;
    player.tick();
    ASSERT_TRUE(waitUntil([&] { return player.counters().ticks > before; })) << "tick not served";
  }

  static int input(CNetJpegStreamPlay& player, const std::vector<uint8_t>& frame) {
    return player.inputNetFrame(frame.data(), static_cast<uint32_t>(frame.size()));
  }
};

TEST_F(JpegPlayer, TwelfthFrameEmptiesTheElevenBeforeIt) {
  CNetJpegStreamPlay player(stepped());
  ASSERT_EQ(player.startPlay(), 1);
  const std::vector<uint8_t> h264(100, 0x11);
  for (int i = 0; i < 11; ++i) {
    // Every kind that is queued counts toward the eleven.
    const auto frame =
        i % 2 == 0 ? frameOf(LUMVARA_FRAME_KIND_JPEG, solidJpeg(Colour::Red)) : frameOf(LUMVARA_FRAME_KIND_H264, h264);
    ASSERT_EQ(input(player, frame), 1);
    EXPECT_EQ(player.queuedFrames(), static_cast<size_t>(i + 1));
  }
  const auto twelfth = solidJpeg(Colour::Blue);
  ASSERT_EQ(input(player, frameOf(LUMVARA_FRAME_KIND_JPEG, twelfth)), 1);
  EXPECT_EQ(player.queuedFrames(), 1u);
  EXPECT_EQ(player.getListFrameNum(), 0) << "the queue length is not reported";

  // What is left is the twelfth: it is the next picture served.
  test::TempDir dir;
  const std::string path = dir.path() + "/next.jpg";
  std::atomic<int> captured{-1};
  std::thread requester([&] { captured = player.capturePicture(path.c_str()); });
  ASSERT_TRUE(waitUntil([&] { return player.capturePending(); }));
  step(player);
  requester.join();
  EXPECT_EQ(captured.load(), 1);
  EXPECT_EQ(readFile(path), twelfth);
  EXPECT_EQ(player.queuedFrames(), 0u);
}

TEST_F(JpegPlayer, H264AndAlawFramesAreQueuedAndDiscardedUnshown) {
  HeadlessWindow window(0, 0, 64, 48);
  CNetJpegStreamPlay player(stepped());
  player.setPlayWnd(window.handle());
  ASSERT_EQ(player.startPlay(), 1);
  const std::vector<uint8_t> h264(200, 0x42);
  const std::vector<uint8_t> alaw(960, 0xD5);
  EXPECT_EQ(input(player, frameOf(LUMVARA_FRAME_KIND_H264_KEY, h264)), 1);
  EXPECT_EQ(input(player, frameOf(LUMVARA_FRAME_KIND_ALAW, alaw)), 1);
  EXPECT_EQ(input(player, frameOf(LUMVARA_FRAME_KIND_JPEG, solidJpeg(Colour::Green))), 1);
  EXPECT_EQ(input(player, frameOf(LUMVARA_FRAME_KIND_H264, h264)), 1);
  EXPECT_EQ(input(player, frameOf(LUMVARA_FRAME_KIND_ALAW, alaw)), 1);
  // ADPCM sound is never queued (it is played at once while sound is on).
  EXPECT_EQ(input(player, frameOf(LUMVARA_FRAME_KIND_ADPCM, std::vector<uint8_t>(512, 0x08))), 1);
  EXPECT_EQ(player.queuedFrames(), 5u);

  // One tick skips the two frames in front of the picture and shows it.
  step(player);
  EXPECT_EQ(player.queuedFrames(), 2u);
  EXPECT_EQ(player.counters().pictures, 1u);
  EXPECT_EQ(player.counters().drawn, 1u);
  EXPECT_EQ(window.colourAt(32, 24), Colour::Green);

  // The next finds no picture behind the rest: nothing more is drawn.
  const uint64_t changes = winsys::FramebufferChanges(window.handle());
  step(player);
  EXPECT_EQ(player.queuedFrames(), 0u);
  EXPECT_EQ(player.counters().pictures, 1u);
  EXPECT_EQ(winsys::FramebufferChanges(window.handle()), changes);
  EXPECT_EQ(window.colourAt(32, 24), Colour::Green);
}

TEST(JpegPlayerWithoutDrawingLayer, TakesPicturesButDrawsNothing) {
  ASSERT_FALSE(drawingStarted());
  HeadlessWindow window(0, 0, 64, 48);
  const Colour before = window.colourAt(32, 24);
  JpegPlayerOptions options;
  options.tickMs = 0;
  CNetJpegStreamPlay player(options);
  player.setPlayWnd(window.handle());
  ASSERT_EQ(player.startPlay(), 1);
  ASSERT_EQ(player.inputNetFrame(nullptr, 0), 0);
  const auto frame = frameOf(LUMVARA_FRAME_KIND_JPEG, solidJpeg(Colour::Red));
  ASSERT_EQ(player.inputNetFrame(frame.data(), static_cast<uint32_t>(frame.size())), 1);
  player.tick();
  ASSERT_TRUE(waitUntil([&] { return player.counters().ticks > 0; }));
  EXPECT_EQ(player.counters().pictures, 1u);
  EXPECT_EQ(player.counters().drawn, 0u);
  EXPECT_EQ(window.colourAt(32, 24), before);
}

TEST_F(JpegPlayer, MalformedFramesAreRefusedAndFramesWhileStoppedNotTaken) {
  CNetJpegStreamPlay player(stepped());
  const auto jpeg = frameOf(LUMVARA_FRAME_KIND_JPEG, solidJpeg(Colour::Red));
  EXPECT_EQ(input(player, jpeg), 0) << "stopped";
  ASSERT_EQ(player.startPlay(), 1);
  // The header announces more payload than the caller handed over.
  EXPECT_EQ(player.inputNetFrame(jpeg.data(), static_cast<uint32_t>(jpeg.size() - 1)), 0);
  EXPECT_EQ(player.inputNetFrame(jpeg.data(), 31), 0);
  EXPECT_EQ(player.inputNetFrame(nullptr, 100), 0);
  EXPECT_EQ(player.queuedFrames(), 0u);
  EXPECT_EQ(input(player, jpeg), 1);
  EXPECT_EQ(player.queuedFrames(), 1u);
  EXPECT_EQ(player.stopPlay(), 1);
  EXPECT_EQ(player.queuedFrames(), 0u) << "stopping empties the queue";
}

TEST_F(JpegPlayer, CaptureWritesTheNextPicturesJpegBytesAndRefusesASecondRequest) {
  CNetJpegStreamPlay player(stepped());
  ASSERT_EQ(player.startPlay(), 1);
  test::TempDir dir;
  const std::string path = dir.path() + "/snap.jpg";
  std::atomic<int> first{-1};
  std::thread requester([&] { first = player.capturePicture(path.c_str()); });
  ASSERT_TRUE(waitUntil([&] { return player.capturePending(); }));

  const std::string other = dir.path() + "/other.jpg";
  EXPECT_EQ(player.capturePicture(other.c_str()), 0) << "a capture is already pending";
  EXPECT_TRUE(player.capturePending()) << "the refusal leaves the first request alone";

  const auto payload = quadrantJpeg(48, 32);
  ASSERT_EQ(input(player, frameOf(LUMVARA_FRAME_KIND_JPEG, payload, 1765281600, -8)), 1);
  step(player);
  requester.join();
  EXPECT_EQ(first.load(), 1);
  EXPECT_EQ(readFile(path), payload) << "the file holds the payload exactly as it came";
  EXPECT_FALSE(std::filesystem::exists(other));
  EXPECT_FALSE(player.capturePending());
}

TEST_F(JpegPlayer, CaptureFailsWhenNothingServesItOrTheFileCannotBeWritten) {
  test::TempDir dir;
  {
    // Stopped: accepted, but nothing serves it.
    CNetJpegStreamPlay player(stepped(50));
    const std::string path = dir.path() + "/never.jpg";
    EXPECT_EQ(player.capturePicture(path.c_str()), 0);
    EXPECT_FALSE(player.capturePending());
    EXPECT_FALSE(std::filesystem::exists(path));
  }
  {
    // A file that cannot be created: the picture still shows, the
    // capture reports failure.
    CNetJpegStreamPlay player(stepped());
    ASSERT_EQ(player.startPlay(), 1);
    const std::string path = dir.path() + "/missing/folder/snap.jpg";
    std::atomic<int> result{-1};
    std::thread requester([&] { result = player.capturePicture(path.c_str()); });
    ASSERT_TRUE(waitUntil([&] { return player.capturePending(); }));
    ASSERT_EQ(input(player, frameOf(LUMVARA_FRAME_KIND_JPEG, solidJpeg(Colour::Red))), 1);
    step(player);
    requester.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(player.counters().pictures, 1u);
  }
}

TEST_F(JpegPlayer, RenderEffectsFlipThePictureStretchedOverTheWholeWindow) {
  struct Case {
    int32_t effect;
    Colour topLeft, topRight, bottomLeft, bottomRight;
  };
  const Case cases[] = {
      {LUMVARA_EFFECT_NONE, Colour::Red, Colour::Green, Colour::Blue, Colour::White},
      {LUMVARA_EFFECT_MIRROR_LEFT_RIGHT, Colour::Green, Colour::Red, Colour::White, Colour::Blue},
      {LUMVARA_EFFECT_MIRROR_UP_DOWN, Colour::Blue, Colour::White, Colour::Red, Colour::Green},
      {LUMVARA_EFFECT_HALF_TURN, Colour::White, Colour::Blue, Colour::Green, Colour::Red},
      {7, Colour::Red, Colour::Green, Colour::Blue, Colour::White},
  };
  // A 64 x 32 picture in a 200 x 150 window: stretched, proportions not
  // kept, so each quadrant fills a quarter of the window to its corners.
  const int width = 200;
  const int height = 150;
  HeadlessWindow window(10, 20, width, height);
  CNetJpegStreamPlay player(stepped());
  player.setPlayWnd(window.handle());
  ASSERT_EQ(player.startPlay(), 1);
  const auto frame = frameOf(LUMVARA_FRAME_KIND_JPEG, quadrantJpeg(64, 32));
  for (const Case& c : cases) {
    EXPECT_EQ(player.setRenderEffect(c.effect), 1);
    ASSERT_EQ(input(player, frame), 1);
    step(player);
    EXPECT_EQ(window.colourAt(2, 2), c.topLeft) << "effect " << c.effect;
    EXPECT_EQ(window.colourAt(width - 3, 2), c.topRight) << "effect " << c.effect;
    EXPECT_EQ(window.colourAt(2, height - 3), c.bottomLeft) << "effect " << c.effect;
    EXPECT_EQ(window.colourAt(width - 3, height - 3), c.bottomRight) << "effect " << c.effect;
  }
  // Refreshing draws the last picture again with the effect now set.
  player.setRenderEffect(LUMVARA_EFFECT_MIRROR_LEFT_RIGHT);
  EXPECT_EQ(player.refreshLastPicture(), 1);
  EXPECT_EQ(window.colourAt(2, 2), Colour::Green);
}

// The smallest rectangle holding every pixel that is not black; empty when
// there is none.
winsys::Rect litArea(const std::vector<uint8_t>& pixels, int width, int height) {
  winsys::Rect area{width, height, 0, 0};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
      if (p[0] > 60 || p[1] > 60 || p[2] > 60) {
        area.left = std::min(area.left, x);
        area.top = std::min(area.top, y);
        area.right = std::max(area.right, x + 1);
        area.bottom = std::max(area.bottom, y + 1);
      }
    }
  }
  return area;
}

OsdStringRecord textEntry(int32_t position, const char* text, winsys::Rect rect = {}) {
  OsdStringRecord entry{};
  std::strncpy(entry.faceName, "DejaVu Sans", sizeof entry.faceName - 1);
  entry.fontHeight = 40;  // taller than the box: the box cuts the glyphs
  entry.red = 255;
  entry.position = position;
  entry.left = rect.left;
  entry.top = rect.top;
  entry.right = rect.right;
  entry.bottom = rect.bottom;
  std::strncpy(entry.text, text, sizeof entry.text - 1);
  return entry;
}

TEST_F(JpegPlayer, TextEntriesSitInTwentyFourPixelBoxesOfTheWindow) {
  // The picture is smaller than the window: boxes follow the window.
  const int w = 400;
  const int h = 300;
  struct Case {
    const char* name;
    int32_t position;
    winsys::Rect rect;  // the entry's own rectangle
    winsys::Rect box;   // where its text may appear
    int32_t effect;
    bool right;  // right-aligned (else left or centred)
  };
  const Case cases[] = {
      {"top left", LUMVARA_OSD_TOP_LEFT, {}, {5, 5, w - 5, 29}, LUMVARA_EFFECT_NONE, false},
      {"top right", LUMVARA_OSD_TOP_RIGHT, {}, {5, 5, w - 5, 29}, LUMVARA_EFFECT_NONE, true},
      {"bottom left", LUMVARA_OSD_BOTTOM_LEFT, {}, {5, h - 29, w - 5, h - 5}, LUMVARA_EFFECT_NONE, false},
      {"bottom right", LUMVARA_OSD_BOTTOM_RIGHT, {}, {5, h - 29, w - 5, h - 5}, LUMVARA_EFFECT_NONE, true},
      {"centre", LUMVARA_OSD_CENTRE, {}, {5, h / 2 - 12, w - 5, h / 2 + 12}, LUMVARA_EFFECT_NONE, false},
      {"own rectangle", 0, {120, 200, 380, 230}, {120, 200, 380, 230}, LUMVARA_EFFECT_NONE, false},
      // Texts are written after the flip: never mirrored.
      {"top left, half turn", LUMVARA_OSD_TOP_LEFT, {}, {5, 5, w - 5, 29}, LUMVARA_EFFECT_HALF_TURN, false},
  };
  HeadlessWindow window(0, 0, w, h);
  CNetJpegStreamPlay player(stepped());
  player.setPlayWnd(window.handle());
  ASSERT_EQ(player.startPlay(), 1);
  const auto black = frameOf(LUMVARA_FRAME_KIND_JPEG, solidJpeg(Colour::Black, 160, 90));
  for (const Case& c : cases) {
    const OsdStringRecord entry = textEntry(c.position, "HHHH", c.rect);
    ASSERT_EQ(player.setOsdString(3, &entry), 1);
    player.setRenderEffect(c.effect);
    ASSERT_EQ(input(player, black), 1);
    step(player);
    int width = 0;
    int height = 0;
    const auto pixels = window.pixels(&width, &height);
    const winsys::Rect lit = litArea(pixels, width, height);
    ASSERT_FALSE(lit.empty()) << c.name << ": no text drawn";
    // The coloured copy is one pixel right of and below the box.
    EXPECT_GE(lit.left, c.box.left) << c.name;
    EXPECT_GE(lit.top, c.box.top) << c.name;
    EXPECT_LE(lit.right, c.box.right + 1) << c.name;
    EXPECT_LE(lit.bottom, c.box.bottom + 1) << c.name;
    EXPECT_GE(lit.bottom, c.box.bottom - 1) << c.name << ": the box's bottom edge cuts the glyphs";
    if (c.right) {
      EXPECT_GE(lit.right, c.box.right - 3) << c.name;
    } else if (c.position == LUMVARA_OSD_CENTRE) {
      EXPECT_NEAR((lit.left + lit.right) / 2, w / 2, 3) << c.name;
    } else {
      EXPECT_LE(lit.left, c.box.left + 5) << c.name;
    }
  }
  // Removed, the entry is gone from the next picture.
  EXPECT_EQ(player.removeOsdstring(3), 1);
  ASSERT_EQ(input(player, black), 1);
  step(player);
  int width = 0;
  int height = 0;
  const auto pixels = window.pixels(&width, &height);
  EXPECT_TRUE(litArea(pixels, width, height).empty());
  EXPECT_EQ(player.removeOsdstring(16), 0);
  EXPECT_EQ(player.setOsdString(-1, nullptr), 0);
}

TEST_F(JpegPlayer, TimeStampEntriesShowTheDrawnFramesTimeAlsoOnRefresh) {
  // Two stamps with different prefixes, each in its own box. Painted the
  // same, the window shows the same texts: refreshing keeps the stamp of
  // the last picture and each entry's own prefix.
  HeadlessWindow window(0, 0, 320, 120);
  CNetJpegStreamPlay player(stepped());
  player.setPlayWnd(window.handle());
  ASSERT_EQ(player.startPlay(), 1);
  OsdStringRecord first = textEntry(LUMVARA_OSD_TOP_LEFT, "A ");
  OsdStringRecord second = textEntry(LUMVARA_OSD_BOTTOM_LEFT, "B ");
  for (OsdStringRecord* entry : {&first, &second}) {
    entry->mode = LUMVARA_OSD_MODE_TIME_STAMP;
    entry->fontHeight = 16;
  }
  ASSERT_EQ(player.setOsdString(0, &first), 1);
  ASSERT_EQ(player.setOsdString(1, &second), 1);
  const auto black = solidJpeg(Colour::Black, 64, 24);
  ASSERT_EQ(input(player, frameOf(LUMVARA_FRAME_KIND_JPEG, black, 1765281600, 0)), 1);
  step(player);
  const auto shown = window.pixels();

  // A picture of another time changes the stamp.
  ASSERT_EQ(input(player, frameOf(LUMVARA_FRAME_KIND_JPEG, black, 1765281600 + 3600 * 5 + 17, 0)), 1);
  step(player);
  EXPECT_NE(window.pixels(), shown);
  // Drawn again, it shows what it showed.
  const auto later = window.pixels();
  EXPECT_EQ(player.refreshLastPicture(), 1);
  EXPECT_EQ(window.pixels(), later);

  EXPECT_EQ(player.stopPlay(), 1);
  EXPECT_EQ(player.refreshLastPicture(), 0) << "no picture after stop";
  CNetJpegStreamPlay fresh(stepped());
  fresh.setPlayWnd(window.handle());
  EXPECT_EQ(fresh.refreshLastPicture(), 0) << "no picture yet";
}

// The window carries when the frame it shows reached inputNetFrame: each
// picture drawn brings its own frame's time, a refresh keeps it, and frames
// that show nothing leave it.
TEST_F(JpegPlayer, WindowCarriesTheInputTimeOfTheFrameItShows) {
  HeadlessWindow window(0, 0, 64, 48);
  CNetJpegStreamPlay player(stepped());
  player.setPlayWnd(window.handle());
  ASSERT_EQ(player.startPlay(), 1);
  EXPECT_EQ(winsys::FrameInputMillis(window.handle()), 0.0) << "no frame shown yet";

  const auto timedInput = [&](const std::vector<uint8_t>& frame, double* before, double* after) {
    *before = FrameInputClockMillis();
    ASSERT_EQ(input(player, frame), 1);
    *after = FrameInputClockMillis();
  };
  double before = 0;
  double after = 0;
  timedInput(frameOf(LUMVARA_FRAME_KIND_JPEG, solidJpeg(Colour::Red)), &before, &after);
  std::this_thread::sleep_for(5ms);  // the next frame's time is clearly another
  double secondBefore = 0;
  double secondAfter = 0;
  timedInput(frameOf(LUMVARA_FRAME_KIND_JPEG, solidJpeg(Colour::Blue)), &secondBefore, &secondAfter);
  step(player);
  const double first = winsys::FrameInputMillis(window.handle());
  EXPECT_GE(first, before);
  EXPECT_LE(first, after) << "the first picture was drawn, with its own frame's time";
  step(player);
  const double second = winsys::FrameInputMillis(window.handle());
  EXPECT_GE(second, secondBefore);
  EXPECT_LE(second, secondAfter);

  EXPECT_EQ(player.refreshLastPicture(), 1);
  EXPECT_EQ(winsys::FrameInputMillis(window.handle()), second) << "a refresh shows the same frame";
  ASSERT_EQ(input(player, frameOf(LUMVARA_FRAME_KIND_H264, std::vector<uint8_t>(100, 0x11))), 1);
  step(player);
  EXPECT_EQ(winsys::FrameInputMillis(window.handle()), second) << "a frame that is not shown";
}

TEST_F(JpegPlayer, UnsupportedOperationsReturnZeroAndAnyWindowIsStored) {
  CNetJpegStreamPlay player;
  int32_t width = 5;
  int32_t height = 5;
  uint8_t buffer[64] = {};
  EXPECT_EQ(player.getListFrameNum(), 0);
  EXPECT_EQ(player.adjustViewArea(1, 2, 3, 4), 0);
  EXPECT_EQ(player.renderActualProportion(1), 0);
  EXPECT_EQ(player.capturePictureBuf(buffer), 0);
  EXPECT_EQ(player.getPlayPicSize(&width, &height), 0);
  EXPECT_EQ(width, 5);
  EXPECT_EQ(player.setPlayWnd(nullptr), 1);
  EXPECT_EQ(player.getPlayWnd(), nullptr);
  const auto stale = reinterpret_cast<winsys::HWND>(0x1234);
  EXPECT_EQ(player.setPlayWnd(stale), 1);
  EXPECT_EQ(player.getPlayWnd(), stale);
  EXPECT_EQ(player.startPlay(), 1);
  EXPECT_EQ(player.startPlay(), 1);
  EXPECT_EQ(player.stopPlay(), 1);
  EXPECT_EQ(player.stopPlay(), 1);
}

// ffprobe's view of a file's first video stream: "codec tag,width,height".
std::string probeVideo(const std::string& path) {
  const std::string command =
      "ffprobe -v error -select_streams v:0 -show_entries "
      "stream=codec_tag_string,width,height -of csv=p=0 '" +
      path + "' 2>&1";
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
      out += line;
    }
    pclose(pipe);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) {
    out.pop_back();
  }
  return out;
}

TEST_F(JpegPlayer, RecordingBeginsANewFileWhenThePictureWidthChanges) {
  test::TempDir dir;
  LocalRecordRequest request{};
  std::strncpy(request.rootPath, dir.path().c_str(), sizeof request.rootPath - 1);
  std::strncpy(request.cameraName, "127_0_0_1", sizeof request.cameraName - 1);
  CNetJpegStreamPlay player(stepped());
  ASSERT_EQ(player.startPlay(), 1);
  // Before the first picture the size is not known yet.
  ASSERT_EQ(player.startlocalrecord(request), 1);
  EXPECT_EQ(player.getrecordstatus(), 1);
  const std::string beforeFirstPicture = player.recordFilePath();
  ASSERT_FALSE(beforeFirstPicture.empty());

  // Each batch is recorded as it arrives, then shown.
  auto feed = [&](int width, int height, uint32_t seed) {
    for (uint32_t i = 0; i < 6; ++i) {
      ASSERT_EQ(input(player, frameOf(LUMVARA_FRAME_KIND_JPEG, noiseJpeg(width, height, seed + i))), 1);
    }
    while (player.queuedFrames() > 0) {
      step(player);
    }
  };
  feed(320, 180, 1);
  const std::string narrow = player.recordFilePath();
  EXPECT_NE(narrow, beforeFirstPicture) << "the first picture's width begins a new file";
  feed(320, 180, 10);
  EXPECT_EQ(player.recordFilePath(), narrow) << "same width, same file";
  feed(640, 360, 20);
  const std::string wide = player.recordFilePath();
  EXPECT_NE(wide, narrow);
  feed(640, 360, 30);
  EXPECT_EQ(player.stoplocalrecord(), 1);
  EXPECT_EQ(player.getrecordstatus(), 0);

  EXPECT_EQ(probeVideo(narrow), "mjpg,320,180");
  EXPECT_EQ(probeVideo(wide), "mjpg,640,360");
}

// SD-card playback of an MJPEG recording from the simulator, through a
// device, into a player and its window.
struct PlaybackSink {
  CNetJpegStreamPlay* player = nullptr;
  std::atomic<int> frames{0};
  std::mutex lock;
  std::vector<uint8_t> lastPicture;
};

int deliverFrame(const unsigned char* frame, int length, void* context) {
  auto* sink = static_cast<PlaybackSink*>(context);
  if (length >= LUMVARA_FRAME_HEADER_SIZE && frame[4] == LUMVARA_FRAME_KIND_JPEG) {
    std::lock_guard<std::mutex> guard(sink->lock);
    sink->lastPicture.assign(frame + LUMVARA_FRAME_HEADER_SIZE, frame + length);
  }
  sink->player->inputNetFrame(frame, static_cast<uint32_t>(length));
  sink->frames.fetch_add(1);
  return 0;
}

TEST_F(JpegPlayer, PlaysTheSimulatorsSdRecordingIntoAWindow) {
  camsim::SimulatorOptions options;
  options.pwd = "secret";
  camsim::CameraSimulator simulator(options);
  ASSERT_TRUE(simulator.start()) << simulator.lastError();
  const std::string name = "20251209120000_010.h264";
  const uint32_t frames = 15;
  simulator.setRecordings({{name, 1765281600, frames, true}});
  simulator.recordingBytes(name);

  HeadlessWindow window(0, 0, 640, 360);
  CNetJpegStreamPlay player;  // the real 30 ms tick
  player.setPlayWnd(window.handle());
  ASSERT_EQ(player.startPlay(), 1);
  PlaybackSink sink;
  sink.player = &player;
  void* device = device_net_work_createInstance(test::connectInfo(simulator.port()));
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device_record_file_start(device, name.c_str(), deliverFrame, &sink), 1);
  const bool delivered = waitUntil([&] { return sink.frames.load() >= static_cast<int>(frames); }, 20s);
  device_record_file_stop(device);
  device_net_work_destroyInstance(device);
  ASSERT_TRUE(delivered) << sink.frames.load() << " frames arrived";

  // Once the queue is empty and one more tick has passed, the last
  // picture of the recording is on the screen.
  ASSERT_TRUE(waitUntil([&] { return player.queuedFrames() == 0; }));
  const uint64_t ticks = player.counters().ticks;
  ASSERT_TRUE(waitUntil([&] { return player.counters().ticks > ticks; }));
  EXPECT_GE(player.counters().drawn, 3u) << "pictures were shown one after another";

  BgrxImage expected;
  {
    std::lock_guard<std::mutex> guard(sink.lock);
    JpegDecoder decoder;
    ASSERT_TRUE(decoder.decode(sink.lastPicture.data(), sink.lastPicture.size(), expected));
  }
  ASSERT_EQ(expected.width, 640u);
  ASSERT_EQ(expected.height, 360u);
  const auto shown = window.pixels();
  ASSERT_EQ(shown.size(), expected.pixels.size());
  size_t differing = 0;
  for (size_t i = 0; i < shown.size(); i += 4) {
    differing += std::memcmp(&shown[i], &expected.pixels[i], 3) != 0 ? 1 : 0;
  }
  EXPECT_EQ(differing, 0u) << "the window shows the last picture pixel for pixel";
  player.stopPlay();
}

}  // namespace
}  // namespace lumvara
