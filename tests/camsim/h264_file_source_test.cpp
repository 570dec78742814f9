#include "apps/camsim/h264_file_source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "apps/camsim/camera_simulator.h"
#include "apps/camsim/stream_frame.h"
#include "camsim/raw_client.h"

namespace {

using namespace std::chrono_literals;
using namespace lumvara::camsim;

std::vector<uint8_t> Concatenate(const std::vector<AccessUnit>& units) {
  std::vector<uint8_t> stream;
  for (const AccessUnit& unit : units) stream.insert(stream.end(), unit.bytes.begin(), unit.bytes.end());
  return stream;
}

TEST(H264FileSource, SplitsAnEncodedStreamBackIntoItsAccessUnits) {
  const auto units = H264TestPattern::encodeFrames(60, 320, 192, 25);
  ASSERT_EQ(units.size(), 60u);
  const auto split = SplitAccessUnits(Concatenate(units));
  ASSERT_EQ(split.size(), units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    EXPECT_EQ(split[i].key, i % 25 == 0) << i;
    EXPECT_TRUE(split[i].bytes == units[i].bytes) << i;
  }
}

TEST(H264FileSource, UnitsWithoutPicturesAreNotUnits) {
  const std::vector<uint8_t> sps_pps = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x68, 0xCE};
  // Two slices of one picture (the second starts at a later macroblock),
  // then a new picture with a three-byte start code.
  const std::vector<uint8_t> two_slices = {0, 0,    0,    1,    0x65, 0x88, 0x11, 0,    0,    0,
                                           1, 0x65, 0x40, 0x22, 0,    0,    1,    0x41, 0x9A, 0x33};
  struct Case {
    const char* name;
    std::vector<uint8_t> stream;
    std::vector<bool> keys;
  };
  std::vector<uint8_t> with_headers = sps_pps;
  with_headers.insert(with_headers.end(), two_slices.begin(), two_slices.end());
  const Case cases[] = {
      {"empty", {}, {}},
      {"no start code", {1, 2, 3, 4}, {}},
      {"parameter sets only", sps_pps, {}},
      {"two slices then a picture", with_headers, {true, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto units = SplitAccessUnits(c.stream);
    ASSERT_EQ(units.size(), c.keys.size());
    for (size_t i = 0; i < units.size(); ++i) EXPECT_EQ(units[i].key, c.keys[i]);
  }
}

class LiveFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = std::filesystem::temp_directory_path() / ("camsim-live-" + std::to_string(::getpid()) + ".h264");
  }
  void TearDown() override { std::filesystem::remove(path_); }
  std::filesystem::path path_;
};

TEST_F(LiveFile, LiveStreamPlaysTheFileInALoop) {
  const auto units = H264TestPattern::encodeFrames(6, 320, 192, 3);
  const auto stream = Concatenate(units);
  std::ofstream(path_, std::ios::binary)
      .write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
  SimulatorOptions options;
  options.live_file = path_.string();
  options.fps = 50;
  CameraSimulator simulator(options);
  ASSERT_TRUE(simulator.start()) << simulator.lastError();
  camsim_test::RawClient client;
  ASSERT_TRUE(client.connect(simulator.port()));
  ASSERT_TRUE(client.request("/livestream.cgi?user=admin&pwd=&streamid=10&audio=0&filename="));
  for (size_t i = 0; i < units.size() + 3; ++i) {
    const auto frame = client.readFrame();
    ASSERT_TRUE(frame.has_value());
    const AccessUnit& expected = units[i % units.size()];
    EXPECT_EQ(readFrameHeader(frame->data()).kind, expected.key ? kKindH264Key : kKindH264Other);
    EXPECT_TRUE(std::vector<uint8_t>(frame->begin() + kFrameHeaderSize, frame->end()) == expected.bytes) << i;
  }
}

TEST_F(LiveFile, MissingFileStopsTheStart) {
  SimulatorOptions options;
  options.live_file = (path_.string() + ".missing");
  CameraSimulator simulator(options);
  EXPECT_FALSE(simulator.start());
  EXPECT_NE(simulator.lastError().find(".missing"), std::string::npos);
}

}  // namespace
