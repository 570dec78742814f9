// The H.264 player on its own: the video queue policy, what the decode side
// takes, pictures in a headless window, sound and recording edges.

#include "player/net_h264_stream_play.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/winsys/window_canvas.h"
#include "player/h264_player_support.h"
#include "player/picture_fixtures.h"

namespace lumvara {
namespace {

// These tests run without a sound server: the output never opens.
const bool noSoundServer = [] {
  ::setenv("PULSE_SERVER", "unix:/nonexistent/lumvara/pulse/native", 1);
  return true;
}();

using namespace std::chrono_literals;
using test::HeadlessWindow;
using test::streamFrame;
using test::waitFor;

constexpr uint8_t K = LUMVARA_FRAME_KIND_H264_KEY;
constexpr uint8_t P = LUMVARA_FRAME_KIND_H264;
constexpr uint8_t kJpeg = LUMVARA_FRAME_KIND_JPEG;

// A player whose decode side runs only when the test ticks it.
std::unique_ptr<CNetH264StreamPlay> untickedPlayer() {
  CNetH264StreamPlay::Options options;
  options.tickTimer = false;
  auto player = std::make_unique<CNetH264StreamPlay>(options);
  EXPECT_EQ(player->startPlay(), 1);
  return player;
}

// Feeds frames of the given kinds ('K' key, 'P' other, 'J' JPEG), each
// tagged with its index in `time`.
void feed(CNetH264StreamPlay& player, const std::string& kinds) {
  const std::vector<uint8_t> payload(64, 0x11);
  for (size_t i = 0; i < kinds.size(); ++i) {
    const uint8_t kind = kinds[i] == 'K' ? K : kinds[i] == 'P' ? P : kJpeg;
    const auto frame = streamFrame(kind, payload, static_cast<uint32_t>(i));
    EXPECT_EQ(player.inputNetFrame(frame.data(), static_cast<uint32_t>(frame.size())), 1);
  }
}

std::vector<uint32_t> queuedTags(CNetH264StreamPlay& player) {
  std::vector<uint32_t> tags;
  for (const StreamFrameHeader& header : player.queuedVideoHeaders()) {
    tags.push_back(header.time);
  }
  return tags;
}

std::vector<uint32_t> range(uint32_t first, uint32_t last) {
  std::vector<uint32_t> values;
  for (uint32_t v = first; v <= last; ++v) {
    values.push_back(v);
  }
  return values;
}

std::vector<uint32_t> join(std::vector<uint32_t> a, const std::vector<uint32_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) {
    out += piece;
  }
  return out;
}

struct QueueCase {
  const char* name;
  std::string kinds;
  std::vector<uint32_t> queued;  // tags left in the queue, oldest first
  bool waiting;
};

TEST(H264PlayerQueue, Policy) {
  const std::string ten = "K" + repeat("P", 9);
  const QueueCase cases[] = {
      {"below ten every frame is queued", "PPKPJ", range(0, 4), false},
      {"ten queued: a P frame is dropped and the queue waits", ten + "P", range(0, 9), true},
      {"waiting: further P frames are dropped", ten + "PPPP", range(0, 9), true},
      {"waiting: the key frame goes behind the ten", ten + "PPK", join(range(0, 9), {12}), false},
      {"ten queued, not waiting: a key frame replaces them", ten + "K", {10}, false},
      {"waiting at twenty: the key frame is dropped", ten + repeat("PK", 10) + "PK",
       join(range(0, 9), {11, 13, 15, 17, 19, 21, 23, 25, 27, 29}), true},
      {"a key frame ends the wait: queueing goes on below twenty", ten + "PK" + "P" + "PK", join(range(0, 9), {11, 14}),
       false},
  };
  for (const QueueCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto player = untickedPlayer();
    feed(*player, c.kinds);
    EXPECT_EQ(queuedTags(*player), c.queued);
    EXPECT_EQ(player->waitingForKeyFrame(), c.waiting);
    EXPECT_EQ(player->getListFrameNum(), static_cast<int>(c.queued.size()));
  }
}

TEST(H264PlayerQueue, AudioFramesNeverEnterTheVideoQueue) {
  auto player = untickedPlayer();
  const auto adpcm = streamFrame(LUMVARA_FRAME_KIND_ADPCM, std::vector<uint8_t>(512));
  const auto alaw = streamFrame(LUMVARA_FRAME_KIND_ALAW, std::vector<uint8_t>(960));
  EXPECT_EQ(player->inputNetFrame(adpcm.data(), static_cast<uint32_t>(adpcm.size())), 1);
  EXPECT_EQ(player->inputNetFrame(alaw.data(), static_cast<uint32_t>(alaw.size())), 1);
  EXPECT_EQ(player->getListFrameNum(), 0);
  // Sound is off: they are dropped, not kept for later.
  EXPECT_EQ(player->queuedAudioFrames(), 0u);
}

// One tick takes one frame; before the first key frame, other frames are
// discarded at dequeue, and kinds other than H.264 always are.
TEST(H264PlayerQueue, DequeueSkipsToTheFirstKeyFrame) {
  auto player = untickedPlayer();
  feed(*player, "PPKPJP");
  player->tick();
  ASSERT_TRUE(waitFor([&] { return player->trace().framesTaken == 1; }));
  EXPECT_EQ(player->trace().lastTakenTime, 2u);
  EXPECT_EQ(queuedTags(*player), (std::vector<uint32_t>{3, 4, 5}));

  player->tick();
  ASSERT_TRUE(waitFor([&] { return player->trace().framesTaken == 2; }));
  EXPECT_EQ(player->trace().lastTakenTime, 3u);
  player->tick();
  ASSERT_TRUE(waitFor([&] { return player->trace().framesTaken == 3; }));
  EXPECT_EQ(player->trace().lastTakenTime, 5u) << "the JPEG frame is discarded, the P frame taken";
  EXPECT_EQ(player->getListFrameNum(), 0);
}

TEST(H264PlayerQueue, RestartForgetsTheKeyFrameSeen) {
  auto player = untickedPlayer();
  feed(*player, "K");
  player->tick();
  ASSERT_TRUE(waitFor([&] { return player->trace().framesTaken == 1; }));
  EXPECT_EQ(player->stopPlay(), 1);
  EXPECT_EQ(player->startPlay(), 1);
  feed(*player, "PK");
  player->tick();
  ASSERT_TRUE(waitFor([&] { return player->trace().framesTaken == 2; }));
  EXPECT_EQ(player->trace().lastTakenTime, 1u);
}

TEST(H264PlayerInput, MalformedFramesAreNotRead) {
  auto player = untickedPlayer();
  auto frame = streamFrame(K, std::vector<uint8_t>(100));
  EXPECT_EQ(player->inputNetFrame(frame.data(), 31), 0) << "shorter than a header";
  EXPECT_EQ(player->inputNetFrame(nullptr, 132), 0);
  EXPECT_EQ(player->inputNetFrame(frame.data(), 131), 0) << "payload longer than the frame";
  std::vector<uint8_t> huge(kFrameBlockSize + 1);
  std::memcpy(huge.data(), frame.data(), 32);
  EXPECT_EQ(player->inputNetFrame(huge.data(), static_cast<uint32_t>(huge.size())), 0);
  EXPECT_EQ(player->getListFrameNum(), 0);
  EXPECT_EQ(player->inputNetFrame(frame.data(), static_cast<uint32_t>(frame.size())), 1);
  EXPECT_EQ(player->getListFrameNum(), 1);
}

TEST(H264PlayerState, StoppedPlayerRefusesAndKeepsSettings) {
  CNetH264StreamPlay player;
  HeadlessWindow window(0, 0, 64, 36);
  const auto frame = streamFrame(K, std::vector<uint8_t>(16));
  EXPECT_EQ(player.inputNetFrame(frame.data(), static_cast<uint32_t>(frame.size())), 0);
  EXPECT_EQ(player.getListFrameNum(), 0);
  EXPECT_EQ(player.stopPlay(), 1) << "stopping a stopped player";
  EXPECT_EQ(player.refreshLastPicture(), 0);
  EXPECT_EQ(player.capturePicture("/tmp/never-written.bmp"), 0);
  int32_t width = 7;
  int32_t height = 7;
  EXPECT_EQ(player.getPlayPicSize(&width, &height), 0);
  EXPECT_EQ(width, 7);

  std::vector<uint8_t> buffer(64, 0xAB);
  EXPECT_EQ(player.capturePictureBuf(buffer.data()), 0);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xAB; }))
      << "a stopped player leaves the buffer untouched";

  EXPECT_EQ(player.setPlayWnd(window.handle()), 1);
  EXPECT_EQ(player.setPlayWnd(nullptr), 0);
  EXPECT_EQ(player.getPlayWnd(), window.handle()) << "null keeps the previous window";

  OsdStringRecord record{};
  EXPECT_EQ(player.setOsdString(15, &record), 1);
  EXPECT_EQ(player.setOsdString(16, &record), 0);
  EXPECT_EQ(player.setOsdString(-1, &record), 0);
  EXPECT_EQ(player.removeOsdstring(15), 1);
  EXPECT_EQ(player.removeOsdstring(16), 0);
  EXPECT_EQ(player.setRenderEffect(3), 1);
  EXPECT_EQ(player.adjustViewArea(1, 2, 3, 4), 1);
  EXPECT_EQ(player.renderActualProportion(1), 1);
  EXPECT_EQ(player.getrecordstatus(), 0);
  EXPECT_EQ(player.stoplocalrecord(), 1);
  EXPECT_EQ(player.closeSound(), 1);

  EXPECT_EQ(player.startPlay(), 1);
  EXPECT_EQ(player.startPlay(), 1) << "starting twice is harmless";
  EXPECT_EQ(player.getPlayPicSize(&width, &height), 1);
  EXPECT_EQ(width, 0) << "no picture shown yet";
  EXPECT_EQ(height, 0);
  EXPECT_EQ(player.getPlayWnd(), window.handle()) << "the window survives start";
}

