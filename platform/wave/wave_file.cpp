// The file wave backend. Each device owns a pacing thread that wakes every
// kPacingPeriod and moves the bytes that the wall clock says are due since
// the device started: playback takes them from the queued buffers (silence
// when the queue is dry) and appends them to the file; capture reads them
// from the file's samples (looping) into the queued buffers. The device's
// lock is a recursive mutex held while done handlers run, so a handler may
// queue buffers again, and Reset() returning means no handler is running.
#include "platform/wave/wave_file.h"

#include "platform/log/log.h"
#include "platform/wave/wav_format.h"
#include "platform/wave/wave_queue.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lumvara {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPacingPeriod = std::chrono::milliseconds(20);

// Bytes of whole samples due `elapsed` after the start.
std::uint64_t BytesDue(Clock::duration elapsed) {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
  return static_cast<std::uint64_t>(us) * kWaveSampleRate / 1000000 * 2;
}

void ApplyLevel(const FileLineLevel& level, std::int16_t* samples, std::size_t count) {
  const std::uint32_t volume = level.volume.load();
  if (level.muted.load() || volume == 0) {
    std::fill(samples, samples + count, std::int16_t{0});
    return;
  }
  if (volume == kWaveVolumeNorm) return;
  for (std::size_t i = 0; i < count; ++i) {
    const std::int64_t scaled = std::int64_t{samples[i]} * volume / kWaveVolumeNorm;
    samples[i] = static_cast<std::int16_t>(std::clamp<std::int64_t>(scaled, -32768, 32767));
  }
}

// Calls `tick` every kPacingPeriod on its own thread until Stop().
class PacingThread {
 public:
  void Start(std::function<void()> tick) {
    thread_ = std::thread([this, tick = std::move(tick)] {
      auto next = Clock::now();
      std::unique_lock<std::mutex> lock(lock_);
      while (!stop_) {
        next += kPacingPeriod;
        if (wake_.wait_until(lock, next, [this] { return stop_; })) break;
        lock.unlock();
        tick();
        lock.lock();
      }
    });
  }
  // Ends the thread after its current tick; not from the thread itself.
  void Stop() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::mutex lock_;
  std::condition_variable wake_;
  bool stop_ = false;  // guarded by lock_
  std::thread thread_;
};

// Playback into a WAV file (or nowhere), paced from the open on.
class FileWaveOut final : public WaveOutDevice {
 public:
  FileWaveOut(int fd, DoneHandler done, void* context) : fd_(fd), done_(done), context_(context) {}

  ~FileWaveOut() override {
    pacing_.Stop();
    if (fd_ >= 0) ::close(fd_);
  }

  bool Begin() {
    if (fd_ >= 0 && !WriteHeader()) return false;
    start_ = Clock::now();
    pacing_.Start([this] { Tick(); });
    return true;
  }

  void Write(WaveBuffer* buffer) override {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    buffer->position = 0;
    queue_.push_back(buffer);
  }

  void Reset() override {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    queue_.clear();
  }

  // Nothing is held beyond the queued buffers.
  std::uint64_t ServerLatencyUs() override { return 0; }

 private:
  bool WriteHeader() {
    std::uint8_t header[kWavHeaderBytes];
    WriteWavHeader(header, static_cast<std::uint32_t>(std::min<std::uint64_t>(
                               dataBytes_, std::numeric_limits<std::uint32_t>::max() - kWavHeaderBytes)));
    return ::pwrite(fd_, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header);
  }

  // Pacing thread: plays what is due, then appends it to the file with the
  // header's sizes brought up to date, so the file is whole at any moment.
  void Tick() {
    const std::uint64_t due = BytesDue(Clock::now() - start_);
    if (due <= played_) return;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(due - played_), 0);
    Play(out);
    played_ = due;
    if (fd_ < 0 || failed_) return;
    std::vector<std::int16_t> samples(out.size() / 2);
    std::memcpy(samples.data(), out.data(), out.size());
    ApplyLevel(FilePlaybackLevel(), samples.data(), samples.size());
    const off_t at = static_cast<off_t>(kWavHeaderBytes + dataBytes_);
    if (::pwrite(fd_, samples.data(), out.size(), at) != static_cast<ssize_t>(out.size())) {
      logf("sound: writing the playback file failed: %s\n", std::strerror(errno));
      failed_ = true;
      return;
    }
    dataBytes_ += out.size();
    WriteHeader();
  }

  // Fills `out` from the queued buffers in order, reporting each one whose
  // last whole sample went out; what the queue cannot fill stays silence.
  void Play(std::vector<std::uint8_t>& out) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    std::size_t filled = 0;
    // Buffers that carry no whole sample complete without output; a full
    // round of them means the queue cannot make progress now.
    std::size_t emptyCompletions = 0;
    while (filled < out.size() && !queue_.empty() && emptyCompletions <= queue_.size()) {
      WaveBuffer* buffer = queue_.front();
      const std::size_t left = buffer->length > buffer->position ? buffer->length - buffer->position : 0;
      const std::size_t n = std::min(left, out.size() - filled) & ~std::size_t{1};
      if (n > 0) {
        std::memcpy(out.data() + filled, buffer->data + buffer->position, n);
        buffer->position += static_cast<std::uint32_t>(n);
        filled += n;
      }
      if (buffer->length - std::min(buffer->length, buffer->position) < 2) {
        emptyCompletions = n > 0 ? 0 : emptyCompletions + 1;
        queue_.pop_front();
        if (done_) done_(buffer, context_);
      } else if (n == 0) {
        break;
      }
    }
  }

  const int fd_;  // -1: discard
  const DoneHandler done_;
  void* const context_;
  std::recursive_mutex lock_;
  std::deque<WaveBuffer*> queue_;  // guarded by lock_
  // Pacing thread only (start_ is set before the thread starts).
  Clock::time_point start_;
  std::uint64_t played_ = 0;
  std::uint64_t dataBytes_ = 0;
  bool failed_ = false;
  PacingThread pacing_;
};

