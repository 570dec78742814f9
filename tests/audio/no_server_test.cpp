// Sound calls with no sound server reachable (PULSE_SERVER names a socket
// that does not exist): every open fails at once and quietly, and the
// calls report their failure values.
#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "platform/mixer/mixer_device.h"
#include "platform/wave/wave_in_device.h"
#include "platform/wave/pulse_connection.h"
#include "platform/wave/wave_out_device.h"

#include <lumvara/audio.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <vector>

namespace lumvara {
namespace {

int NeverCalled(const unsigned char*, int, void*) {
  ADD_FAILURE() << "talk callback called without a server";
  return 1;
}

TEST(NoSoundServer, EnvironmentPointsNowhere) {
  const char* server = std::getenv("PULSE_SERVER");
  ASSERT_NE(server, nullptr);
  EXPECT_NE(std::string(server).find("nonexistent"), std::string::npos);
}

TEST(NoSoundServer, DevicesFailToOpenQuickly) {
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(WaveOutDevice::Open(nullptr, nullptr), nullptr);
  EXPECT_EQ(WaveInDevice::Open(nullptr, nullptr), nullptr);
  EXPECT_EQ(MixerDevice::Open(), nullptr);
  // Far below the connect deadline: a missing socket is refused at once.
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(PulseConnection::kConnectTimeoutMs));
}

TEST(NoSoundServer, WaveOutOpenFailsAndKeepsQueue) {
  CWaveOut out;
  const std::vector<std::uint8_t> pcm(64, 1);
  out.QueueData(64, pcm.data());
  EXPECT_EQ(out.Open(), 0);
  EXPECT_FALSE(out.IsOpen());
  EXPECT_EQ(out.QueuedChunks(), 1u);
  EXPECT_EQ(out.Close(), 1);
}

TEST(NoSoundServer, TalkStartFailsAndEndsItsThread) {
  void* talk = x_player_createDualtalkInstance();
  ASSERT_NE(talk, nullptr);
  EXPECT_EQ(x_player_StartDualTalk(talk, &NeverCalled, nullptr), 0);
  EXPECT_FALSE(static_cast<CWaveIn*>(talk)->IsThreadRunning());
  EXPECT_EQ(x_player_StopDualTalk(talk), 1);
  EXPECT_EQ(x_player_destroyDualtalkInstance(talk), 1);
}

TEST(NoSoundServer, MixerCallsReportFailureValues) {
  EXPECT_EQ(x_player_setPlayVolume(50), LUMVARA_E_FAIL);
  EXPECT_EQ(x_player_getPlayVolume(), -1);
  EXPECT_EQ(x_player_setMute(1), LUMVARA_E_FAIL);
  EXPECT_EQ(x_player_getMute(), 0);
  EXPECT_EQ(x_player_setMicPlayVolume(50), LUMVARA_E_FAIL);
  EXPECT_EQ(x_player_getMicPlayVolume(), -1);
  EXPECT_EQ(x_player_setMicMute(1), LUMVARA_E_FAIL);
  EXPECT_EQ(x_player_getMicMute(), 0);
}

// Behaviour that needs no server at all.

TEST(WaveOutQueue, RefusesEmptyOversizedAndNullChunks) {
  const std::vector<std::uint8_t> pcm(4096, 3);
  const struct {
    int length;
    const std::uint8_t* bytes;
    std::size_t queued;
  } cases[] = {
      {0, pcm.data(), 0}, {-1, pcm.data(), 0},   {2049, pcm.data(), 0},
      {100, nullptr, 0},  {2048, pcm.data(), 1}, {1, pcm.data(), 1},
  };
  for (const auto& c : cases) {
    CWaveOut out;
    out.QueueData(c.length, c.bytes);
    EXPECT_EQ(out.QueuedChunks(), c.queued) << "length " << c.length;
  }
}

// The queue holds at most two seconds: older chunks make way for new ones.
TEST(WaveOutQueue, HoldsAtMostSixteenChunks) {
  const std::vector<std::uint8_t> pcm(2048, 3);
  CWaveOut out;
  for (std::size_t i = 0; i < CWaveOut::kMaxQueuedChunks; ++i) out.QueueData(2048, pcm.data());
  EXPECT_EQ(out.QueuedChunks(), 16u);
  for (int i = 0; i < 100; ++i) out.QueueData(1920, pcm.data());
  EXPECT_EQ(out.QueuedChunks(), 16u);
}

TEST(DualTalk, NullInstanceIsRefused) {
  EXPECT_EQ(x_player_destroyDualtalkInstance(nullptr), 0);
  EXPECT_EQ(x_player_StartDualTalk(nullptr, &NeverCalled, nullptr), 0);
  EXPECT_EQ(x_player_StopDualTalk(nullptr), 0);
}

TEST(DualTalk, StopOnNeverStartedInstanceReturnsOne) {
  void* talk = x_player_createDualtalkInstance();
  EXPECT_EQ(x_player_StopDualTalk(talk), 1);
  EXPECT_EQ(x_player_destroyDualtalkInstance(talk), 1);
}

TEST(DualTalk, NullCallbackChangesNothing) {
  void* talk = x_player_createDualtalkInstance();
  EXPECT_EQ(x_player_StartDualTalk(talk, nullptr, nullptr), 0);
  EXPECT_FALSE(static_cast<CWaveIn*>(talk)->IsThreadRunning());
  x_player_destroyDualtalkInstance(talk);
}

struct Captured {
  std::vector<std::uint8_t> bytes;
  int length = -1;
  void* user = nullptr;
  static int Callback(const unsigned char* data, int length, void* self) {
    auto* c = static_cast<Captured*>(self);
    c->bytes.assign(data, data + length);
    c->length = length;
    c->user = self;
    return 0;
  }
};

TEST(CaptureEncoding, SilentBlockBecomes256ZeroBytes) {
  CWaveIn in;
  Captured captured;
  // Register the callback without a server: the start fails, the callback
  // and user value stay.
  in.Start(&Captured::Callback, &captured);
  const std::vector<std::int16_t> silence(512, 0);
  in.OnCaptureData(silence.data(), 1024);
  EXPECT_EQ(captured.length, 256);
  EXPECT_EQ(captured.user, &captured);
  EXPECT_EQ(captured.bytes, std::vector<std::uint8_t>(256, 0));
}

TEST(CaptureEncoding, OversizedBlockIsDroppedNotOverrun) {
  CWaveIn in;
  Captured captured;
  in.Start(&Captured::Callback, &captured);
  const std::vector<std::int16_t> big(6000, 1000);
  in.OnCaptureData(big.data(), 10004);  // 5002 samples need 2501 bytes
  EXPECT_EQ(captured.length, -1);
  in.OnCaptureData(big.data(), 10000);  // the largest block that fits
  EXPECT_EQ(captured.length, 2500);
}

}  // namespace
}  // namespace lumvara