// Real pictures in a window the size of the picture.
class H264PlayerPictures : public ::testing::Test {
 protected:
  void SetUp() override {
    frames_ = test::patternFrames(30);
    ASSERT_EQ(frames_.size(), 30u) << "no H.264 encoder";
    ASSERT_NE(window_.handle(), nullptr);
    ASSERT_EQ(player_.setPlayWnd(window_.handle()), 1);
    ASSERT_EQ(player_.startPlay(), 1);
  }

  // Feeds frames [from, to) at about 25 a second and waits until the
  // last of them has been shown.
  void play(size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      const auto& frame = frames_[i];
      lastInputBefore_ = FrameInputClockMillis();
      ASSERT_EQ(player_.inputNetFrame(frame.data(), static_cast<uint32_t>(frame.size())), 1);
      lastInputAfter_ = FrameInputClockMillis();
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    const uint32_t lastTime = 1700000000 + static_cast<uint32_t>(to - 1);
    ASSERT_TRUE(waitFor([&] { return player_.trace().lastShownTime == lastTime; }));
  }

  std::vector<uint8_t> pixels() { return window_.pixels(); }

  std::vector<std::vector<uint8_t>> frames_;
  // When the last frame play() gave was handed over, just before and after.
  double lastInputBefore_ = 0;
  double lastInputAfter_ = 0;
  HeadlessWindow window_{0, 0, 640, 360};
  CNetH264StreamPlay player_;
};

