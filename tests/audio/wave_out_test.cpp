// CWaveOut against the test sound server: what it plays is recorded from
// the default output's monitor.
#include "audio/wave_out.h"
#include "pulse_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace lumvara {
namespace {

using namespace std::chrono_literals;
using test::SourceRecorder;

constexpr int kLoud = 500;

class WaveOutPlayback : public testing::Test {
 protected:
  void SetUp() override { test::ResetTestMixer(); }

  static void QueueSignal(CWaveOut& out, const std::vector<std::int16_t>& signal) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(signal.data());
    const std::size_t total = signal.size() * 2;
    for (std::size_t at = 0; at < total; at += CWaveOut::kBufferBytes) {
      const auto n = std::min<std::size_t>(CWaveOut::kBufferBytes, total - at);
      out.QueueData(static_cast<int>(n), bytes + at);
    }
  }

  // Waits until the recording holds a loud sample at or after `from` and
  // `extra` samples beyond it; returns its index or -1.
  static long WaitForSignal(SourceRecorder& recorder, std::size_t from, std::size_t extra,
                            std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      const auto samples = recorder.Samples();
      const long at = test::FirstLoud(samples, kLoud, from);
      if (at >= 0 && samples.size() >= static_cast<std::size_t>(at) + extra) return at;
      std::this_thread::sleep_for(20ms);
    }
    return -1;
  }

  // How many 256-sample pieces of the signal appear in the recording,
  // sample for sample and in order, from `from` on. Playback at the normal
  // volume is bit-exact; a scheduling stall on a loaded machine can open
  // a gap of silence, which spoils at most the piece it falls into.
  static std::size_t PiecesHeard(const std::vector<std::int16_t>& recording, std::size_t from,
                                 const std::vector<std::int16_t>& signal) {
    constexpr std::size_t kPiece = 256;
    std::size_t heard = 0;
    auto at = recording.begin() + static_cast<long>(std::min(from, recording.size()));
    for (std::size_t p = 0; p + kPiece <= signal.size(); p += kPiece) {
      const auto piece = signal.begin() + static_cast<long>(p);
      const auto found = std::search(at, recording.end(), piece, piece + kPiece);
      if (found == recording.end()) continue;
      ++heard;
      at = found + kPiece;
    }
    return heard;
  }

  static std::size_t Pieces(const std::vector<std::int16_t>& signal) { return signal.size() / 256; }
};

TEST_F(WaveOutPlayback, ChunksQueuedBeforeOpenAreHeardAfterIt) {
  SourceRecorder recorder("speaker.monitor");
  ASSERT_TRUE(recorder.ok());
  const auto signal = test::Noise(8 * 1024, 10000, 7);  // eight full chunks, 1 s
  CWaveOut out;
  QueueSignal(out, signal);
  EXPECT_EQ(out.QueuedChunks(), 8u);
  ASSERT_EQ(out.Open(), 1);

  const long at = WaitForSignal(recorder, 0, signal.size() + 4000, 6s);
  ASSERT_GE(at, 0) << "queued audio never reached the output";
  EXPECT_GE(PiecesHeard(recorder.Samples(), 0, signal), Pieces(signal) - 2);
  EXPECT_EQ(out.Close(), 1);
}

TEST_F(WaveOutPlayback, FullQueueDropsItsOldestChunks) {
  SourceRecorder recorder("speaker.monitor");
  ASSERT_TRUE(recorder.ok());
  // Twenty full chunks, 2.56 s: the first four make way for the last.
  const auto signal = test::Noise(20 * 1024, 10000, 11);
  CWaveOut out;
  QueueSignal(out, signal);
  EXPECT_EQ(out.QueuedChunks(), CWaveOut::kMaxQueuedChunks);
  ASSERT_EQ(out.Open(), 1);

  const std::vector<std::int16_t> dropped(signal.begin(), signal.begin() + 4 * 1024);
  const std::vector<std::int16_t> kept(signal.begin() + 4 * 1024, signal.end());
  const long at = WaitForSignal(recorder, 0, kept.size() + 4000, 8s);
  ASSERT_GE(at, 0) << "queued audio never reached the output";
  const auto recording = recorder.Samples();
  EXPECT_GE(PiecesHeard(recording, 0, kept), Pieces(kept) - 2);
  EXPECT_EQ(PiecesHeard(recording, 0, dropped), 0u);
  EXPECT_EQ(out.Close(), 1);
}

