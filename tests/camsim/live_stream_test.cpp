#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <thread>

#include <turbojpeg.h>

#include "apps/camsim/camera_audio.h"
#include "apps/camsim/h264_test_pattern.h"
#include "apps/camsim/stream_frame.h"
#include "audio/adpcm.h"
#include "audio/g711.h"
#include "camsim/simulator_fixture.h"
#include "camsim/test_decoder.h"

namespace {

using namespace std::chrono_literals;
using namespace lumvara::camsim;
using camsim_test::RawClient;
using camsim_test::SimulatorTest;

using LiveStream = SimulatorTest;

TEST_F(LiveStream, SendsDecodableH264WithKeyFramesEvery50AndTimedHeaders) {
  RawClient client;
  ASSERT_TRUE(client.connect(port()));
  ASSERT_TRUE(client.request(camsim_test::LiveTarget()));
  camsim_test::TestDecoder decoder;
  for (uint32_t i = 0; i <= 50; ++i) {
    SCOPED_TRACE(i);
    const auto frame = client.readFrame();
    ASSERT_TRUE(frame.has_value());
    const FrameFields fields = readFrameHeader(frame->data());
    ASSERT_EQ(fields.magic, kFrameMagic);
    EXPECT_EQ(fields.kind, i % 50 == 0 ? kKindH264Key : kKindH264Other);
    EXPECT_EQ(fields.length + kFrameHeaderSize, frame->size());
    EXPECT_EQ(fields.zone, -8);
    EXPECT_LE(std::abs(static_cast<long long>(fields.time) - std::time(nullptr)), 5);
    const auto picture = decoder.decode(frame->data() + kFrameHeaderSize, fields.length);
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(picture->width, 640);
    EXPECT_EQ(picture->height, 360);
    char number[16];
    std::snprintf(number, sizeof number, "%06u", i);
    EXPECT_EQ(H264TestPattern::readText(picture->luma.data(), picture->stride, H264TestPattern::kNumberX,
                                        H264TestPattern::kNumberY, H264TestPattern::kNumberDigits,
                                        H264TestPattern::kNumberScale),
              number);
  }
  EXPECT_TRUE(sim().waitForRequest("GET /livestream.cgi?user=admin&pwd=secret&streamid=10", 1s));
}

TEST_F(LiveStream, PicturesShowTheZoneAdjustedTime) {
  RawClient client;
  ASSERT_TRUE(client.connect(port()));
  ASSERT_TRUE(client.request(camsim_test::LiveTarget()));
  const auto frame = client.readFrame();
  ASSERT_TRUE(frame.has_value());
  const FrameFields fields = readFrameHeader(frame->data());
  camsim_test::TestDecoder decoder;
  const auto picture = decoder.decode(frame->data() + kFrameHeaderSize, fields.length);
  ASSERT_TRUE(picture.has_value());
  // Shown time = time - zone * 3600, as a calendar time without zone conversion.
  const std::time_t local = static_cast<std::time_t>(fields.time) + 8 * 3600;
  std::tm parts{};
  gmtime_r(&local, &parts);
  char expected[32];
  std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S", &parts);
  EXPECT_EQ(
      H264TestPattern::readText(picture->luma.data(), picture->stride, H264TestPattern::kTimeX, H264TestPattern::kTimeY,
                                H264TestPattern::kTimeChars, H264TestPattern::kTimeScale),
      expected);
}

TEST_F(LiveStream, RefusalsBeforeAnyVideo) {
  struct Case {
    const char* name;
    std::string target;
    int max_connections;
    bool video_loss;
    uint8_t kind;
    bool closes;
  };
  const Case cases[] = {
      {"wrong password", camsim_test::LiveTarget("admin", "wrong"), 8, false, kKindLoginRefused, true},
      {"wrong user", camsim_test::LiveTarget("root", "secret"), 8, false, kKindLoginRefused, true},
      {"connection limit", camsim_test::LiveTarget(), 0, false, kKindTooManyConnections, true},
      {"video loss", camsim_test::LiveTarget(), 8, true, kKindVideoLoss, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim().setMaxConnections(c.max_connections);
    sim().setVideoLoss(c.video_loss);
    RawClient client;
    ASSERT_TRUE(client.connect(port()));
    ASSERT_TRUE(client.request(c.target));
    const auto frame = client.readFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(readFrameHeader(frame->data()).kind, c.kind);
    EXPECT_EQ(frame->size(), kFrameHeaderSize);
    if (c.closes) {
      EXPECT_TRUE(client.closedWithin(2s));
    } else {
      EXPECT_FALSE(client.readFrame(300ms).has_value());  // no video while it is lost
    }
  }
}

TEST_F(LiveStream, SecondConnectionOverALimitOfOneIsRefusedFirstKeepsStreaming) {
  sim().setMaxConnections(1);
  RawClient first, second;
  ASSERT_TRUE(first.connect(port()));
  ASSERT_TRUE(first.request(camsim_test::LiveTarget()));
  ASSERT_TRUE(first.readFrame().has_value());
  ASSERT_TRUE(second.connect(port()));
  ASSERT_TRUE(second.request(camsim_test::LiveTarget()));
  const auto refusal = second.readFrame();
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(readFrameHeader(refusal->data()).kind, kKindTooManyConnections);
  EXPECT_TRUE(second.closedWithin(2s));
  EXPECT_TRUE(first.readFrame().has_value());
  EXPECT_EQ(sim().liveConnections(), 1);
}

TEST_F(LiveStream, VideoResumesWhenLossEnds) {
  sim().setVideoLoss(true);
  RawClient client;
  ASSERT_TRUE(client.connect(port()));
  ASSERT_TRUE(client.request(camsim_test::LiveTarget()));
  auto frame = client.readFrame();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(readFrameHeader(frame->data()).kind, kKindVideoLoss);
  sim().setVideoLoss(false);
  frame = client.readFrame();
  ASSERT_TRUE(frame.has_value());
  EXPECT_LT(readFrameHeader(frame->data()).kind, 2);
}

// Reads frames until one of a notice kind arrives; returns the notice kinds seen.
std::vector<uint8_t> NoticesWithin(RawClient& client, size_t wanted, std::chrono::milliseconds limit) {
  std::vector<uint8_t> notices;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (notices.size() < wanted && std::chrono::steady_clock::now() < deadline) {
    const auto frame = client.readFrame(500ms);
    if (!frame) break;
    const uint8_t kind = readFrameHeader(frame->data()).kind;
    if (kind >= kKindMotionAlarm) notices.push_back(kind);
  }
  return notices;
}

TEST_F(LiveStream, AlarmOnCommandReachesEveryLiveConnection) {
  RawClient a, b;
  for (RawClient* client : {&a, &b}) {
    ASSERT_TRUE(client->connect(port()));
    ASSERT_TRUE(client->request(camsim_test::LiveTarget()));
    ASSERT_TRUE(client->readFrame().has_value());
  }
  sim().raiseAlarm(kKindInputAlarm);
  EXPECT_EQ(NoticesWithin(a, 1, 2s), std::vector<uint8_t>{kKindInputAlarm});
  EXPECT_EQ(NoticesWithin(b, 1, 2s), std::vector<uint8_t>{kKindInputAlarm});
}

class ScheduledAlarms : public SimulatorTest {
  void SetUp() override {
    SimulatorOptions options;
    options.alarm_interval = 100ms;
    startWith(options);
  }
};

TEST_F(ScheduledAlarms, CycleThroughMotionAndInputRaisedAndOver) {
  RawClient client;
  ASSERT_TRUE(client.connect(port()));
  ASSERT_TRUE(client.request(camsim_test::LiveTarget()));
  EXPECT_EQ(NoticesWithin(client, 5, 3s), (std::vector<uint8_t>{kKindMotionAlarm, kKindMotionAlarmOver, kKindInputAlarm,
                                                                kKindInputAlarmOver, kKindMotionAlarm}));
}

// The talk sessions once the first holds `frames` frames, or as they stand
// after 3 s.
std::vector<TalkSession> WaitForTalkFrames(const CameraSimulator& simulator, size_t frames) {
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  std::vector<TalkSession> sessions;
  while (std::chrono::steady_clock::now() < deadline) {
    sessions = simulator.talkSessions();
    if (!sessions.empty() && sessions[0].seqs.size() >= frames) break;
    std::this_thread::sleep_for(10ms);
  }
  return sessions;
}

class TalkReception : public SimulatorTest {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("camsim-talk-" + std::to_string(::getpid()) + "-" +
                                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    SimulatorOptions options;
    options.talk_dir = dir_.string();
    startWith(options);
  }
  void TearDown() override {
    // The simulator finishes a talk session's file (renames its .part) when
    // the connection ends: stop it before its folder goes.
    simulator_.reset();
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path dir_;
};

TEST_F(TalkReception, KeepsTalkFrameSentInTheSameWriteAsTheRequest) {
  RawClient client;
  ASSERT_TRUE(client.connect(port()));
  uint8_t adpcm[256] = {};
  FrameFields fields;
  fields.kind = kKindTalk;
  fields.seq = 7;
  const auto frame = buildFrame(fields, adpcm, sizeof adpcm);
  std::string bytes = "GET " + camsim_test::LiveTarget() + " HTTP/1.1\r\n" + camsim_test::kTrailer;
  bytes.append(reinterpret_cast<const char*>(frame.data()), frame.size());
  ASSERT_TRUE(client.send(bytes));
  const std::vector<TalkSession> sessions = WaitForTalkFrames(sim(), 1);
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0].seqs, (std::vector<uint32_t>{7}));
}

TEST_F(TalkReception, KeepsTalkFramesPerSessionAsRawAndWav) {
  RawClient client;
  ASSERT_TRUE(client.connect(port()));
  ASSERT_TRUE(client.request(camsim_test::LiveTarget()));
  ASSERT_TRUE(client.readFrame().has_value());
  // Three 256-byte ADPCM blocks of a tone, sequence numbers with a gap, sent
  // as one byte stream cut at odd places.
  const auto tone = ToneSamples(500, 0, 512 * 3);
  std::vector<uint8_t> stream;
  const uint32_t seqs[] = {0, 1, 5};
  std::vector<uint8_t> adpcm_all;
  for (int i = 0; i < 3; ++i) {
    uint8_t adpcm[256];
    lumvara::AdpcmState state{};
    lumvara::AdpcmEncodeBlock(&state, tone.data() + 512 * i, 1024, adpcm);
    adpcm_all.insert(adpcm_all.end(), adpcm, adpcm + 256);
    FrameFields fields;
    fields.kind = kKindTalk;
    fields.seq = seqs[i];
    fields.time = 12345;
    const auto frame = buildFrame(fields, adpcm, sizeof adpcm);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  ASSERT_EQ(stream.size(), 3u * 288u);
  for (size_t done = 0, piece = 17; done < stream.size(); done += piece) {
    const size_t n = std::min(piece, stream.size() - done);
    ASSERT_TRUE(client.sendBytes(stream.data() + done, n));
    std::this_thread::sleep_for(1ms);
  }
  const std::vector<TalkSession> sessions = WaitForTalkFrames(sim(), 3);
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0].seqs, (std::vector<uint32_t>{0, 1, 5}));
  EXPECT_EQ(sessions[0].lengths, (std::vector<uint32_t>{256, 256, 256}));
  EXPECT_EQ(sessions[0].payload, adpcm_all);
  ASSERT_EQ(sessions[0].pcm.size(), 3u * 512u);

