// Settings files the fuzzer found mishandled, each kept as it was found and
// as the smallest file that shows the same fault.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/ini/ini_file.h"

namespace lumvara::ini {
namespace {

namespace fs = std::filesystem;

class IniRegression : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "lumvara-ini-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    file_ = (dir_ / "Lumvara.ini").string();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void WriteBytes(const std::string& bytes) {
    std::ofstream out(file_, std::ios::binary);
    out << bytes;
  }

  fs::path dir_;
  std::string file_;
};

// A value line that ends in two carriage returns before its line feed
// ("COVER=0\r\r\n") read as "0\r"; a write of another key rewrote the file
// and the same value then read as "0". A value must read the same before
// and after a write of some other key.
TEST_F(IniRegression, CarriageReturnsBeforeTheLineEndAreNotPartOfTheValue) {
  const struct {
    const char* name;
    std::string file;
  } cases[] = {
      {"smallest", std::string("[PATH]\nCOVER=0\r\r\nSETPATH=/v\r\r\r\n")},
      {"as found",  // the fuzzer's input, its first byte (which key to write) left off
       std::string("[PATH]100\r\nTIMELEN=5&&&&&&&&&&&&&&&&&SPAC; \0`\xc0writ=0\r\nCE=20", 59) +
           std::string(37, '\x02') + "0\r\nCOVER=0\r\r\n\xff\xff\xff\xff"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(c.file);
    const std::string cover = GetPrivateProfileString("PATH", "COVER", "missing", file_);
    const std::string path = GetPrivateProfileString("PATH", "SETPATH", "missing", file_);
    EXPECT_EQ(cover, "0");
    ASSERT_TRUE(WritePrivateProfileInt("PATH", "TIMELEN", 7, file_));
    EXPECT_EQ(GetPrivateProfileString("PATH", "COVER", "missing", file_), cover);
    EXPECT_EQ(GetPrivateProfileString("PATH", "SETPATH", "missing", file_), path);
    EXPECT_EQ(GetPrivateProfileInt("PATH", "TIMELEN", 0, file_), 7);
  }
}

}  // namespace
}  // namespace lumvara::ini
