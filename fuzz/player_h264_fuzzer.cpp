// The H.264 player's inputNetFrame with frames of every kind, in a headless
// window, sound on the file backend; the fuzzer drives the decode tick and
// the window-side calls.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

#include "fuzz/fuzz_check.h"
#include "fuzz/player_fuzz_input.h"
#include "fuzz/player_fuzz_window.h"
#include "platform/winsys/message_loop.h"
#include "platform/winsys/window.h"
#include "player/net_h264_stream_play.h"

namespace {

using namespace lumvara;

// Waits until the decode thread has answered a tick: it took a frame, or
// found nothing it could take.
bool waitForTick(CNetH264StreamPlay& player, uint32_t takenBefore) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (player.trace().framesTaken == takenBefore && player.getListFrameNum() > 0) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  return true;
}

void call(CNetH264StreamPlay& player, const fuzz::Step& step, winsys::HWND window) {
  const int32_t a = step.argument;
  switch (step.call % 10) {
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
    case 3: {
      // A snapshot buffer exactly as large as the player says it needs.
      int32_t width = 0;
      int32_t height = 0;
      if (player.getPlayPicSize(&width, &height) == 1 && width > 0 && height > 0) {
        const size_t bytes = 54 + static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
        auto buffer = std::make_unique<uint8_t[]>(bytes);
        player.capturePictureBuf(buffer.get());
      }
      break;
    }
    case 4:
      player.adjustViewArea(a & 0xFF, (a >> 8) & 0xFF, (a >> 16) & 0xFF, (a >> 24) & 0xFF);
      break;
    case 5:
      player.renderActualProportion(a & 1);
      break;
    case 6:
      winsys::MoveWindow(window, 0, 0, 1 + (a & 0x1FF), 1 + ((a >> 9) & 0x1FF), true);
      break;
    case 7:
      FUZZ_CHECK(player.getListFrameNum() >= 0);
      break;
    case 8:
      player.openSound();
      break;
    default:
      FUZZ_CHECK(player.closeSound() == 1);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const winsys::HWND window = fuzz::playerFuzzWindow();
  winsys::MoveWindow(window, 0, 0, 320, 180, false);
  CNetH264StreamPlay::Options options;
  options.tickTimer = false;  // the input says when the decode thread runs
  {
    CNetH264StreamPlay player(options);
    player.setPlayWnd(window);
    FUZZ_CHECK(player.startPlay() == 1);
    fuzz::StepReader reader(data, size);
    bool decoding = true;
    for (fuzz::Step step = reader.next(); step.kind != fuzz::Step::Kind::End; step = reader.next()) {
      switch (step.kind) {
        case fuzz::Step::Kind::Frame:
          player.inputNetFrame(step.frame.get(), step.length);
          break;
        case fuzz::Step::Kind::Tick:
          // A picture too large for the buffers ends the decode
          // thread until the next start; ticks then go unanswered.
          if (decoding) {
            const uint32_t taken = player.trace().framesTaken;
            player.tick();
            decoding = waitForTick(player, taken);
          }
          break;
        case fuzz::Step::Kind::Call:
          call(player, step, window);
          if (step.call % 10 == 2) decoding = true;
          break;
        case fuzz::Step::Kind::End:
          break;
      }
    }
    FUZZ_CHECK(player.stopPlay() == 1);
  }
  winsys::PumpMessages(0);
  return 0;
}
