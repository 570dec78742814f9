// CAviRecorder: file layout, limits, gap filling, rotation and clean-up,
// driven by a hand-moved clock and a chosen free-space figure.

#include "record/avi_recorder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/record/record_test_media.h"

namespace lumvara {
namespace {

constexpr uint64_t kPlentyOfSpace = 100ull << 30;  // 100 GB

using test::MakeRequest;

class AviRecorderTest : public ::testing::Test {
 protected:
  RecorderEnvironment Environment() {
    RecorderEnvironment env;
    env.clock = clock_.Clock();
    env.freeSpace = [this](const std::string&) -> std::optional<uint64_t> { return freeBytes_.load(); };
    return env;
  }

  std::vector<test::AviChunk> VideoChunks(const std::string& path, bool withData = true) {
    std::vector<test::AviChunk> video;
    for (auto& c : test::ReadAviChunks(path, withData))
      if (c.id == "00dc") video.push_back(std::move(c));
    return video;
  }

  // A real H.264 key frame padded to size bytes.
  std::vector<uint8_t> Frame(size_t size) { return test::PadH264(KeyFrame(), size); }

  const std::vector<uint8_t>& KeyFrame() {
    if (keyFrame_.empty()) keyFrame_ = test::EncodeH264Frames(320, 240, 1).at(0);
    return keyFrame_;
  }

  test::TempDir dir_;
  test::ManualClock clock_;
  std::atomic<uint64_t> freeBytes_{kPlentyOfSpace};
  std::vector<uint8_t> keyFrame_;
};

TEST_F(AviRecorderTest, NamesFolderAndFileAfterDayCameraAndLocalTime) {
  struct Case {
    RecordLocalTime time;
    const char* relative;
  };
  const Case cases[] = {
      {{2026, 12, 10, 1, 2, 3, 45}, "RecordFiles/20261210/192_168_1_20/20261210_010203_45.avi"},
      {{2027, 1, 2, 23, 59, 9, 7}, "RecordFiles/20270102/192_168_1_20/20270102_235909_7.avi"},
      {{2026, 3, 4, 0, 0, 0, 0}, "RecordFiles/20260304/192_168_1_20/20260304_000000_0.avi"},
  };
  CAviRecorder recorder(Environment());
  for (const Case& c : cases) {
    clock_.now = c.time;
    ASSERT_EQ(recorder.Start(MakeRequest(dir_.path()), 240, 320, CAviRecorder::kCodecH264), 1);
    EXPECT_EQ(recorder.FilePath(), dir_.path() + "/" + c.relative);
    EXPECT_TRUE(std::filesystem::exists(recorder.FilePath()));
    recorder.Stop();
  }
}

TEST_F(AviRecorderTest, RaisesLimitsToTheirMinimumsAndCapsWhatDoesNotFit32Bits) {
  struct Case {
    uint32_t fileSizeMB, fileMinutes, reservedMB;
    uint32_t sizeLimit, timeLimit, reserve;
  };
  const Case cases[] = {
      {10, 0, 50, 104857600u, 300000u, 200u},
      {0, 4, 0, 104857600u, 300000u, 200u},
      {100, 5, 200, 104857600u, 300000u, 200u},
      {101, 6, 201, 105906176u, 360000u, 201u},
      {4095, 71582, 1000, 4293918720u, 4294920000u, 1000u},
      {4096, 71583, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, 200u},  // products past 32 bits: capped
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu},
  };
  CAviRecorder recorder(Environment());
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fileSizeMB << " MB, " << c.fileMinutes << " min, " << c.reservedMB
                                    << " MB reserve");
    LocalRecordRequest r = MakeRequest(dir_.path());
    r.fileSizeMB = c.fileSizeMB;
    r.fileMinutes = c.fileMinutes;
    r.reservedMB = c.reservedMB;
    ++clock_.now.millisecond;
    ASSERT_EQ(recorder.Start(r, 240, 320, CAviRecorder::kCodecH264), 1);
    EXPECT_EQ(recorder.SizeLimitBytes(), c.sizeLimit);
    EXPECT_EQ(recorder.TimeLimitMs(), c.timeLimit);
    EXPECT_EQ(recorder.ReserveMB(), c.reserve);
    recorder.Stop();
  }
}

