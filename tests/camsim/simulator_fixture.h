// A simulator on an ephemeral loopback port, started for one test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "apps/camsim/camera_simulator.h"
#include "camsim/raw_client.h"

namespace camsim_test {

inline constexpr char kUser[] = "admin";
inline constexpr char kPwd[] = "secret";

inline std::string LiveTarget(const std::string& user = kUser, const std::string& pwd = kPwd, int streamid = 10) {
  return "/livestream.cgi?user=" + user + "&pwd=" + pwd + "&streamid=" + std::to_string(streamid) +
         "&audio=0&filename=";
}

inline std::string Command(const std::string& cgi, const std::string& query = "") {
  return cgi + "?loginuse=" + kUser + "&loginpas=" + kPwd + query;
}

class SimulatorTest : public ::testing::Test {
 protected:
  void startWith(lumvara::camsim::SimulatorOptions options) {
    options.user = kUser;
    options.pwd = kPwd;
    if (!options.zone) options.zone = -8;
    simulator_ = std::make_unique<lumvara::camsim::CameraSimulator>(options);
    ASSERT_TRUE(simulator_->start()) << simulator_->lastError();
    ASSERT_NE(simulator_->port(), 0);
  }
  void SetUp() override { startWith({}); }

  lumvara::camsim::CameraSimulator& sim() { return *simulator_; }
  uint16_t port() { return simulator_->port(); }

  std::unique_ptr<lumvara::camsim::CameraSimulator> simulator_;
};

}  // namespace camsim_test
