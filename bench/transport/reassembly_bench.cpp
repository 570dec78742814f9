// Figures for turning received bytes into frames:
//   - one read that fills the 512 KiB buffer with empty frames (16384 of
//     them), or with small frames whose sizes leave them at odd offsets;
//   - live-like delivery: 20 KB frames arriving in 64 KiB reads;
// each through FrameReassembler and through a reference that moves the rest
// of the buffer to the front after every frame, so that one run shows what
// that move costs.
#include "net/transport/frame_reassembler.h"
#include "net/transport/stream_frame.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using lumvara::FrameReassembler;
using lumvara::kFrameHeaderSize;
using lumvara::kReassemblyBufferSize;

// Frames of the given payload sizes, repeated until `limit` bytes would be
// exceeded.
std::vector<uint8_t> framesUpTo(size_t limit, std::initializer_list<uint32_t> sizes) {
  std::vector<uint8_t> stream;
  for (;;) {
    for (const uint32_t length : sizes) {
      if (stream.size() + kFrameHeaderSize + length > limit) return stream;
      const size_t at = stream.size();
      stream.resize(at + kFrameHeaderSize + length, 0x5A);
      lumvara::writeFrameHeader(stream.data() + at, lumvara::FrameKind::H264, 1700000000u, 0, length, 0);
    }
  }
}

struct Counter {
  size_t frames = 0;
  size_t bytes = 0;
};

void count(const uint8_t* frame, size_t total, void* context) {
  auto* c = static_cast<Counter*>(context);
  ++c->frames;
  c->bytes += total;
  benchmark::DoNotOptimize(frame[0]);
}

// The delivery that moves the bytes after each frame to the start of the
// buffer: kept here only as the figure to compare with.
class MoveAfterEachFrame {
 public:
  MoveAfterEachFrame() : buffer_(std::make_unique<uint8_t[]>(kReassemblyBufferSize)) {}

  void feed(const uint8_t* data, size_t size, void* context) {
    while (size > 0) {
      const size_t step = std::min(size, kReassemblyBufferSize - count_);
      std::memcpy(buffer_.get() + count_, data, step);
      count_ += step;
      deliver(context);
      data += step;
      size -= step;
    }
  }

 private:
  void deliver(void* context) {
    uint8_t* const start = buffer_.get();
    while (count_ >= kFrameHeaderSize) {
      const size_t total = kFrameHeaderSize + lumvara::frameLength(start);
      if (count_ < total) break;
      count(start, total, context);
      count_ -= total;
      if (count_ > 0) std::memmove(start, start + total, count_);
    }
  }

  std::unique_ptr<uint8_t[]> buffer_;
  size_t count_ = 0;
};

struct Reassembler {
  FrameReassembler r;
  void feed(const uint8_t* data, size_t size, void* context) { r.feed(data, size, count, context); }
};

template <typename Impl>
void run(benchmark::State& state, const std::vector<uint8_t>& stream, size_t readSize) {
  Impl impl;
  Counter counter;
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size(); at += readSize) {
      impl.feed(stream.data() + at, std::min(readSize, stream.size() - at), &counter);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(counter.frames), benchmark::Counter::kIsRate);
}

const std::vector<uint8_t>& emptyFrames() {
  static const auto stream = framesUpTo(kReassemblyBufferSize, {0});
  return stream;
}
const std::vector<uint8_t>& smallOddFrames() {
  static const auto stream = framesUpTo(kReassemblyBufferSize, {1, 13, 70, 5, 111});
  return stream;
}
const std::vector<uint8_t>& liveFrames() {
  static const auto stream = framesUpTo(16 * kReassemblyBufferSize, {20000, 3000, 3001, 3002});
  return stream;
}

template <typename Impl>
void BM_EmptyFramesInOneRead(benchmark::State& state) {
  run<Impl>(state, emptyFrames(), kReassemblyBufferSize);
}
template <typename Impl>
void BM_SmallOddFramesInOneRead(benchmark::State& state) {
  run<Impl>(state, smallOddFrames(), kReassemblyBufferSize);
}
template <typename Impl>
void BM_LiveFramesIn64KiBReads(benchmark::State& state) {
  run<Impl>(state, liveFrames(), 65536);
}

BENCHMARK_TEMPLATE(BM_EmptyFramesInOneRead, Reassembler)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_EmptyFramesInOneRead, MoveAfterEachFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_SmallOddFramesInOneRead, Reassembler)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_SmallOddFramesInOneRead, MoveAfterEachFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_LiveFramesIn64KiBReads, Reassembler)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_LiveFramesIn64KiBReads, MoveAfterEachFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
