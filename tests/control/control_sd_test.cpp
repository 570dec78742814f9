// SD-card playback through the hosting API against the simulator's
// recordings: progress events, pictures, stop.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "apps/camsim/stream_frame.h"

#include "control/live_fixture.h"

namespace control_test {
namespace {

constexpr char kH264Name[] = "20261209120000_000.h264";
constexpr char kMjpegName[] = "20261209130000_000.mjpeg";

class SdPlaybackTest : public LiveControlTest {
 protected:
  void Configure(SimulatorOptions& options) override { options.playback_fps = 0; }
  void SetUp() override {
    LiveControlTest::SetUp();
    lumvara::camsim::Recording h264{kH264Name, std::time(nullptr) - 3600, 30, false};
    lumvara::camsim::Recording mjpeg{kMjpegName, std::time(nullptr) - 1800, 10, true};
    simulator_->setRecordings({h264, mjpeg});
  }
  int32_t PlayFile(const char* name, int streamid) {
    return Call("SdRecordFilePlay", {kUser, kPwd, "127.0.0.1", static_cast<int>(simulator_->port()), name, streamid});
  }
  // The progress values of the code 10 notices so far.
  std::vector<int32_t> Progress() const {
    std::vector<int32_t> values;
    for (const Heard& h : Events()) {
      if (h.dispid == 1 && h.longs.size() == 2 && h.longs[0] == 10) values.push_back(h.longs[1]);
    }
    return values;
  }
  // When each of them was heard.
  std::vector<std::chrono::steady_clock::time_point> ProgressTimes() const {
    std::vector<std::chrono::steady_clock::time_point> times;
    for (size_t i = 0; i < heard_.size(); ++i) {
      const Heard& h = heard_[i];
      if (h.kind == LUMVARA_SINK_EVENT && h.dispid == 1 && h.longs.size() == 2 && h.longs[0] == 10) {
        times.push_back(heardAt_[i]);
      }
    }
    return times;
  }
};

struct SdCase {
  const char* name;
  int streamid;
};

class SdPlaybackCases : public SdPlaybackTest, public ::testing::WithParamInterface<SdCase> {};

TEST_P(SdPlaybackCases, ReportsEveryFrameAndShowsPictures) {
  const SdCase c = GetParam();
  const auto bytes = simulator_->recordingBytes(c.name);
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(PlayFile(c.name, c.streamid), 0);
  // Live view cannot start meanwhile.
  EXPECT_EQ(Play(), 1);
  // Every frame counts, header and payload: the last notice gives the whole
  // recording's length.
  ASSERT_TRUE(
      PumpUntil([&] { return !Progress().empty() && Progress().back() == static_cast<int32_t>(bytes.size()); }, 10s))
      << (Progress().empty() ? -1 : Progress().back()) << " of " << bytes.size();
  const auto progress = Progress();
  // One notice per frame, each with the count when it is handled: never
  // smaller than the one before (equal when two frames came in between).
  EXPECT_GE(progress.size(), 10u);
  for (size_t i = 1; i < progress.size(); ++i) EXPECT_GE(progress[i], progress[i - 1]);
  // The pace: the camera sends as fast as it is read, the control takes
  // about 40 ms per frame. A figure, not a check.
  const auto times = ProgressTimes();
  if (times.size() > 1) {
    std::vector<double> gaps;
    for (size_t i = 1; i < times.size(); ++i) {
      gaps.push_back(std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
    }
    std::sort(gaps.begin(), gaps.end());
    const double total = std::chrono::duration<double, std::milli>(times.back() - times.front()).count();
    std::printf("[ figure ] SD playback %s: %zu notices, median gap %.1f ms, mean %.1f ms (40 ms per frame)\n",
                c.streamid == 3 ? "MJPEG" : "H.264", times.size(), gaps[gaps.size() / 2],
                total / static_cast<double>(gaps.size()));
  }
  EXPECT_TRUE(WaitForPictures());
  EXPECT_EQ(Call("SdRecordFileStop"), 0);
  EXPECT_EQ(Call("SdRecordFileStop"), 0);
  // Idle again: live view may start.
  EXPECT_EQ(Play(), 0);
}

INSTANTIATE_TEST_SUITE_P(Players, SdPlaybackCases, ::testing::Values(SdCase{kH264Name, 0}, SdCase{kMjpegName, 3}),
                         [](const ::testing::TestParamInfo<SdCase>& param) {
                           return param.param.streamid == 3 ? std::string("Mjpeg") : std::string("H264");
                         });

TEST_F(SdPlaybackTest, RefusedDuringLiveView) {
  ASSERT_EQ(Play(), 0);
  ASSERT_TRUE(WaitForPictures());
  EXPECT_EQ(PlayFile(kH264Name, 0), -1);
  EXPECT_EQ(PlayFile("", 0), -1);
  // The live view goes on untouched.
  EXPECT_EQ(Play(), 1);
  Forget();
  EXPECT_TRUE(WaitForPictures());
  EXPECT_TRUE(Progress().empty());
}

// Destroying the control while frames arrive: the frame callback stops
// pausing once the window is going, so the playback thread ends at once.
TEST_P(SdPlaybackCases, DestroyMidPlaybackReturnsPromptly) {
  const SdCase c = GetParam();
  EXPECT_EQ(PlayFile(c.name, c.streamid), 0);
  ASSERT_TRUE(PumpUntil([&] { return Progress().size() >= 3; }, 10s));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lumvara_control_destroy(control_), 1);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  control_ = nullptr;
  std::printf("[ figure ] destroying the control mid-playback (%s): %.1f ms (goal: within 200 ms)\n",
              c.streamid == 3 ? "MJPEG" : "H.264", ms);
  // Only a bound against a hang; the figure is what counts.
  EXPECT_LT(ms, 10000.0);
}

// Seeks. The camera's answer to the first playback request (offset 0) is
// held back, so the seek's position is the first that sends frames; the
// recording is cut so that exactly one frame starts at or after it.
constexpr int32_t kSeekTo = 1000000;

class SdSeekTest : public SdPlaybackTest {
 protected:
  void Configure(SimulatorOptions& options) override {
    SdPlaybackTest::Configure(options);
    options.gop = 100000;  // a recording's first frame is its only key frame
    options.on_request = [this](const std::string& line) {
      if (line.find("filename=") == std::string::npos || line.find("&offset=0 ") == std::string::npos) return;
      std::unique_lock lock(holdLock_);
      holdChanged_.wait_for(lock, 30s, [&] { return released_; });
    };
  }
  void TearDown() override {
    {
      std::lock_guard lock(holdLock_);
      released_ = true;
    }
    holdChanged_.notify_all();
    SdPlaybackTest::TearDown();
  }

