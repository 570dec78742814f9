#include "audio/adpcm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <random>
#include <vector>

namespace lumvara {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int16_t>;

Bytes Encode(const Samples& pcm, std::uint8_t fill = 0) {
  Bytes out((pcm.size() + 1) / 2, fill);
  AdpcmState state{};
  AdpcmEncodeBlock(&state, pcm.data(), static_cast<std::int32_t>(pcm.size() * 2), out.data());
  return out;
}

Samples Decode(const Bytes& adpcm) {
  Samples out(adpcm.size() * 2);
  AdpcmState state{};
  AdpcmDecodeBlock(&state, adpcm.data(), static_cast<std::int32_t>(adpcm.size()), out.data());
  return out;
}

struct EncodeCase {
  const char* name;
  Samples pcm;
  Bytes adpcm;
};

void PrintTo(const EncodeCase& c, std::ostream* os) { *os << c.name; }

class AdpcmEncode : public testing::TestWithParam<EncodeCase> {};

TEST_P(AdpcmEncode, ProducesKnownNibbles) { EXPECT_EQ(Encode(GetParam().pcm), GetParam().adpcm); }

INSTANTIATE_TEST_SUITE_P(Vectors, AdpcmEncode,
                         testing::Values(EncodeCase{"Silence", Samples(8, 0), Bytes(4, 0x00)},
                                         // Code 2 at step 7; the reference IMA coder would give 0x30.
                                         EncodeCase{"SingleFive", {5}, {0x20}},
                                         EncodeCase{"FourThousands", Samples(4, 1000), {0x77, 0x77}},
                                         EncodeCase{"PositiveFullScale", Samples(8, 32767), Bytes(4, 0x77)},
                                         EncodeCase{"NegativeFullScale", Samples(8, -32768), Bytes(4, 0xFF)},
                                         EncodeCase{"OddCountLeavesLowNibbleZero", {1000, 1000, 1000}, {0x77, 0x70}}),
                         [](const testing::TestParamInfo<EncodeCase>& p) { return p.param.name; });

struct DecodeCase {
  const char* name;
  Bytes adpcm;
  Samples pcm;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class AdpcmDecode : public testing::TestWithParam<DecodeCase> {};

TEST_P(AdpcmDecode, ProducesKnownSamples) { EXPECT_EQ(Decode(GetParam().adpcm), GetParam().pcm); }

INSTANTIATE_TEST_SUITE_P(
    Vectors, AdpcmDecode,
    testing::Values(DecodeCase{"Silence", Bytes(4, 0x00), Samples(8, 0)}, DecodeCase{"SingleByte20", {0x20}, {3, 3}},
                    DecodeCase{"Climbing", {0x77, 0x77}, {12, 42, 105, 241}}, DecodeCase{"Falling", {0xFF}, {-12, -42}},
                    DecodeCase{"ClimbsStepTableByEight", Bytes(4, 0x77), {12, 42, 105, 241, 534, 1165, 2522, 5432}}),
    [](const testing::TestParamInfo<DecodeCase>& p) { return p.param.name; });

TEST(AdpcmCodec, OddSampleCountClearsLowNibbleEvenInDirtyBuffer) {
  // The high-nibble write replaces the whole byte, so a stale low nibble
  // in the caller's buffer cannot leak into the last byte.
  EXPECT_EQ(Encode({5}, 0xFF), Bytes{0x20});
}

TEST(AdpcmCodec, OddByteCountIgnoresTrailingByte) {
  const Samples pcm = {5, 5};
  Bytes out = {0xAA, 0xAA};
  AdpcmState state{};
  AdpcmEncodeBlock(&state, pcm.data(), 3, out.data());  // 1.5 samples -> 1
  EXPECT_EQ(out, (Bytes{0x20, 0xAA}));
}

TEST(AdpcmCodec, NonPositiveCountsTouchNothing) {
  const Samples pcm = {1000, 1000};
  Bytes adpcm = {0xAA};
  Samples decoded = {77, 77};
  AdpcmState state{};
  for (std::int32_t count : {0, -1, -1024}) {
    AdpcmEncodeBlock(&state, pcm.data(), count, adpcm.data());
    AdpcmDecodeBlock(&state, adpcm.data(), count, decoded.data());
  }
  EXPECT_EQ(adpcm, Bytes{0xAA});
  EXPECT_EQ(decoded, (Samples{77, 77}));
}

TEST(AdpcmCodec, EachCallStartsFromZeroState) {
  const Bytes first(256, 0x77);  // drives the decoder to the top of the table
  const Bytes second = {0x20, 0x31, 0xA9, 0x07};
  AdpcmState state{};
  Samples scratch(first.size() * 2);
  AdpcmDecodeBlock(&state, first.data(), static_cast<std::int32_t>(first.size()), scratch.data());
  Samples afterFirst(second.size() * 2);
  AdpcmDecodeBlock(&state, second.data(), static_cast<std::int32_t>(second.size()), afterFirst.data());
  EXPECT_EQ(afterFirst, Decode(second));

  const Samples pcm = {300, -200, 50, 4000, -4000, 7};
  Bytes encodedAfterDirty(3);
  state = AdpcmState{12345, 77, -999, 50};
  AdpcmEncodeBlock(&state, pcm.data(), 12, encodedAfterDirty.data());
  EXPECT_EQ(encodedAfterDirty, Encode(pcm));
}

TEST(AdpcmCodec, OneStateServesBothDirectionsIndependently) {
  const Samples pcm = {1000, 1000, 1000, 1000};
  AdpcmState state{};
  Bytes adpcm(2);
  AdpcmEncodeBlock(&state, pcm.data(), 8, adpcm.data());
  const AdpcmState afterEncode = state;
  Samples out(4);
  AdpcmDecodeBlock(&state, adpcm.data(), 2, out.data());
  EXPECT_EQ(state.encPredictor, afterEncode.encPredictor);
  EXPECT_EQ(state.encStepIndex, afterEncode.encStepIndex);
  EXPECT_EQ(out, (Samples{12, 42, 105, 241}));
}

TEST(AdpcmCodec, SaturatesAtSampleLimits) {
  const Samples up = Decode(Bytes(64, 0x77));
  const Samples down = Decode(Bytes(64, 0xFF));
  EXPECT_EQ(up.back(), 32767);
  EXPECT_EQ(down.back(), -32768);
}

TEST(AdpcmCodec, RandomBytesKeepStateInRange) {
  std::mt19937 rng(1234);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int trial = 0; trial < 200; ++trial) {
    Bytes adpcm(1 + trial % 97);
    for (auto& b : adpcm) b = static_cast<std::uint8_t>(byte(rng));
    Samples out(adpcm.size() * 2);
    AdpcmState state{};
    AdpcmDecodeBlock(&state, adpcm.data(), static_cast<std::int32_t>(adpcm.size()), out.data());
    ASSERT_GE(state.decStepIndex, 0);
    ASSERT_LE(state.decStepIndex, 88);
    ASSERT_GE(state.decPredictor, -32768);
    ASSERT_LE(state.decPredictor, 32767);
    ASSERT_EQ(out.back(), state.decPredictor);
  }
}

TEST(AdpcmCodec, DecoderRetracesEncoderOnRandomPcm) {
  // The decoder rebuilds exactly the encoder's predictor: the last decoded
  // sample equals the encoder's final predictor for every prefix.
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> sample(-32768, 32767);
  for (int trial = 0; trial < 200; ++trial) {
    Samples pcm(2 + 2 * (trial % 50));
    for (auto& s : pcm) s = static_cast<std::int16_t>(sample(rng));
    if (trial % 3 == 0) pcm.front() = -32768;
    Bytes adpcm(pcm.size() / 2);
    AdpcmState state{};
    AdpcmEncodeBlock(&state, pcm.data(), static_cast<std::int32_t>(pcm.size() * 2), adpcm.data());
    ASSERT_GE(state.encStepIndex, 0);
    ASSERT_LE(state.encStepIndex, 88);
    const Samples decoded = Decode(adpcm);
    ASSERT_EQ(decoded.back(), state.encPredictor);
    ASSERT_EQ(state.decStepIndex, 0);  // untouched by the encoder
  }
}

TEST(AdpcmCodec, TracksSlowSpeechLikeSignal) {
  // A 400 Hz tone at moderate level: after the step table has adapted the
  // reconstruction follows the input closely.
  Samples pcm(512);
  for (std::size_t i = 0; i < pcm.size(); ++i) {
    pcm[i] = static_cast<std::int16_t>(8000.0 * std::sin(2 * 3.14159265358979 * 400 * i / 8000.0));
  }
  const Samples decoded = Decode(Encode(pcm));
  double err = 0, sig = 0;
  for (std::size_t i = 128; i < pcm.size(); ++i) {
    err += (decoded[i] - pcm[i]) * double(decoded[i] - pcm[i]);
    sig += pcm[i] * double(pcm[i]);
  }
  EXPECT_LT(err / sig, 0.01);  // better than 20 dB SNR
}

}  // namespace
}  // namespace lumvara
