// The file sound backend (LUMVARA_AUDIO=file), with no sound server
// reachable: CWaveOut plays into a WAV file at the pace of the wall clock,
// CWaveIn captures a WAV file's samples, the mixer's levels live in the
// process and apply to both, and what cannot open fails cleanly.
#include "audio/adpcm.h"
#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "platform/mixer/mixer_device.h"
#include "platform/wave/wav_format.h"
#include "platform/wave/wave_in_device.h"
#include "platform/wave/wave_out_device.h"
#include "test_signal.h"
#include "tests/wait_until.h"

#include <lumvara/audio.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace lumvara {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Block = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// The backend is chosen before any test, and no sound server is reachable.
class FileBackendEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    ::setenv("LUMVARA_AUDIO", "file", 1);
    ::setenv("PULSE_SERVER", "unix:/nonexistent/lumvara/pulse/native", 1);
  }
};
const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new FileBackendEnvironment);

std::vector<std::uint8_t> WavBytes(const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> bytes(kWavHeaderBytes + samples.size() * 2);
  std::uint8_t header[kWavHeaderBytes];
  WriteWavHeader(header, static_cast<std::uint32_t>(samples.size() * 2));
  std::memcpy(bytes.data(), header, sizeof header);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    bytes[kWavHeaderBytes + 2 * i] = static_cast<std::uint8_t>(samples[i]);
    bytes[kWavHeaderBytes + 2 * i + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(samples[i]) >> 8);
  }
  return bytes;
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Seconds of samples in a playback file as it stands.
double FileSeconds(const std::string& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error || size < kWavHeaderBytes) return 0;
  return static_cast<double>(size - kWavHeaderBytes) / kWaveBytesPerSecond;
}

double SecondsSince(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

class FileBackend : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lumvara-file-audio-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ::unsetenv("LUMVARA_AUDIO_OUT");
    ::unsetenv("LUMVARA_AUDIO_IN");
    // The levels last for the process: start each test at 100 %, unmuted.
    x_player_setPlayVolume(100);
    x_player_setMute(0);
    x_player_setMicPlayVolume(100);
    x_player_setMicMute(0);
  }
  void TearDown() override {
    ::unsetenv("LUMVARA_AUDIO_OUT");
    ::unsetenv("LUMVARA_AUDIO_IN");
    ::setenv("LUMVARA_AUDIO", "file", 1);
    fs::remove_all(dir_);
  }
  std::string dir_;
};

TEST_F(FileBackend, PlaybackWritesTheQueuedSamplesAtTheWallClocksPace) {
  const std::string path = dir_ + "/out.wav";
  ::setenv("LUMVARA_AUDIO_OUT", path.c_str(), 1);
  const auto signal = test::Noise(6 * 1024, 8000, 3);  // six full chunks, 768 ms
  std::vector<std::uint8_t> signalBytes(signal.size() * 2);
  std::memcpy(signalBytes.data(), signal.data(), signalBytes.size());

  const auto beforeOpen = Clock::now();
  CWaveOut out;
  ASSERT_EQ(out.Open(), 1);
  for (std::size_t at = 0; at < signalBytes.size(); at += CWaveOut::kBufferBytes) {
    out.QueueData(static_cast<int>(CWaveOut::kBufferBytes), signalBytes.data() + at);
  }

  // The file never runs ahead of the clock (one pacing step of slack), and
  // it keeps up with it: a look soon finds it within 100 ms of the time
  // the device has been open.
  constexpr double kStep = 0.025;
  bool ahead = false;
  auto caughtUp = [&](double seconds) {
    const double open = SecondsSince(beforeOpen);
    const double written = FileSeconds(path);
    const double after = SecondsSince(beforeOpen);
    ahead = ahead || written > after + kStep;
    return written >= seconds && written >= open - 0.1;
  };
  ASSERT_TRUE(test::waitUntil([&] { return caughtUp(2.0); }, 10s)) << FileSeconds(path) << " s written";
  EXPECT_GE(SecondsSince(beforeOpen), 2.0 - kStep);
  EXPECT_FALSE(ahead) << "samples were written ahead of the clock";

  EXPECT_EQ(out.Close(), 1);
  const auto closed = fs::file_size(path);
  std::this_thread::sleep_for(100ms);  // nothing more is written after Close
  EXPECT_EQ(fs::file_size(path), closed);

  // A whole WAV file: its header's sizes match, and the signal lies in it
  // exactly, after the silence the rotation starts with.
  const auto bytes = ReadBytes(path);
  ASSERT_GE(bytes.size(), kWavHeaderBytes);
  std::uint8_t header[kWavHeaderBytes];
  WriteWavHeader(header, static_cast<std::uint32_t>(bytes.size() - kWavHeaderBytes));
  EXPECT_TRUE(std::equal(header, header + kWavHeaderBytes, bytes.begin()));
  const auto found = std::search(bytes.begin() + kWavHeaderBytes, bytes.end(), signalBytes.begin(), signalBytes.end());
  ASSERT_NE(found, bytes.end()) << "the queued samples are not in the file";
  EXPECT_TRUE(std::all_of(bytes.begin() + kWavHeaderBytes, found, [](std::uint8_t b) { return b == 0; }));
}

