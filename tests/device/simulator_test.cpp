// A device against the camera simulator: the whole road from the exported
// calls to a camera that generates real H.264, keeps settings and plays
// recordings from its SD card.

#include <gtest/gtest.h>
#include <lumvara/device.h>

#include <cstring>
#include <ctime>
#include <string>

#include "apps/camsim/camera_simulator.h"
#include "device_test_support.h"

namespace lumvara::test {
namespace {

using namespace std::chrono_literals;

struct Captured {
  std::mutex lock;
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> kinds;
};

int captureFrame(const unsigned char* frame, int length, void* context) {
  auto* captured = static_cast<Captured*>(context);
  std::lock_guard<std::mutex> guard(captured->lock);
  captured->bytes.insert(captured->bytes.end(), frame, frame + length);
  captured->kinds.push_back(frame[4]);
  return 0;
}

class SimulatedCamera : public ::testing::Test {
 protected:
  void SetUp() override {
    camsim::SimulatorOptions options;
    options.pwd = "secret";
    simulator_ = std::make_unique<camsim::CameraSimulator>(options);
    ASSERT_TRUE(simulator_->start()) << simulator_->lastError();
    device_ = device_net_work_createInstance(connectInfo(simulator_->port()));
    ASSERT_NE(device_, nullptr);
  }
  void TearDown() override {
    device_net_work_destroyInstance(device_);
    simulator_->stop();
  }

  std::unique_ptr<camsim::CameraSimulator> simulator_;
  void* device_ = nullptr;
};

TEST_F(SimulatedCamera, LiveVideoStartsWithAKeyFrameAndStopsCleanly) {
  Recorder<int> events;
  Captured captured;
  device_net_work_set_event_callback(device_, recordEvent, &events);
  ASSERT_EQ(device_net_work_startStream(device_, 10, captureFrame, &captured), 1);
  ASSERT_TRUE(events.waitForCount(2, 3s));
  EXPECT_EQ(events.values(), (std::vector<int>{0, 100}));
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(captured.lock);
      if (captured.kinds.size() >= 10) break;
    }
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "video does not flow";
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(device_net_work_stopStream(device_), 1);

  std::lock_guard<std::mutex> guard(captured.lock);
  const size_t delivered = captured.kinds.size();
  EXPECT_EQ(captured.kinds[0], LUMVARA_FRAME_KIND_H264_KEY);
  for (uint8_t kind : captured.kinds) EXPECT_LE(kind, 1) << "only video reaches the callback";
  StreamFrameHeader header;
  std::memcpy(&header, captured.bytes.data(), sizeof header);
  EXPECT_EQ(header.magic, LUMVARA_FRAME_MAGIC);
  captured.lock.unlock();
  std::this_thread::sleep_for(200ms);
  captured.lock.lock();
  EXPECT_EQ(captured.kinds.size(), delivered) << "nothing after stopStream";
}

TEST_F(SimulatedCamera, SettingsRoundTripAndAcceptedNetworkSettingReboots) {
  Recorder<int> reports;
  device_net_work_param_callback(
      device_,
      [](int code, const void* record, int size, void* context) {
        if (code == LUMVARA_CMD_GET_NETWORK && size == sizeof(NetworkParams)) {
          NetworkParams network;
          std::memcpy(&network, record, sizeof network);
          static_cast<Recorder<int>*>(context)->add(network.port);
        }
        return 0;
      },
      nullptr, &reports);
  char alias[64] = "Back yard";
  device_net_work_set_network(device_, LUMVARA_CMD_SET_ALIAS, alias, sizeof alias);
  device_net_work_get_network(device_, LUMVARA_CMD_GET_NETWORK);
  ASSERT_TRUE(reports.waitForCount(1, 5s));
  EXPECT_EQ(reports.values()[0], std::stoi(simulator_->param("port")));
  EXPECT_EQ(simulator_->param("alias"), "Back yard");

  NetworkParams network{};
  std::strcpy(network.ip, "127.0.0.1");
  std::strcpy(network.mask, "255.0.0.0");
  network.port = reports.values()[0];
  device_net_work_set_network(device_, LUMVARA_CMD_SET_NETWORK, reinterpret_cast<const char*>(&network),
                              sizeof network);
  ASSERT_TRUE(simulator_->waitForRequest("reboot.cgi", 5s));
  EXPECT_EQ(simulator_->param("mask"), "255.0.0.0");
}

TEST_F(SimulatedCamera, RecordListAndPlaybackFromAnOffsetAreByteExact) {
  const std::time_t start = 1765281600;  // 2025-12-09 12:00 UTC
  simulator_->setRecordings({{"20251209120000_010.h264", start, 30}, {"20251209130000_010.h264", start + 3600, 10}});
  // The camera builds a recording's bytes when first asked; do it now so
  // that its list answer comes without a pause.
  const std::vector<uint8_t> recording = simulator_->recordingBytes("20251209120000_010.h264");
  simulator_->recordingBytes("20251209130000_010.h264");
  Recorder<std::string> names;
  std::tm from{};
  const std::time_t before = start - 86400;
  localtime_r(&before, &from);
  device_record_file_search_list(
      device_, from.tm_year + 1900, from.tm_mon + 1, from.tm_mday, from.tm_hour, from.tm_min, from.tm_sec, 2037, 12, 31,
      23, 59, 59,
      [](const char* name, const char*, int, void* context) {
        static_cast<Recorder<std::string>*>(context)->add(name);
        return 0;
      },
      &names);
  ASSERT_TRUE(names.waitForCount(2, 5s));
  EXPECT_EQ(names.values(), (std::vector<std::string>{"20251209120000_010.h264", "20251209130000_010.h264"}));

  StreamFrameHeader first;
  std::memcpy(&first, recording.data(), sizeof first);
  const size_t offset = sizeof first + first.length;  // the second frame onwards
  Captured captured;
  auto waitForBytes = [&](size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
      {
        std::lock_guard<std::mutex> guard(captured.lock);
        if (captured.bytes.size() >= count) return true;
      }
      std::this_thread::sleep_for(20ms);
    }
    return false;
  };
  // The whole recording first, then again from the offset.
  ASSERT_EQ(device_record_file_start(device_, "20251209120000_010.h264", captureFrame, &captured), 1);
  ASSERT_TRUE(waitForBytes(recording.size()));
  ASSERT_EQ(device_record_file_set_pos(device_, static_cast<int>(offset)), 1);
  const size_t total = recording.size() + (recording.size() - offset);
  ASSERT_TRUE(waitForBytes(total));
  device_record_file_stop(device_);

