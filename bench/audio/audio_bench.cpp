// Figures for the sound path:
//   - ADPCM encode of a talk block and decode of a camera frame, A-law
//     expansion of a camera frame;
//   - playback latency: from CWaveOut::QueueData to the first sample seen
//     on the default output's monitor (needs a sound server; skipped
//     otherwise). The figure includes the monitor's own ~20 ms fragment.
#include "audio/adpcm.h"
#include "audio/g711.h"
#include "audio/wave_out.h"
#include "pulse_test_support.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using lumvara::AdpcmState;

void BM_AdpcmEncodeTalkBlock(benchmark::State& state) {
  const auto pcm = lumvara::test::Noise(512, 8000, 1);
  std::uint8_t out[256];
  AdpcmState s{};
  for (auto _ : state) {
    lumvara::AdpcmEncodeBlock(&s, pcm.data(), 1024, out);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_AdpcmEncodeTalkBlock);

void BM_AdpcmDecodeCameraFrame(benchmark::State& state) {
  std::vector<std::uint8_t> frame(512);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i * 131);
  std::int16_t out[1024];
  AdpcmState s{};
  for (auto _ : state) {
    lumvara::AdpcmDecodeBlock(&s, frame.data(), 512, out);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(state.iterations() * 512);
}
BENCHMARK(BM_AdpcmDecodeCameraFrame);

void BM_AlawExpandCameraFrame(benchmark::State& state) {
  std::vector<std::uint8_t> frame(960);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i * 37);
  std::int16_t out[960];
  for (auto _ : state) {
    lumvara::AlawExpandBlock(frame.data(), frame.size(), out);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(state.iterations() * 960);
}
BENCHMARK(BM_AlawExpandCameraFrame);

// Time from queueing a loud chunk (after silence has run for a while) to
// its first sample on the monitor.
void BM_PlaybackLatency(benchmark::State& state) {
  lumvara::test::SourceRecorder recorder("@DEFAULT_MONITOR@");
  lumvara::CWaveOut out;
  if (!recorder.ok() || out.Open() != 1) {
    state.SkipWithError("no sound server");
    return;
  }
  const auto chunk = lumvara::test::Noise(1024, 10000, 3);
  double reported = 0;
  for (auto _ : state) {
    std::this_thread::sleep_for(1500ms);  // queue empty: silence rotates
    const std::size_t from = recorder.Samples().size();
    const auto queued = std::chrono::steady_clock::now();
    out.QueueData(2048, reinterpret_cast<const std::uint8_t*>(chunk.data()));
    reported = static_cast<double>(out.OutputLatencyUs()) / 1000.0;
    while (lumvara::test::FirstLoud(recorder.Samples(), 500, from) < 0) {
      std::this_thread::sleep_for(1ms);
      if (std::chrono::steady_clock::now() - queued > 5s) {
        state.SkipWithError("chunk never heard");
        return;
      }
    }
    const std::chrono::duration<double> heard = std::chrono::steady_clock::now() - queued;
    state.SetIterationTime(heard.count());
  }
  state.counters["reported_ms"] = reported;
}
BENCHMARK(BM_PlaybackLatency)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
