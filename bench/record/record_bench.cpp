// Recording throughput: WriteVideo + WriteAudio for a 4 Mb/s 720p stream
// with audio, against dd's sequential write rate to the same folder in the
// same run. Folder: $LUMVARA_BENCH_DIR, else the temporary folder.
//
// Two comparisons: into the page cache (both writers return when the data
// is handed to the kernel) and to the disk (both end with fdatasync).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "record/avi_recorder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFps = 25;
constexpr int kGop = 25;
constexpr size_t kBitsPerSecond = 4'000'000;
constexpr int kStreamSeconds = 60;  // 1500 frames, about 30 MB of video
constexpr size_t kKeyFrameBytes = 100'000;
// The other 24 frames of a second share what is left of 500000 bytes.
constexpr size_t kOtherFrameBytes = (kBitsPerSecond / 8 - kKeyFrameBytes) / (kGop - 1);

std::string BenchFolder() {
  const char* env = std::getenv("LUMVARA_BENCH_DIR");
  return env && *env ? env : fs::temp_directory_path().string();
}

struct Stream {
  std::vector<uint8_t> keyFrame = std::vector<uint8_t>(kKeyFrameBytes, 0x5A);
  std::vector<uint8_t> otherFrame = std::vector<uint8_t>(kOtherFrameBytes, 0x3C);
  std::vector<int16_t> audio = std::vector<int16_t>(1024, 1000);
};

// Records kStreamSeconds of stream into a folder under base; returns
// the seconds taken and the bytes written (video, audio, and the file).
struct RunResult {
  double seconds = 0;
  uint64_t fileBytes = 0;
};

RunResult RecordOnce(const std::string& base, bool syncToDisk) {
  static const Stream stream;
  // The day folder stays between runs, as it does while a camera records
  // all day; each run writes and then removes one file.
  const fs::path root = fs::path(base) / "lumvara-record-bench";
  std::atomic<uint32_t> tick{0};
  lumvara::RecorderEnvironment env;
  env.clock.tickMs = [&tick] { return tick.load(std::memory_order_relaxed); };
  env.clock.localTime = [] { return lumvara::RecordLocalTime{2026, 12, 10, 12, 0, 0, 0}; };
  env.freeSpace = [](const std::string&) -> std::optional<uint64_t> { return 1ull << 40; };
  lumvara::CAviRecorder recorder(env);
  LocalRecordRequest request;
  std::memset(&request, 0, sizeof request);
  std::snprintf(request.rootPath, sizeof request.rootPath, "%s", root.c_str());
  std::snprintf(request.cameraName, sizeof request.cameraName, "bench");
  request.fileSizeMB = 1000;
  request.fileMinutes = 60;

  const auto begin = Clock::now();
  if (!recorder.Start(request, 720, 1280, lumvara::CAviRecorder::kCodecH264)) std::abort();
  const std::string path = recorder.FilePath();
  // Audio: 8000 samples per second in blocks of 1024, interleaved by time.
  int64_t audioSamplesDue = 0;
  int64_t audioSamplesWritten = 0;
  for (int frame = 0; frame < kStreamSeconds * kFps; ++frame) {
    const auto& payload = frame % kGop == 0 ? stream.keyFrame : stream.otherFrame;
    if (!recorder.WriteVideo(payload.data(), uint32_t(payload.size()))) std::abort();
    tick += 1000 / kFps;
    audioSamplesDue = int64_t(frame + 1) * 8000 / kFps;
    while (audioSamplesWritten + 1024 <= audioSamplesDue) {
      if (!recorder.WriteAudio(stream.audio.data())) std::abort();
      audioSamplesWritten += 1024;
    }
  }
  recorder.Stop();
  if (syncToDisk) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    ::fdatasync(fd);
    ::close(fd);
  }
  RunResult result;
  result.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  result.fileBytes = fs::file_size(path);
  fs::remove(path);
  return result;
}

// dd writing the same number of bytes, 1 MiB blocks.
double DdOnce(const std::string& base, uint64_t bytes, bool syncToDisk) {
  const fs::path target = fs::path(base) / "lumvara-record-bench-dd.bin";
  const std::string command = "dd if=/dev/zero of='" + target.string() +
                              "' bs=1M count=" + std::to_string((bytes + (1 << 20) - 1) >> 20) +
                              (syncToDisk ? " conv=fdatasync" : "") + " status=none";
  const auto begin = Clock::now();
  if (std::system(command.c_str()) != 0) std::abort();
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  fs::remove(target);
  return seconds;
}

void BM_RecordStream720p4Mbps(benchmark::State& state) {
  const std::string base = BenchFolder();
  for (auto _ : state) {
    const RunResult r = RecordOnce(base, false);
    state.SetIterationTime(r.seconds);
    state.SetBytesProcessed(state.bytes_processed() + int64_t(r.fileBytes));
  }
  state.counters["stream_s_per_s"] =
      benchmark::Counter(double(kStreamSeconds) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RecordStream720p4Mbps)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Recorder and dd alternately, five rounds each, medians compared.
void CompareWithDd(bool syncToDisk) {
  const std::string base = BenchFolder();
  std::vector<double> recorderRates, ddRates;
  for (int round = 0; round < 5; ++round) {
    const RunResult r = RecordOnce(base, syncToDisk);
    const double mb = double(r.fileBytes) / 1e6;
    recorderRates.push_back(mb / r.seconds);
    ddRates.push_back(double((r.fileBytes + (1 << 20) - 1) >> 20 << 20) / 1e6 / DdOnce(base, r.fileBytes, syncToDisk));
  }
  const double recorder = Median(recorderRates);
  const double dd = Median(ddRates);
  std::printf("%-11s recorder %8.1f MB/s   dd %8.1f MB/s   ratio %.2f   (%s, %d s of 4 Mb/s 720p + audio per run)\n",
              syncToDisk ? "to disk:" : "page cache:", recorder, dd, recorder / dd, base.c_str(), kStreamSeconds);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  CompareWithDd(false);
  CompareWithDd(true);
  fs::remove_all(fs::path(BenchFolder()) / "lumvara-record-bench");
  return 0;
}
