// The MJPEG player's inputNetFrame with frames of every kind, in a headless
// window, sound on the file backend; the fuzzer drives the render tick and
// the window-side calls.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "fuzz/fuzz_check.h"
#include "fuzz/player_fuzz_input.h"
#include "fuzz/player_fuzz_window.h"
#include "platform/winsys/message_loop.h"
#include "platform/winsys/window.h"
#include "player/net_jpeg_stream_play.h"

namespace {

using namespace lumvara;

// Waits until the render thread has served one more tick.
void waitForTick(CNetJpegStreamPlay& player, uint64_t ticksBefore) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (player.counters().ticks == ticksBefore) {
    FUZZ_CHECK(std::chrono::steady_clock::now() < deadline);
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const winsys::HWND window = fuzz::playerFuzzWindow();
  winsys::MoveWindow(window, 0, 0, 320, 180, false);
  JpegPlayerOptions options;
  options.tickMs = 0;  // the input says when the render thread runs
  {
    CNetJpegStreamPlay player(options);
    player.setPlayWnd(window);
    FUZZ_CHECK(player.startPlay() == 1);
    fuzz::StepReader reader(data, size);
    for (fuzz::Step step = reader.next(); step.kind != fuzz::Step::Kind::End; step = reader.next()) {
      switch (step.kind) {
        case fuzz::Step::Kind::Frame:
          player.inputNetFrame(step.frame.get(), step.length);
          FUZZ_CHECK(player.queuedFrames() <= CNetJpegStreamPlay::kMaxQueuedFrames);
          break;
        case fuzz::Step::Kind::Tick: {
          const uint64_t ticks = player.counters().ticks;
          player.tick();
          waitForTick(player, ticks);
          break;
        }
        case fuzz::Step::Kind::Call: {
          const int32_t a = step.argument;
          switch (step.call % 6) {
            case 0:
              player.setRenderEffect(a & 7);
              break;
            case 1:
              player.refreshLastPicture();
              break;
            case 2:
              FUZZ_CHECK(player.stopPlay() == 1);
              FUZZ_CHECK(player.startPlay() == 1);
              break;
            case 3:
              winsys::MoveWindow(window, 0, 0, 1 + (a & 0x1FF), 1 + ((a >> 9) & 0x1FF), true);
              break;
            case 4:
              FUZZ_CHECK(player.openSound() == 1);
              break;
            default:
              player.closeSound();
              break;
          }
          break;
        }
        case fuzz::Step::Kind::End:
          break;
      }
    }
    FUZZ_CHECK(player.stopPlay() == 1);
  }
  winsys::PumpMessages(0);
  return 0;
}
