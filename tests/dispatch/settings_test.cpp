// The control's settings file: its place, the first run, the values window
// creation reads, SetRecordProperty's lower limits and SetPath's chooser.
#include "control/settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/folder_picker/folder_picker.h"
#include "tests/scoped_env.h"

namespace lumvara::control {
namespace {

namespace fs = std::filesystem;

using lumvara::test::ScopedEnv;

// What the control's property members would receive, in order.
struct Stored {
  int dispid;
  DispatchValue value;
};

class Settings : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "lumvara-settings-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    home_ = (dir_ / "home").string();
    fs::create_directory(home_);
    ini_ = (dir_ / "config" / "lumvara" / "Lumvara.ini").string();
    env_.emplace_back("HOME", home_.c_str());
    env_.emplace_back("LUMVARA_FOLDER_PICKER_CHOICE", nullptr);
  }
  void TearDown() override {
    env_.clear();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  SettingStore Recorder() {
    return [this](int id, const DispatchValue& value) { stored_.push_back({id, value}); };
  }
  void WriteIni(const std::string& text) {
    fs::create_directories(fs::path(ini_).parent_path());
    std::ofstream(ini_, std::ios::binary) << text;
  }
  std::string IniText() const {
    std::ifstream in(ini_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void ExpectStoredLongs(const std::vector<std::pair<int, int32_t>>& want, size_t from = 0) {
    ASSERT_GE(stored_.size(), from + want.size());
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(stored_[from + i].dispid, want[i].first) << i;
      EXPECT_EQ(stored_[from + i].value.type, VarType::kI4) << i;
      EXPECT_EQ(stored_[from + i].value.lVal, want[i].second) << i;
    }
  }

  fs::path dir_;
  std::string home_;
  std::string ini_;
  std::deque<ScopedEnv> env_;
  std::vector<Stored> stored_;
};

TEST_F(Settings, FilePathFollowsTheEnvironment) {
  {
    ScopedEnv ini("LUMVARA_INI", "/tmp/elsewhere/My.ini");
    ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(SettingsFilePath(), "/tmp/elsewhere/My.ini");
  }
  ScopedEnv noIni("LUMVARA_INI", nullptr);
  {
    ScopedEnv config("XDG_CONFIG_HOME", "/cfg/");
    EXPECT_EQ(SettingsFilePath(), "/cfg/lumvara/Lumvara.ini");
  }
  {
    ScopedEnv config("XDG_CONFIG_HOME", "relative/cfg");  // not absolute: ignored
    EXPECT_EQ(SettingsFilePath(), home_ + "/.config/lumvara/Lumvara.ini");
  }
  ScopedEnv noConfig("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(SettingsFilePath(), home_ + "/.config/lumvara/Lumvara.ini");
}

TEST_F(Settings, HomeFolderHasNoTrailingSlash) {
  ScopedEnv home("HOME", (home_ + "//").c_str());
  EXPECT_EQ(HomeFolder(), home_);
  ScopedEnv noHome("HOME", nullptr);
  EXPECT_FALSE(HomeFolder().empty());  // from the password database
}

TEST_F(Settings, FirstRunWritesOnlyTheHomeFolder) {
  const SettingsAtCreation read = ReadSettingsAtCreation(ini_, Recorder());
  EXPECT_EQ(read.recFilePath, home_);
  EXPECT_EQ(read.limits.fileLen, 100);
  EXPECT_EQ(read.limits.timeLen, 5);
  EXPECT_EQ(read.limits.reservedSpace, 200);
  EXPECT_EQ(read.limits.cover, 0);
  ASSERT_EQ(stored_.size(), 5u);
  EXPECT_EQ(stored_[0].dispid, dispid::kRecFilePath);
  EXPECT_EQ(stored_[0].value.type, VarType::kBstr);
  EXPECT_EQ(stored_[0].value.str, home_);
  ExpectStoredLongs(
      {{dispid::kRecFileLen, 100}, {dispid::kRecTimeLen, 5}, {dispid::kReservedSpace, 200}, {dispid::kRecCover, 0}}, 1);
  EXPECT_EQ(IniText(), "[PATH]\nSETPATH=" + home_ + "\n");
}

TEST_F(Settings, ValuesInTheFileAreTakenAsTheyAre) {
  const std::string text = "[PATH]\nSETPATH=/srv/rec\nFILELEN=10\nTIMELEN=1\nRESERVEDSPACE=abc\nCOVER=3\n";
  WriteIni(text);
  const SettingsAtCreation read = ReadSettingsAtCreation(ini_, Recorder());
  EXPECT_EQ(read.recFilePath, "/srv/rec");
  EXPECT_EQ(stored_[0].value.str, "/srv/rec");
  ExpectStoredLongs(
      {{dispid::kRecFileLen, 10}, {dispid::kRecTimeLen, 1}, {dispid::kReservedSpace, 0}, {dispid::kRecCover, 3}}, 1);
  EXPECT_EQ(IniText(), text);  // nothing written when the folder is set
}

TEST_F(Settings, EmptyFolderValueIsReplacedByHome) {
  WriteIni("[PATH]\nSETPATH=\nFILELEN=10\n");
  ReadSettingsAtCreation(ini_, Recorder());
  EXPECT_EQ(stored_[0].value.str, home_);
  EXPECT_EQ(IniText(), "[PATH]\nSETPATH=" + home_ + "\nFILELEN=10\n");
  ExpectStoredLongs({{dispid::kRecFileLen, 10}}, 1);
}

TEST_F(Settings, SetRecordPropertyRaisesToTheLowerLimits) {
  const struct {
    RecordLimits requested;
    RecordLimits want;
  } cases[] = {
      {{50, 3, 100, 7}, {100, 5, 200, 7}},
      {{101, 6, 201, 0}, {101, 6, 201, 0}},
      {{100, 5, 200, -1}, {100, 5, 200, -1}},
      {{-5, INT32_MIN, 0, 1}, {100, 5, 200, 1}},
  };
  for (const auto& c : cases) {
    stored_.clear();
    WriteIni("[PATH]\nSETPATH=/srv/rec\n");
    const RecordLimits got = ApplyRecordProperty(ini_, c.requested, Recorder());
    EXPECT_EQ(got.fileLen, c.want.fileLen);
    EXPECT_EQ(got.timeLen, c.want.timeLen);
    EXPECT_EQ(got.reservedSpace, c.want.reservedSpace);
    EXPECT_EQ(got.cover, c.want.cover);
    ASSERT_EQ(stored_.size(), 4u);
    ExpectStoredLongs({{dispid::kRecFileLen, c.want.fileLen},
                       {dispid::kRecTimeLen, c.want.timeLen},
                       {dispid::kReservedSpace, c.want.reservedSpace},
                       {dispid::kRecCover, c.want.cover}});
    EXPECT_EQ(IniText(), "[PATH]\nSETPATH=/srv/rec\nFILELEN=" + std::to_string(c.want.fileLen) +
                             "\nTIMELEN=" + std::to_string(c.want.timeLen) + "\nRESERVEDSPACE=" +
                             std::to_string(c.want.reservedSpace) + "\nCOVER=" + std::to_string(c.want.cover) + "\n");
  }
  // What was written is what the next window creation reads.
  stored_.clear();
  ApplyRecordProperty(ini_, {50, 3, 100, 7}, Recorder());
  stored_.clear();
  ReadSettingsAtCreation(ini_, Recorder());
  ExpectStoredLongs(
      {{dispid::kRecFileLen, 100}, {dispid::kRecTimeLen, 5}, {dispid::kReservedSpace, 200}, {dispid::kRecCover, 7}}, 1);
}

TEST_F(Settings, FailedWriteStillStoresTheValues) {
  std::ofstream(dir_ / "blocker") << "a file where a folder should be";
  const std::string unwritable = (dir_ / "blocker" / "Lumvara.ini").string();
  ApplyRecordProperty(unwritable, {50, 3, 100, 7}, Recorder());
  ExpectStoredLongs(
      {{dispid::kRecFileLen, 100}, {dispid::kRecTimeLen, 5}, {dispid::kReservedSpace, 200}, {dispid::kRecCover, 7}});
  stored_.clear();
  ReadSettingsAtCreation(unwritable, Recorder());
  EXPECT_EQ(stored_[0].value.str, home_);
}

TEST_F(Settings, ChosenFolderIsStoredAndWritten) {
  WriteIni("[PATH]\nSETPATH=/old\nFILELEN=10\n");
  folder_picker::ScopedFolderChoice choice("/srv/new place");
  EXPECT_TRUE(ChooseRecordingFolder(ini_, Recorder()));
  EXPECT_EQ(choice.calls(), 1);
  EXPECT_EQ(choice.lastTitle(), "Selection");
  ASSERT_EQ(stored_.size(), 1u);
  EXPECT_EQ(stored_[0].dispid, dispid::kRecFilePath);
  EXPECT_EQ(stored_[0].value.str, "/srv/new place");
  EXPECT_EQ(IniText(), "[PATH]\nSETPATH=/srv/new place\nFILELEN=10\n");
  EXPECT_EQ(ReadRecordingFolder(ini_), "/srv/new place");
}

TEST_F(Settings, CancelledChooserChangesNothing) {
  const std::string text = "[PATH]\nSETPATH=/old\nFILELEN=10\n";
  WriteIni(text);
  folder_picker::ScopedFolderChoice cancel(std::nullopt);
  EXPECT_FALSE(ChooseRecordingFolder(ini_, Recorder()));
  EXPECT_EQ(cancel.calls(), 1);
  EXPECT_TRUE(stored_.empty());
  EXPECT_EQ(IniText(), text);
}

TEST_F(Settings, RecordingFolderIsReadAfresh) {
  EXPECT_EQ(ReadRecordingFolder(ini_), "");  // no file: no folder
  WriteIni("[PATH]\nSETPATH=/first\n");
  EXPECT_EQ(ReadRecordingFolder(ini_), "/first");
  WriteIni("[PATH]\nSETPATH=/changed/by/hand\n");
  EXPECT_EQ(ReadRecordingFolder(ini_), "/changed/by/hand");
}

}  // namespace
}  // namespace lumvara::control
