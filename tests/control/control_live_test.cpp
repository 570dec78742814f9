// Live view through the hosting API against the camera simulator on
// loopback: pictures in the headless window, connection notices, refusal
// texts, alarms and their 30-second expiry on a manual clock.
#include <chrono>
#include <memory>
#include <set>

#include "control/live_fixture.h"

namespace control_test {
namespace {

using namespace std::chrono_literals;

TEST_F(LiveControlTest, ConnectsThenShowsLivePictures) {
  EXPECT_EQ(Play(), 0);
  ASSERT_TRUE(PumpUntil([&] { return CountNotify(2) >= 1; }, 5s));
  EXPECT_EQ(Events()[0], (Heard{LUMVARA_SINK_EVENT, 1, {2, 0}, {}}));
  ASSERT_TRUE(WaitForPictures());
  EXPECT_TRUE(simulator_->waitForRequest("livestream.cgi?user=admin&pwd=secret&streamid=10", 1s));

  // A second PlayVideo is refused and changes nothing; so is SD playback.
  EXPECT_EQ(Play(), 1);
  EXPECT_EQ(Call("SdRecordFilePlay",
                 {kUser, kPwd, "127.0.0.1", static_cast<int>(simulator_->port()), "20261209120000_000.h264", 0}),
            -1);
  EXPECT_EQ(GetLong("VideoState"), 0);
  EXPECT_EQ(simulator_->liveConnections(), 1);
  EXPECT_EQ(CountNotify(2), 1);

  // StopVideo closes the stream; the area goes black again on repaint.
  EXPECT_EQ(Call("StopVideo"), 0);
  EXPECT_TRUE(PumpUntil([&] { return simulator_->liveConnections() == 0; }, 5s));
  lumvara_window_show(lumvara_control_window(control_), 0);
  lumvara_window_show(lumvara_control_window(control_), 1);
  EXPECT_TRUE(PumpUntil([&] { return Colours({kAreaLeft, kAreaTop, kAreaRight, kAreaBottom}) == 1; }, 5s));
  EXPECT_EQ(PixelOfTop(kWindowWidth / 2, kWindowHeight / 2), kBlack);
}

TEST_F(LiveControlTest, CameraTagAndPlayAgainAfterStop) {
  EXPECT_EQ(Play(), 0);
  ASSERT_TRUE(WaitForPictures());
  EXPECT_EQ(Call("StopVideo"), 0);
  EXPECT_EQ(Play(), 0);
  ASSERT_TRUE(PumpUntil([&] { return CountNotify(2) >= 2; }, 5s));
  ASSERT_TRUE(WaitForPictures());
}

struct RefusalCase {
  uint8_t kind;
  const char* text;
};

class RefusalTest : public LiveControlTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, ShowsTheTextYellowOnBlackAndFiresNothing) {
  lumvara::camsim::ConnectionScript script;
  script.cgi = "livestream.cgi";
  script.action = lumvara::camsim::ConnectionScript::Action::kNotice;
  script.notice_kind = GetParam().kind;
  script.close_after_notice = true;
  simulator_->scriptConnection(script);
  EXPECT_EQ(Play(), 0);

  const Region area{kAreaLeft, kAreaTop, kAreaRight, kAreaBottom};
  auto yellow = [](uint32_t rgb) { return (rgb >> 16 & 0xFF) > 200 && (rgb >> 8 & 0xFF) > 200 && (rgb & 0xFF) < 60; };
  ASSERT_TRUE(PumpUntil([&] { return Count(area, yellow) > 30; }, 5s));
  // Only the text and the black behind it.
  const int total = (area.right - area.left) * (area.bottom - area.top);
  const int black = Count(area, [](uint32_t rgb) { return rgb == kBlack; });
  EXPECT_GT(black, total * 9 / 10);
  // The text is centred: its ink lies around the middle row.
  const Region middle{kAreaLeft, kWindowHeight / 2 - 12, kAreaRight, kWindowHeight / 2 + 12};
  EXPECT_EQ(Count(middle, yellow), Count(area, yellow));
  // The only event is the connection notice.
  for (const Heard& h : Events()) EXPECT_EQ(h, (Heard{LUMVARA_SINK_EVENT, 1, {2, 0}, {}}));
  (void)GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Notices, RefusalTest,
    ::testing::Values(RefusalCase{lumvara::camsim::kKindLoginRefused, "User or pwd is incorrect"},
                      RefusalCase{lumvara::camsim::kKindTooManyConnections, "Maximum of connections"},
                      RefusalCase{lumvara::camsim::kKindVideoLoss, "Video Loss!"}),
    [](const ::testing::TestParamInfo<RefusalCase>& param) { return "Kind" + std::to_string(param.param.kind); });

TEST_F(LiveControlTest, WrongPasswordShowsTheRefusalText) {
  EXPECT_EQ(Play("wrong"), 0);
  const Region area{kAreaLeft, kAreaTop, kAreaRight, kAreaBottom};
  auto yellow = [](uint32_t rgb) { return (rgb >> 16 & 0xFF) > 200 && (rgb >> 8 & 0xFF) > 200 && (rgb & 0xFF) < 60; };
  ASSERT_TRUE(PumpUntil([&] { return Count(area, yellow) > 30; }, 5s));
  EXPECT_EQ(CountNotify(2), 1);
  EXPECT_EQ(Events().size(), 1u);
}

// An address where nothing listens: the page hears "connecting" about every
// 6 seconds and nothing else.
class UnreachableTest : public ControlTest {};

TEST_F(UnreachableTest, ReportsConnectingAboutEverySixSeconds) {
  EXPECT_EQ(Call("PlayVideo", {kUser, kPwd, "127.0.0.1", 1, 10, 0}), 0);
  ASSERT_TRUE(PumpUntil([&] { return CountNotify(2) >= 3; }, 25s));
  const auto events = Events();
  ASSERT_EQ(events.size(), 3u);
  std::vector<std::chrono::steady_clock::time_point> at;
  for (size_t i = 0; i < heard_.size(); ++i) {
    if (heard_[i].kind == LUMVARA_SINK_EVENT) at.push_back(heardAt_[i]);
  }
  for (size_t i = 1; i < at.size(); ++i) {
    const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(at[i] - at[i - 1]);
    EXPECT_GE(gap.count(), 4500) << i;
    EXPECT_LE(gap.count(), 9000) << i;
  }
  for (const Heard& h : events) EXPECT_EQ(h, (Heard{LUMVARA_SINK_EVENT, 1, {2, 0}, {}}));
}

}  // namespace
}  // namespace control_test