TEST_F(H264PlayerPictures, ShowsEachFrameAndItsNumber) {
  EXPECT_EQ(player_.refreshLastPicture(), 0) << "no picture decoded yet";
  play(0, 5);
  EXPECT_EQ(test::shownFrameNumber(pixels(), 640, 360), "000004");
  int32_t width = 0;
  int32_t height = 0;
  EXPECT_EQ(player_.getPlayPicSize(&width, &height), 1);
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 360);
  const H264PlayTrace trace = player_.trace();
  EXPECT_EQ(trace.framesTaken, 5u);
  EXPECT_EQ(trace.picturesShown, 5u);

  EXPECT_EQ(player_.refreshLastPicture(), 1);
  EXPECT_EQ(player_.stopPlay(), 1);
  EXPECT_EQ(player_.refreshLastPicture(), 0) << "no last picture after stop";
  EXPECT_EQ(player_.getPlayPicSize(&width, &height), 0);
}

TEST_F(H264PlayerPictures, FramesBeforeTheFirstKeyFrameAreNeverShown) {
  // Frames 1..4 depend on frame 0, which the player never got.
  for (size_t i = 1; i < 5; ++i) {
    ASSERT_EQ(player_.inputNetFrame(frames_[i].data(), static_cast<uint32_t>(frames_[i].size())), 1);
  }
  ASSERT_TRUE(waitFor([&] { return player_.getListFrameNum() == 0; }));
  EXPECT_EQ(player_.trace().framesTaken, 0u);
  play(0, 3);
  EXPECT_EQ(test::shownFrameNumber(pixels(), 640, 360), "000002");
}

