#pragma once
// Helpers for the recording tests: real encoded video to record, a reader
// for the chunks of the files we write, ffprobe as an outside judge, a
// clock and a disk that the tests drive.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <lumvara/record.h>

#include "record/record_clock.h"

namespace lumvara::test {

// n encoded frames of a moving pattern, one access unit / one JPEG each.
// H.264 in Annex B with parameter sets in front of every key frame.
std::vector<std::vector<uint8_t>> EncodeH264Frames(int width, int height, int count);
std::vector<std::vector<uint8_t>> EncodeMjpegFrames(int width, int height, int count);

// The samples of an AVI file's first RIFF, in file order.
struct AviChunk {
  std::string id;             // "00dc" video, "01wb" audio
  std::vector<uint8_t> data;  // empty when read without data
  uint32_t size = 0;
  uint32_t indexFlags = 0;  // from idx1; 0x10 = key frame
};
std::vector<AviChunk> ReadAviChunks(const std::string& path, bool withData = true);
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// ffprobe -show_streams -show_format -count_packets, parsed; null json when
// ffprobe refuses the file.
nlohmann::json Probe(const std::string& path, bool countPackets = true);

// A fresh folder under the temporary directory, removed by the destructor.
class TempDir {
 public:
  // base: the folder to create it in; empty for the system's temporary folder.
  explicit TempDir(const std::string& base = "");
  ~TempDir();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A clock the test moves by hand.
struct ManualClock {
  std::atomic<uint32_t> tick{1000};
  RecordLocalTime now{2026, 12, 10, 1, 2, 3, 45};

  RecordClock Clock() {
    return RecordClock{[this] { return tick.load(); }, [this] { return now; }};
  }
};

// A zero-filled request for root and camera, limits left at 0 (the minimums).
LocalRecordRequest MakeRequest(const std::string& root, const char* camera = "192_168_1_20", uint32_t cover = 0);

}  // namespace lumvara::test

namespace lumvara::test {
// frame followed by an H.264 filler-data unit, so that the payload is
// exactly size bytes and still a valid access unit.
std::vector<uint8_t> PadH264(const std::vector<uint8_t>& frame, size_t size);
// Little-endian 32-bit value at offset.
uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t offset);
// Offset of the n-th (0-based) occurrence of a four-character tag; npos when absent.
size_t FindTag(const std::vector<uint8_t>& bytes, const char* tag, int n = 0);
}  // namespace lumvara::test
