#pragma once
// Test signals for the sound tests and benchmarks.

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace lumvara::test {

// Reproducible test noise in -amplitude..amplitude, never exactly 0.
inline std::vector<std::int16_t> Noise(std::size_t count, int amplitude, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> dist(-amplitude, amplitude);
  std::vector<std::int16_t> out(count);
  for (auto& s : out) {
    const int v = dist(rng);
    s = static_cast<std::int16_t>(v == 0 ? 1 : v);
  }
  return out;
}

}  // namespace lumvara::test
