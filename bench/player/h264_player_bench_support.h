#pragma once
// Shared by the H.264 player benchmarks: the simulator's test pattern as
// whole stream frames, figures from the process's own accounting.

#include <lumvara/device.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "apps/camsim/h264_test_pattern.h"

namespace lumvara::bench {

// `count` frames of the test pattern, key frames every `gop`, each frame's
// `time` its index.
inline std::vector<std::vector<uint8_t>> patternFrames(uint32_t count, int width, int height, int gop = 50) {
  std::vector<std::vector<uint8_t>> frames;
  const auto units = camsim::H264TestPattern::encodeFrames(count, width, height, gop);
  for (size_t i = 0; i < units.size(); ++i) {
    StreamFrameHeader header{};
    header.magic = LUMVARA_FRAME_MAGIC;
    header.kind = units[i].key ? LUMVARA_FRAME_KIND_H264_KEY : LUMVARA_FRAME_KIND_H264;
    header.time = static_cast<uint32_t>(i);
    header.length = static_cast<uint32_t>(units[i].bytes.size());
    std::vector<uint8_t> frame(sizeof header + units[i].bytes.size());
    std::memcpy(frame.data(), &header, sizeof header);
    std::memcpy(frame.data() + sizeof header, units[i].bytes.data(), units[i].bytes.size());
    frames.push_back(std::move(frame));
  }
  return frames;
}

// User plus system CPU seconds of the whole process so far.
inline double cpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Resident memory of the process in megabytes.
inline double residentMB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::stod(line.substr(6)) / 1024.0;
    }
  }
  return 0;
}

// The value below which `fraction` of the sorted values lie.
inline double percentile(std::vector<double> values, double fraction) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  const size_t at = std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())));
  return values[at];
}

}  // namespace lumvara::bench