TEST_F(AviRecorderTest, FirstFrameHalfASecondLateFollowsTwelveEmptySamples) {
  CAviRecorder recorder(Environment());
  ASSERT_EQ(recorder.Start(MakeRequest(dir_.path()), 240, 320, CAviRecorder::kCodecH264), 1);
  const std::string path = recorder.FilePath();
  const auto frame = Frame(40000);
  clock_.tick += 500;  // 12 whole periods of 40 ms
  ASSERT_EQ(recorder.WriteVideo(frame.data(), uint32_t(frame.size())), 1);
  EXPECT_EQ(recorder.VideoFrames(), 13u);
  // A slower camera, one frame every 100 ms: the time line keeps 25 fps.
  for (int i = 0; i < 4; ++i) {
    clock_.tick += 100;
    ASSERT_EQ(recorder.WriteVideo(frame.data(), uint32_t(frame.size())), 1);
  }
  // 900 ms after the start: 22 periods, then the frame itself.
  EXPECT_EQ(recorder.VideoFrames(), 23u);
  // A faster camera: frames within one period are all written.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(recorder.WriteVideo(frame.data(), uint32_t(frame.size())), 1);
  EXPECT_EQ(recorder.VideoFrames(), 26u);
  recorder.Stop();

  const auto video = VideoChunks(path);
  ASSERT_EQ(video.size(), 26u);
  for (size_t i = 0; i < 12; ++i) EXPECT_TRUE(video[i].data.empty()) << i;
  EXPECT_EQ(video[12].data, frame);
  std::vector<size_t> pictures;
  for (size_t i = 0; i < video.size(); ++i)
    if (!video[i].data.empty()) pictures.push_back(i);
  EXPECT_EQ(pictures, (std::vector<size_t>{12, 15, 17, 20, 22, 23, 24, 25}));

  const nlohmann::json probe = test::Probe(path);
  ASSERT_FALSE(probe.is_null());
  EXPECT_EQ(probe["streams"][0]["nb_frames"], "26");
  EXPECT_EQ(probe["streams"][0]["r_frame_rate"], "25/1");
}

TEST_F(AviRecorderTest, SizeLimitRotatesAndTheRefusingFrameGoesToNeitherFile) {
  // 100 MB: in memory (/dev/shm) where it can.
  test::TempDir shm(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "");
  LocalRecordRequest request = MakeRequest(shm.path());
  request.fileSizeMB = 100;
  CAviRecorder recorder(Environment());
  ASSERT_EQ(recorder.Start(request, 240, 320, CAviRecorder::kCodecH264), 1);
  const std::string first = recorder.FilePath();
  // 209 frames of 500000 bytes fit in 104857600; the 210th would not.
  const auto frame = Frame(500000);
  for (int i = 0; i < 209; ++i) ASSERT_EQ(recorder.WriteVideo(frame.data(), 500000), 1) << i;
  const auto refused = Frame(500001);
  EXPECT_EQ(recorder.WriteVideo(refused.data(), 500001), 0);
  // The refused frame stays counted: even a tiny frame is refused now.
  EXPECT_EQ(recorder.WriteVideo(frame.data(), 1), 0);

  // What the player does on a refusal: stop, start again.
  recorder.Stop();
  clock_.tick += 7;
  clock_.now.millisecond += 7;
  ASSERT_EQ(recorder.Start(request, 240, 320, CAviRecorder::kCodecH264), 1);
  const std::string second = recorder.FilePath();
  ASSERT_NE(first, second);
  const auto next = Frame(500002);
  ASSERT_EQ(recorder.WriteVideo(next.data(), 500002), 1);
  recorder.Stop();

  const auto firstVideo = VideoChunks(first, /*withData=*/false);
  ASSERT_EQ(firstVideo.size(), 209u);
  for (const auto& c : firstVideo) ASSERT_EQ(c.size, 500000u);
  const auto secondVideo = VideoChunks(second);
  ASSERT_EQ(secondVideo.size(), 1u);
  EXPECT_EQ(secondVideo[0].data, next);
  for (const std::string& path : {first, second}) {
    const nlohmann::json probe = test::Probe(path);
    ASSERT_FALSE(probe.is_null()) << path;
    EXPECT_EQ(probe["streams"][0]["codec_tag_string"], "h264");
  }
}