// The window carries when the frame it shows reached inputNetFrame, through
// the queue and the decoder; a refresh of the last picture keeps it.
TEST_F(H264PlayerPictures, WindowCarriesTheInputTimeOfTheFrameItShows) {
  EXPECT_EQ(winsys::FrameInputMillis(window_.handle()), 0.0) << "no frame shown yet";
  play(0, 3);
  const double shown = winsys::FrameInputMillis(window_.handle());
  EXPECT_GE(shown, lastInputBefore_);
  EXPECT_LE(shown, lastInputAfter_);
  ASSERT_EQ(player_.refreshLastPicture(), 1);
  EXPECT_EQ(winsys::FrameInputMillis(window_.handle()), shown);
  play(3, 4);
  EXPECT_GT(winsys::FrameInputMillis(window_.handle()), shown);
  EXPECT_GE(winsys::FrameInputMillis(window_.handle()), lastInputBefore_);
}

TEST_F(H264PlayerPictures, HalfTurnShowsThePictureRotated) {
  play(0, 3);
  const auto upright = pixels();
  EXPECT_EQ(player_.setRenderEffect(LUMVARA_EFFECT_HALF_TURN), 1);
  ASSERT_EQ(player_.refreshLastPicture(), 1);
  const auto turned = pixels();
  size_t mismatches = 0;
  for (int y = 0; y < 360; ++y) {
    for (int x = 0; x < 640; ++x) {
      const size_t a = (static_cast<size_t>(y) * 640 + x) * 4;
      const size_t b = (static_cast<size_t>(359 - y) * 640 + (639 - x)) * 4;
      mismatches += std::memcmp(&upright[a], &turned[b], 3) != 0 ? 1 : 0;
    }
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_NE(upright, turned);
  // Any other code shows it unchanged again.
  EXPECT_EQ(player_.setRenderEffect(4), 1);
  ASSERT_EQ(player_.refreshLastPicture(), 1);
  EXPECT_EQ(pixels(), upright);
}

TEST_F(H264PlayerPictures, TimeStampsShowTheSameTimeOnRefresh) {
  play(0, 2);
  const auto plain = pixels();
  OsdStringRecord record{};
  std::strcpy(record.faceName, "DejaVu Sans");
  record.fontHeight = 20;
  record.red = 255;
  record.mode = LUMVARA_OSD_MODE_TIME_STAMP;
  record.position = LUMVARA_OSD_TOP_LEFT;
  ASSERT_EQ(player_.setOsdString(0, &record), 1);
  std::strcpy(record.text, "Cam ");
  record.position = LUMVARA_OSD_BOTTOM_RIGHT;
  ASSERT_EQ(player_.setOsdString(1, &record), 1);

  ASSERT_EQ(player_.refreshLastPicture(), 1);
  const auto first = pixels();
  ASSERT_EQ(player_.refreshLastPicture(), 1);
  EXPECT_EQ(pixels(), first) << "the same frame time is drawn both times";

  // Both boxes carry text: the top and the bottom band differ from the
  // picture without entries.
  auto bandDiffers = [&](int top, int bottom) {
    for (int y = top; y < bottom; ++y) {
      const size_t from = static_cast<size_t>(y) * 640 * 4;
      if (!std::equal(plain.begin() + static_cast<long>(from), plain.begin() + static_cast<long>(from + 640 * 4),
                      first.begin() + static_cast<long>(from))) {
        return true;
      }
    }
    return false;
  };
  EXPECT_TRUE(bandDiffers(5, 39));
  EXPECT_TRUE(bandDiffers(360 - 39, 360 - 5));

  EXPECT_EQ(player_.removeOsdstring(0), 1);
  EXPECT_EQ(player_.removeOsdstring(1), 1);
  ASSERT_EQ(player_.refreshLastPicture(), 1);
  EXPECT_EQ(pixels(), plain);
}

TEST_F(H264PlayerPictures, SnapshotIntoABufferIsABmpOfThePicture) {
  play(0, 2);
  int32_t width = 0;
  int32_t height = 0;
  ASSERT_EQ(player_.getPlayPicSize(&width, &height), 1);
  std::vector<uint8_t> buffer(54 + static_cast<size_t>(width) * height * 4);
  std::thread feeder([&] {
    // The request is served by the next presentation.
    waitFor([&] { return player_.renderer().capturePending(); });
    player_.inputNetFrame(frames_[2].data(), static_cast<uint32_t>(frames_[2].size()));
  });
  EXPECT_EQ(player_.capturePictureBuf(buffer.data()), 1);
  feeder.join();
  EXPECT_EQ(buffer[0], 'B');
  EXPECT_EQ(buffer[1], 'M');
  int32_t bmpWidth = 0;
  std::memcpy(&bmpWidth, &buffer[18], 4);
  EXPECT_EQ(bmpWidth, 640);
}

TEST_F(H264PlayerPictures, SnapshotWithoutAPictureTimesOut) {
  std::vector<uint8_t> buffer(64, 0xAB);
  EXPECT_EQ(player_.capturePictureBuf(buffer.data()), 0);
  EXPECT_EQ(player_.capturePicture("/nonexistent-folder/never.bmp"), 0);
}

// One key frame of a flat grey picture: tiny even at a huge size.
std::vector<uint8_t> flatKeyFrame(int width, int height) {
  std::vector<uint8_t> bytes;
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  AVCodecContext* context = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  if (context != nullptr && frame != nullptr && packet != nullptr) {
    context->width = width;
    context->height = height;
    context->time_base = AVRational{1, 25};
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->max_b_frames = 0;
    context->thread_count = 1;
    context->log_level_offset = 8;
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    if (avcodec_open2(context, codec, nullptr) >= 0 && av_frame_get_buffer(frame, 0) >= 0) {
      for (int plane = 0; plane < 3; ++plane) {
        std::memset(frame->data[plane], 128,
                    static_cast<size_t>(frame->linesize[plane]) * (plane == 0 ? height : height / 2));
      }
      frame->pts = 0;
      frame->pict_type = AV_PICTURE_TYPE_I;
      avcodec_send_frame(context, frame);
      avcodec_send_frame(context, nullptr);
      while (avcodec_receive_packet(context, packet) == 0) {
        bytes.insert(bytes.end(), packet->data, packet->data + packet->size);
        av_packet_unref(packet);
      }
    }
  }
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&context);
  return bytes;
}

