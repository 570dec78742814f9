#pragma once
// Files for picture tests: a temporary folder removed with its contents, and
// reading an image back through ImageMagick, a real image library.

#include <cstdint>
#include <string>
#include <vector>

namespace lumvara::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Decodes `file` with ImageMagick's `convert` into packed 8-bit RGB. False
// when convert fails or the picture is not width x height.
bool readWithImageMagick(const std::string& file, uint32_t width, uint32_t height, std::vector<uint8_t>* rgb);

}  // namespace lumvara::test
