// Media commands through the hosting API during live view from the camera
// simulator: snapshots, local recording, the camera's alias, user text.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "control/live_fixture.h"

namespace control_test {
namespace {

namespace fs = std::filesystem;

// Runs a command; its standard output and error, and its exit status.
std::string RunCommand(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    *status = -1;
    return out;
  }
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  *status = ::pclose(pipe);
  return out;
}

std::vector<fs::path> FilesUnder(const fs::path& root, const std::string& extension) {
  std::vector<fs::path> files;
  std::error_code ec;
  if (!fs::exists(root, ec)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(root, ec)) {
    if (entry.is_regular_file() && entry.path().extension() == extension) files.push_back(entry.path());
  }
  return files;
}

class MediaTest : public LiveControlTest {
 protected:
  fs::path Home() const { return dir_ / "home"; }
};

TEST_F(MediaTest, CapturePicWritesANamedBitmapIntoTheSettingsFolder) {
  ASSERT_EQ(Play(), 0);
  ASSERT_TRUE(WaitForPictures());
  EXPECT_EQ(Call("CapturePic"), 0);
  std::vector<fs::path> shots;
  ASSERT_TRUE(PumpUntil([&] { return !(shots = FilesUnder(Home(), ".bmp")).empty(); }, 5s));
  ASSERT_EQ(shots.size(), 1u);
  EXPECT_EQ(shots[0].parent_path(), Home());
  // <tag>-YYYYMMDD_HHMMSS_<milliseconds, not padded>.bmp
  EXPECT_TRUE(
      std::regex_match(shots[0].filename().string(), std::regex(R"(127_0_0_1-20\d{6}_\d{6}_(0|[1-9]\d{0,2})\.bmp)")))
      << shots[0];
  int status = 0;
  const std::string size = RunCommand("identify -format '%w %h' '" + shots[0].string() + "'", &status);
  EXPECT_EQ(status, 0) << size;
  EXPECT_EQ(size, "640 360");
}

TEST_F(MediaTest, CapturePicFollowsTheFolderInTheSettingsFileNotTheProperty) {
  ASSERT_EQ(Play(), 0);
  ASSERT_TRUE(WaitForPictures());
  const fs::path other = dir_ / "shots";
  fs::create_directories(other);
  // The property is shown back only; the file decides.
  EXPECT_EQ(Put("RecFilePath", (dir_ / "ignored").string()), LUMVARA_S_OK);
  {
    std::ofstream ini(ini_);
    ini << "[PATH]\nSETPATH=" << other.string() << "\n";
  }
  EXPECT_EQ(Call("CapturePic"), 0);
  EXPECT_TRUE(PumpUntil([&] { return FilesUnder(other, ".bmp").size() == 1; }, 5s));
  EXPECT_TRUE(FilesUnder(Home(), ".bmp").empty());
  // No folder at all: refused before anything is asked of the player.
  {
    std::ofstream ini(ini_);
    ini << "[PATH]\nSETPATH=\n";
  }
  EXPECT_EQ(Call("CapturePic"), -1);
  EXPECT_EQ(Call("StartRecord"), -1);
  EXPECT_EQ(GetLong("RecordState"), 0);
}

TEST_F(MediaTest, StartRecordWritesAviFilesThatDecode) {
  ASSERT_EQ(Play(), 0);
  ASSERT_TRUE(WaitForPictures());
  // Limits written from script reach the recording (the recorder applies
  // its own minimums).
  EXPECT_EQ(Put("RecFileLen", 10), LUMVARA_S_OK);
  EXPECT_EQ(Put("RecTimeLen", 1), LUMVARA_S_OK);
  EXPECT_EQ(Call("StartRecord"), 0);
  EXPECT_EQ(GetLong("RecordState"), 1);
  // <folder>/RecordFiles/<day>/<camera tag>/<file>.avi
  const fs::path records = Home() / "RecordFiles";
  ASSERT_TRUE(PumpUntil(
      [&] {
        const auto files = FilesUnder(records, ".avi");
        std::error_code ec;
        return !files.empty() && fs::file_size(files[0], ec) > 100000;
      },
      10s));
  EXPECT_EQ(Call("StopRecord"), 0);
  EXPECT_EQ(GetLong("RecordState"), 0);
  const auto files = FilesUnder(records, ".avi");
  ASSERT_FALSE(files.empty());
  for (const fs::path& file : files) {
    EXPECT_EQ(file.parent_path().filename(), "127_0_0_1") << file;
    int status = 0;
    const std::string errors = RunCommand("ffmpeg -nostdin -v error -i '" + file.string() + "' -f null -", &status);
    EXPECT_EQ(status, 0) << file;
    EXPECT_EQ(errors, "") << file;
  }
}

TEST_F(MediaTest, StopVideoStopsARecording) {
  ASSERT_EQ(Play(), 0);
  ASSERT_TRUE(WaitForPictures());
  EXPECT_EQ(Call("StartRecord"), 0);
  // A file begins at the next key frame; one shorter than 32 KiB is not kept.
  ASSERT_TRUE(PumpUntil(
      [&] {
        const auto files = FilesUnder(Home() / "RecordFiles", ".avi");
        std::error_code ec;
        return !files.empty() && fs::file_size(files[0], ec) > 65536;
      },
      10s));
  EXPECT_EQ(Call("StopVideo"), 0);
  EXPECT_EQ(GetLong("RecordState"), 0);
  const auto files = FilesUnder(Home() / "RecordFiles", ".avi");
  ASSERT_EQ(files.size(), 1u);
  int status = 0;
  const std::string errors = RunCommand("ffprobe -v error '" + files[0].string() + "'", &status);
  EXPECT_EQ(status, 0) << errors;
}

TEST_F(MediaTest, SetAliasSendsAtMostSixtyThreeBytes) {
  ASSERT_EQ(Play(), 0);
  ASSERT_TRUE(PumpUntil([&] { return CountNotify(2) >= 1; }, 5s));
  EXPECT_EQ(Call("SetAlias", {std::string(100, 'a')}), 0);
  const std::string expected = "alias=" + std::string(63, 'a') + " HTTP/1.1";
  ASSERT_TRUE(simulator_->waitForRequest(expected, 5s));
  EXPECT_FALSE(simulator_->waitForRequest(std::string(64, 'a'), 0ms));
  EXPECT_TRUE(PumpUntil([&] { return simulator_->param("alias") == std::string(63, 'a'); }, 5s));

  // Two-byte characters: cut before the one that would not fit whole.
  std::string wide;
  for (int i = 0; i < 40; ++i) wide += "\xC3\xA9";  // é
  std::string cut;
  for (int i = 0; i < 31; ++i) cut += "\xC3\xA9";
  EXPECT_EQ(Call("SetAlias", {wide}), 0);
  EXPECT_TRUE(simulator_->waitForRequest("alias=" + cut + " HTTP/1.1", 5s));
}

TEST_F(MediaTest, OpenSoundAsksForAudioStreamTwo) {
  ASSERT_EQ(Call("PlayVideo", {kUser, kPwd, "127.0.0.1", static_cast<int>(simulator_->port()), 10, 5}), 0);
  EXPECT_EQ(Call("OpenSound"), 0);
  EXPECT_EQ(GetLong("SoundState"), 1);
  EXPECT_TRUE(simulator_->waitForRequest("audiostream.cgi", 5s));
  bool streamTwo = false;
  for (const std::string& line : simulator_->requestLog()) {
    if (line.find("audiostream.cgi") != std::string::npos && line.find("streamid=2") != std::string::npos) {
      streamTwo = true;
    }
  }
  EXPECT_TRUE(streamTwo);
  EXPECT_EQ(Call("CloseSound"), 0);
  EXPECT_EQ(GetLong("SoundState"), 0);
}

TEST_F(MediaTest, UserTextIsDrawnOverTheVideoAndRemoved) {
  ASSERT_EQ(Play(), 0);
  ASSERT_TRUE(WaitForPictures());
  // Black text at the top left of the picture (softened by the scaling).
  const Region topLeft{kAreaLeft, kAreaTop, kWindowWidth / 2, kWindowHeight / 4};
  auto black = [](uint32_t rgb) { return (rgb >> 16 & 0xFF) < 50 && (rgb >> 8 & 0xFF) < 50 && (rgb & 0xFF) < 50; };
  const int before = Count(topLeft, black);
  EXPECT_EQ(Call("SetOsd", {"HELLO OSD TEXT"}), 0);
  EXPECT_TRUE(PumpUntil([&] { return Count(topLeft, black) > before + 40; }, 5s));
  EXPECT_EQ(Call("RemoveOsd"), 0);
  EXPECT_TRUE(PumpUntil([&] { return Count(topLeft, black) <= before + 5; }, 5s));
}

}  // namespace
}  // namespace control_test
