// lumvara-view end to end: the program runs as a child process against the
// camera simulator in this process, on 127.0.0.1 only. Its pictures are read
// back by ImageMagick; its desktop window is driven on a private Xvfb with
// xdotool.

#include "view/view_test_support.h"

namespace view_test {
namespace {

TEST_F(ViewAgainstSimulator, HeadlessSnapshotsShowAMovingPicture) {
  if (!HaveTool("identify") || !HaveTool("compare")) GTEST_SKIP() << "ImageMagick is not installed";
  TempDir snapshots;
  ViewProcess view(Camera({"--headless", "--snapshot-every", "1", "--seconds", "3", "--snapshot-dir",
                           snapshots.path()}));
  ASSERT_EQ(view.Wait(60s), 0) << view.Output();
  const std::vector<std::string> files = snapshots.Files(".bmp");
  ASSERT_GE(files.size(), 2u) << view.Output();
  for (const auto& file : files) {
    EXPECT_EQ(Identify(file), "BMP3 640 360") << file;
    EXPECT_TRUE(view.Said("snapshot " + file)) << view.Output();
  }
  EXPECT_GT(Spread(files.front()), 0.05) << "a flat picture: " << files.front();
  // The test pattern shows its frame number: a second later it differs.
  EXPECT_GT(DifferingPixels(files[0], files[1]), 0);
  EXPECT_TRUE(view.Said("connected to " + camera_)) << view.Output();
}

struct PlaybackCase {
  const char* name;
  std::vector<std::string> arguments;
  const char* extension;
  const char* identified;
};

void PrintTo(const PlaybackCase& c, std::ostream* os) { *os << c.name; }

class ViewPlayback : public ViewAgainstSimulator, public ::testing::WithParamInterface<PlaybackCase> {};

TEST_P(ViewPlayback, ShowsTheSdRecording) {
  if (!HaveTool("identify")) GTEST_SKIP() << "ImageMagick is not installed";
  TempDir snapshots;
  std::vector<std::string> arguments = GetParam().arguments;
  for (const char* more : {"--headless", "--snapshot-every", "0.3", "--seconds", "1.8", "--snapshot-dir"}) {
    arguments.push_back(more);
  }
  arguments.push_back(snapshots.path());
  ViewProcess view(Camera(arguments));
  ASSERT_EQ(view.Wait(60s), 0) << view.Output();
  const std::vector<std::string> files = snapshots.Files(GetParam().extension);
  ASSERT_GE(files.size(), 1u) << view.Output();
  for (const auto& file : files) EXPECT_EQ(Identify(file), GetParam().identified) << file;
}

const PlaybackCase kPlayback[] = {
    {"H264", {"--sd", "20261209080000_000.h264"}, ".bmp", "BMP3 640 360"},
    {"Mjpeg", {"--sd", "20261210073000_003.mjpg", "--mjpeg"}, ".jpg", "JPEG 640 360"},
};

INSTANTIATE_TEST_SUITE_P(Recordings, ViewPlayback, ::testing::ValuesIn(kPlayback),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

struct FailureCase {
  const char* name;
  std::vector<std::string> arguments;  // "{camera}" and "{closed}" stand for addresses
  int exit_code;
  const char* message;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class ViewFailures : public ViewAgainstSimulator, public ::testing::WithParamInterface<FailureCase> {};

// A loopback port that refuses connections: bound, never listening.
class ClosedPort {
 public:
  ClosedPort() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~ClosedPort() {
    if (fd_ >= 0) ::close(fd_);
  }
  int port() const { return port_; }

 private:
  int fd_;
  int port_ = 0;
};

TEST_P(ViewFailures, EndWithAClearMessageAndTheirExitCode) {
  ClosedPort closed;
  ASSERT_NE(closed.port(), 0);
  std::vector<std::string> arguments;
  for (std::string argument : GetParam().arguments) {
    if (argument == "{camera}") argument = camera_;
    if (argument == "{closed}") argument = "127.0.0.1:" + std::to_string(closed.port());
    arguments.push_back(argument);
  }
  ViewProcess view(arguments);
  EXPECT_EQ(view.Wait(60s), GetParam().exit_code) << view.Output();
  EXPECT_TRUE(view.Said(std::string("lumvara-view: ") + GetParam().message)) << view.Output();
}

const FailureCase kFailures[] = {
    {"NoCamera", {"--headless"}, 2, "no camera given"},
    {"AddressWithoutPort", {"127.0.0.1", "--headless"}, 2, "expected HOST:PORT"},
    {"PortOutOfRange", {"127.0.0.1:70000", "--headless"}, 2, "expected HOST:PORT"},
    {"UnknownOption", {"{camera}", "--frobnicate", "1"}, 2, "unknown option"},
    {"MissingValue", {"{camera}", "--seconds"}, 2, "missing value after"},
    {"SecondsNotPositive", {"{camera}", "--seconds", "0"}, 2, "--seconds must be a positive number"},
    {"SnapshotEveryNotANumber", {"{camera}", "--snapshot-every", "often"}, 2, "--snapshot-every"},
    {"MjpegWithoutSd", {"{camera}", "--mjpeg", "--headless"}, 2, "--mjpeg goes with --sd"},
    {"UserTooLong", {"{camera}", "--user", std::string(64, 'u')}, 2, "--user must be under 64 bytes"},
    {"UnreachableCamera", {"{closed}", "--headless", "--seconds", "30"}, 3, "cannot connect to 127.0.0.1:"},
    {"WrongPassword", {"{camera}", "--pwd", "wrong", "--headless", "--seconds", "30"}, 4, "login refused"},
    {"UnknownRecording", {"{camera}", "--pwd", kPwd, "--sd", "nosuch.h264", "--headless", "--seconds", "30"},
     1, "no pictures arrived"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ViewFailures, ::testing::ValuesIn(kFailures),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

// ---- The desktop window, on a private X server ----------------------------

TEST_F(ViewWindow, ShowsTheLiveVideoAndFollowsItsKeys) {
  TempDir snapshots;
  TempDir records;
  TempDir grabs;
  ViewProcess view(Camera({"--snapshot-dir", snapshots.path(), "--record-dir", records.path(),
                           "--seconds", "120"}),
                   server_.display());
  const std::string id = FindWindow();
  ASSERT_FALSE(id.empty()) << view.Output();

  // The title names the camera and counts pictures once video flows; the
  // window takes the picture's size.
  ASSERT_TRUE(WaitFor([&] { return Title(id).find(" fps") != std::string::npos; }, 20s))
      << Title(id) << "\n" << view.Output();
  EXPECT_NE(Title(id).find(camera_), std::string::npos) << Title(id);
  EXPECT_NE(Title(id).find("sound off, talk off, recording off"), std::string::npos) << Title(id);
  ASSERT_TRUE(WaitFor([&] { return Size(id) == "640x360"; }, 10s)) << Size(id);

  // The screen shows a moving picture.
  const std::string first = Grab(grabs, "first");
  EXPECT_GT(Spread(first), 0.05) << "the window shows a flat picture";
  int grab = 0;
  EXPECT_TRUE(WaitFor([&] { return DifferingPixels(first, Grab(grabs, "later" + std::to_string(++grab))) > 0; },
                      10s))
      << "the picture on the screen does not move";

  Key(id, "s");
  EXPECT_TRUE(WaitFor([&] { return !snapshots.Files(".bmp").empty(); }, 10s)) << view.Output();
  if (!snapshots.Files(".bmp").empty()) {
    EXPECT_EQ(Identify(snapshots.Files(".bmp")[0]), "BMP3 640 360");
  }

  Key(id, "m");
  EXPECT_TRUE(WaitFor([&] { return view.Said("render effect 1"); }, 10s)) << view.Output();
  Key(id, "o");
  EXPECT_TRUE(WaitFor([&] { return view.Said("time stamp on"); }, 10s)) << view.Output();

  Key(id, "r");
  EXPECT_TRUE(WaitFor([&] { return Title(id).find("recording on") != std::string::npos; }, 10s))
      << Title(id) << "\n" << view.Output();
  // A file begins at the next key frame (every 2 s).
  EXPECT_TRUE(WaitFor([&] { return !records.Files(".avi").empty(); }, 10s)) << view.Output();
  Key(id, "r");
  EXPECT_TRUE(WaitFor([&] { return view.Said("recording off"); }, 10s)) << view.Output();

  // A resize by the desktop: the picture follows, its proportions kept (a
  // 400 x 225 picture between black bands in a 400 x 300 window).
  X("xdotool windowsize --sync " + id + " 400 300");
  ASSERT_TRUE(WaitFor([&] { return Size(id) == "400x300"; }, 10s)) << Size(id);
  EXPECT_TRUE(WaitFor([&] {
    const std::string file = Grab(grabs, "resized" + std::to_string(++grab), "400x300");
    return Mean(file, "400x20+0+5") < 0.02 && Mean(file, "400x20+0+275") < 0.02 &&
           Spread(file) > 0.05;
  }, 10s)) << "the picture does not fill the resized window between bands";
  X("xdotool windowsize --sync " + id + " 640 360");
  ASSERT_TRUE(WaitFor([&] { return Size(id) == "640x360"; }, 10s)) << Size(id);

  // Full screen fills the 800 x 600 screen, and back.
  Key(id, "f");
  EXPECT_TRUE(WaitFor([&] { return Size(id) == "800x600"; }, 10s)) << Size(id);
  Key(id, "f");
  EXPECT_TRUE(WaitFor([&] { return Size(id) == "640x360"; }, 10s)) << Size(id);

  Key(id, "q");
  EXPECT_EQ(view.Wait(20s), 0) << view.Output();
}

TEST_F(ViewWindow, EscapeQuits) {
  ViewProcess view(Camera({"--seconds", "120"}), server_.display());
  const std::string id = FindWindow();
  ASSERT_FALSE(id.empty()) << view.Output();
  Key(id, "Escape");
  EXPECT_EQ(view.Wait(20s), 0) << view.Output();
}

TEST(ViewWithoutDisplay, SaysToRunHeadless) {
  ViewProcess view({"127.0.0.1:1", "--seconds", "5"});
  EXPECT_EQ(view.Wait(30s), 1) << view.Output();
  EXPECT_TRUE(view.Said("cannot open a window")) << view.Output();
}

}  // namespace
}  // namespace view_test
