#include <chrono>

#include "apps/webhost/picture_message.h"

namespace lumvara::webhost {

double PictureClockMillis() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double, std::milli>(now).count();
}

}  // namespace lumvara::webhost