  // Installs recording `name` cut so that its last frame, and no other,
  // starts at or after `offset`; its bytes, and in `lastStart` where that
  // frame starts.
  std::vector<uint8_t> RecordingEndingAfter(const std::string& name, bool mjpeg, size_t offset, size_t* lastStart) {
    using lumvara::camsim::kFrameHeaderSize;
    using lumvara::camsim::readFrameHeader;
    auto starts = [](const std::vector<uint8_t>& bytes) {
      std::vector<size_t> at;
      for (size_t p = 0; p + kFrameHeaderSize <= bytes.size();
           p += kFrameHeaderSize + readFrameHeader(&bytes[p]).length) {
        at.push_back(p);
      }
      return at;
    };
    const std::time_t start = std::time(nullptr) - 600;
    // A short recording gives the size of a frame; the next one is long
    // enough to reach the offset (with room to spare), and is then cut.
    uint32_t frames = 32;
    for (int round = 0; round < 4; ++round) {
      const std::string probe = "20261209150000_" + std::to_string(frames) + (mjpeg ? ".mjpeg" : ".h264");
      simulator_->setRecordings({{probe, start, frames, mjpeg}});
      const auto bytes = simulator_->recordingBytes(probe);
      const auto at = starts(bytes);
      const auto first = std::lower_bound(at.begin(), at.end(), offset);
      if (at.size() < 2) break;
      if (first == at.end()) {
        // The later frames' size (the first one is a key frame).
        const double perFrame = static_cast<double>(bytes.size() - at[1]) / static_cast<double>(at.size() - 1);
        frames += static_cast<uint32_t>(static_cast<double>(offset - bytes.size()) / perFrame * 1.2) + 8;
        continue;
      }
      const auto count = static_cast<uint32_t>(first - at.begin()) + 1;
      simulator_->setRecordings({{name, start, count, mjpeg}});
      auto cut = simulator_->recordingBytes(name);
      const auto cutStarts = starts(cut);
      EXPECT_EQ(cutStarts.size(), count);
      if (cutStarts.size() < 2 || cutStarts.back() < offset || cutStarts[cutStarts.size() - 2] >= offset) {
        ADD_FAILURE() << "the simulator's recording is not the same when cut";
        return {};
      }
      *lastStart = cutStarts.back();
      return cut;
    }
    ADD_FAILURE() << "no recording reaches " << offset << " bytes";
    return {};
  }

