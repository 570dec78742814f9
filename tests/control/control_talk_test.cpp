// Talk through the hosting API: the microphone of the private test sound
// server plays a tone; the simulator's talk recording must hold it.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "control/live_fixture.h"

namespace control_test {
namespace {

namespace fs = std::filesystem;

constexpr int kRate = 8000;
constexpr int kToneHz = 1000;

// Samples of a WAV file's data (16-bit mono), found by its "data" chunk.
std::vector<int16_t> ReadWav(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (size_t i = 12; i + 8 <= bytes.size();) {
    uint32_t size = 0;
    for (int b = 0; b < 4; ++b) size |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 4 + b])) << (8 * b);
    if (std::string(bytes.data() + i, 4) == "data") {
      std::vector<int16_t> samples(std::min<size_t>(size, bytes.size() - i - 8) / 2);
      for (size_t s = 0; s < samples.size(); ++s) {
        const auto lo = static_cast<uint8_t>(bytes[i + 8 + 2 * s]);
        const auto hi = static_cast<uint8_t>(bytes[i + 9 + 2 * s]);
        samples[s] = static_cast<int16_t>(lo | hi << 8);
      }
      return samples;
    }
    i += 8 + size + (size & 1);
  }
  return {};
}

class TalkTest : public LiveControlTest {
 protected:
  void Configure(SimulatorOptions& options) override {
    fs::create_directories(dir_ / "talk");
    options.talk_dir = (dir_ / "talk").string();
  }

  // A tone as raw s16le, `seconds` long.
  fs::path WriteTone(double seconds) {
    const fs::path file = dir_ / "tone.raw";
    std::ofstream out(file, std::ios::binary);
    const int count = static_cast<int>(seconds * kRate);
    for (int i = 0; i < count; ++i) {
      const auto sample = static_cast<int16_t>(8000 * std::sin(2 * M_PI * kToneHz * i / kRate));
      out.put(static_cast<char>(sample & 0xFF));
      out.put(static_cast<char>((sample >> 8) & 0xFF));
    }
    return file;
  }
};

TEST_F(TalkTest, TheCameraHearsTheMicrophonesTone) {
  ASSERT_EQ(Play(), 0);
  ASSERT_TRUE(WaitForPictures());
  EXPECT_EQ(Call("StartTalk"), 0);
  EXPECT_EQ(GetLong("TalkState"), 1);
  // Capture is flowing once talk frames reach the camera.
  ASSERT_TRUE(PumpUntil([&] { return !simulator_->talkSessions().empty(); }, 5s)) << "no talk frames";

  // paplay paces the tone in real time into the sink the microphone monitors.
  const fs::path tone = WriteTone(1.5);
  const std::string play = "paplay --raw --format=s16le --rate=8000 --channels=1 --latency-msec=50 --device=mic '" +
                           tone.string() + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(play.c_str()), 0);
  // The last blocks may still be on their way; most of the 1.5 s tone
  // (about 10000 samples above the threshold) must arrive.
  auto loud = [&] {
    int count = 0;
    for (const auto& session : simulator_->talkSessions()) {
      for (int16_t sample : session.pcm) count += std::abs(sample) > 2000 ? 1 : 0;
    }
    return count;
  };
  EXPECT_TRUE(PumpUntil([&] { return loud() >= 7500; }, 5s)) << loud();
  EXPECT_EQ(Call("StopTalk"), 0);
  EXPECT_EQ(Call("StopVideo"), 0);

  // The simulator writes each session's WAV when its connection ends.
  std::vector<fs::path> wavs;
  ASSERT_TRUE(PumpUntil(
      [&] {
        wavs.clear();
        for (const auto& entry : fs::directory_iterator(dir_ / "talk")) {
          if (entry.path().extension() == ".wav") wavs.push_back(entry.path());
        }
        return !wavs.empty();
      },
      5s));
  ASSERT_EQ(wavs.size(), 1u);
  const std::vector<int16_t> pcm = ReadWav(wavs[0]);
  ASSERT_FALSE(pcm.empty());

  // The tone, block by block: a gap the sound server makes in the capture
  // only shortens it. Each loud 64 ms block (as the camera received it)
  // carries the tone's frequency.
  constexpr size_t kBlock = 512;
  int loudBlocks = 0;
  int crossings = 0;
  for (size_t start = 0; start + kBlock <= pcm.size(); start += kBlock) {
    int loudSamples = 0;
    for (size_t i = start; i < start + kBlock; ++i) loudSamples += std::abs(pcm[i]) > 2000 ? 1 : 0;
    if (loudSamples < static_cast<int>(kBlock) / 2) continue;
    ++loudBlocks;
    for (size_t i = start + 1; i < start + kBlock; ++i) {
      if ((pcm[i - 1] < 0) != (pcm[i] < 0)) ++crossings;
    }
  }
  const double seconds = loudBlocks * static_cast<double>(kBlock) / kRate;
  EXPECT_GT(seconds, 1.0) << "most of the 1.5 s tone arrived";
  EXPECT_LT(seconds, 1.7);
  ASSERT_GT(loudBlocks, 0);
  const double hz = crossings / 2.0 / seconds;
  EXPECT_NEAR(hz, kToneHz, 30);
}

}  // namespace
}  // namespace control_test
