#pragma once
// Helpers for the H.264 player tests: whole stream frames built from kinds
// and payloads, real access units of the simulator's test pattern, waits
// with a deadline, and reading the frame number the pattern draws back
// from a window's pixels.

#include <lumvara/device.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "apps/camsim/h264_test_pattern.h"

namespace lumvara::test {

// A whole frame: header (kind, time, zone, length) and payload.
inline std::vector<uint8_t> streamFrame(uint8_t kind, const std::vector<uint8_t>& payload, uint32_t time = 0,
                                        int8_t zone = 0) {
  StreamFrameHeader header{};
  header.magic = LUMVARA_FRAME_MAGIC;
  header.kind = kind;
  header.time = time;
  header.length = static_cast<uint32_t>(payload.size());
  header.zone = zone;
  std::vector<uint8_t> frame(sizeof header + payload.size());
  std::memcpy(frame.data(), &header, sizeof header);
  if (!payload.empty()) {
    std::memcpy(frame.data() + sizeof header, payload.data(), payload.size());
  }
  return frame;
}

// `count` frames of the test pattern (640 x 360 unless told), key frames
// every `gop`, each frame's time = `firstTime` + its index.
inline std::vector<std::vector<uint8_t>> patternFrames(uint32_t count, int width = 640, int height = 360, int gop = 50,
                                                       uint32_t firstTime = 1700000000) {
  std::vector<std::vector<uint8_t>> frames;
  const auto units = camsim::H264TestPattern::encodeFrames(count, width, height, gop);
  for (size_t i = 0; i < units.size(); ++i) {
    frames.push_back(streamFrame(units[i].key ? LUMVARA_FRAME_KIND_H264_KEY : LUMVARA_FRAME_KIND_H264, units[i].bytes,
                                 firstTime + static_cast<uint32_t>(i)));
  }
  return frames;
}

// Runs a shell command; its standard output.
inline std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return "popen failed";
  }
  std::array<char, 512> chunk;
  while (std::fgets(chunk.data(), static_cast<int>(chunk.size()), pipe) != nullptr) {
    out += chunk.data();
  }
  ::pclose(pipe);
  return out;
}

template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The frame number the test pattern draws, read from BGRX pixels of a
// picture shown unscaled at the window's top-left corner; '?' marks a
// digit that cannot be read.
inline std::string shownFrameNumber(const std::vector<uint8_t>& bgrx, int width, int height) {
  std::vector<uint8_t> luma(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < luma.size(); ++i) {
    const int b = bgrx[i * 4 + 0];
    const int g = bgrx[i * 4 + 1];
    const int r = bgrx[i * 4 + 2];
    luma[i] = static_cast<uint8_t>((66 * r + 129 * g + 25 * b + 128) / 256 + 16);
  }
  using Pattern = camsim::H264TestPattern;
  return Pattern::readText(luma.data(), width, Pattern::kNumberX, Pattern::kNumberY, Pattern::kNumberDigits,
                           Pattern::kNumberScale);
}

}  // namespace lumvara::test