  std::lock_guard<std::mutex> guard(captured.lock);
  ASSERT_EQ(captured.bytes.size(), total);
  const auto fromOffset = captured.bytes.begin() + static_cast<long>(recording.size());
  EXPECT_TRUE(std::equal(recording.begin(), recording.end(), captured.bytes.begin()));
  EXPECT_TRUE(std::equal(recording.begin() + static_cast<long>(offset), recording.end(), fromOffset));
}

TEST_F(SimulatedCamera, CameraAudioAndTalkFrames) {
  Captured audio;
  ASSERT_EQ(device_net_work_startAudio(device_, 2, captureFrame, &audio), 1);
  Recorder<int> events;
  Captured video;
  device_net_work_set_event_callback(device_, recordEvent, &events);
  device_net_work_startStream(device_, 10, captureFrame, &video);
  ASSERT_TRUE(events.waitForCount(2, 3s));
  // Talk once the camera is streaming: it reads talk between video frames,
  // not while it is still taking in the request.
  for (int i = 0; i < 500; ++i) {
    {
      std::lock_guard<std::mutex> guard(video.lock);
      if (!video.kinds.empty()) break;
    }
    std::this_thread::sleep_for(10ms);
  }
  char block[256] = {};
  for (int i = 0; i < 3; ++i) device_net_work_sendTalkData(device_, block, sizeof block);
  // The camera takes talk in between its video frames.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < deadline) {
    const auto sessions = simulator_->talkSessions();
    if (!sessions.empty() && sessions[0].seqs.size() >= 3) break;
    std::this_thread::sleep_for(20ms);
  }
  device_net_work_stopAudio(device_);
  device_net_work_stopStream(device_);

  {
    std::lock_guard<std::mutex> guard(audio.lock);
    ASSERT_FALSE(audio.kinds.empty());
    EXPECT_EQ(audio.kinds[0], LUMVARA_FRAME_KIND_ALAW);
    EXPECT_EQ(audio.bytes.size(), audio.kinds.size() * (32 + 960));
  }
  const auto sessions = simulator_->talkSessions();
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0].seqs, (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_EQ(sessions[0].lengths, (std::vector<uint32_t>{256, 256, 256}));
}

}  // namespace
}  // namespace lumvara::test