TEST_F(AviRecorderTest, TimeLimitEndsTheFileOnceExceeded) {
  LocalRecordRequest request = MakeRequest(dir_.path());
  request.fileMinutes = 0;  // means 5
  CAviRecorder recorder(Environment());
  ASSERT_EQ(recorder.Start(request, 240, 320, CAviRecorder::kCodecH264), 1);
  const auto frame = Frame(40000);
  ASSERT_EQ(recorder.WriteVideo(frame.data(), uint32_t(frame.size())), 1);
  clock_.tick += 300000;  // exactly the limit: still accepted
  EXPECT_EQ(recorder.WriteVideo(frame.data(), uint32_t(frame.size())), 1);
  clock_.tick += 1;
  EXPECT_EQ(recorder.WriteVideo(frame.data(), uint32_t(frame.size())), 0);
}

TEST_F(AviRecorderTest, TimeLimitHoldsAcrossTickWrapAround) {
  clock_.tick = 0xFFFFFF00u;
  CAviRecorder recorder(Environment());
  ASSERT_EQ(recorder.Start(MakeRequest(dir_.path()), 240, 320, CAviRecorder::kCodecH264), 1);
  const auto frame = Frame(1000);
  clock_.tick += 0x200;  // wraps past zero, 512 ms later
  EXPECT_EQ(recorder.WriteVideo(frame.data(), uint32_t(frame.size())), 1);
  EXPECT_EQ(recorder.VideoFrames(), 13u);  // 12 periods + the frame
}

TEST_F(AviRecorderTest, RefusesVideoWhileFreeSpaceIsBelowTheReserve) {
  struct Case {
    uint64_t freeMB;
    int expected;
  };
  const auto frame = Frame(1000);
  for (const Case c : {Case{199, 0}, Case{200, 1}, Case{150, 0}, Case{5000, 1}}) {
    SCOPED_TRACE(c.freeMB);
    freeBytes_ = c.freeMB << 20;
    CAviRecorder recorder(Environment());
    ASSERT_EQ(recorder.Start(MakeRequest(dir_.path()), 240, 320, CAviRecorder::kCodecH264), 1);
    // Measured before Start returned: the very first frame sees the figure.
    EXPECT_EQ(recorder.FreeSpaceMB(), c.freeMB);
    EXPECT_EQ(recorder.WriteVideo(frame.data(), uint32_t(frame.size())), c.expected);
    // Audio is not held to the limits.
    std::vector<int16_t> samples(1024);
    EXPECT_EQ(recorder.WriteAudio(samples.data()), 1);
    recorder.Stop();
    ++clock_.now.millisecond;
  }
}

TEST_F(AviRecorderTest, ZeroByZeroStartWritesZeroFrameSizeIntoTheHeaders) {
  CAviRecorder recorder(Environment());
  ASSERT_EQ(recorder.Start(MakeRequest(dir_.path()), 0, 0, CAviRecorder::kCodecH264), 1);
  const std::string path = recorder.FilePath();
  const auto frames = test::EncodeH264Frames(320, 240, 10);
  for (const auto& f : frames) {
    const auto padded = test::PadH264(f, 8000);
    ASSERT_EQ(recorder.WriteVideo(padded.data(), uint32_t(padded.size())), 1);
  }
  recorder.Stop();
  const std::vector<uint8_t> b = test::ReadFileBytes(path);
  const size_t avih = test::FindTag(b, "avih");
  EXPECT_EQ(test::ReadLe32(b, avih + 8 + 32), 0u);
  EXPECT_EQ(test::ReadLe32(b, avih + 8 + 36), 0u);
  const size_t strh = test::FindTag(b, "strh");
  EXPECT_EQ(test::ReadLe32(b, strh + 8 + 52), 0u);  // frame rectangle right, bottom
  const size_t strf = test::FindTag(b, "strf");
  EXPECT_EQ(test::ReadLe32(b, strf + 8 + 4), 0u);
  EXPECT_EQ(test::ReadLe32(b, strf + 8 + 8), 0u);
  // A reader still takes the file (and finds the size in the stream).
  EXPECT_FALSE(test::Probe(path).is_null());
}

