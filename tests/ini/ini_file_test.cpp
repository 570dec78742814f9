// Initialisation files: defaults, parsing, integer reading, writes that keep
// the rest of the file, and concurrent writers.
#include "platform/ini/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace lumvara::ini {
namespace {

namespace fs = std::filesystem;

class IniFile : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "lumvara-ini-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    file_ = (dir_ / "Lumvara.ini").string();
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, ec);
    fs::remove_all(dir_, ec);
  }
  void WriteText(const std::string& text) {
    std::ofstream out(file_, std::ios::binary);
    out << text;
  }
  std::string ReadText() const {
    std::ifstream in(file_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path dir_;
  std::string file_;
};

TEST_F(IniFile, MissingFileSectionOrKeyReadsTheDefault) {
  EXPECT_EQ(GetPrivateProfileString("PATH", "SETPATH", "dflt", file_), "dflt");
  EXPECT_EQ(GetPrivateProfileInt("PATH", "FILELEN", 100, file_), 100);
  EXPECT_FALSE(fs::exists(file_));  // reading creates nothing

  WriteText("[OTHER]\nFILELEN=7\n[PATH]\nTIMELEN=3\n");
  EXPECT_EQ(GetPrivateProfileInt("PATH", "FILELEN", 100, file_), 100);
  EXPECT_EQ(GetPrivateProfileInt("NOSECTION", "TIMELEN", 5, file_), 5);
  EXPECT_EQ(GetPrivateProfileString("PATH", "SETPATH", "", file_), "");
}

TEST_F(IniFile, ReadsNamesWithoutCaseAndValuesTrimmed) {
  WriteText(
      "\xEF\xBB\xBF; settings\r\n"
      "[other]\r\n"
      "SETPATH=/wrong\r\n"
      "  [ path ]  \r\n"
      "; SETPATH=/commented\r\n"
      "  SetPath =  /home/user/My Videos  \r\n"
      "QUOTED=\"  spaced  \"\r\n"
      "EMPTY=\r\n"
      "noequals\r\n"
      "[NEXT]\r\n"
      "COVER=1\r\n");
  EXPECT_EQ(GetPrivateProfileString("PATH", "SETPATH", "x", file_), "/home/user/My Videos");
  EXPECT_EQ(GetPrivateProfileString("Path", "setpath", "x", file_), "/home/user/My Videos");
  EXPECT_EQ(GetPrivateProfileString("PATH", "QUOTED", "x", file_), "  spaced  ");
  EXPECT_EQ(GetPrivateProfileString("PATH", "EMPTY", "x", file_), "");   // present and empty: not the default
  EXPECT_EQ(GetPrivateProfileString("PATH", "COVER", "x", file_), "x");  // another section's key
  EXPECT_EQ(GetPrivateProfileInt("next", "cover", 0, file_), 1);
}

TEST_F(IniFile, IntegersReadFromTheLeadingDigits) {
  const struct {
    const char* text;
    int32_t want;
  } cases[] = {
      {"10", 10},
      {"  42  ", 42},
      {"-7", -7},
      {"+8", 8},
      {"12abc", 12},
      {"abc", 0},
      {"", 0},
      {"0x1F", 31},
      {"0XfF", 255},
      {"0x", 0},
      {"1.5", 1},
      {"- 3", 0},
      {"2147483647", 2147483647},
      {"99999999999", 2147483647},
      {"-99999999999", INT32_MIN},
      {"\"5\"", 5},  // quotes go first
  };
  for (const auto& c : cases) {
    WriteText(std::string("[PATH]\nFILELEN=") + c.text + "\n");
    EXPECT_EQ(GetPrivateProfileInt("PATH", "FILELEN", 100, file_), c.want) << '"' << c.text << '"';
  }
}

TEST_F(IniFile, FirstWriteCreatesTheFileWithOneSectionAndKey) {
  ASSERT_TRUE(WritePrivateProfileString("PATH", "SETPATH", "/home/user", file_));
  EXPECT_EQ(ReadText(), "[PATH]\nSETPATH=/home/user\n");
  EXPECT_EQ(GetPrivateProfileString("PATH", "SETPATH", "", file_), "/home/user");
}

TEST_F(IniFile, WritesKeepEveryOtherLine) {
  WriteText("; kept comment\n[PATH]\nSETPATH=/old\nFILELEN=100\n\n[OTHER]\nX=1\n");
  ASSERT_TRUE(WritePrivateProfileString("path", "setpath", "/new", file_));
  ASSERT_TRUE(WritePrivateProfileInt("PATH", "TIMELEN", 5, file_));
  ASSERT_TRUE(WritePrivateProfileInt("OTHER", "Y", -3, file_));
  ASSERT_TRUE(WritePrivateProfileString("THIRD", "Z", "z", file_));
  EXPECT_EQ(ReadText(),
            "; kept comment\n[PATH]\nsetpath=/new\nFILELEN=100\nTIMELEN=5\n\n[OTHER]\nX=1\nY=-3\n[THIRD]\nZ=z\n");
}

TEST_F(IniFile, IntegersAreWrittenInDecimal) {
  for (int32_t v : {0, 7, -1, 200, INT32_MAX, INT32_MIN}) {
    ASSERT_TRUE(WritePrivateProfileInt("PATH", "RESERVEDSPACE", v, file_));
    EXPECT_EQ(GetPrivateProfileString("PATH", "RESERVEDSPACE", "", file_), std::to_string(v));
    EXPECT_EQ(GetPrivateProfileInt("PATH", "RESERVEDSPACE", 1, file_), v);
  }
}

TEST_F(IniFile, ValuesThatWouldBreakTheFileAreRefused) {
  WriteText("[PATH]\nSETPATH=/old\n");
  EXPECT_FALSE(WritePrivateProfileString("PATH", "SETPATH", "/a\nFILELEN=1", file_));
  EXPECT_FALSE(WritePrivateProfileString("PATH", "SETPATH", "/a\rb", file_));
  EXPECT_FALSE(WritePrivateProfileString("PATH", "SET=PATH", "x", file_));
  EXPECT_FALSE(WritePrivateProfileString("PA]TH", "SETPATH", "x", file_));
  EXPECT_FALSE(WritePrivateProfileString("PATH", "", "x", file_));
  EXPECT_EQ(ReadText(), "[PATH]\nSETPATH=/old\n");
}

TEST_F(IniFile, FailedReplaceLeavesNoTemporaryFile) {
  fs::create_directory(file_);  // a folder where the file should be: the rename fails
  EXPECT_FALSE(WritePrivateProfileString("PATH", "SETPATH", "/new", file_));
  EXPECT_TRUE(fs::is_directory(file_));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(IniFile, UnreadableFileIsNotReplaced) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads files without read permission";
  WriteText("[PATH]\nSETPATH=/old\nFILELEN=10\n");
  ASSERT_EQ(::chmod(file_.c_str(), 0200), 0);
  EXPECT_FALSE(WritePrivateProfileString("PATH", "COVER", "1", file_));
  ASSERT_EQ(::chmod(file_.c_str(), 0600), 0);
  EXPECT_EQ(ReadText(), "[PATH]\nSETPATH=/old\nFILELEN=10\n");
}

TEST_F(IniFile, MissingFolderFailsWithoutCreatingIt) {
  const std::string inMissing = (dir_ / "missing" / "Lumvara.ini").string();
  EXPECT_FALSE(WritePrivateProfileString("PATH", "SETPATH", "/x", inMissing));
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 0);
}

TEST_F(IniFile, WriteKeepsTheFileMode) {
  WriteText("[PATH]\n");
  ASSERT_EQ(::chmod(file_.c_str(), 0640), 0);
  ASSERT_TRUE(WritePrivateProfileInt("PATH", "COVER", 1, file_));
  struct stat st {};
  ASSERT_EQ(::stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(IniFile, ConcurrentWritersLoseNoKey) {
  constexpr int kThreads = 4;
  constexpr int kKeys = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < kKeys; ++k) {
        WritePrivateProfileInt("PATH", "K" + std::to_string(t) + "_" + std::to_string(k), k, file_);
      }
    });
  }
  // A reader meanwhile sees a whole file each time: the section is always there.
  for (int i = 0; i < 50; ++i) {
    const std::string text = GetPrivateProfileString("PATH", "K0_0", "", file_);
    EXPECT_TRUE(text.empty() || text == "0");
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 0; k < kKeys; ++k) {
      EXPECT_EQ(GetPrivateProfileInt("PATH", "K" + std::to_string(t) + "_" + std::to_string(k), -1, file_), k);
    }
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);  // no temporary left
}

}  // namespace
}  // namespace lumvara::ini
