#pragma once
// Writes camera audio to a WAV file. G.711 A-law frames are stored as they
// arrive (WAV format 6, 8000 Hz, mono, 8 bits), which every audio tool
// reads; IMA ADPCM frames use the camera's own block variant, which WAV
// cannot describe, so they are only counted. Frames arrive on a receive
// thread; the counts may be read from any thread.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

namespace lumvara::cli {

class WavWriter {
 public:
  explicit WavWriter(const std::string& path);
  ~WavWriter();
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  bool opened() const { return file_ != nullptr; }
  // Completes the header; false when a write failed.
  bool close();

  // DeviceDataCallback shape; context is the writer.
  static int onFrame(const unsigned char* frame, int length, void* context);

  uint64_t alawSamples() const { return alawBytes_.load(); }
  uint64_t adpcmFrames() const { return adpcmFrames_.load(); }

 private:
  bool writeHeader(uint32_t dataBytes);

  std::FILE* file_ = nullptr;
  std::atomic<bool> writeFailed_{false};
  std::atomic<uint64_t> alawBytes_{0};
  std::atomic<uint64_t> adpcmFrames_{0};
};

}  // namespace lumvara::cli
