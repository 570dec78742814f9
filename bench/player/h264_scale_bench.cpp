// Sixteen H.264 players in one process, each on a headless 640 x 360 window
// and fed its own 25 fps 640 x 360 stream from a thread of its own (as a
// receive thread would). Prints the pictures shown per second for each
// player, whether any queue had to wait for a key frame, the process's CPU
// and the resident memory per player.
//
//   h264_scale_bench [players] [seconds]   (defaults 16, 10)

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "bench/player/h264_player_bench_support.h"
#include "platform/winsys/window.h"
#include "player/net_h264_stream_play.h"

namespace lumvara::bench {
namespace {

using Clock = std::chrono::steady_clock;

int run(int players, int seconds) {
  // Ten seconds of stream, played in a loop; 250 frames hold five whole
  // groups of pictures, so the loop starts again at a key frame.
  const auto frames = patternFrames(250, 640, 360);
  if (frames.size() != 250) {
    std::printf("no H.264 encoder\n");
    return 1;
  }
  const double baseMB = residentMB();

  struct Seat {
    winsys::HWND window = nullptr;
    std::unique_ptr<CNetH264StreamPlay> player;
    std::thread feeder;
  };
  std::vector<Seat> seats(static_cast<size_t>(players));
  for (int i = 0; i < players; ++i) {
    Seat& seat = seats[static_cast<size_t>(i)];
    winsys::WindowDesc desc;
    desc.style = winsys::WS_VISIBLE | winsys::WS_POPUP;
    desc.rect = {0, 0, 640, 360};
    seat.window = winsys::CreateWindow(desc);
    seat.player = std::make_unique<CNetH264StreamPlay>();
    seat.player->setPlayWnd(seat.window);
    seat.player->startPlay();
  }

  std::atomic<bool> feeding{true};
  const auto start = Clock::now();
  for (int i = 0; i < players; ++i) {
    Seat& seat = seats[static_cast<size_t>(i)];
    // Each stream starts a little later than the one before, as
    // cameras would.
    const auto offset = std::chrono::milliseconds(40) * i / players;
    seat.feeder = std::thread([&, offset, player = seat.player.get()] {
      for (uint64_t n = 0; feeding.load(); ++n) {
        std::this_thread::sleep_until(start + offset + std::chrono::milliseconds(40) * n);
        const auto& frame = frames[n % frames.size()];
        player->inputNetFrame(frame.data(), static_cast<uint32_t>(frame.size()));
      }
    });
  }

  // The first two seconds warm up (first key frames, surfaces).
  std::this_thread::sleep_for(std::chrono::seconds(2));
  std::vector<uint32_t> shownBefore;
  for (const Seat& seat : seats) {
    shownBefore.push_back(seat.player->trace().picturesShown);
  }
  const double cpuBefore = cpuSeconds();
  const auto measureStart = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double elapsed = std::chrono::duration<double>(Clock::now() - measureStart).count();
  const double cpu = cpuSeconds() - cpuBefore;
  const double totalMB = residentMB();

  double slowest = 1e9;
  uint32_t waits = 0;
  std::printf("%d players, 640x360 at 25 fps each, %.1f s measured\n", players, elapsed);
  for (size_t i = 0; i < seats.size(); ++i) {
    const H264PlayTrace trace = seats[i].player->trace();
    const double fps = (trace.picturesShown - shownBefore[i]) / elapsed;
    slowest = std::min(slowest, fps);
    waits += trace.keyFrameWaits;
    std::printf("  player %2zu: %.1f fps, key-frame waits %u\n", i, fps, trace.keyFrameWaits);
  }
  std::printf("slowest player %.1f fps (goal >= 24), key-frame waits %u (goal 0)\n", slowest, waits);
  std::printf("CPU %.2f s per s of playing (%.1f %% of one core per player)\n", cpu / elapsed,
              100.0 * cpu / elapsed / players);
  std::printf("resident memory %.1f MB total, %.1f MB before the players, %.1f MB per player (goal <= 30)\n", totalMB,
              baseMB, (totalMB - baseMB) / players);

  feeding.store(false);
  for (Seat& seat : seats) {
    seat.feeder.join();
  }
  for (Seat& seat : seats) {
    seat.player->stopPlay();
    seat.player.reset();
    winsys::DestroyWindow(seat.window);
  }
  return 0;
}

}  // namespace
}  // namespace lumvara::bench

int main(int argc, char** argv) {
  const int players = argc > 1 ? std::atoi(argv[1]) : 16;
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
  return lumvara::bench::run(players, seconds);
}
