#include "player/test_files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace lumvara::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "lumvara-pictures-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) {
    path_ = pattern;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool readWithImageMagick(const std::string& file, uint32_t width, uint32_t height, std::vector<uint8_t>* rgb) {
  const std::string raw = file + ".rgb";
  const std::string command = "convert '" + file + "' -depth 8 'rgb:" + raw + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) {
    return false;
  }
  std::ifstream in(raw, std::ios::binary);
  rgb->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::remove(raw.c_str());
  return rgb->size() == static_cast<size_t>(width) * height * 3;
}

}  // namespace lumvara::test
