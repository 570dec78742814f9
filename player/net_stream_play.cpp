#include "player/net_stream_play.h"

#include <chrono>

namespace lumvara {

CNetStreamPlay::~CNetStreamPlay() = default;

double FrameInputClockMillis() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double, std::milli>(now).count();
}

}  // namespace lumvara
