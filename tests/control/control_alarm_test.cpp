// Alarm notices through the hosting API against the camera simulator: the
// events, the texts over the video, and the 30-second expiry on a manual
// clock.
#include "control/live_fixture.h"
#include "platform/sync/clock.h"

namespace control_test {
namespace {

// Alarm texts and their expiry, on a manual clock for the window timers.
class AlarmTest : public LiveControlTest {
 protected:
  static constexpr Region kTopRight{kWindowWidth / 2, kAreaTop, kAreaRight, kWindowHeight / 2};
  static constexpr Region kBottomLeft{kAreaLeft, kWindowHeight / 2, kWindowWidth / 2, kAreaBottom};

  int RedIn(const Region& r) { return Count(r, StrongRed); }
  bool TextShown(const Region& r) {
    return PumpUntil([&] { return RedIn(r) > 40; }, 5s);
  }
  bool TextGone(const Region& r) {
    return PumpUntil([&] { return RedIn(r) < 5; }, 5s);
  }

  lumvara::ManualClock clock_;
};

TEST_F(AlarmTest, MotionAlarmEndsThirtySecondsAfterTheLastRenewal) {
  EXPECT_EQ(Play(), 0);
  ASSERT_TRUE(WaitForPictures());
  ASSERT_LT(RedIn(kTopRight), 5) << "the test pattern itself shows strong red";

  simulator_->raiseAlarm(lumvara::camsim::kKindMotionAlarm);
  ASSERT_TRUE(PumpUntil([&] { return CountNotify(3) == 1; }, 5s));
  EXPECT_TRUE(TextShown(kTopRight));

  clock_.Advance(20s);
  simulator_->raiseAlarm(lumvara::camsim::kKindMotionAlarm);
  ASSERT_TRUE(PumpUntil([&] { return CountNotify(3) == 2; }, 5s));

  // 29 s after the renewal the alarm still stands.
  clock_.Advance(29s);
  Pump(200);
  EXPECT_EQ(CountNotify(5), 0);
  EXPECT_GT(RedIn(kTopRight), 40);

  clock_.Advance(1s);
  ASSERT_TRUE(PumpUntil([&] { return CountNotify(5) == 1; }, 5s));
  EXPECT_TRUE(TextGone(kTopRight));
  // The timer fired once.
  clock_.Advance(31s);
  Pump(200);
  EXPECT_EQ(CountNotify(5), 1);
}

TEST_F(AlarmTest, MotionAlarmOverFromTheCameraEndsItAtOnce) {
  EXPECT_EQ(Play(), 0);
  ASSERT_TRUE(WaitForPictures());
  simulator_->raiseAlarm(lumvara::camsim::kKindMotionAlarm);
  ASSERT_TRUE(PumpUntil([&] { return CountNotify(3) == 1; }, 5s));
  clock_.Advance(5s);
  simulator_->raiseAlarm(lumvara::camsim::kKindMotionAlarmOver);
  ASSERT_TRUE(PumpUntil([&] { return CountNotify(5) == 1; }, 5s));
  EXPECT_TRUE(TextGone(kTopRight));
  clock_.Advance(31s);
  Pump(200);
  EXPECT_EQ(CountNotify(5), 1);
}

TEST_F(AlarmTest, InputAlarmNeverTouchesTheMotionEntryOrTimer) {
  EXPECT_EQ(Play(), 0);
  ASSERT_TRUE(WaitForPictures());
  ASSERT_LT(RedIn(kBottomLeft), 5);

  simulator_->raiseAlarm(lumvara::camsim::kKindMotionAlarm);
  ASSERT_TRUE(PumpUntil([&] { return CountNotify(3) == 1; }, 5s));
  clock_.Advance(10s);
  simulator_->raiseAlarm(lumvara::camsim::kKindInputAlarm);
  ASSERT_TRUE(PumpUntil([&] { return CountNotify(4) == 1; }, 5s));
  EXPECT_TRUE(TextShown(kBottomLeft));
  EXPECT_TRUE(TextShown(kTopRight));

  // The input alarm ends from the camera: the motion text and its timer stay.
  simulator_->raiseAlarm(lumvara::camsim::kKindInputAlarmOver);
  ASSERT_TRUE(PumpUntil([&] { return CountNotify(6) == 1; }, 5s));
  EXPECT_TRUE(TextGone(kBottomLeft));
  EXPECT_GT(RedIn(kTopRight), 40);

  // The motion timer still runs from the motion alarm: 20 s more end it.
  clock_.Advance(20s);
  ASSERT_TRUE(PumpUntil([&] { return CountNotify(5) == 1; }, 5s));
  EXPECT_TRUE(TextGone(kTopRight));
  EXPECT_EQ(CountNotify(6), 1);
}

TEST_F(AlarmTest, InputAlarmExpiresOnItsOwnTimer) {
  EXPECT_EQ(Play(), 0);
  ASSERT_TRUE(WaitForPictures());
  simulator_->raiseAlarm(lumvara::camsim::kKindInputAlarm);
  ASSERT_TRUE(PumpUntil([&] { return CountNotify(4) == 1; }, 5s));
  EXPECT_TRUE(TextShown(kBottomLeft));
  EXPECT_LT(RedIn(kTopRight), 5);
  clock_.Advance(30s);
  ASSERT_TRUE(PumpUntil([&] { return CountNotify(6) == 1; }, 5s));
  EXPECT_EQ(CountNotify(5), 0);
  EXPECT_TRUE(TextGone(kBottomLeft));
}

TEST_F(AlarmTest, StopVideoEndsTheAlarmTimers) {
  EXPECT_EQ(Play(), 0);
  ASSERT_TRUE(WaitForPictures());
  simulator_->raiseAlarm(lumvara::camsim::kKindMotionAlarm);
  ASSERT_TRUE(PumpUntil([&] { return CountNotify(3) == 1; }, 5s));
  EXPECT_EQ(Call("StopVideo"), 0);
  EXPECT_EQ(Play(), 0);
  clock_.Advance(31s);
  Pump(300);
  EXPECT_EQ(CountNotify(5), 0);
}

}  // namespace
}  // namespace control_test
