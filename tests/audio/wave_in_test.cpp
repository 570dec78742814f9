// Talk capture against the test sound server: a known signal is played
// into the sink whose monitor is the default input, and what reaches the
// talk callback is checked block by block.
#include "audio/adpcm.h"
#include "audio/wave_in.h"
#include "pulse_test_support.h"
#include "tests/wait_until.h"

#include <lumvara/audio.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace lumvara {
namespace {

using namespace std::chrono_literals;
using Block = std::vector<std::uint8_t>;

struct Collector {
  std::mutex lock;
  std::vector<Block> blocks;
  std::vector<int> lengths;
  std::atomic<int> calls{0};

  static int Callback(const unsigned char* data, int length, void* self) {
    auto* c = static_cast<Collector*>(self);
    std::lock_guard<std::mutex> guard(c->lock);
    c->blocks.emplace_back(data, data + length);
    c->lengths.push_back(length);
    ++c->calls;
    return 1;
  }

  std::vector<Block> Blocks() {
    std::lock_guard<std::mutex> guard(lock);
    return blocks;
  }

  bool WaitForCalls(int count, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (calls < count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    return calls >= count;
  }
};

// Encodes the 512-sample window of `signal` that starts at `start` (which
// may lie before or after it: samples outside are silence).
Block EncodeWindow(const std::vector<std::int16_t>& signal, long start) {
  std::int16_t window[512] = {};
  for (long i = 0; i < 512; ++i) {
    const long at = start + i;
    if (at >= 0 && at < static_cast<long>(signal.size())) window[i] = signal[at];
  }
  Block out(256);
  AdpcmState state{};
  AdpcmEncodeBlock(&state, window, 1024, out.data());
  return out;
}

class TalkCapture : public testing::Test {
 protected:
  void SetUp() override { test::ResetTestMixer(); }
};

TEST_F(TalkCapture, DeliversCapturedAudioAsEncodedBlocks) {
  const auto signal = test::Noise(8000 * 2, 8000, 42);  // 2 s
  const std::string file = test::WriteRawFile(signal);
  ASSERT_FALSE(file.empty());

  // A second, independent recording of the same input shows what was
  // captured, including any gap the player of the test signal makes.
  test::SourceRecorder recorder("mic.monitor");
  ASSERT_TRUE(recorder.ok());
  Collector collector;
  void* talk = x_player_createDualtalkInstance();
  ASSERT_NE(talk, nullptr);
  ASSERT_EQ(x_player_StartDualTalk(talk, &Collector::Callback, &collector), 1);
  ASSERT_TRUE(collector.WaitForCalls(2, 3s));  // capture is flowing

  // paplay paces the file in real time into the sink the input monitors.
  const std::string play = "paplay --raw --format=s16le --rate=8000 --channels=1 --latency-msec=50 --device=mic " +
                           file + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(play.c_str()), 0);
  const int target = collector.calls + 8;
  ASSERT_TRUE(collector.WaitForCalls(target, 3s));
  EXPECT_EQ(x_player_StopDualTalk(talk), 1);
  EXPECT_EQ(x_player_destroyDualtalkInstance(talk), 1);
  std::remove(file.c_str());

  const auto blocks = collector.Blocks();
  {
    std::lock_guard<std::mutex> guard(collector.lock);
    for (int length : collector.lengths) ASSERT_EQ(length, 256);
  }
  // Silence before the signal arrives as all-zero blocks.
  EXPECT_EQ(blocks.front(), Block(256, 0));

  // The first block that is not silence fixes where the capture stands
  // in the recording.
  std::size_t first = 0;
  while (first < blocks.size() && blocks[first] == Block(256, 0)) ++first;
  ASSERT_LT(first, blocks.size()) << "the played signal was never captured";
  // The recorder runs on behind the capture: wait until it has heard the
  // signal begin, then until it holds every sample the capture delivered.
  long loud = -1;
  ASSERT_TRUE(test::waitUntil([&] { return (loud = test::FirstLoud(recorder.Samples(), 0)) >= 0; }, 3s))
      << "the recorder heard nothing";
  auto recording = recorder.Samples();
  std::optional<long> found;  // recording index at the start of block `first`
  for (long start = loud - 600; start < loud + 600 && !found; ++start) {
    if (EncodeWindow(recording, start) == blocks[first]) found = start;
  }
  ASSERT_TRUE(found) << "captured block matches no 512-sample window of the input";
  const long offset = *found;
  const std::size_t needed = static_cast<std::size_t>(offset) + 512 * (blocks.size() - first);
  ASSERT_TRUE(test::waitUntil([&] { return recorder.Samples().size() >= needed; }, 3s))
      << "the recorder fell behind the capture";
  recording = recorder.Samples();