TEST_F(WaveOutPlayback, KeepsPlayingSilenceWhileQueueIsEmpty) {
  SourceRecorder recorder("speaker.monitor");
  ASSERT_TRUE(recorder.ok());
  CWaveOut out;
  ASSERT_EQ(out.Open(), 1);
  const auto first = test::Noise(1920 / 2, 10000, 1);  // an A-law sized chunk
  QueueSignal(out, first);
  const long firstAt = WaitForSignal(recorder, 0, first.size() + 2000, 5s);
  ASSERT_GE(firstAt, 0);

  // Two seconds with nothing queued: the rotation must go on by itself,
  // or the next chunk would never be played.
  std::this_thread::sleep_for(2s);
  const auto beforeSecond = recorder.Samples();
  const auto second = test::Noise(1024, 10000, 2);
  QueueSignal(out, second);
  const long secondAt = WaitForSignal(recorder, beforeSecond.size(), second.size() + 2000, 3s);
  ASSERT_GE(secondAt, 0) << "playback stopped while the queue was empty";

  const auto recording = recorder.Samples();
  EXPECT_GE(PiecesHeard(recording, 0, first), Pieces(first) - 1);
  EXPECT_GE(PiecesHeard(recording, beforeSecond.size(), second), Pieces(second) - 1);
  // What played in between is true silence, not a replay of old data.
  const std::size_t quietFrom = static_cast<std::size_t>(firstAt) + first.size() + 2000;
  const long secondStart = secondAt - test::FirstLoud(second, kLoud);
  for (std::size_t i = quietFrom; i < static_cast<std::size_t>(secondStart); ++i) {
    ASSERT_EQ(recording[i], 0) << "sample " << i;
  }
  out.Close();
}

TEST_F(WaveOutPlayback, OpenTwiceOpensOneStreamAndCloseEndsIt) {
  const int before = test::CountPulseObjects("sink-inputs");
  CWaveOut out;
  ASSERT_EQ(out.Open(), 1);
  ASSERT_EQ(out.Open(), 1);
  EXPECT_EQ(test::CountPulseObjects("sink-inputs"), before + 1);
  EXPECT_EQ(out.Close(), 1);
  EXPECT_EQ(test::CountPulseObjects("sink-inputs"), before);
  EXPECT_EQ(out.Close(), 1);  // already closed
  ASSERT_EQ(out.Open(), 1);   // and it opens again
  EXPECT_EQ(test::CountPulseObjects("sink-inputs"), before + 1);
}

TEST_F(WaveOutPlayback, CloseFreesQueueAndIgnoresLateCompletions) {
  CWaveOut out;
  const std::vector<std::uint8_t> pcm(2048, 0x11);
  for (int i = 0; i < 20; ++i) out.QueueData(2048, pcm.data());
  ASSERT_EQ(out.Open(), 1);
  out.Close();
  EXPECT_EQ(out.QueuedChunks(), 0u);

  std::uint8_t stray[16];
  std::memset(stray, 0x5A, sizeof stray);
  WaveBuffer late{};
  late.data = stray;
  late.length = sizeof stray;
  out.OnBufferDone(&late);
  EXPECT_EQ(late.length, sizeof stray);
  for (std::uint8_t b : stray) ASSERT_EQ(b, 0x5A);
  EXPECT_FALSE(out.IsOpen());
}

TEST_F(WaveOutPlayback, DestroyingAnOpenObjectClosesIt) {
  const int before = test::CountPulseObjects("sink-inputs");
  {
    CWaveOut out;
    ASSERT_EQ(out.Open(), 1);
    const std::vector<std::uint8_t> pcm(2048, 0x22);
    for (int i = 0; i < 4; ++i) out.QueueData(2048, pcm.data());
  }
  EXPECT_EQ(test::CountPulseObjects("sink-inputs"), before);
}

}  // namespace
}  // namespace lumvara