struct Collector {
  std::mutex lock;
  std::vector<Block> blocks;
  std::vector<Clock::time_point> arrivals;

  static int Callback(const unsigned char* data, int length, void* self) {
    auto* c = static_cast<Collector*>(self);
    std::lock_guard<std::mutex> guard(c->lock);
    c->blocks.emplace_back(data, data + length);
    c->arrivals.push_back(Clock::now());
    return 1;
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> guard(lock);
    return blocks.size();
  }
};

// The 256-byte encoding of the 512 samples of `signal` (looped) from `start`,
// each scaled by `percent`.
Block EncodeLooped(const std::vector<std::int16_t>& signal, std::size_t start, int percent = 100) {
  std::int16_t window[512];
  for (std::size_t i = 0; i < 512; ++i) {
    window[i] = static_cast<std::int16_t>(signal[(start + i) % signal.size()] * percent / 100);
  }
  Block out(256);
  AdpcmState state{};
  AdpcmEncodeBlock(&state, window, 1024, out.data());
  return out;
}

// Captures `count` blocks from `signal` written as the input file; returns
// them and when capture started.
std::vector<Block> Capture(const std::string& path, const std::vector<std::int16_t>& signal, std::size_t count,
                           Clock::time_point* started = nullptr, std::vector<Clock::time_point>* arrivals = nullptr) {
  WriteBytes(path, WavBytes(signal));
  ::setenv("LUMVARA_AUDIO_IN", path.c_str(), 1);
  Collector collector;
  CWaveIn in;
  const auto beforeStart = Clock::now();
  EXPECT_EQ(in.Start(&Collector::Callback, &collector), 1);
  EXPECT_TRUE(test::waitUntil([&] { return collector.Count() >= count; }, 10s)) << collector.Count() << " blocks";
  EXPECT_EQ(in.Stop(), 1);
  if (started) *started = beforeStart;
  std::lock_guard<std::mutex> guard(collector.lock);
  if (arrivals) *arrivals = collector.arrivals;
  return collector.blocks;
}

TEST_F(FileBackend, CaptureDeliversTheFilesSamplesEncodedLoopingAtItsEnd) {
  // Not a whole number of blocks, so the loop falls inside a block.
  const auto signal = test::Noise(8000 + 300, 6000, 11);
  Clock::time_point started;
  std::vector<Clock::time_point> arrivals;
  const auto blocks = Capture(dir_ + "/in.wav", signal, 20, &started, &arrivals);
  ASSERT_GE(blocks.size(), 20u);
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    ASSERT_EQ(blocks[k], EncodeLooped(signal, 512 * k)) << "block " << k;
  }
  // Paced: block k is complete 64 ms x (k + 1) after the start, never
  // sooner (one pacing step of slack).
  for (std::size_t k = 0; k < arrivals.size(); ++k) {
    EXPECT_GE(arrivals[k] - started, std::chrono::milliseconds(64 * (k + 1) - 25)) << "block " << k;
  }
}

