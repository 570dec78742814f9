#include <gtest/gtest.h>

#include <cstring>
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
     1 << 20, {42, 32, 532}, FrameReassembler::Status::Ok, 20},
    {"LengthZero", makeFrame(FrameKind::H264, 0), 64, {32}, FrameReassembler::Status::Ok, 0},
    {"LargestFrameThatFitsTheBuffer", makeFrame(FrameKind::H264Key, kMaxReassembledPayload), 65536,
     {kReassemblyBufferSize}, FrameReassembler::Status::Ok, 0},
    // Lengths from 0x80000 - 31 up to 0x80000 could never be held whole.
    {"LengthThatCannotFitIsCorrupt", makeFrame(FrameKind::H264Key, kMaxReassembledPayload + 1), 65536, {},
     FrameReassembler::Status::Corrupt, 0},
    {"LengthExactlyMaxPayloadIsCorrupt", makeFrame(FrameKind::H264Key, kMaxFramePayload), 65536, {},
     FrameReassembler::Status::Corrupt, 0},
    {"LengthAboveMaxPayloadIsCorrupt", makeFrame(FrameKind::H264Key, kMaxFramePayload + 1), 65536, {},
     FrameReassembler::Status::Corrupt, 0},
    {"CorruptMagicAfterGoodFrameInSameRead", join({makeFrame(0, 40), makeFrame(1, 40, 0xA815AA56)}), 1 << 20, {72},
     FrameReassembler::Status::Corrupt, 0},
    {"MagicByte0Differs", join({makeFrame(0, 8), withMagicByteChanged(0)}), 1 << 20, {40},
     FrameReassembler::Status::Corrupt, 0},
    {"MagicByte3Differs", join({makeFrame(0, 8), withMagicByteChanged(3)}), 1 << 20, {40},
     FrameReassembler::Status::Corrupt, 0},
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

TEST(StreamFrameHeader, FieldsAreLittleEndianAtFixedOffsetsAndKindIsUnsigned) {
    uint8_t header[kFrameHeaderSize];
    std::memset(header, 0xFF, sizeof header);
    writeFrameHeader(header, FrameKind::LoginRefused, 0x11223344, 0x55667788, 0x00010203, -3);
    const uint8_t expected[kFrameHeaderSize] = {
        0x55, 0xAA, 0x15, 0xA8, 200,  0,    0,    0,    0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55,
        0x03, 0x02, 0x01, 0x00, 0,    0,    0,    0,    0,    0xFD, 0,    0,    0,    0,    0,    0};
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
