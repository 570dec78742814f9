// SD-card playback through the hosting API against the simulator's
// recordings: progress events, pictures, stop.
#include <ctime>

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
  ASSERT_TRUE(PumpUntil([&] { return !Progress().empty() && Progress().back() == static_cast<int32_t>(bytes.size()); },
                        10s))
      << (Progress().empty() ? -1 : Progress().back()) << " of " << bytes.size();
  const auto progress = Progress();
  // One notice per frame, each with the count when it is handled: never
  // smaller than the one before (equal when two frames came in between).
  EXPECT_GE(progress.size(), 10u);
  for (size_t i = 1; i < progress.size(); ++i) EXPECT_GE(progress[i], progress[i - 1]);
  EXPECT_TRUE(WaitForPictures());
  EXPECT_EQ(Call("SdRecordFileStop"), 0);
  EXPECT_EQ(Call("SdRecordFileStop"), 0);
  // Idle again: live view may start.
  EXPECT_EQ(Play(), 0);
}

INSTANTIATE_TEST_SUITE_P(Players, SdPlaybackCases,
                         ::testing::Values(SdCase{kH264Name, 0}, SdCase{kMjpegName, 3}),
                         [](const ::testing::TestParamInfo<SdCase>& param) {
                           return param.param.streamid == 3 ? std::string("Mjpeg") : std::string("H264");
                         });

}  // namespace
}  // namespace control_test