  client.close();
  const auto id = std::to_string(sessions[0].connection_id);
  const auto wav = dir_ / ("talk-" + id + ".wav");
  const auto wait_end = std::chrono::steady_clock::now() + 3s;
  while (!std::filesystem::exists(wav) && std::chrono::steady_clock::now() < wait_end) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(std::filesystem::file_size(dir_ / ("talk-" + id + ".raw")), 3u * 256u);
  ASSERT_TRUE(std::filesystem::exists(wav));
  EXPECT_EQ(std::filesystem::file_size(wav), 44u + 3u * 512u * 2u);
}

// A long run's simulator keeps only each talk frame's number and length.
class TalkWithoutAudio : public SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorOptions options;
    options.keep_talk_audio = false;
    startWith(options);
  }
};

TEST_F(TalkWithoutAudio, KeepsNumbersAndLengthsButNoSound) {
  RawClient client;
  ASSERT_TRUE(client.connect(port()));
  std::string bytes = "GET " + camsim_test::LiveTarget() + " HTTP/1.1\r\n" + camsim_test::kTrailer;
  uint8_t adpcm[256] = {};
  for (uint32_t seq : {3u, 4u}) {
    FrameFields fields;
    fields.kind = kKindTalk;
    fields.seq = seq;
    const auto frame = buildFrame(fields, adpcm, sizeof adpcm);
    bytes.append(reinterpret_cast<const char*>(frame.data()), frame.size());
  }
  ASSERT_TRUE(client.send(bytes));
  const std::vector<TalkSession> sessions = WaitForTalkFrames(sim(), 2);
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0].seqs, (std::vector<uint32_t>{3, 4}));
  EXPECT_EQ(sessions[0].lengths, (std::vector<uint32_t>{256, 256}));
  EXPECT_TRUE(sessions[0].payload.empty());
  EXPECT_TRUE(sessions[0].pcm.empty());
  // The record's reserve covers the two numbers and lengths, not 512 bytes of sound.
  EXPECT_GE(sim().talkRecordBytes(), sizeof(TalkSession) + 4 * sizeof(uint32_t));
  EXPECT_LT(sim().talkRecordBytes(), sizeof(TalkSession) + 512);
}

double Correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    ab += double(a[i]) * b[i];
    aa += double(a[i]) * a[i];
    bb += double(b[i]) * b[i];
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

class AudioStream : public SimulatorTest, public ::testing::WithParamInterface<uint8_t> {
  void SetUp() override {
    SimulatorOptions options;
    options.audio_kind = GetParam();
    startWith(options);
  }
};

TEST_P(AudioStream, SendsToneFramesOfTheKindsSize) {
  RawClient client;
  ASSERT_TRUE(client.connect(port()));
  ASSERT_TRUE(client.request("/audiostream.cgi?user=admin&pwd=secret&streamid=2&filename="));
  uint64_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const auto frame = client.readFrame();
    ASSERT_TRUE(frame.has_value());
    const FrameFields fields = readFrameHeader(frame->data());
    EXPECT_EQ(fields.kind, GetParam());
    const uint8_t* payload = frame->data() + kFrameHeaderSize;
    std::vector<int16_t> decoded;
    if (GetParam() == kKindAdpcm) {
      ASSERT_EQ(fields.length, 512u);
      decoded.resize(1024);
      lumvara::AdpcmState state{};
      lumvara::AdpcmDecodeBlock(&state, payload, 512, decoded.data());
    } else {
      ASSERT_EQ(fields.length, 960u);
      decoded.resize(960);
      lumvara::AlawExpandBlock(payload, 960, decoded.data());
    }
    // The tone continues from frame to frame.
    EXPECT_GT(Correlation(decoded, ToneSamples(1000, start, decoded.size())), 0.9);
    start += decoded.size();
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, AudioStream, ::testing::Values(kKindAdpcm, kKindAlaw));

