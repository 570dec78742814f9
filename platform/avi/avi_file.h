#pragma once
// An AVI file being written: one video stream and one PCM audio stream, as
// the recorder lays them out. Sits on libavformat's AVI muxer, which writes
// the index on close and switches to OpenDML (extra RIFF chunks and
// super-indices) once the file passes 1 GB, so files up to 4 GB stay valid.
//
// Samples are placed by index, like the write calls of the Windows AVI
// library: a video sample at index n plays at n / framesPerSecond seconds;
// audio is placed by its first sample's position. Indices of one stream must
// rise; a video index that skips ahead is filled with empty samples.
//
// Not thread-safe: one writer at a time (the recorder holds its lock).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace lumvara {

// Four-character codes as they are stored in the file, first character in
// the lowest byte.
constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}
constexpr uint32_t kFourCCH264 = MakeFourCC('h', '2', '6', '4');
constexpr uint32_t kFourCCMjpg = MakeFourCC('m', 'j', 'p', 'g');

struct AviVideoFormat {
  uint32_t fourcc = kFourCCH264;  // kFourCCH264 or kFourCCMjpg
  uint32_t width = 0;             // 0 x 0 is allowed (no picture yet)
  uint32_t height = 0;
  uint32_t framesPerSecond = 25;
};

// The audio stream is always PCM, 8000 Hz, mono, 16-bit.
constexpr uint32_t kAviAudioRate = 8000;

class AviFile {
 public:
  // Creates a new file at path; an existing file is never overwritten
  // (creation fails instead). Returns null on failure.
  static std::unique_ptr<AviFile> Create(const std::string& path, const AviVideoFormat& video);

  ~AviFile();  // closes the file if Close was not called
  AviFile(const AviFile&) = delete;
  AviFile& operator=(const AviFile&) = delete;

  // One video sample at index, flagged as a key frame. size 0 writes an
  // empty sample, which holds the time line without a picture.
  bool WriteVideo(uint32_t index, const void* data, size_t size);

  // count 16-bit samples as one chunk whose first sample sits at position
  // sampleIndex of the audio stream.
  bool WriteAudio(uint32_t sampleIndex, const int16_t* samples, size_t count);

  // Writes the index and the final headers and closes the file. False when
  // any write since Create failed. Further writes fail.
  bool Close();

  // Bytes handed to the file so far (headers, chunks, index).
  uint64_t BytesWritten() const;

  struct Impl;

 private:
  explicit AviFile(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace lumvara
