// The test picture as JPEG, for MJPEG recordings (frame kind 3): the same
// gradient, frame number and time as the H.264 pattern.
#pragma once

#include <cstdint>
#include <ctime>
#include <vector>

namespace lumvara::camsim {

class JpegTestPattern {
 public:
  JpegTestPattern(int width = 640, int height = 360, int quality = 80);
  ~JpegTestPattern();
  JpegTestPattern(const JpegTestPattern&) = delete;
  JpegTestPattern& operator=(const JpegTestPattern&) = delete;

  // One JPEG image of picture `index`; empty when compression failed.
  std::vector<uint8_t> encode(uint32_t index, std::time_t shown_time);

 private:
  int width_;
  int height_;
  int quality_;
  void* compressor_;  // TurboJPEG handle, owned
  std::vector<uint8_t> planes_;
};

}  // namespace lumvara::camsim