TEST_F(AviRecorderTest, MjpegRecordingCarriesTheMjpgTag) {
  CAviRecorder recorder(Environment());
  ASSERT_EQ(recorder.Start(MakeRequest(dir_.path()), 240, 320, CAviRecorder::kCodecMjpeg), 1);
  const std::string path = recorder.FilePath();
  for (const auto& f : test::EncodeMjpegFrames(320, 240, 10))
    ASSERT_EQ(recorder.WriteVideo(f.data(), uint32_t(f.size())), 1);
  recorder.Stop();
  const nlohmann::json probe = test::Probe(path);
  ASSERT_FALSE(probe.is_null());
  EXPECT_EQ(probe["streams"][0]["codec_tag_string"], "mjpg");
  EXPECT_EQ(probe["streams"][0]["width"], 320);
}

TEST_F(AviRecorderTest, AudioGoesInOneChunkPerBlockAtConsecutiveSamplePositions) {
  CAviRecorder recorder(Environment());
  ASSERT_EQ(recorder.Start(MakeRequest(dir_.path()), 240, 320, CAviRecorder::kCodecH264), 1);
  const std::string path = recorder.FilePath();
  const auto frame = Frame(40000);
  std::vector<int16_t> samples(1024);
  for (int block = 0; block < 8; ++block) {
    for (int i = 0; i < 1024; ++i) samples[size_t(i)] = int16_t(block * 1024 + i);
    ASSERT_EQ(recorder.WriteAudio(samples.data()), 1);
    if (block % 2 == 0) {
      ASSERT_EQ(recorder.WriteVideo(frame.data(), uint32_t(frame.size())), 1);
    }
  }
  recorder.Stop();

  std::vector<int16_t> audio;
  for (const auto& c : test::ReadAviChunks(path)) {
    if (c.id != "01wb") continue;
    EXPECT_EQ(c.data.size(), 2048u);
    for (size_t i = 0; i + 1 < c.data.size(); i += 2) audio.push_back(int16_t(c.data[i] | c.data[i + 1] << 8));
  }
  ASSERT_EQ(audio.size(), 8u * 1024);
  for (size_t i = 0; i < audio.size(); ++i) ASSERT_EQ(audio[i], int16_t(i)) << i;
  const nlohmann::json probe = test::Probe(path);
  ASSERT_FALSE(probe.is_null());
  EXPECT_EQ(probe["streams"][1]["nb_frames"], "8192");
  EXPECT_EQ(probe["streams"][1]["nb_read_packets"], "8");
}

TEST_F(AviRecorderTest, MidnightRollOverPutsTheNextFileInTheNewDayFolder) {
  clock_.now = RecordLocalTime{2026, 12, 31, 23, 59, 58, 900};
  CAviRecorder recorder(Environment());
  ASSERT_EQ(recorder.Start(MakeRequest(dir_.path()), 240, 320, CAviRecorder::kCodecH264), 1);
  const std::string first = recorder.FilePath();
  const auto frame = Frame(40000);
  ASSERT_EQ(recorder.WriteVideo(frame.data(), uint32_t(frame.size())), 1);
  clock_.now = RecordLocalTime{2027, 1, 1, 0, 0, 0, 120};
  recorder.Stop();
  ASSERT_EQ(recorder.Start(MakeRequest(dir_.path()), 240, 320, CAviRecorder::kCodecH264), 1);
  ASSERT_EQ(recorder.WriteVideo(frame.data(), uint32_t(frame.size())), 1);
  const std::string second = recorder.FilePath();
  recorder.Stop();
  EXPECT_EQ(first, dir_.path() + "/RecordFiles/20261231/192_168_1_20/20261231_235958_900.avi");
  EXPECT_EQ(second, dir_.path() + "/RecordFiles/20270101/192_168_1_20/20270101_000000_120.avi");
  EXPECT_TRUE(std::filesystem::exists(first));
  EXPECT_TRUE(std::filesystem::exists(second));
}