// Capture from a WAV file's samples (or silence), looping; time passes in
// the file only while capture runs.
class FileWaveIn final : public WaveInDevice {
 public:
  FileWaveIn(std::vector<std::int16_t> samples, DoneHandler done, void* context)
      : samples_(std::move(samples)), done_(done), context_(context) {
    pacing_.Start([this] { Tick(); });
  }

  ~FileWaveIn() override { pacing_.Stop(); }

  bool AddBuffer(WaveBuffer* buffer) override {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    buffer->bytesRecorded = 0;
    buffer->position = 0;
    queue_.push_back(buffer);
    return true;
  }

  bool Start() override {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (capturing_) return true;
    capturing_ = true;
    startedAt_ = Clock::now();
    taken_ = 0;
    return true;
  }

  bool Stop() override {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    capturing_ = false;
    return true;
  }

  bool Reset() override {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    capturing_ = false;
    for (WaveBuffer* buffer : queue_) buffer->bytesRecorded = buffer->position;
    queue_.clear();
    return true;
  }

 private:
  // Pacing thread: captures what is due since Start. Samples due while no
  // buffer is queued are lost, as on a real input.
  void Tick() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!capturing_) return;
    const std::uint64_t due = BytesDue(Clock::now() - startedAt_);
    if (due <= taken_) return;
    std::vector<std::int16_t> block(static_cast<std::size_t>((due - taken_) / 2));
    taken_ = due;
    for (std::int16_t& sample : block) {
      if (samples_.empty()) break;
      sample = samples_[next_];
      next_ = (next_ + 1) % samples_.size();
    }
    ApplyLevel(FileCaptureLevel(), block.data(), block.size());
    FillCaptureBuffers(queue_, reinterpret_cast<const std::uint8_t*>(block.data()), block.size() * 2, done_, context_);
  }

  const std::vector<std::int16_t> samples_;
  const DoneHandler done_;
  void* const context_;
  std::recursive_mutex lock_;
  // Guarded by lock_.
  std::deque<WaveBuffer*> queue_;
  bool capturing_ = false;
  Clock::time_point startedAt_;
  std::uint64_t taken_ = 0;  // bytes captured since startedAt_
  std::size_t next_ = 0;     // next sample of the file
  PacingThread pacing_;      // last: its thread ends before the rest goes
};

// The number of the next playback open, for "%d" in the output name.
std::atomic<int> playbackOpens{0};

std::string OutputName(const char* pattern) {
  std::string name = pattern;
  const auto at = name.find("%d");
  if (at != std::string::npos) name.replace(at, 2, std::to_string(playbackOpens.fetch_add(1) + 1));
  return name;
}

}  // namespace

std::unique_ptr<WaveOutDevice> OpenFileWaveOut(const char* outputPath, WaveOutDevice::DoneHandler done, void* context) {
  int fd = -1;
  if (outputPath != nullptr && outputPath[0] != '\0') {
    const std::string name = OutputName(outputPath);
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      logf("sound: cannot create the playback file %s: %s\n", name.c_str(), std::strerror(errno));
      return nullptr;
    }
  }
  auto device = std::make_unique<FileWaveOut>(fd, done, context);
  if (!device->Begin()) {
    logf("sound: cannot write the playback file's header\n");
    return nullptr;
  }
  return device;
}

std::unique_ptr<WaveInDevice> OpenFileWaveIn(const char* inputPath, WaveInDevice::DoneHandler done, void* context) {
  std::vector<std::int16_t> samples;
  if (inputPath != nullptr && inputPath[0] != '\0') {
    std::string error;
    auto read = ReadWavSamples(inputPath, &error);
    if (!read) {
      logf("sound: the capture file %s %s\n", inputPath, error.c_str());
      return nullptr;
    }
    samples = std::move(*read);
  }
  return std::make_unique<FileWaveIn>(std::move(samples), done, context);
}

FileLineLevel& FilePlaybackLevel() {
  static FileLineLevel level;
  return level;
}

FileLineLevel& FileCaptureLevel() {
  static FileLineLevel level;
  return level;
}

}  // namespace lumvara
