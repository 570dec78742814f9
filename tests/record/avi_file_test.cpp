// The AVI layer against an outside reader (ffprobe) and at the byte level.

#include "platform/avi/avi_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/record/record_test_media.h"

namespace lumvara {
namespace {

using test::FindTag;
using test::Probe;
using test::ReadLe32;

struct ProbeCase {
  const char* name;
  uint32_t fourcc;
  const char* tag;
  const char* codec;
  int width;
  int height;
};

void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }

class AviFileProbe : public ::testing::TestWithParam<ProbeCase> {};

// Frames with an empty sample after every third one, and a 1024-sample
// audio block every other frame: what a recording looks like.
TEST_P(AviFileProbe, OutsideReaderSeesStreamsRateSizeAndDuration) {
  const ProbeCase& c = GetParam();
  test::TempDir dir;
  const std::string path = dir.path() + "/probe.avi";
  const auto frames = c.fourcc == kFourCCH264 ? test::EncodeH264Frames(c.width, c.height, 20)
                                              : test::EncodeMjpegFrames(c.width, c.height, 20);
  ASSERT_GE(frames.size(), 20u);

  auto file = AviFile::Create(path, AviVideoFormat{c.fourcc, uint32_t(c.width), uint32_t(c.height), 25});
  ASSERT_TRUE(file);
  std::vector<int16_t> samples(1024, 100);
  uint32_t index = 0;
  uint32_t audioPosition = 0;
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(file->WriteVideo(index++, frames[i].data(), frames[i].size()));
    if (i % 3 == 2) {
      ASSERT_TRUE(file->WriteVideo(index++, nullptr, 0));
    }
    if (i % 2 == 0) {
      ASSERT_TRUE(file->WriteAudio(audioPosition, samples.data(), samples.size()));
      audioPosition += 1024;
    }
  }
  ASSERT_TRUE(file->Close());

  const nlohmann::json probe = Probe(path);
  ASSERT_FALSE(probe.is_null()) << "ffprobe refused " << path;
  ASSERT_EQ(probe["streams"].size(), 2u);
  const auto& video = probe["streams"][0];
  EXPECT_EQ(video["codec_type"], "video");
  EXPECT_EQ(video["codec_tag_string"], c.tag);
  EXPECT_EQ(video["codec_name"], c.codec);
  EXPECT_EQ(video["width"], c.width);
  EXPECT_EQ(video["height"], c.height);
  EXPECT_EQ(video["r_frame_rate"], "25/1");
  EXPECT_EQ(video["time_base"], "1/25");
  // 20 pictures and 6 empty samples: 26 frame periods.
  EXPECT_EQ(video["nb_frames"], "26");
  EXPECT_EQ(video["nb_read_packets"], "20");
  EXPECT_DOUBLE_EQ(std::stod(video["duration"].get<std::string>()), 26 / 25.0);
  const auto& audio = probe["streams"][1];
  EXPECT_EQ(audio["codec_type"], "audio");
  EXPECT_EQ(audio["codec_name"], "pcm_s16le");
  EXPECT_EQ(audio["sample_rate"], "8000");
  EXPECT_EQ(audio["channels"], 1);
  EXPECT_EQ(audio["sample_fmt"], "s16");
  EXPECT_EQ(audio["nb_frames"], "10240");     // samples
  EXPECT_EQ(audio["nb_read_packets"], "10");  // one chunk per block
}

INSTANTIATE_TEST_SUITE_P(Codecs, AviFileProbe,
                         ::testing::Values(ProbeCase{"h264", kFourCCH264, "h264", "h264", 640, 360},
                                           ProbeCase{"mjpg", kFourCCMjpg, "mjpg", "mjpeg", 320, 240}),
                         [](const auto& param) { return std::string(param.param.name); });