TEST_F(FileBackend, MicrophoneLevelAppliesToTheCapturedSamples) {
  const auto signal = test::Noise(4096, 6000, 5);
  struct Case {
    int percent;
    int mute;
    int heardPercent;
  };
  for (const Case c : {Case{50, 0, 50}, Case{100, 1, 0}, Case{100, 0, 100}}) {
    SCOPED_TRACE("volume " + std::to_string(c.percent) + " mute " + std::to_string(c.mute));
    ASSERT_EQ(x_player_setMicPlayVolume(c.percent), LUMVARA_S_OK);
    ASSERT_EQ(x_player_setMicMute(c.mute), LUMVARA_S_OK);
    const auto blocks = Capture(dir_ + "/level.wav", signal, 3);
    ASSERT_GE(blocks.size(), 3u);
    for (std::size_t k = 0; k < blocks.size(); ++k) {
      ASSERT_EQ(blocks[k], EncodeLooped(signal, 512 * k, c.heardPercent)) << "block " << k;
    }
  }
}

TEST_F(FileBackend, MixerKeepsEachLinesVolumeAndMute) {
  EXPECT_EQ(x_player_setPlayVolume(50), LUMVARA_S_OK);
  EXPECT_EQ(x_player_setMute(1), LUMVARA_S_OK);
  EXPECT_EQ(x_player_setMicPlayVolume(75), LUMVARA_S_OK);
  EXPECT_EQ(x_player_getPlayVolume(), 50);
  EXPECT_EQ(x_player_getMute(), 1);
  EXPECT_EQ(x_player_getMicPlayVolume(), 75);
  EXPECT_EQ(x_player_getMicMute(), 0);
  EXPECT_EQ(x_player_setMute(0), LUMVARA_S_OK);
  EXPECT_EQ(x_player_getMute(), 0);
  auto mixer = MixerDevice::Open();
  ASSERT_NE(mixer, nullptr);
  EXPECT_FALSE(mixer->SetVolume(MixerLine::kSpeakers, static_cast<std::uint32_t>(kMixerVolumeLimit) + 1));
  const auto speakers = mixer->Read(MixerLine::kSpeakers);
  ASSERT_TRUE(speakers);
  EXPECT_EQ(speakers->volume, kMixerVolumeMaximum * 50 / 100);
  EXPECT_EQ(speakers->channels, 1);
}

TEST_F(FileBackend, MutedSpeakersWriteSilence) {
  const std::string path = dir_ + "/muted.wav";
  ::setenv("LUMVARA_AUDIO_OUT", path.c_str(), 1);
  ASSERT_EQ(x_player_setMute(1), LUMVARA_S_OK);
  const auto signal = test::Noise(2 * 1024, 8000, 9);
  CWaveOut out;
  ASSERT_EQ(out.Open(), 1);
  for (std::size_t at = 0; at < signal.size(); at += 1024) {
    out.QueueData(2048, reinterpret_cast<const std::uint8_t*>(signal.data() + at));
  }
  // The rotation's 640 ms of silence and the 256 ms signal have played.
  ASSERT_TRUE(test::waitUntil([&] { return FileSeconds(path) >= 1.0; }, 10s));
  out.Close();
  const auto bytes = ReadBytes(path);
  EXPECT_TRUE(std::all_of(bytes.begin() + kWavHeaderBytes, bytes.end(), [](std::uint8_t b) { return b == 0; }));
}

// A playback device's buffers are reported in order until Reset; after it
// returns no handler runs.
TEST_F(FileBackend, NoBufferIsReportedAfterReset) {
  struct Done {
    std::atomic<int> count{0};
    static void Handler(WaveBuffer*, void* self) { static_cast<Done*>(self)->count.fetch_add(1); }
  } done;
  auto device = WaveOutDevice::Open(&Done::Handler, &done);
  ASSERT_NE(device, nullptr);
  std::vector<std::uint8_t> data(8 * 320, 0);
  WaveBuffer buffers[8];
  for (int i = 0; i < 8; ++i) {
    buffers[i].data = data.data() + 320 * i;
    buffers[i].length = 320;  // 20 ms each
    device->Write(&buffers[i]);
  }
  ASSERT_TRUE(test::waitUntil([&] { return done.count.load() >= 2; }, 5s));
  device->Reset();
  const int reported = done.count.load();
  EXPECT_LT(reported, 8);
  std::this_thread::sleep_for(100ms);  // proves that nothing more comes
  EXPECT_EQ(done.count.load(), reported);
}

