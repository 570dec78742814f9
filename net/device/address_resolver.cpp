#include "net/device/address_resolver.h"

#include <chrono>

#include "platform/sockets/socket_ops.h"

namespace lumvara {
namespace {

// A pass repeats every 10 s; the wait ends at once on stop.
constexpr auto kResolvePeriod = std::chrono::seconds(10);
constexpr size_t kMaxDottedText = 15;

}  // namespace

struct AddressResolver::State {
  std::string host;
  HostResolver resolver;

  mutable std::mutex mutex;
  std::condition_variable wake;
  bool stopRequested = false;
  bool finished = false;
  std::string address;
  std::atomic<bool> resolved{false};
};

AddressResolver::AddressResolver(std::string host, HostResolver resolver) : state_(std::make_shared<State>()) {
  state_->host = std::move(host);
  state_->resolver = resolver ? std::move(resolver) : systemHostResolver();
  // Dotted text needs no lookup: usable from the first moment.
  in_addr parsed{};
  if (parseIPv4(state_->host, parsed) && state_->host.size() <= kMaxDottedText) {
    state_->address = state_->host;
    state_->resolved.store(true);
  }
}

AddressResolver::~AddressResolver() { stop(); }

void AddressResolver::start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([state = state_] { run(state); });
}

void AddressResolver::stop(unsigned graceMs) {
  if (!thread_.joinable()) return;
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->stopRequested = true;
  state_->wake.notify_all();
  const bool ended =
      state_->wake.wait_for(lock, std::chrono::milliseconds(graceMs), [this] { return state_->finished; });
  lock.unlock();
  if (ended) {
    thread_.join();
  } else {
    // Still inside a lookup: the thread owns its share of the state and
    // ends on its own once the lookup returns.
    thread_.detach();
  }
}

bool AddressResolver::resolved() const { return state_->resolved.load(); }

std::string AddressResolver::address() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->address;
}

void AddressResolver::run(std::shared_ptr<State> state) {
  for (;;) {
    // Dotted text is taken as it stands; names go to the resolver.
    std::string found;
    const bool ok = resolveHost(state->host, state->resolver, found);

    std::unique_lock<std::mutex> lock(state->mutex);
    if (ok && !found.empty() && found.size() <= kMaxDottedText) {
      // A failed lookup keeps the address an earlier pass produced.
      state->address = found;
      state->resolved.store(true);
    }
    if (!state->wake.wait_for(lock, kResolvePeriod, [&] { return state->stopRequested; })) {
      continue;
    }
    state->finished = true;
    state->wake.notify_all();
    return;
  }
}

}  // namespace lumvara