class SdPlayback : public SimulatorTest {
  void SetUp() override {
    SimulatorOptions options;
    options.playback_fps = 0;
    startWith(options);
  }
};

std::vector<size_t> FrameStarts(const std::vector<uint8_t>& bytes) {
  std::vector<size_t> starts;
  for (size_t at = 0; at < bytes.size(); at += kFrameHeaderSize + readFrameHeader(bytes.data() + at).length) {
    starts.push_back(at);
  }
  return starts;
}

TEST_F(SdPlayback, StreamsTheRecordingFromTheFrameAtOrAfterTheOffsetThenCloses) {
  const auto recordings = sim().recordings();
  ASSERT_FALSE(recordings.empty());
  const std::string name = recordings[0].name;
  const auto bytes = sim().recordingBytes(name);
  const auto starts = FrameStarts(bytes);
  ASSERT_EQ(starts.size(), recordings[0].frames);
  struct Case {
    long long offset;
    size_t first_frame;
  };
  const Case cases[] = {{0, 0},
                        {static_cast<long long>(starts[10]), 10},
                        {static_cast<long long>(starts[10]) - 5, 10},
                        {-100, 0},
                        {static_cast<long long>(bytes.size()) + 1, starts.size()}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    RawClient client;
    ASSERT_TRUE(client.connect(port()));
    ASSERT_TRUE(client.request("/livestream.cgi?user=admin&pwd=secret&streamid=4&filename=" + name +
                               "&offset=" + std::to_string(c.offset)));
    const auto received = client.readToEnd(10s);
    ASSERT_TRUE(received.has_value());
    const size_t from = c.first_frame < starts.size() ? starts[c.first_frame] : bytes.size();
    EXPECT_TRUE(*received == std::vector<uint8_t>(bytes.begin() + static_cast<long>(from), bytes.end()));
  }
}