// A picture too large for the picture buffers ends the decode thread; the
// player stays playing and queues on, and a restart decodes again.
TEST(H264PlayerOversize, PictureLargerThanTheBuffersStopsDecodingUntilRestart) {
  // 3856 x 3840 needs 22,210,560 bytes packed, just over the buffers.
  const std::vector<std::vector<uint8_t>> huge = {streamFrame(K, flatKeyFrame(3856, 3840))};
  ASSERT_GT(huge[0].size(), 32u) << "no H.264 encoder";
  ASSERT_LE(huge[0].size(), kFrameBlockSize) << "the key frame does not fit a frame block";
  const auto small = test::patternFrames(2);
  HeadlessWindow window(0, 0, 640, 360);
  CNetH264StreamPlay player;
  ASSERT_EQ(player.setPlayWnd(window.handle()), 1);
  ASSERT_EQ(player.startPlay(), 1);
  ASSERT_EQ(player.inputNetFrame(huge[0].data(), static_cast<uint32_t>(huge[0].size())), 1);
  ASSERT_TRUE(waitFor([&] { return player.trace().framesTaken == 1; }));
  ASSERT_TRUE(waitFor([&] { return player.getListFrameNum() == 0; }));
  EXPECT_EQ(player.trace().picturesShown, 0u);

  for (const auto& frame : small) {
    EXPECT_EQ(player.inputNetFrame(frame.data(), static_cast<uint32_t>(frame.size())), 1);
  }
  std::this_thread::sleep_for(200ms);  // several ticks: nothing is taken any more
  EXPECT_EQ(player.getListFrameNum(), 2);
  EXPECT_EQ(player.trace().framesTaken, 1u);

  ASSERT_EQ(player.stopPlay(), 1);
  ASSERT_EQ(player.startPlay(), 1);
  for (const auto& frame : small) {
    EXPECT_EQ(player.inputNetFrame(frame.data(), static_cast<uint32_t>(frame.size())), 1);
  }
  EXPECT_TRUE(waitFor([&] { return player.trace().picturesShown == 2; }));
}