  // Every later block is the encoding of exactly the next 512 samples:
  // nothing lost, repeated or reordered.
  std::size_t checked = 0;
  for (std::size_t k = first; k < blocks.size(); ++k) {
    const long start = offset + 512 * static_cast<long>(k - first);
    ASSERT_EQ(blocks[k], EncodeWindow(recording, start)) << "block " << k;
    ++checked;
  }
  EXPECT_GE(checked, signal.size() / 512);  // the whole signal was captured
}

TEST_F(TalkCapture, StartingAgainOnlyReplacesTheCallback) {
  Collector a, b;
  void* talk = x_player_createDualtalkInstance();
  ASSERT_EQ(x_player_StartDualTalk(talk, &Collector::Callback, &a), 1);
  ASSERT_TRUE(a.WaitForCalls(1, 3s));
  const int before = test::CountPulseObjects("source-outputs");
  ASSERT_EQ(x_player_StartDualTalk(talk, &Collector::Callback, &b), 1);
  EXPECT_EQ(test::CountPulseObjects("source-outputs"), before);  // same stream
  ASSERT_TRUE(b.WaitForCalls(2, 3s));
  const int aCalls = a.calls;
  ASSERT_TRUE(b.WaitForCalls(b.calls + 2, 3s));
  EXPECT_EQ(a.calls, aCalls);  // the first callback is no longer called
  x_player_StopDualTalk(talk);
  x_player_destroyDualtalkInstance(talk);
}

TEST_F(TalkCapture, NoCallbackRunsAfterStopAndCaptureRestarts) {
  const int streams = test::CountPulseObjects("source-outputs");
  Collector collector;
  void* talk = x_player_createDualtalkInstance();
  ASSERT_EQ(x_player_StartDualTalk(talk, &Collector::Callback, &collector), 1);
  ASSERT_TRUE(collector.WaitForCalls(3, 3s));
  const auto stopBegan = std::chrono::steady_clock::now();
  EXPECT_EQ(x_player_StopDualTalk(talk), 1);
  const auto stopTook = std::chrono::steady_clock::now() - stopBegan;
  const int afterStop = collector.calls;
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(collector.calls, afterStop);
  EXPECT_EQ(test::CountPulseObjects("source-outputs"), streams);
  std::printf("stop took %.1f ms\n", std::chrono::duration<double, std::milli>(stopTook).count());

  EXPECT_EQ(x_player_StopDualTalk(talk), 1);  // stopping twice is harmless
  ASSERT_EQ(x_player_StartDualTalk(talk, &Collector::Callback, &collector), 1);
  EXPECT_TRUE(collector.WaitForCalls(afterStop + 2, 3s));
  x_player_StopDualTalk(talk);
  x_player_destroyDualtalkInstance(talk);
}

struct SlowReceiver {
  std::atomic<bool> inside{false};
  std::atomic<int> calls{0};
  static int Callback(const unsigned char*, int, void* self) {
    auto* r = static_cast<SlowReceiver*>(self);
    r->inside = true;
    ++r->calls;
    std::this_thread::sleep_for(150ms);
    r->inside = false;
    return 1;
  }
};

TEST_F(TalkCapture, StopWaitsForTheBlockBeingDeliveredThenNoMore) {
  SlowReceiver receiver;
  void* talk = x_player_createDualtalkInstance();
  ASSERT_EQ(x_player_StartDualTalk(talk, &SlowReceiver::Callback, &receiver), 1);
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (!receiver.inside && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(receiver.inside);
  EXPECT_EQ(x_player_StopDualTalk(talk), 1);
  EXPECT_FALSE(receiver.inside);  // the thread ended after its callback returned
  const int calls = receiver.calls;
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(receiver.calls, calls);
  x_player_destroyDualtalkInstance(talk);
}

TEST_F(TalkCapture, DestroyingARunningInstanceStopsItFirst) {
  const int streams = test::CountPulseObjects("source-outputs");
  Collector collector;
  void* talk = x_player_createDualtalkInstance();
  ASSERT_EQ(x_player_StartDualTalk(talk, &Collector::Callback, &collector), 1);
  ASSERT_TRUE(collector.WaitForCalls(1, 3s));
  EXPECT_EQ(x_player_destroyDualtalkInstance(talk), 1);
  const int afterDestroy = collector.calls;
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(collector.calls, afterDestroy);
  EXPECT_EQ(test::CountPulseObjects("source-outputs"), streams);
}

}  // namespace
}  // namespace lumvara