  std::mutex holdLock_;
  std::condition_variable holdChanged_;
  bool released_ = false;
};

struct SeekCase {
  const char* name;
  int streamid;
  bool mjpeg;
};

class SdSeekCases : public SdSeekTest, public ::testing::WithParamInterface<SeekCase> {};

TEST_P(SdSeekCases, CountsFromTheNewPosition) {
  const SeekCase c = GetParam();
  size_t lastStart = 0;
  const auto bytes = RecordingEndingAfter(c.name, c.mjpeg, kSeekTo, &lastStart);
  ASSERT_FALSE(bytes.empty());
  const uint8_t lastKind = bytes[lastStart + lumvara::camsim::kOffsetKind];
  EXPECT_EQ(lastKind, c.mjpeg ? 3 : 1);

  EXPECT_EQ(PlayFile(c.name, c.streamid), 0);
  ASSERT_TRUE(simulator_->waitForRequest(std::string("filename=") + c.name + "&offset=0 ", 5s));
  Forget();
  EXPECT_EQ(Call("SdRecordFileSetPos", {kSeekTo}), 0);
  ASSERT_TRUE(simulator_->waitForRequest(std::string("filename=") + c.name + "&offset=1000000 ", 5s));
  ASSERT_TRUE(PumpUntil([&] { return !Progress().empty(); }, 10s));
  // The one frame from there: the position plus its header and payload.
  const auto frameLength = static_cast<int32_t>(bytes.size() - lastStart);
  EXPECT_EQ(Progress(), std::vector<int32_t>{kSeekTo + frameLength});
  if (c.mjpeg) {
    // A picture: shown at once.
    EXPECT_TRUE(WaitForPictures());
  } else {
    // A frame that is no key frame: counted, not shown. Nothing more comes.
    Pump(300);
    EXPECT_LE(Colours({kAreaLeft, kAreaTop, kAreaRight, kAreaBottom}), 2u);
    EXPECT_EQ(Progress(), std::vector<int32_t>{kSeekTo + frameLength});
  }
  EXPECT_EQ(Call("SdRecordFileStop"), 0);
}

INSTANTIATE_TEST_SUITE_P(Players, SdSeekCases,
                         ::testing::Values(SeekCase{"20261209150000_000.h264", 0, false},
                                           SeekCase{"20261209150000_000.mjpeg", 3, true}),
                         [](const ::testing::TestParamInfo<SeekCase>& param) {
                           return param.param.mjpeg ? std::string("Mjpeg") : std::string("H264");
                         });

}  // namespace
}  // namespace control_test
