#include "pulse_test_support.h"

#include <pulse/simple.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace lumvara::test {

std::string Run(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[512];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

int CountPulseObjects(const std::string& what) {
  const std::string out = Run("pactl list short " + what + " 2>/dev/null");
  int lines = 0;
  for (char c : out) lines += c == '\n';
  return lines;
}

void ResetTestMixer() {
  Run("pactl set-sink-volume speaker 100% && pactl set-sink-mute speaker 0 && "
      "pactl set-sink-volume mic 100% && pactl set-sink-mute mic 0 && "
      "pactl set-source-volume mic.monitor 100% && pactl set-source-mute mic.monitor 0 && "
      "pactl set-source-volume speaker.monitor 100% && pactl set-source-mute speaker.monitor 0");
}

std::string WriteRawFile(const std::vector<std::int16_t>& samples) {
  char path[] = "/tmp/lumvara-audio-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return {};
  close(fd);
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
  return path;
}

long FirstLoud(const std::vector<std::int16_t>& samples, int threshold, std::size_t from) {
  for (std::size_t i = from; i < samples.size(); ++i) {
    if (std::abs(int{samples[i]}) > threshold) return static_cast<long>(i);
  }
  return -1;
}

SourceRecorder::SourceRecorder(const std::string& source) {
  const pa_sample_spec spec = {PA_SAMPLE_S16LE, 8000, 1};
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.fragsize = 320;  // 20 ms
  int error = 0;
  simple_ = pa_simple_new(nullptr, "lumvara test", PA_STREAM_RECORD, source.c_str(), "monitor", &spec, nullptr, &attr,
                          &error);
  ok_ = simple_ != nullptr;
  if (ok_) thread_ = std::thread(&SourceRecorder::Loop, this);
}

SourceRecorder::~SourceRecorder() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
  if (simple_) pa_simple_free(simple_);
}

std::vector<std::int16_t> SourceRecorder::Samples() {
  std::lock_guard<std::mutex> lock(lock_);
  return samples_;
}

void SourceRecorder::Loop() {
  std::int16_t block[160];
  while (running_) {
    int error = 0;
    if (pa_simple_read(simple_, block, sizeof block, &error) < 0) return;
    std::lock_guard<std::mutex> lock(lock_);
    samples_.insert(samples_.end(), block, block + 160);
  }
}

}  // namespace lumvara::test