TEST_F(SdPlayback, RecordingFramesCarryTheRecordingsTimeAndDecode) {
  const auto recordings = sim().recordings();
  const auto bytes = sim().recordingBytes(recordings[1].name);
  const auto starts = FrameStarts(bytes);
  camsim_test::TestDecoder decoder;
  for (size_t i = 0; i < starts.size(); ++i) {
    const FrameFields fields = readFrameHeader(bytes.data() + starts[i]);
    EXPECT_EQ(fields.kind, i % 50 == 0 ? kKindH264Key : kKindH264Other);
    EXPECT_EQ(fields.time, static_cast<uint32_t>(recordings[1].start + static_cast<long>(i) / 25));
    EXPECT_TRUE(decoder.decode(bytes.data() + starts[i] + kFrameHeaderSize, fields.length).has_value());
  }
}

TEST_F(SdPlayback, MjpegRecordingHoldsJpegPicturesShowingTheirNumber) {
  sim().setRecordings({{"20261210073000_000.mjpg", 1796887800, 3, true}});
  const auto bytes = sim().recordingBytes("20261210073000_000.mjpg");
  const auto starts = FrameStarts(bytes);
  ASSERT_EQ(starts.size(), 3u);
  tjhandle decoder = tjInitDecompress();
  for (size_t i = 0; i < starts.size(); ++i) {
    SCOPED_TRACE(i);
    const FrameFields fields = readFrameHeader(bytes.data() + starts[i]);
    EXPECT_EQ(fields.kind, kKindJpeg);
    const unsigned char* jpeg = bytes.data() + starts[i] + kFrameHeaderSize;
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    ASSERT_EQ(tjDecompressHeader3(decoder, jpeg, fields.length, &width, &height, &subsampling, &colorspace), 0);
    ASSERT_EQ(width, 640);
    ASSERT_EQ(height, 360);
    std::vector<uint8_t> gray(640 * 360);
    ASSERT_EQ(tjDecompress2(decoder, jpeg, fields.length, gray.data(), 640, 640, 360, TJPF_GRAY, 0), 0);
    char number[16];
    std::snprintf(number, sizeof number, "%06u", static_cast<unsigned>(i));
    EXPECT_EQ(H264TestPattern::readText(gray.data(), 640, H264TestPattern::kNumberX, H264TestPattern::kNumberY,
                                        H264TestPattern::kNumberDigits, H264TestPattern::kNumberScale),
              number);
  }
  tjDestroy(decoder);
}

TEST_F(SdPlayback, UnknownFileOrWrongPasswordEndsTheConnection) {
  RawClient client;
  ASSERT_TRUE(client.connect(port()));
  ASSERT_TRUE(client.request("/livestream.cgi?user=admin&pwd=secret&streamid=4&filename=nope&offset=0"));
  const auto received = client.readToEnd(3s);
  ASSERT_TRUE(received.has_value());
  EXPECT_TRUE(received->empty());

  ASSERT_TRUE(client.connect(port()));
  ASSERT_TRUE(client.request("/livestream.cgi?user=admin&pwd=x&streamid=4&filename=" + sim().recordings()[0].name +
                             "&offset=0"));
  const auto refusal = client.readToEnd(3s);
  ASSERT_TRUE(refusal.has_value());
  ASSERT_EQ(refusal->size(), kFrameHeaderSize);
  EXPECT_EQ(readFrameHeader(refusal->data()).kind, kKindLoginRefused);
}

}  // namespace
