#pragma once
// The device's address resolver: turns the camera's host text into a dotted
// IPv4 address, again every 10 seconds for the device's whole life, so that
// a camera whose name starts resolving later is still reached.
//
// A name lookup can block for a long time and cannot be interrupted. The
// resolver thread therefore holds only shared state, never the device:
// stop() waits briefly for it and then lets it go. A lookup that finishes
// after that stores its result into the shared state nobody reads any more.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net/transport/host_resolver.h"

namespace lumvara {

class AddressResolver {
 public:
  // `resolver` null: the system lookup. Tests inject one so that no name
  // ever reaches DNS.
  AddressResolver(std::string host, HostResolver resolver);
  ~AddressResolver();
  AddressResolver(const AddressResolver&) = delete;
  AddressResolver& operator=(const AddressResolver&) = delete;

  // Starts the resolver thread.
  void start();
  // Asks the thread to end and waits at most `graceMs` for it; a thread
  // still inside a lookup after that is abandoned. Idempotent.
  void stop(unsigned graceMs = 100);

  // Set once an address has been produced; stays set afterwards.
  bool resolved() const;
  // The last address produced, or empty text.
  std::string address() const;

 private:
  struct State;
  static void run(std::shared_ptr<State> state);

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace lumvara