TEST(H264PlayerRecording, RecordsWhileStopped) {
  const auto root = std::filesystem::temp_directory_path() / ("h264-record-" + std::to_string(::getpid()));
  std::filesystem::create_directories(root);
  LocalRecordRequest request{};
  std::strncpy(request.rootPath, root.c_str(), sizeof request.rootPath - 1);
  std::strcpy(request.cameraName, "cam");

  CNetH264StreamPlay player;
  ASSERT_EQ(player.startlocalrecord(request), 1);
  EXPECT_EQ(player.getrecordstatus(), 1);
  EXPECT_EQ(player.startlocalrecord(request), 1) << "already recording";
  const auto frames = test::patternFrames(10);
  for (const auto& frame : frames) {
    EXPECT_EQ(player.inputNetFrame(frame.data(), static_cast<uint32_t>(frame.size())), 0) << "stopped";
  }
  const auto adpcm = streamFrame(LUMVARA_FRAME_KIND_ADPCM, std::vector<uint8_t>(512, 0x35));
  EXPECT_EQ(player.inputNetFrame(adpcm.data(), static_cast<uint32_t>(adpcm.size())), 0);
  EXPECT_GE(player.recorder().VideoFrames(), 10u);
  EXPECT_EQ(player.stoplocalrecord(), 1);
  EXPECT_EQ(player.getrecordstatus(), 0);
  std::filesystem::remove_all(root);
}

// A file starts with a key frame: the frames before it could not be
// decoded from the file.
TEST(H264PlayerRecording, FileStartsWithAKeyFrame) {
  const auto root = std::filesystem::temp_directory_path() / ("h264-record-key-" + std::to_string(::getpid()));
  std::filesystem::create_directories(root);
  LocalRecordRequest request{};
  std::strncpy(request.rootPath, root.c_str(), sizeof request.rootPath - 1);
  std::strcpy(request.cameraName, "cam");

  const auto frames = test::patternFrames(100);
  CNetH264StreamPlay player;
  ASSERT_EQ(player.startlocalrecord(request), 1);
  const std::string file = player.recorder().FilePath();
  for (size_t i = 10; i < frames.size(); ++i) {  // frames 10 to 49 need frame 0
    player.inputNetFrame(frames[i].data(), static_cast<uint32_t>(frames[i].size()));
  }
  EXPECT_EQ(player.stoplocalrecord(), 1);
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(test::run("ffmpeg -nostdin -v error -i '" + file + "' -f null - 2>&1"), "");
  const std::string firstPacket =
      test::run("ffprobe -v error -select_streams v:0 -show_entries packet=size,flags -of csv=p=0 '" + file +
                "' | grep -v '^0,' | head -1");
  EXPECT_NE(firstPacket.find('K'), std::string::npos) << firstPacket;
  std::filesystem::remove_all(root);
}

TEST(H264PlayerRecording, RefusedWhenTheRecorderCannotStart) {
  LocalRecordRequest request{};
  std::strcpy(request.rootPath, "/proc/no-recordings-here");
  std::strcpy(request.cameraName, "cam");
  CNetH264StreamPlay player;
  EXPECT_EQ(player.startlocalrecord(request), 0);
  EXPECT_EQ(player.getrecordstatus(), 0);
}

// Without a sound server the output cannot open: the result is 0 as on
// success, and sound stays off.
TEST(H264PlayerNoSoundServer, OpenLeavesSoundOff) {
  CNetH264StreamPlay player;
  ASSERT_EQ(player.startPlay(), 1);
  EXPECT_EQ(player.openSound(), 0);
  EXPECT_FALSE(player.soundOn());
  const auto alaw = streamFrame(LUMVARA_FRAME_KIND_ALAW, std::vector<uint8_t>(960));
  EXPECT_EQ(player.inputNetFrame(alaw.data(), static_cast<uint32_t>(alaw.size())), 1);
  EXPECT_EQ(player.queuedAudioFrames(), 0u);
  EXPECT_EQ(player.closeSound(), 1);
}

}  // namespace
}  // namespace lumvara