// The stream headers as the recorder defines them, byte for byte.
TEST(AviFileHeaders, CarryFrameSizeFormatsAndHandlers) {
  struct Case {
    uint32_t width, height;
  };
  for (const Case c : {Case{640, 360}, Case{0, 0}}) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    test::TempDir dir;
    const std::string path = dir.path() + "/h.avi";
    auto file = AviFile::Create(path, AviVideoFormat{kFourCCH264, c.width, c.height, 25});
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->Close());
    const std::vector<uint8_t> b = test::ReadFileBytes(path);

    const size_t avih = FindTag(b, "avih");
    EXPECT_EQ(ReadLe32(b, avih + 8 + 32), c.width);
    EXPECT_EQ(ReadLe32(b, avih + 8 + 36), c.height);

    const size_t vids = FindTag(b, "strh", 0) + 8;
    ASSERT_EQ(std::string(b.begin() + long(vids), b.begin() + long(vids) + 8), "vidsh264");
    EXPECT_EQ(ReadLe32(b, vids + 20), 1u);                        // scale
    EXPECT_EQ(ReadLe32(b, vids + 24), 25u);                       // rate
    EXPECT_EQ(ReadLe32(b, vids + 36), c.width * c.height);        // suggested buffer
    EXPECT_EQ(ReadLe32(b, vids + 40), 0u);                        // quality
    EXPECT_EQ(ReadLe32(b, vids + 48), 0u);                        // left, top
    EXPECT_EQ(ReadLe32(b, vids + 52), c.width | c.height << 16);  // right, bottom

    const size_t bih = FindTag(b, "strf", 0);
    EXPECT_EQ(ReadLe32(b, bih + 4), 40u);
    EXPECT_EQ(ReadLe32(b, bih + 8), 40u);
    EXPECT_EQ(ReadLe32(b, bih + 12), c.width);
    EXPECT_EQ(ReadLe32(b, bih + 16), c.height);
    EXPECT_EQ(ReadLe32(b, bih + 20), 1u | 24u << 16);  // planes, bit count
    EXPECT_EQ(ReadLe32(b, bih + 24), kFourCCH264);
    EXPECT_EQ(ReadLe32(b, bih + 28), 0u);  // image size

    const size_t auds = FindTag(b, "strh", 1) + 8;
    ASSERT_EQ(std::string(b.begin() + long(auds), b.begin() + long(auds) + 4), "auds");
    EXPECT_EQ(ReadLe32(b, auds + 4), 0u);      // handler
    EXPECT_EQ(ReadLe32(b, auds + 20), 1u);     // scale
    EXPECT_EQ(ReadLe32(b, auds + 24), 8000u);  // rate
    EXPECT_EQ(ReadLe32(b, auds + 40), 0u);     // quality
    EXPECT_EQ(ReadLe32(b, auds + 44), 2u);     // sample size

    const size_t wfx = FindTag(b, "strf", 1);
    EXPECT_EQ(ReadLe32(b, wfx + 4), 18u);
    EXPECT_EQ(ReadLe32(b, wfx + 8), 1u | 1u << 16);  // PCM, mono
    EXPECT_EQ(ReadLe32(b, wfx + 12), 8000u);
    EXPECT_EQ(ReadLe32(b, wfx + 16), 16000u);
    EXPECT_EQ(ReadLe32(b, wfx + 20), 2u | 16u << 16);    // block align, bits
    EXPECT_EQ(b.at(wfx + 24) | b.at(wfx + 25) << 8, 0);  // cbSize
    EXPECT_EQ(std::string(b.begin() + long(wfx) + 26, b.begin() + long(wfx) + 30), "JUNK");
  }
}

TEST(AviFileSamples, EverySampleIsAKeyFrameAndEmptySamplesHoldTheirPlace) {
  test::TempDir dir;
  const std::string path = dir.path() + "/s.avi";
  auto file = AviFile::Create(path, AviVideoFormat{kFourCCH264, 16, 16, 25});
  ASSERT_TRUE(file);
  const uint8_t payload[] = {1, 2, 3, 4, 5};
  std::vector<int16_t> samples(1024);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = int16_t(i - 512);
  ASSERT_TRUE(file->WriteVideo(0, payload, 5));
  ASSERT_TRUE(file->WriteVideo(1, nullptr, 0));
  ASSERT_TRUE(file->WriteAudio(0, samples.data(), samples.size()));
  ASSERT_TRUE(file->WriteVideo(2, payload, 3));
  ASSERT_TRUE(file->Close());

  const auto chunks = test::ReadAviChunks(path);
  ASSERT_EQ(chunks.size(), 4u);
  EXPECT_EQ(chunks[0].id, "00dc");
  EXPECT_EQ(chunks[0].data, std::vector<uint8_t>(payload, payload + 5));
  EXPECT_EQ(chunks[1].id, "00dc");
  EXPECT_TRUE(chunks[1].data.empty());
  EXPECT_EQ(chunks[2].id, "01wb");
  ASSERT_EQ(chunks[2].data.size(), 2048u);                        // the whole block in one chunk
  EXPECT_EQ(chunks[2].data[0] | chunks[2].data[1] << 8, 0xFE00);  // -512, little-endian
  EXPECT_EQ(chunks[3].data.size(), 3u);
  for (const auto& c : chunks) EXPECT_EQ(c.indexFlags & 0x10u, 0x10u) << c.id;
}