struct RefusalCase {
  const char* name;
  const char* backend;
  const char* output;                   // relative to the test folder
  std::vector<std::uint8_t> inputFile;  // written as the input; empty: none
  bool outputOpens;
  bool inputOpens;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

std::vector<std::uint8_t> WavWith(std::size_t offset, std::vector<std::uint8_t> bytes) {
  auto file = WavBytes(test::Noise(100, 100, 1));
  std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(offset));
  return file;
}

class FileBackendRefusal : public FileBackend, public testing::WithParamInterface<RefusalCase> {};

TEST_P(FileBackendRefusal, OpensOnlyWhatItCanUse) {
  const auto& c = GetParam();
  ::setenv("LUMVARA_AUDIO", c.backend, 1);
  const std::string output = dir_ + "/" + c.output;
  ::setenv("LUMVARA_AUDIO_OUT", output.c_str(), 1);
  const std::string input = dir_ + "/input.wav";
  if (!c.inputFile.empty()) WriteBytes(input, c.inputFile);
  ::setenv("LUMVARA_AUDIO_IN", input.c_str(), 1);
  EXPECT_EQ(WaveOutDevice::Open(nullptr, nullptr) != nullptr, c.outputOpens);
  EXPECT_EQ(WaveInDevice::Open(nullptr, nullptr) != nullptr, c.inputOpens);
}

const RefusalCase kRefusals[] = {
    {"UnknownBackendOpensNothing", "alsa", "out.wav", WavBytes({1, 2, 3}), false, false},
    {"OutputFolderMissing", "file", "missing/out.wav", WavBytes({1, 2, 3}), false, true},
    {"InputFileMissing", "file", "out.wav", {}, true, false},
    {"InputNotRiff", "file", "out.wav", WavWith(0, {'J', 'U', 'N', 'K'}), true, false},
    {"InputStereo", "file", "out.wav", WavWith(22, {2, 0}), true, false},
    {"Input44100Hz", "file", "out.wav", WavWith(24, {0x44, 0xAC, 0, 0}), true, false},
    {"InputEightBit", "file", "out.wav", WavWith(34, {8, 0}), true, false},
    {"InputNotPcm", "file", "out.wav", WavWith(20, {6, 0}), true, false},
    {"InputWithoutSamplesIsSilence", "file", "out.wav", WavBytes({}), true, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, FileBackendRefusal, testing::ValuesIn(kRefusals),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST_F(FileBackend, UnknownBackendOpensNoMixer) {
  ::setenv("LUMVARA_AUDIO", "alsa", 1);
  EXPECT_EQ(MixerDevice::Open(), nullptr);
  EXPECT_EQ(x_player_getPlayVolume(), -1);
  EXPECT_EQ(x_player_setPlayVolume(50), LUMVARA_E_FAIL);
}

// Without LUMVARA_AUDIO_OUT playback is paced and discarded; without
// LUMVARA_AUDIO_IN capture is silence.
TEST_F(FileBackend, WithoutFilesPlaybackIsDiscardedAndCaptureIsSilence) {
  CWaveOut out;
  EXPECT_EQ(out.Open(), 1);
  Collector collector;
  CWaveIn in;
  ASSERT_EQ(in.Start(&Collector::Callback, &collector), 1);
  ASSERT_TRUE(test::waitUntil([&] { return collector.Count() >= 2; }, 5s));
  in.Stop();
  out.Close();
  std::lock_guard<std::mutex> guard(collector.lock);
  const Block silence = EncodeLooped(std::vector<std::int16_t>(512, 0), 0);
  for (const auto& block : collector.blocks) EXPECT_EQ(block, silence);
}

}  // namespace
}  // namespace lumvara
