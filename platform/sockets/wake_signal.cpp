#include "platform/sockets/wake_signal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

namespace lumvara {

WakeSignal::WakeSignal() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (!fd_.valid()) {
    throw std::runtime_error("eventfd failed");
  }
}

void WakeSignal::set() {
  const uint64_t one = 1;
  // The counter only saturates after 2^64-2 sets; a failed write means it is
  // already readable, which is all a waiter needs.
  [[maybe_unused]] ssize_t written = ::write(fd_.get(), &one, sizeof one);
}

void WakeSignal::reset() {
  uint64_t value = 0;
  [[maybe_unused]] ssize_t got = ::read(fd_.get(), &value, sizeof value);
}

bool WakeSignal::isSet() const {
  pollfd p{fd_.get(), POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

}  // namespace lumvara
