#pragma once
// Helpers shared by the device tests: connection records for loopback
// cameras, an event recorder, and a resolver that never answers.

#include <lumvara/device.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/transport/host_resolver.h"
#include "tests/wait_until.h"

namespace lumvara::test {

inline DeviceConnectInfo connectInfo(uint16_t port, const char* host = "127.0.0.1", const char* user = "admin",
                                     const char* pwd = "secret") {
  DeviceConnectInfo info{};
  std::strncpy(info.user, user, sizeof info.user - 1);
  std::strncpy(info.pwd, pwd, sizeof info.pwd - 1);
  std::strncpy(info.host, host, sizeof info.host - 1);
  info.port = port;
  return info;
}

// Collects values from callbacks on any thread and lets the test wait for them.
template <typename T>
class Recorder {
 public:
  void add(T value) {
    std::lock_guard<std::mutex> guard(lock_);
    values_.push_back(std::move(value));
    changed_.notify_all();
  }
  std::vector<T> values() const {
    std::lock_guard<std::mutex> guard(lock_);
    return values_;
  }
  size_t size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return values_.size();
  }
  bool waitForCount(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, timeout, [&] { return values_.size() >= count; });
  }

 private:
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::vector<T> values_;
};

inline int recordEvent(int event, void* context) {
  static_cast<Recorder<int>*>(context)->add(event);
  return 0;
}

// A name lookup that blocks until release(), as a lookup of a name whose
// server never answers does. Nothing reaches DNS.
class BlockingResolver {
 public:
  HostResolver resolver() {
    auto state = state_;
    return [state](const std::string&, std::string&) {
      std::unique_lock<std::mutex> lock(state->lock);
      state->entered = true;
      state->changed.notify_all();
      state->changed.wait(lock, [&] { return state->released; });
      return false;
    };
  }
  bool waitEntered(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(state_->lock);
    return state_->changed.wait_for(lock, timeout, [&] { return state_->entered; });
  }
  void release() {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->released = true;
    state_->changed.notify_all();
  }
  ~BlockingResolver() { release(); }

 private:
  struct State {
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

inline long long elapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace lumvara::test
