// I420 to BGRX conversion speed: ours (widest vector path, 256-bit path,
// table path) against
// libswscale (yuv420p to bgr0, bilinear) and libyuv I420ToARGB, at 1280x720
// and 1920x1080. Before timing, checks that ours is bit-exact to the plain
// formula and prints how far the other two differ from it.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "player/i420_converter.h"
#include "tests/player/formula_conversion.h"

extern "C" {
#include <libswscale/swscale.h>
#include <libavutil/pixfmt.h>
}

#ifdef LUMVARA_BENCH_HAVE_LIBYUV
#include <libyuv.h>
#endif

namespace {

using lumvara::ConversionPath;
using lumvara::I420Planes;

struct Picture {
  int width;
  int height;
  std::vector<uint8_t> bytes;  // packed I420
  I420Planes planes;
  std::vector<uint8_t> out;  // BGRX, pitch width * 4
};

Picture makePicture(int width, int height) {
  Picture p{width, height, std::vector<uint8_t>(lumvara::packedI420Size(width, height)), {}, {}};
  std::mt19937 random(1234);
  // A smooth picture with noise, like camera video.
  for (size_t i = 0; i < p.bytes.size(); ++i) {
    p.bytes[i] = static_cast<uint8_t>((i * 7 / 5 + random() % 32) & 0xFF);
  }
  p.planes = lumvara::packedI420(p.bytes.data(), width, height);
  p.out.resize(static_cast<size_t>(width) * height * 4);
  return p;
}

void convertSwscale(SwsContext* context, const Picture& p, uint8_t* out) {
  const uint8_t* const planes[3] = {p.planes.luma, p.planes.cb, p.planes.cr};
  const int strides[3] = {p.planes.lumaStride, p.planes.chromaStride, p.planes.chromaStride};
  uint8_t* const dst[1] = {out};
  const int dstStride[1] = {p.width * 4};
  sws_scale(context, planes, strides, 0, p.height, dst, dstStride);
}

SwsContext* swscaleContext(int width, int height) {
  return sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height, AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr,
                        nullptr, nullptr);
}

#ifdef LUMVARA_BENCH_HAVE_LIBYUV
void convertLibyuv(const Picture& p, uint8_t* out) {
  libyuv::I420ToARGB(p.planes.luma, p.planes.lumaStride, p.planes.cb, p.planes.chromaStride, p.planes.cr,
                     p.planes.chromaStride, out, p.width * 4, p.width, p.height);
}
#endif

// Largest difference in the colour bytes, and how many bytes differ.
void reportDifference(const char* name, const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int largest = 0;
  size_t differing = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    if (i % 4 == 3) {
      continue;
    }
    const int d = std::abs(int(a[i]) - int(b[i]));
    largest = std::max(largest, d);
    differing += d != 0;
  }
  std::printf("  %-22s largest difference %3d, %5.2f%% of colour bytes differ\n", name, largest,
              100.0 * differing / (a.size() * 3 / 4));
}

bool checkExactness(int width, int height) {
  Picture p = makePicture(width, height);
  std::vector<uint8_t> formula(p.out.size());
  lumvara::test::formulaConvert(p.planes, formula.data(), width * 4);
  std::vector<uint8_t> fastest(p.out.size());
  std::vector<uint8_t> vector256(p.out.size());
  std::vector<uint8_t> tables(p.out.size());
  lumvara::convertI420ToBgrx(p.planes, fastest.data(), width * 4, ConversionPath::Fastest);
  lumvara::convertI420ToBgrx(p.planes, vector256.data(), width * 4, ConversionPath::Vector256);
  lumvara::convertI420ToBgrx(p.planes, tables.data(), width * 4, ConversionPath::Tables);
  const bool exact = fastest == formula && vector256 == formula && tables == formula;
  std::printf("%dx%d: ours (every vector path and tables) %s to the table formula\n", width, height,
              exact ? "bit-exact" : "NOT bit-exact");
  std::vector<uint8_t> other(p.out.size());
  SwsContext* context = swscaleContext(width, height);
  convertSwscale(context, p, other.data());
  sws_freeContext(context);
  reportDifference("libswscale bilinear:", formula, other);
#ifdef LUMVARA_BENCH_HAVE_LIBYUV
  convertLibyuv(p, other.data());
  reportDifference("libyuv I420ToARGB:", formula, other);
#endif
  return exact;
}

// Reported as items_per_second: pixels converted per second.
void setCounters(benchmark::State& state, int width, int height) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * width * height);
}

void BM_Ours(benchmark::State& state) {
  Picture p = makePicture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    lumvara::convertI420ToBgrx(p.planes, p.out.data(), p.width * 4, ConversionPath::Fastest);
    benchmark::ClobberMemory();
  }
  setCounters(state, p.width, p.height);
}

// The 256-bit vector path alone, as processors without 512-bit vectors run.
void BM_OursVector256(benchmark::State& state) {
  Picture p = makePicture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    lumvara::convertI420ToBgrx(p.planes, p.out.data(), p.width * 4, ConversionPath::Vector256);
    benchmark::ClobberMemory();
  }
  setCounters(state, p.width, p.height);
}

void BM_OursTables(benchmark::State& state) {
  Picture p = makePicture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    lumvara::convertI420ToBgrx(p.planes, p.out.data(), p.width * 4, ConversionPath::Tables);
    benchmark::ClobberMemory();
  }
  setCounters(state, p.width, p.height);
}

void BM_Swscale(benchmark::State& state) {
  Picture p = makePicture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  SwsContext* context = swscaleContext(p.width, p.height);
  for (auto _ : state) {
    convertSwscale(context, p, p.out.data());
    benchmark::ClobberMemory();
  }
  sws_freeContext(context);
  setCounters(state, p.width, p.height);
}

#ifdef LUMVARA_BENCH_HAVE_LIBYUV
void BM_Libyuv(benchmark::State& state) {
  Picture p = makePicture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    convertLibyuv(p, p.out.data());
    benchmark::ClobberMemory();
  }
  setCounters(state, p.width, p.height);
}
#endif

void sizes(benchmark::internal::Benchmark* b) {
  b->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_Ours)->Apply(sizes);
BENCHMARK(BM_OursVector256)->Apply(sizes);
BENCHMARK(BM_OursTables)->Apply(sizes);
BENCHMARK(BM_Swscale)->Apply(sizes);
#ifdef LUMVARA_BENCH_HAVE_LIBYUV
BENCHMARK(BM_Libyuv)->Apply(sizes);
#endif

}  // namespace

int main(int argc, char** argv) {
  const bool exact = checkExactness(1280, 720) & checkExactness(1920, 1080);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return exact ? 0 : 1;
}
