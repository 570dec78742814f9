// A control and a camera simulator on loopback, for live-view tests.
#pragma once

#include <chrono>
#include <memory>
#include <set>

#include "apps/camsim/camera_simulator.h"
#include "control/control_fixture.h"

namespace control_test {

using namespace std::chrono_literals;
using lumvara::camsim::CameraSimulator;
using lumvara::camsim::SimulatorOptions;

inline constexpr char kUser[] = "admin";
inline constexpr char kPwd[] = "secret";

// The video area: the window less the one-pixel focus frame.
inline constexpr int kAreaLeft = 1;
inline constexpr int kAreaTop = 1;
inline constexpr int kAreaRight = kWindowWidth - 1;
inline constexpr int kAreaBottom = kWindowHeight - 1;

struct Region {
  int left, top, right, bottom;
};

class LiveControlTest : public ControlTest {
 protected:
  void BeforeCreate() override {
    SimulatorOptions options;
    options.user = kUser;
    options.pwd = kPwd;
    options.zone = -8;
    Configure(options);
    simulator_ = std::make_unique<CameraSimulator>(options);
    ASSERT_TRUE(simulator_->start()) << simulator_->lastError();
  }
  void TearDown() override {
    ControlTest::TearDown();
    simulator_.reset();
  }
  virtual void Configure(SimulatorOptions&) {}

  int32_t Play(const char* pwd = kPwd) {
    return Call("PlayVideo", {kUser, pwd, "127.0.0.1", static_cast<int>(simulator_->port()), 10, 0});
  }

  // How many distinct colours the region shows now.
  size_t Colours(const Region& r) {
    int w = 0;
    int h = 0;
    const auto pixels = Pixels(top_, &w, &h);
    std::set<uint32_t> colours;
    for (int y = r.top; y < r.bottom; y += 2) {
      for (int x = r.left; x < r.right; x += 2) colours.insert(Pixel(pixels, w, x, y));
    }
    return colours.size();
  }
  // Pixels of the region that match `predicate`.
  template <typename Predicate>
  int Count(const Region& r, Predicate predicate) {
    int w = 0;
    int h = 0;
    const auto pixels = Pixels(top_, &w, &h);
    int count = 0;
    for (int y = r.top; y < r.bottom; ++y) {
      for (int x = r.left; x < r.right; ++x) count += predicate(Pixel(pixels, w, x, y)) ? 1 : 0;
    }
    return count;
  }
  static bool StrongRed(uint32_t rgb) {
    return (rgb >> 16 & 0xFF) > 180 && (rgb >> 8 & 0xFF) < 80 && (rgb & 0xFF) < 80;
  }

  bool WaitForPictures() {
    const Region area{kAreaLeft, kAreaTop, kAreaRight, kAreaBottom};
    return PumpUntil([&] { return Colours(area) > 50; }, 10s);
  }

  std::unique_ptr<CameraSimulator> simulator_;
};

}  // namespace control_test
