#pragma once
// Waiting for a condition in tests: poll it until it holds or a deadline
// passes, instead of sleeping a fixed time and hoping it has happened.

#include <chrono>
#include <thread>

namespace lumvara::test {

// Polls `condition` every few milliseconds until it holds or `timeout`
// passes; returns whether it held.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace lumvara::test
