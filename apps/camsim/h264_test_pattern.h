// A generated H.264 test picture: a moving gradient with the frame number and
// the shown time drawn in large digits. Encoded with libx264 through
// libavcodec, one access unit per picture, a key frame (with its parameter
// sets) every `gop` frames and no reordering, so every access unit can go out
// the moment it is produced.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace lumvara::camsim {

struct AccessUnit {
  std::vector<uint8_t> bytes;  // Annex B: start codes, parameter sets on key frames
  bool key = false;
};

class H264TestPattern {
 public:
  H264TestPattern(int width = 640, int height = 360, int fps = 25, int gop = 50);
  ~H264TestPattern();
  H264TestPattern(const H264TestPattern&) = delete;
  H264TestPattern& operator=(const H264TestPattern&) = delete;

  // False when the encoder could not be opened (libx264 missing).
  bool ok() const;

  // Draws and encodes picture `index` showing `shown_time` (a calendar time
  // printed as it stands, without zone conversion). Index 0, gop, 2*gop, ...
  // are key frames. Call with increasing indices; an empty result means the
  // encoder failed.
  AccessUnit encode(uint32_t index, std::time_t shown_time);

  // Convenience for decoder tests: `count` access units from index 0.
  static std::vector<AccessUnit> encodeFrames(uint32_t count, int width = 640, int height = 360, int gop = 50,
                                              std::time_t shown_time = 0);

  // Where the two text lines sit in every picture: the frame number (six
  // digits) and the shown time ("YYYY-MM-DD HH:MM:SS").
  static constexpr int kNumberX = 32, kNumberY = 32, kNumberScale = 8, kNumberDigits = 6;
  static constexpr int kTimeX = 32, kTimeY = 120, kTimeScale = 6, kTimeChars = 19;

  // Reads `chars` glyphs drawn by drawText back from a (decoded) luma plane;
  // '?' for a cell that matches no glyph. Lets tests tell which picture they see.
  static std::string readText(const uint8_t* luma, int stride, int x, int y, int chars, int scale);

  // Draws picture `index` into planar 4:2:0 memory (the same picture encode()
  // sends).
  static void drawPicture(uint8_t* const planes[3], const int strides[3], int width, int height, uint32_t index,
                          std::time_t shown_time);

  // Draws the digits and separators of `text` ('0'-'9', ':', '-', ' ') into a
  // luma plane at (x, y), each glyph cell 4 * scale wide and 6 * scale high.
  static void drawText(uint8_t* luma, int stride, int width, int height, int x, int y, const char* text, int scale,
                       uint8_t value);

 private:
  struct Encoder;
  std::unique_ptr<Encoder> encoder_;
};

}  // namespace lumvara::camsim