TEST_F(AviRecorderTest, StopDeletesFilesShorterThan32KiB) {
  struct Case {
    size_t frameBytes;
    bool kept;
  };
  for (const Case c : {Case{1000, false}, Case{20000, false}, Case{40000, true}}) {
    SCOPED_TRACE(c.frameBytes);
    CAviRecorder recorder(Environment());
    ASSERT_EQ(recorder.Start(MakeRequest(dir_.path()), 240, 320, CAviRecorder::kCodecH264), 1);
    const std::string path = recorder.FilePath();
    const auto frame = Frame(c.frameBytes);
    ASSERT_EQ(recorder.WriteVideo(frame.data(), uint32_t(frame.size())), 1);
    recorder.Stop();
    EXPECT_EQ(std::filesystem::exists(path), c.kept);
    EXPECT_TRUE(recorder.FilePath().empty());
    ++clock_.now.millisecond;
  }
}

TEST_F(AviRecorderTest, StartFailsCleanlyWhenNoFileCanBeCreated) {
  std::ofstream(dir_.path() + "/plain-file") << "x";
  CAviRecorder recorder(Environment());
  EXPECT_EQ(recorder.Start(MakeRequest(dir_.path() + "/plain-file"), 240, 320, 0), 0);
  EXPECT_TRUE(recorder.FilePath().empty());
  const auto frame = Frame(1000);
  std::vector<int16_t> samples(1024);
  EXPECT_EQ(recorder.WriteVideo(frame.data(), uint32_t(frame.size())), 0);
  EXPECT_EQ(recorder.WriteAudio(samples.data()), 0);
  recorder.Stop();
  recorder.Stop();  // idle Stop only repeats the resets
  // The next start succeeds as soon as a file can be created.
  EXPECT_EQ(recorder.Start(MakeRequest(dir_.path()), 240, 320, 0), 1);
}

// A name already taken (a second start in the same millisecond, or another
// player recording the same camera) is neither overwritten nor deleted.
TEST_F(AviRecorderTest, NeverOverwritesOrDeletesAFileItDidNotCreate) {
  CAviRecorder first(Environment());
  ASSERT_EQ(first.Start(MakeRequest(dir_.path()), 240, 320, 0), 1);
  const std::string path = first.FilePath();
  const auto frame = Frame(1000);
  ASSERT_EQ(first.WriteVideo(frame.data(), uint32_t(frame.size())), 1);

  CAviRecorder second(Environment());
  EXPECT_EQ(second.Start(MakeRequest(dir_.path()), 240, 320, 0), 0);
  second.Stop();
  EXPECT_TRUE(std::filesystem::exists(path));
  ASSERT_EQ(first.WriteVideo(frame.data(), uint32_t(frame.size())), 1);
}

TEST_F(AviRecorderTest, TextFieldsWithoutTerminatorAreCutAtTheFieldEnd) {
  LocalRecordRequest r = MakeRequest(dir_.path());
  // No terminator; fileSizeMB follows. Slashes keep each folder name short.
  std::string camera(sizeof r.cameraName, 'c');
  for (size_t i = 100; i < camera.size(); i += 100) camera[i] = '/';
  std::memcpy(r.cameraName, camera.data(), camera.size());
  r.fileSizeMB = 0x41414141;
  CAviRecorder recorder(Environment());
  ASSERT_EQ(recorder.Start(r, 240, 320, 0), 1);
  EXPECT_NE(recorder.FilePath().find("/" + camera + "/"), std::string::npos);
  EXPECT_EQ(recorder.FilePath().find('A', dir_.path().size()), std::string::npos);
}

}  // namespace
}  // namespace lumvara
