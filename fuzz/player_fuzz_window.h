#pragma once
// The headless window both player fuzzers draw into, created once per
// process, with sound on the file backend.

#include <stdlib.h>

#include "platform/winsys/window.h"
#include "player/drawing_token.h"

namespace lumvara::fuzz {

inline winsys::HWND playerFuzzWindow() {
  static const winsys::HWND window = [] {
    // Sound goes to the file backend with no file: played at its pace
    // and discarded, so no sound server is needed.
    ::setenv("LUMVARA_AUDIO", "file", 0);
    drawingStartup();
    winsys::WindowDesc desc;
    desc.rect = {0, 0, 320, 180};
    return winsys::CreateWindow(desc);
  }();
  return window;
}

}  // namespace lumvara::fuzz
