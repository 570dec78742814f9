#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "net/transport/frame_reassembler.h"
#include "net/transport/stream_frame.h"

namespace lumvara {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes makeFrame(uint8_t kind, uint32_t length, uint32_t magic = kFrameMagic) {
  Bytes frame(kFrameHeaderSize + length);
  writeFrameHeader(frame.data(), kind, 1700000000u, 7, length, -8);
  writeLe32(frame.data(), magic);
  for (uint32_t i = 0; i < length; ++i) {
    frame[kFrameHeaderSize + i] = static_cast<uint8_t>(i * 7 + kind);
  }
  return frame;
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

Bytes prefix(Bytes bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

struct Collected {
  std::vector<Bytes> frames;
};

void collect(const uint8_t* frame, size_t totalLength, void* context) {
  static_cast<Collected*>(context)->frames.emplace_back(frame, frame + totalLength);
}

struct ReassemblyCase {
  const char* name;
  Bytes stream;
  size_t piece;  // feed the stream in pieces of this size
  std::vector<size_t> delivered;
  FrameReassembler::Status status;
  size_t held;
};

void PrintTo(const ReassemblyCase& c, std::ostream* os) { *os << c.name; }

class FrameReassemblyTable : public ::testing::TestWithParam<ReassemblyCase> {};

TEST_P(FrameReassemblyTable, DeliversWholeFramesInOrderOrReportsCorruption) {
  const auto& c = GetParam();
  FrameReassembler reassembler;
  Collected out;
  auto status = FrameReassembler::Status::Ok;
  for (size_t at = 0; at < c.stream.size() && status == FrameReassembler::Status::Ok; at += c.piece) {
    const size_t size = std::min(c.piece, c.stream.size() - at);
    status = reassembler.feed(c.stream.data() + at, size, collect, &out);
  }
  EXPECT_EQ(status, c.status);
  ASSERT_EQ(out.frames.size(), c.delivered.size());
  size_t offset = 0;
  for (size_t i = 0; i < out.frames.size(); ++i) {
    EXPECT_EQ(out.frames[i].size(), c.delivered[i]) << "frame " << i;
    // Each frame arrives byte for byte as it was sent.
    EXPECT_EQ(0, std::memcmp(out.frames[i].data(), c.stream.data() + offset, out.frames[i].size()));
    offset += out.frames[i].size();
  }
  EXPECT_EQ(reassembler.held(), c.held);
}

Bytes withMagicByteChanged(size_t byte) {
  Bytes frame = makeFrame(FrameKind::H264, 16);
  frame[byte] ^= 0x01;
  return frame;
}

const ReassemblyCase kCases[] = {
    {"SplitAcrossManyReads", makeFrame(FrameKind::H264Key, 1000), 7, {1032}, FrameReassembler::Status::Ok, 0},
    {"ByteByByte", makeFrame(FrameKind::Adpcm, 512), 1, {544}, FrameReassembler::Status::Ok, 0},
    {"ManyFramesInOneReadPlusTrailingPartial",
     join({makeFrame(0, 10), makeFrame(1, 0), makeFrame(6, 500), prefix(makeFrame(1, 100), 20)}),
     1 << 20,
     {42, 32, 532},
     FrameReassembler::Status::Ok,
     20},
    {"LengthZero", makeFrame(FrameKind::H264, 0), 64, {32}, FrameReassembler::Status::Ok, 0},
    {"LargestFrameThatFitsTheBuffer",
     makeFrame(FrameKind::H264Key, kMaxReassembledPayload),
     65536,
     {kReassemblyBufferSize},
     FrameReassembler::Status::Ok,
     0},
    // Lengths from 0x80000 - 31 up to 0x80000 could never be held whole.
    {"LengthThatCannotFitIsCorrupt",
     makeFrame(FrameKind::H264Key, kMaxReassembledPayload + 1),
     65536,
     {},
     FrameReassembler::Status::Corrupt,
     0},
    {"LengthExactlyMaxPayloadIsCorrupt",
     makeFrame(FrameKind::H264Key, kMaxFramePayload),
     65536,
     {},
     FrameReassembler::Status::Corrupt,
     0},
    {"LengthAboveMaxPayloadIsCorrupt",
     makeFrame(FrameKind::H264Key, kMaxFramePayload + 1),
     65536,
     {},
     FrameReassembler::Status::Corrupt,
     0},
    {"CorruptMagicAfterGoodFrameInSameRead",
     join({makeFrame(0, 40), makeFrame(1, 40, 0xA815AA56)}),
     1 << 20,
     {72},
     FrameReassembler::Status::Corrupt,
     0},
    {"MagicByte0Differs",
     join({makeFrame(0, 8), withMagicByteChanged(0)}),
     1 << 20,
     {40},
     FrameReassembler::Status::Corrupt,
     0},
    {"MagicByte3Differs",
     join({makeFrame(0, 8), withMagicByteChanged(3)}),
     1 << 20,
     {40},
     FrameReassembler::Status::Corrupt,
     0},
    // A header is not judged before all 32 bytes are present.
    {"PartialHeaderIsNotExamined", Bytes(31, 0xEE), 31, {}, FrameReassembler::Status::Ok, 31},
};

INSTANTIATE_TEST_SUITE_P(Cases, FrameReassemblyTable, ::testing::ValuesIn(kCases),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST(FrameReassembly, WorksAgainAfterClearFollowingCorruption) {
  FrameReassembler reassembler;
  Collected out;
  const Bytes bad = makeFrame(0, 4, 0);
  EXPECT_EQ(reassembler.feed(bad.data(), bad.size(), collect, &out), FrameReassembler::Status::Corrupt);
  reassembler.clear();
  const Bytes good = makeFrame(0, 4);
  EXPECT_EQ(reassembler.feed(good.data(), good.size(), collect, &out), FrameReassembler::Status::Ok);
  EXPECT_EQ(out.frames.size(), 1u);
}

// Checks that `frames` are the frames of `stream`, in order and byte for byte.
void expectFramesOf(const Bytes& stream, const std::vector<Bytes>& frames, size_t expectedCount) {
  ASSERT_EQ(frames.size(), expectedCount);
  size_t offset = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_LE(offset + frames[i].size(), stream.size()) << "frame " << i;
    ASSERT_EQ(0, std::memcmp(frames[i].data(), stream.data() + offset, frames[i].size())) << "frame " << i;
    offset += frames[i].size();
  }
  EXPECT_EQ(offset, stream.size());
}

struct AlignedCollected {
  std::vector<Bytes> frames;
  size_t misaligned = 0;
};

void collectAligned(const uint8_t* frame, size_t totalLength, void* context) {
  auto* out = static_cast<AlignedCollected*>(context);
  if (reinterpret_cast<uintptr_t>(frame) % kFrameAlignment != 0) ++out->misaligned;
  out->frames.emplace_back(frame, frame + totalLength);
}

TEST(FrameReassembly, DeliversAFullBufferOfSmallFramesFromOneReadAlignedAndInOrder) {
  // Empty frames and small frames of odd sizes, so that most of them lie at
  // offsets that are not multiples of four, filling the buffer exactly.
  Bytes stream;
  size_t count = 0;
  const uint32_t lengths[] = {0, 1, 13, 0, 70, 5, 111, 2, 3};
  for (size_t i = 0;; ++i) {
    const Bytes frame = makeFrame(static_cast<uint8_t>(i), lengths[i % std::size(lengths)]);
    if (stream.size() + frame.size() > kReassemblyBufferSize) break;
    stream.insert(stream.end(), frame.begin(), frame.end());
    ++count;
  }
  const size_t fill = kReassemblyBufferSize - stream.size();
  ASSERT_GE(fill, kFrameHeaderSize);
  const Bytes last = makeFrame(9, static_cast<uint32_t>(fill - kFrameHeaderSize));
  stream.insert(stream.end(), last.begin(), last.end());
  ++count;
  ASSERT_EQ(stream.size(), kReassemblyBufferSize);

  // Received straight into the buffer, as the receive thread does.
  FrameReassembler reassembler;
  AlignedCollected out;
  ASSERT_EQ(reassembler.freeBytes(), stream.size());
  std::memcpy(reassembler.freeSpace(), stream.data(), stream.size());
  EXPECT_EQ(reassembler.commit(stream.size(), collectAligned, &out), FrameReassembler::Status::Ok);
  expectFramesOf(stream, out.frames, count);
  EXPECT_EQ(out.misaligned, 0u);
  EXPECT_EQ(reassembler.held(), 0u);
  EXPECT_EQ(reassembler.freeBytes(), kReassemblyBufferSize);
}

TEST(FrameReassembly, DeliversFramesSplitIntoTwoReadsAtEveryOffset) {
  const Bytes stream = join({makeFrame(0, 3), makeFrame(1, 0), makeFrame(6, 41), makeFrame(7, 1)});
  for (size_t split = 0; split <= stream.size(); ++split) {
    SCOPED_TRACE("split at " + std::to_string(split));
    FrameReassembler reassembler;
    AlignedCollected out;
    std::memcpy(reassembler.freeSpace(), stream.data(), split);
    ASSERT_EQ(reassembler.commit(split, collectAligned, &out), FrameReassembler::Status::Ok);
    // What is held after the first read is exactly the partial frame.
    size_t whole = 0;
    for (const auto& frame : out.frames) whole += frame.size();
    EXPECT_EQ(reassembler.held(), split - whole);
    std::memcpy(reassembler.freeSpace(), stream.data() + split, stream.size() - split);
    ASSERT_EQ(reassembler.commit(stream.size() - split, collectAligned, &out), FrameReassembler::Status::Ok);
    expectFramesOf(stream, out.frames, 4);
    EXPECT_EQ(out.misaligned, 0u);
    EXPECT_EQ(reassembler.held(), 0u);
  }
}

TEST(FrameReassembly, CorruptHeaderAfterManyFramesInOneReadDiscardsTheRest) {
  Bytes stream;
  for (int i = 0; i < 100; ++i) {
    const Bytes frame = makeFrame(1, static_cast<uint32_t>(i % 7));
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  const size_t good = stream.size();
  const Bytes bad = makeFrame(1, 5, 0x12345678);
  stream.insert(stream.end(), bad.begin(), bad.end());
  const Bytes after = makeFrame(1, 5);
  stream.insert(stream.end(), after.begin(), after.end());

  FrameReassembler reassembler;
  AlignedCollected out;
  EXPECT_EQ(reassembler.feed(stream.data(), stream.size(), collectAligned, &out), FrameReassembler::Status::Corrupt);
  expectFramesOf(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(good)), out.frames, 100);
  EXPECT_EQ(reassembler.held(), 0u);
}

TEST(StreamFrameHeader, FieldsAreLittleEndianAtFixedOffsetsAndKindIsUnsigned) {
  uint8_t header[kFrameHeaderSize];
  std::memset(header, 0xFF, sizeof header);
  writeFrameHeader(header, FrameKind::LoginRefused, 0x11223344, 0x55667788, 0x00010203, -3);
  const uint8_t expected[kFrameHeaderSize] = {0x55, 0xAA, 0x15, 0xA8, 200,  0,    0,    0,    0x44, 0x33, 0x22,
                                              0x11, 0x88, 0x77, 0x66, 0x55, 0x03, 0x02, 0x01, 0x00, 0,    0,
                                              0,    0,    0,    0xFD, 0,    0,    0,    0,    0,    0};
  EXPECT_EQ(0, std::memcmp(header, expected, sizeof header));
  EXPECT_EQ(frameKind(header), 200);
  EXPECT_EQ(frameKind(header), FrameKind::LoginRefused);
  EXPECT_EQ(frameMagic(header), kFrameMagic);
  EXPECT_EQ(frameTime(header), 0x11223344u);
  EXPECT_EQ(frameSeq(header), 0x55667788u);
  EXPECT_EQ(frameLength(header), 0x00010203u);
  EXPECT_EQ(frameZone(header), -3);
}

}  // namespace
}  // namespace lumvara