TEST(AviFileCreate, NeverOverwritesAnExistingFile) {
  test::TempDir dir;
  const std::string path = dir.path() + "/taken.avi";
  std::ofstream(path) << "earlier recording";
  EXPECT_FALSE(AviFile::Create(path, AviVideoFormat{}));
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "earlier recording");
}

TEST(AviFileCreate, FailsInAMissingFolder) {
  test::TempDir dir;
  EXPECT_FALSE(AviFile::Create(dir.path() + "/missing/x.avi", AviVideoFormat{}));
}

// A full disk: writes report failure and so does Close, instead of
// pretending the recording is whole. Needs root to mount a small tmpfs.
TEST(AviFileWrite, FullDiskIsReportedAsFailure) {
  test::TempDir dir;
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a 1 MB tmpfs (running as uid " << geteuid() << ")";
  if (::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "mounting a 1 MB tmpfs failed: " << std::strerror(errno);
  bool sawFailure = false;
  {
    auto file = AviFile::Create(dir.path() + "/full.avi", AviVideoFormat{kFourCCH264, 64, 64, 25});
    ASSERT_TRUE(file);
    std::vector<uint8_t> payload(64 * 1024, 7);
    for (uint32_t i = 0; i < 40 && !sawFailure; ++i) sawFailure = !file->WriteVideo(i, payload.data(), payload.size());
    EXPECT_FALSE(file->Close());
  }
  ::umount2(dir.path().c_str(), MNT_DETACH);
  EXPECT_TRUE(sawFailure);
}

// Past 1 GB the file continues in OpenDML extension chunks and stays
// readable to the end. Writes about 1.2 GB, in memory (/dev/shm) where it can.
TEST(AviFileLarge, StaysValidPastOneGigabyte) {
  test::TempDir dir(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "");
  const std::string path = dir.path() + "/large.avi";
  const auto frames = test::EncodeH264Frames(320, 240, 1);
  ASSERT_FALSE(frames.empty());
  const std::vector<uint8_t> payload = test::PadH264(frames[0], 512 * 1024);
  constexpr uint32_t kFrames = 2400;  // 1.26 GB
  std::vector<int16_t> samples(1024);
  {
    auto file = AviFile::Create(path, AviVideoFormat{kFourCCH264, 320, 240, 25});
    ASSERT_TRUE(file);
    for (uint32_t i = 0; i < kFrames; ++i) {
      ASSERT_TRUE(file->WriteVideo(i, payload.data(), payload.size()));
      if (i % 8 == 0) {
        ASSERT_TRUE(file->WriteAudio(i / 8 * 1024, samples.data(), samples.size()));
      }
    }
    ASSERT_TRUE(file->Close());
    EXPECT_GT(file->BytesWritten(), uint64_t{kFrames} * payload.size());
  }
  EXPECT_GT(std::filesystem::file_size(path), 1ull << 30);
  // The first RIFF holds the super indices and is followed by an AVIX RIFF.
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> head(64 * 1024);
  in.read(reinterpret_cast<char*>(head.data()), long(head.size()));
  EXPECT_NE(FindTag(head, "indx"), std::string::npos);
  std::vector<uint8_t> next(12);
  in.seekg(8 + long(ReadLe32(head, 4)));
  in.read(reinterpret_cast<char*>(next.data()), 12);
  EXPECT_EQ(std::string(next.begin(), next.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(next.begin() + 8, next.end()), "AVIX");

  // The counts come from the OpenDML indices, which cover the whole file.
  const nlohmann::json probe = Probe(path, /*countPackets=*/false);
  ASSERT_FALSE(probe.is_null());
  EXPECT_EQ(probe["streams"][0]["nb_frames"], std::to_string(kFrames));
  EXPECT_EQ(probe["streams"][1]["nb_frames"], std::to_string(kFrames / 8 * 1024));
  EXPECT_DOUBLE_EQ(std::stod(probe["streams"][0]["duration"].get<std::string>()), kFrames / 25.0);
  EXPECT_EQ(probe["streams"][1]["sample_rate"], "8000");
}

}  // namespace
}  // namespace lumvara
