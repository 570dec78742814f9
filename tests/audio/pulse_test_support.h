#pragma once
// Helpers for tests that run against the private test sound server (see
// pulse_daemon.sh): shell out to pactl/paplay, record a source.

#include "test_signal.h"

#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lumvara::test {

// Runs a shell command, returns its standard output.
std::string Run(const std::string& command);

// Lines of `pactl list short <what>` (sink-inputs, source-outputs, ...).
int CountPulseObjects(const std::string& what);

// Puts the test server's sinks and sources back to 100 % and unmuted, so a
// test does not depend on what an earlier one left.
void ResetTestMixer();

// Writes samples as raw s16le to a new temporary file; returns its path.
std::string WriteRawFile(const std::vector<std::int16_t>& samples);

// Index of the first sample whose magnitude exceeds `threshold`, or -1.
long FirstLoud(const std::vector<std::int16_t>& samples, int threshold, std::size_t from = 0);

// Records 8000 Hz mono s16 from a source into memory on its own thread.
class SourceRecorder {
 public:
  explicit SourceRecorder(const std::string& source);
  ~SourceRecorder();
  std::vector<std::int16_t> Samples();
  bool ok() const { return ok_; }

 private:
  void Loop();
  ::pa_simple* simple_ = nullptr;
  bool ok_ = false;
  std::atomic<bool> running_{true};
  std::mutex lock_;
  std::vector<std::int16_t> samples_;
  std::thread thread_;
};

}  // namespace lumvara::test
