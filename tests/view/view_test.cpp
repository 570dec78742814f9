// lumvara-view end to end: the program runs as a child process against the
// camera simulator in this process, on 127.0.0.1 only, and hosts the camera
// control; what the control's event sink hears is on its standard output.
// Its pictures are read back by ImageMagick; its desktop window is driven on
// a private Xvfb with xdotool.

#include "view/view_test_support.h"

namespace view_test {
namespace {

TEST_F(ViewAgainstSimulator, HeadlessSnapshotsShowAMovingPicture) {
  if (!HaveTool("identify") || !HaveTool("compare")) GTEST_SKIP() << "ImageMagick is not installed";
  ViewProcess view(Camera({"--headless", "--snapshot-every", "1", "--seconds", "4"}), "", Env());
  ASSERT_EQ(view.Wait(60s), 0) << view.Output();
  EXPECT_TRUE(PrintedConnecting(view)) << view.Output();
  EXPECT_TRUE(view.Said("PlayVideo = 0")) << view.Output();
  EXPECT_TRUE(view.Said("pictures in the window")) << view.Output();
  // The control writes them into the folder its settings file names.
  const std::vector<std::string> files = FilesUnder(media(), ".bmp");
  ASSERT_GE(files.size(), 2u) << view.Output();
  for (const auto& file : files) {
    EXPECT_EQ(Identify(file), "BMP3 640 360") << file;
    EXPECT_TRUE(view.Said("snapshot " + file)) << view.Output();
  }
  EXPECT_GT(Spread(files.front()), 0.05) << "a flat picture: " << files.front();
  // The test pattern shows its frame number: a second later it differs.
  EXPECT_GT(DifferingPixels(files[0], files[1]), 0);
}

struct PlaybackCase {
  const char* name;
  std::vector<std::string> arguments;
  const char* identified;
};

void PrintTo(const PlaybackCase& c, std::ostream* os) { *os << c.name; }

class ViewPlayback : public ViewAgainstSimulator, public ::testing::WithParamInterface<PlaybackCase> {};

// Through the control's SdRecordFilePlay: pictures, progress notices, and
// snapshots of what is played (the MJPEG player saves the camera's JPEG).
TEST_P(ViewPlayback, ShowsTheSdRecording) {
  if (!HaveTool("identify")) GTEST_SKIP() << "ImageMagick is not installed";
  std::vector<std::string> arguments = GetParam().arguments;
  for (const char* more : {"--headless", "--snapshot-every", "0.3", "--seconds", "1.8"}) arguments.push_back(more);
  ViewProcess view(Camera(arguments), "", Env());
  ASSERT_EQ(view.Wait(60s), 0) << view.Output();
  EXPECT_TRUE(view.Said("SdRecordFilePlay = 0")) << view.Output();
  EXPECT_TRUE(view.Said("\nMessageNotify 10 ")) << view.Output();
  const std::vector<std::string> files = FilesUnder(media(), ".bmp");
  ASSERT_GE(files.size(), 1u) << view.Output();
  for (const auto& file : files) EXPECT_EQ(Identify(file), GetParam().identified) << file;
}

const PlaybackCase kPlayback[] = {
    {"H264", {"--sd", "20261209080000_000.h264"}, "BMP3 640 360"},
    {"Mjpeg", {"--sd", "20261210073000_003.mjpg", "--mjpeg"}, "JPEG 640 360"},
};

INSTANTIATE_TEST_SUITE_P(Recordings, ViewPlayback, ::testing::ValuesIn(kPlayback),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

struct FailureCase {
  const char* name;
  std::vector<std::string> arguments;  // "{camera}" and "{closed}" stand for addresses
  int exit_code;
  const char* message;
  bool connecting;  // the control reported connecting (MessageNotify 2 0) first
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
  ViewProcess view(arguments, "", Env());
  EXPECT_EQ(view.Wait(60s), GetParam().exit_code) << view.Output();
  EXPECT_TRUE(view.Said(std::string("lumvara-view: ") + GetParam().message)) << view.Output();
  EXPECT_EQ(PrintedConnecting(view), GetParam().connecting) << view.Output();
  EXPECT_TRUE(FilesUnder(media(), ".bmp").empty());
}

const FailureCase kFailures[] = {
    {"NoCamera", {"--headless"}, 2, "no camera given", false},
    {"AddressWithoutPort", {"127.0.0.1", "--headless"}, 2, "expected HOST:PORT", false},
    {"PortOutOfRange", {"127.0.0.1:70000", "--headless"}, 2, "expected HOST:PORT", false},
    {"UnknownOption", {"{camera}", "--frobnicate", "1"}, 2, "unknown option", false},
    {"MissingValue", {"{camera}", "--seconds"}, 2, "missing value after", false},
    {"SecondsNotPositive", {"{camera}", "--seconds", "0"}, 2, "--seconds must be a positive number", false},
    {"SnapshotEveryNotANumber", {"{camera}", "--snapshot-every", "often"}, 2, "--snapshot-every", false},
    {"MjpegWithoutSd", {"{camera}", "--mjpeg", "--headless"}, 2, "--mjpeg goes with --sd", false},
    {"UserTooLong", {"{camera}", "--user", std::string(64, 'u')}, 2, "--user must be under 64 bytes", false},
    // The folders are the control's now (its settings file, the P key).
    {"RecordDirGone", {"{camera}", "--record-dir", "x"}, 2, "--record-dir is no longer an option", false},
    // The control keeps trying and shows what went wrong in its window; the
    // viewer's watch ends without a picture.
    {"UnreachableCamera",
     {"{closed}", "--headless", "--snapshot-every", "1", "--seconds", "3"},
     1,
     "no video arrived from 127.0.0.1:",
     true},
    {"WrongPassword", {"{camera}", "--pwd", "wrong", "--headless", "--seconds", "3"}, 1, "no video arrived", true},
    {"UnknownRecording",
     {"{camera}", "--pwd", kPwd, "--sd", "nosuch.h264", "--headless", "--seconds", "30"},
     1,
     "no pictures arrived",
     false},
};

INSTANTIATE_TEST_SUITE_P(Cases, ViewFailures, ::testing::ValuesIn(kFailures),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

// lumvara-player-demo: the device and player calls without the control.
TEST_F(ViewAgainstSimulator, PlayerDemoShowsTheCameraWithoutTheControl) {
  if (!HaveTool("identify")) GTEST_SKIP() << "ImageMagick is not installed";
  const std::string snapshot = media() + "/demo.bmp";
  ViewProcess demo({"--host", "127.0.0.1", "--port", std::to_string(simulator_->port()), "--pwd", kPwd, "--headless",
                    "--seconds", "3", "--snapshot", snapshot},
                   "", {}, LUMVARA_PLAYER_DEMO_PATH);
  ASSERT_EQ(demo.Wait(60s), 0) << demo.Output();
  EXPECT_TRUE(demo.Said("picture 640x360")) << demo.Output();
  EXPECT_TRUE(demo.Said("snapshot " + snapshot + " written")) << demo.Output();
  EXPECT_EQ(Identify(snapshot), "BMP3 640 360");
}

// ---- The desktop window, on a private X server ----------------------------

// Where the simulator's frame-number box lies in the window (the picture
// fills the 640 x 360 window): on the left, or on the right once mirrored.
constexpr const char* kLeftOfTop = "150x36+45+36";
constexpr const char* kRightOfTop = "150x36+445+36";

class ViewDesktop : public ViewWindow {
 protected:
  // Starts the viewer and waits for live pictures in its window.
  void Start() {
    // SDL on X only: a desktop it cannot reach fails the start instead of
    // falling back to a driver without a window.
    std::vector<EnvSetting> env = Env();
    env.push_back({"SDL_VIDEODRIVER", "x11"});
    view_ = std::make_unique<ViewProcess>(Camera({"--seconds", "120"}), server_.display(), env);
    id_ = FindWindow();
    ASSERT_FALSE(id_.empty()) << "X server " << (server_.Running() ? "running" : "gone") << "\n" << view_->Output();
    ASSERT_TRUE(WaitFor([&] { return TitleSays(id_, " fps"); }, 20s)) << Title(id_) << "\n" << view_->Output();
    ASSERT_TRUE(PrintedConnecting(*view_)) << view_->Output();
  }

  std::string Grab(const std::string& size = "640x360") {
    return ViewWindow::Grab(grabs_, "grab" + std::to_string(++grab_), size);
  }

  bool Mirrored(const std::string& file) {
    return DarkShare(file, kRightOfTop) > 0.2 && DarkShare(file, kLeftOfTop) < 0.05;
  }
  bool Unmirrored(const std::string& file) {
    return DarkShare(file, kLeftOfTop) > 0.2 && DarkShare(file, kRightOfTop) < 0.05;
  }

  void Quit() {
    Key(id_, "q");
    EXPECT_EQ(view_->Wait(20s), 0) << view_->Output();
  }

  std::unique_ptr<ViewProcess> view_;
  std::string id_;
  TempDir grabs_;
  int grab_ = 0;
};

TEST_F(ViewDesktop, ShowsTheLiveVideoFollowsResizesAndPassesKeysFromTheVideo) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_TRUE(TitleSays(id_, camera_)) << Title(id_);
  EXPECT_TRUE(TitleSays(id_, "sound off, talk off, recording off")) << Title(id_);
  EXPECT_EQ(Size(id_), "640x360");

  // The screen shows a moving picture.
  const std::string first = Grab();
  EXPECT_GT(Spread(first), 0.05) << "the window shows a flat picture";
  EXPECT_TRUE(Unmirrored(first)) << first;
  EXPECT_TRUE(WaitFor([&] { return DifferingPixels(first, Grab()) > 0; }, 10s))
      << "the picture on the screen does not move";

  // A resize by the desktop: the control follows, and the picture is drawn
  // to the new size (its frame-number box shrinks with it).
  X("xdotool windowsize --sync " + id_ + " 400 300");
  ASSERT_TRUE(WaitFor([&] { return Size(id_) == "400x300"; }, 10s)) << Size(id_);
  EXPECT_TRUE(WaitFor(
      [&] {
        const std::string file = Grab("400x300");
        return DarkShare(file, "50x20+160+30") < 0.05 && DarkShare(file, "100x30+20+25") > 0.2 && Spread(file) > 0.05 &&
               Mean(file, "60x40+330+250") < 0.9;
      },
      10s))
      << "the picture does not fill the resized window";
  X("xdotool windowsize --sync " + id_ + " 640 360");
  ASSERT_TRUE(WaitFor([&] { return Size(id_) == "640x360"; }, 10s)) << Size(id_);

  // A click in the video: the control's event, and keys still reach the
  // viewer through the control while its video window has the focus.
  X("xdotool mousemove --sync 320 200 click 1");
  EXPECT_TRUE(WaitFor([&] { return view_->Lines("MessageNotify 0 0") > 0; }, 10s)) << view_->Output();
  Key(id_, "a");
  EXPECT_TRUE(WaitFor([&] { return view_->Said("OpenSound = 0"); }, 10s)) << view_->Output();
  Quit();
}

class ViewKeys;

// One key: what it prints and what it shows when pressed, and again when
// pressed a second time (or when `then_key` is pressed after it; an empty
// `second` when there is no second press).
struct KeyCase {
  const char* name;
  const char* key;
  std::vector<std::string> first;   // lines the first press prints
  std::vector<std::string> second;  // lines the second press prints
  std::function<bool(ViewKeys&)> after_first;
  std::function<bool(ViewKeys&)> after_second;
  const char* then_key = nullptr;  // the second key, when it is another
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class ViewKeys : public ViewDesktop, public ::testing::WithParamInterface<KeyCase> {
 public:
  // Test-body access for the table's checks.
  using ViewDesktop::Grab;
  using ViewDesktop::Mirrored;
  using ViewDesktop::Unmirrored;
  using ViewWindow::WindowOfSize;
  using ViewWindow::X;
  std::string media_folder() const { return media(); }
  std::string chosen() const { return chosen_folder_; }
  std::string ini() const { return ini_; }
  ViewProcess& view() { return *view_; }
};

bool PrintedAll(const ViewProcess& view, const std::vector<std::string>& lines, int times) {
  for (const std::string& line : lines) {
    if (view.Lines(line) < times) return false;
  }
  return true;
}

TEST_P(ViewKeys, KeyCallsTheControlAndShowsIt) {
  const KeyCase& c = GetParam();
  TempDir other;
  chosen_folder_ = other.path();
  ASSERT_NO_FATAL_FAILURE(Start());
  Key(id_, c.key);
  EXPECT_TRUE(WaitFor([&] { return PrintedAll(*view_, c.first, 1); }, 10s)) << view_->Output();
  if (c.after_first) {
    EXPECT_TRUE(WaitFor([&] { return c.after_first(*this); }, 15s)) << view_->Output();
  }
  if (!c.second.empty()) {
    // Full screen: the key goes to the full-screen video window, which
    // passes it on.
    const std::string target = WindowOfSize("799x599");
    Key(target.empty() ? id_ : target, c.then_key != nullptr ? c.then_key : c.key);
    // A line the two presses share ("SetFlip = 0") is printed twice.
    const bool same = c.first == c.second;
    EXPECT_TRUE(WaitFor([&] { return PrintedAll(*view_, c.second, same ? 2 : 1); }, 10s)) << view_->Output();
    if (c.after_second) {
      EXPECT_TRUE(WaitFor([&] { return c.after_second(*this); }, 15s)) << view_->Output();
    }
  }
  Quit();
}

bool OneBmpIn(const std::string& folder) {
  const auto files = FilesUnder(folder, ".bmp");
  return files.size() == 1 && Identify(files[0]) == "BMP3 640 360";
}

// Every AVI file under `folder` is decoded by ffmpeg without an error.
bool AvisDecode(const std::string& folder) {
  const auto files = FilesUnder(folder, ".avi");
  if (files.empty()) return false;
  for (const auto& file : files) {
    int code = -1;
    const std::string errors = Shell("ffmpeg -nostdin -v error -i " + Quoted(file) + " -f null - 2>&1", &code);
    if (code != 0 || !errors.empty()) return false;
  }
  return true;
}

// The text the control draws for SetOsd (top left, above the frame
// number) and its time stamp (bottom right): light pixels where the test
// pattern's gradient is never that bright.
bool TextOverPicture(ViewKeys& t) {
  const std::string file = t.Grab();
  return BrightShare(file, "120x14+4+4") > 0.01 && BrightShare(file, "140x16+496+320") > 0.01;
}

// The page's flat light face fills the panel at the bottom of the window.
bool PropertyPageShown(ViewKeys& t) {
  const std::string file = t.Grab();
  return Mean(file, "150x40+470+305") > 0.85 && RegionSpread(file, "150x40+470+305") < 0.02;
}

const KeyCase kKeys[] = {
    {"Snapshot",
     "s",
     {"lumvara-view: CapturePic = 0"},
     {},
     [](ViewKeys& t) { return OneBmpIn(t.media_folder()); },
     nullptr},
    {"Record",
     "r",
     {"lumvara-view: StartRecord = 0", "PropertyChanged RecordState 1"},
     {"lumvara-view: StopRecord = 0", "PropertyChanged RecordState 0"},
     // A file begins at once and gets its first frame at the next key frame
     // (every 2 s); a file stopped before that is removed.
     [](ViewKeys& t) {
       const auto files = FilesUnder(t.media_folder(), ".avi");
       std::error_code ignored;
       return files.size() == 1 && fs::file_size(files[0], ignored) > 32 * 1024;
     },
     [](ViewKeys& t) { return AvisDecode(t.media_folder()); }},
    {"Sound",
     "a",
     {"lumvara-view: OpenSound = 0", "PropertyChanged SoundState 1"},
     {"lumvara-view: CloseSound = 0", "PropertyChanged SoundState 0"},
     nullptr,
     nullptr},
    {"Talk",
     "t",
     {"lumvara-view: StartTalk = 0", "PropertyChanged TalkState 1"},
     {"lumvara-view: StopTalk = 0", "PropertyChanged TalkState 0"},
     nullptr,
     nullptr},
    {"Mirror",
     "m",
     {"lumvara-view: SetFlip = 0"},
     {"lumvara-view: SetFlip = 0"},
     [](ViewKeys& t) { return t.Mirrored(t.Grab()); },
     [](ViewKeys& t) { return t.Unmirrored(t.Grab()); }},
    {"TextOverPicture",
     "o",
     {"lumvara-view: SetOsd = 0"},
     {"lumvara-view: RemoveOsd = 0"},
     [](ViewKeys& t) { return TextOverPicture(t); },
     [](ViewKeys& t) { return !TextOverPicture(t); }},
    {"FullScreen",
     "f",
     {"lumvara-view: ShowMax"},
     {"lumvara-view: ShowNormal"},
     // The video window covers the 800 x 600 screen less a pixel each way,
     // showing the picture below the viewer's own window too.
     [](ViewKeys& t) {
       if (t.WindowOfSize("799x599").empty()) return false;
       return RegionSpread(t.Grab("800x600"), "300x100+400+450") > 0.05;
     },
     [](ViewKeys& t) { return t.WindowOfSize("799x599").empty() && t.Unmirrored(t.Grab()); }},
    {"PropertyPage",
     "i",
     {"lumvara-view: property page shown"},
     {"lumvara-view: property page closed"},
     [](ViewKeys& t) { return PropertyPageShown(t); },
     [](ViewKeys& t) { return !PropertyPageShown(t); }},
    // The injected folder choice becomes the recording folder, in the
    // settings file too, and the next snapshot (S) goes there.
    {"ChooseFolder",
     "p",
     {"lumvara-view: SetPath"},
     {"lumvara-view: CapturePic = 0"},
     [](ViewKeys& t) {
       std::ifstream in(t.ini());
       const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
       return t.view().Said("PropertyChanged RecFilePath \"" + t.chosen() + "\"") &&
              text.find("SETPATH=" + t.chosen() + "\n") != std::string::npos;
     },
     [](ViewKeys& t) { return OneBmpIn(t.chosen()) && FilesUnder(t.media_folder(), ".bmp").empty(); },
     "s"},
};

INSTANTIATE_TEST_SUITE_P(Keys, ViewKeys, ::testing::ValuesIn(kKeys),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST_F(ViewWindow, EscapeQuits) {
  ViewProcess view(Camera({"--seconds", "120"}), server_.display(), Env());
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
