#pragma once
// A stop request that a blocking wait can watch: an eventfd that the
// socket waits of this layer poll next to the socket. set() wakes every such
// wait at once, from any thread; it stays set until reset().

#include "platform/sockets/unique_fd.h"

namespace lumvara {

class WakeSignal {
 public:
  WakeSignal();
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;

  void set();    // any thread
  void reset();  // any thread; drains the counter
  bool isSet() const;

  // The descriptor to pass as `wakeFd` to the waits below.
  int fd() const { return fd_.get(); }

 private:
  UniqueFd fd_;
};

}  // namespace lumvara
