// lumvara-view's sound keys on a private sound server (the audio tests'
// daemon): A plays the camera's tone into the speaker, T sends the
// microphone to the camera as talk frames.

#include "view/view_test_support.h"

namespace view_test {
namespace {

// Loud samples in what the test server's speaker plays during `seconds`.
int LoudestOnSpeaker(double seconds) {
  TempDir dir;
  const std::string file = dir.path() + "/speaker.raw";
  Shell("timeout " + std::to_string(seconds) +
        " parec --device=speaker.monitor --raw --format=s16le "
        "--rate=8000 --channels=1 > " +
        Quoted(file) + " 2>/dev/null");
  std::ifstream in(file, std::ios::binary);
  int loudest = 0;
  int16_t sample = 0;
  while (in.read(reinterpret_cast<char*>(&sample), sizeof sample)) {
    loudest = std::max(loudest, std::abs(static_cast<int>(sample)));
  }
  return loudest;
}

class ViewSound : public ViewWindow {
 protected:
  void SetUp() override {
    if (std::getenv("PULSE_SERVER") == nullptr || !HaveTool("parec")) {
      GTEST_SKIP() << "needs the test sound server (PULSE_SERVER) and parec";
    }
    ViewWindow::SetUp();
  }
};

TEST_F(ViewSound, SoundKeyPlaysTheCameraAndTalkKeyReachesIt) {
  ViewProcess view(Camera({"--seconds", "120"}), server_.display());
  const std::string id = FindWindow();
  ASSERT_FALSE(id.empty()) << view.Output();
  ASSERT_TRUE(WaitFor([&] { return TitleSays(id, " fps"); }, 20s)) << Title(id) << "\n" << view.Output();
  EXPECT_LT(LoudestOnSpeaker(0.5), 100) << "sound before A";

  // Talk first, then sound with talk still on (both directions at once).
  Key(id, "t");
  ASSERT_TRUE(WaitFor([&] { return TitleSays(id, "talk on"); }, 10s)) << Title(id) << "\n" << view.Output();
  EXPECT_TRUE(WaitFor(
      [&] {
        const auto sessions = simulator_->talkSessions();
        return !sessions.empty() && sessions.front().lengths.size() >= 5;
      },
      10s))
      << "no talk frames reached the camera\n"
      << view.Output();

  Key(id, "a");
  ASSERT_TRUE(WaitFor([&] { return TitleSays(id, "sound on"); }, 10s)) << Title(id) << "\n" << view.Output();
  // The simulator's 1 kHz tone, through the camera's audio stream and the player.
  EXPECT_TRUE(WaitFor([&] { return LoudestOnSpeaker(0.5) > 1000; }, 10s)) << view.Output();

  Key(id, "t");
  EXPECT_TRUE(WaitFor([&] { return TitleSays(id, "talk off"); }, 10s)) << Title(id);
  Key(id, "a");
  EXPECT_TRUE(WaitFor([&] { return TitleSays(id, "sound off"); }, 10s)) << Title(id);
  Key(id, "q");
  EXPECT_EQ(view.Wait(20s), 0) << view.Output();
}

}  // namespace
}  // namespace view_test
