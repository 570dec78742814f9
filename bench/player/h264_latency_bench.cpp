// Display latency of the H.264 player: from inputNetFrame to the moment that
// frame's picture has been presented into a headless window, for a 25 fps
// stream. Prints the median, p90 and p99 per picture size.
//
//   h264_latency_bench [seconds]   (default 12)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "bench/player/h264_player_bench_support.h"
#include "platform/winsys/window.h"
#include "player/net_h264_stream_play.h"

namespace lumvara::bench {
namespace {

using Clock = std::chrono::steady_clock;

void measure(int width, int height, int seconds) {
  const uint32_t count = static_cast<uint32_t>(seconds * 25);
  const auto frames = patternFrames(count, width, height);
  if (frames.size() != count) {
    std::printf("no H.264 encoder\n");
    return;
  }
  winsys::WindowDesc desc;
  desc.style = winsys::WS_VISIBLE | winsys::WS_POPUP;
  desc.rect = {0, 0, width, height};
  winsys::HWND window = winsys::CreateWindow(desc);
  CNetH264StreamPlay player;
  player.setPlayWnd(window);
  player.startPlay();

  std::vector<Clock::time_point> given(count);
  std::vector<double> latencies;
  std::atomic<bool> feeding{true};
  // Watches for each presented picture and notes when it appeared.
  std::thread watcher([&] {
    uint32_t shown = 0;
    while (feeding.load() || player.getListFrameNum() > 0) {
      const H264PlayTrace trace = player.trace();
      if (trace.picturesShown != shown) {
        shown = trace.picturesShown;
        const auto now = Clock::now();
        const uint32_t index = trace.lastShownTime;
        if (index < count) {
          latencies.push_back(std::chrono::duration<double, std::milli>(now - given[index]).count());
        }
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  const auto start = Clock::now();
  for (uint32_t i = 0; i < count; ++i) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(40) * i);
    given[i] = Clock::now();
    player.inputNetFrame(frames[i].data(), static_cast<uint32_t>(frames[i].size()));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  feeding.store(false);
  watcher.join();
  const H264PlayTrace trace = player.trace();
  player.stopPlay();
  winsys::DestroyWindow(window);

  std::printf("%dx%d at 25 fps, %u frames given, %u shown, key-frame waits %u\n", width, height, count,
              trace.picturesShown, trace.keyFrameWaits);
  std::printf("  display latency ms: median %.1f  p90 %.1f  p99 %.1f  max %.1f  (goals: median <= 35, p99 <= 70)\n",
              percentile(latencies, 0.5), percentile(latencies, 0.9), percentile(latencies, 0.99),
              percentile(latencies, 1.0));
}

}  // namespace
}  // namespace lumvara::bench

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 12;
  lumvara::bench::measure(640, 360, seconds);
  lumvara::bench::measure(1280, 720, seconds);
  return 0;
}
