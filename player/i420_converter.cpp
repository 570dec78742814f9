#include "player/i420_converter.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "player/colour_tables.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define LUMVARA_HAVE_X86_VECTORS 1
#endif

namespace lumvara {

namespace {

// Chroma rows used where the picture has no chroma samples at all.
constexpr uint8_t kNeutralChroma = 128;

struct RowPair {
  const uint8_t* luma0;
  const uint8_t* luma1;  // null when the picture ends after luma0's row
  const uint8_t* cb;
  const uint8_t* cr;
  uint8_t* dst0;
  uint8_t* dst1;
};

inline void storePixel(uint8_t* out, const ColourTables& t, int32_t luma, int32_t blueTerm, int32_t greenTerm,
                       int32_t redTerm) {
  out[0] = t.clip((luma + blueTerm) >> 16);
  out[1] = t.clip((luma - greenTerm) >> 16);
  out[2] = t.clip((luma + redTerm) >> 16);
  out[3] = 0;
}

// Columns [begin, end) of a row pair with the tables; `chromaWidth` > 0.
void convertColumnsWithTables(const RowPair& rows, int begin, int end, int chromaWidth) {
  const ColourTables& t = colourTables();
  for (int x = begin; x < end; ++x) {
    const int cx = std::min(x >> 1, chromaWidth - 1);
    const uint8_t cb = rows.cb[cx];
    const uint8_t cr = rows.cr[cx];
    const int32_t blueTerm = t.B2[cb];
    const int32_t greenTerm = t.A1[cr] + t.B1[cb];
    const int32_t redTerm = t.A0[cr];
    storePixel(rows.dst0 + x * 4, t, t.L[rows.luma0[x]], blueTerm, greenTerm, redTerm);
    if (rows.luma1 != nullptr) {
      storePixel(rows.dst1 + x * 4, t, t.L[rows.luma1[x]], blueTerm, greenTerm, redTerm);
    }
  }
}

#ifdef LUMVARA_HAVE_X86_VECTORS

#define LUMVARA_AVX2 __attribute__((target("avx2")))

// The vector path computes each channel's sum exactly as the tables would,
// as a 32-bit value split into two 16-bit halves (high, low) so that sixteen
// pixels fit one register: products come from the 16-bit multiplies that
// give a product's high and low halves, and every addition carries from the
// low half into the high one. The high half of the sum is then the table
// formula's arithmetic shift by 16; it lies in -384 ... 639, and the
// saturating pack to bytes is the clip table.
struct Halves {
  __m256i hi;
  __m256i lo;
};

LUMVARA_AVX2 inline Halves addHalves(Halves a, Halves b) {
  const __m256i lo = _mm256_add_epi16(a.lo, b.lo);
  // No carry exactly when the low sum did not wrap: lo >= a.lo, unsigned.
  const __m256i noCarry = _mm256_cmpeq_epi16(_mm256_max_epu16(lo, a.lo), lo);
  const __m256i carry = _mm256_add_epi16(noCarry, _mm256_set1_epi16(1));
  return {_mm256_add_epi16(_mm256_add_epi16(a.hi, b.hi), carry), lo};
}

// value x (65536 x whole + part) for signed 16-bit values: the signed high
// half of value x part, plus whole x value; the low half of value x part.
LUMVARA_AVX2 inline Halves multiply(__m256i value, int whole, int16_t part) {
  const __m256i partVector = _mm256_set1_epi16(part);
  __m256i hi = _mm256_mulhi_epi16(value, partVector);
  for (int i = 0; i < whole; ++i) {
    hi = _mm256_add_epi16(hi, value);
  }
  for (int i = 0; i > whole; --i) {
    hi = _mm256_sub_epi16(hi, value);
  }
  return {hi, _mm256_mullo_epi16(value, partVector)};
}

// a - 1: the low half wraps to 65535 exactly when it was 0.
LUMVARA_AVX2 inline Halves lessOne(Halves a) {
  const __m256i borrow = _mm256_cmpeq_epi16(a.lo, _mm256_setzero_si256());
  return {_mm256_add_epi16(a.hi, borrow), _mm256_sub_epi16(a.lo, _mm256_set1_epi16(1))};
}

// The chroma part of each channel's sum less one; channel() adds the one
// back while it finds the carry from the low halves (see there). Chroma
// arrives as cb - 128 and cr - 128, so the products carry the chroma bias.
struct ChromaTerms {
  Halves blue;
  Halves green;
  Halves red;
};

LUMVARA_AVX2 inline ChromaTerms chromaTerms(__m256i cb, __m256i cr) {
  // 132201 = 2 x 65536 + 1129; 104597 = 2 x 65536 - 26475;
  // -53279 = -65536 + 12257; -25675 fits 16 bits.
  static_assert(ColourTables::kBlueFromCb == 2 * 65536 + 1129);
  static_assert(ColourTables::kRedFromCr == 2 * 65536 - 26475);
  static_assert(ColourTables::kGreenFromCr == 65536 - 12257);
  static_assert(ColourTables::kGreenFromCb == 25675);
  ChromaTerms t;
  t.blue = lessOne(multiply(cb, 2, 1129));
  t.red = lessOne(multiply(cr, 2, -26475));
  t.green = lessOne(addHalves(multiply(cr, -1, 12257), multiply(cb, 0, -25675)));
  return t;
}

// Each chroma term twice, for the two columns it serves, in the lane order
// of the luma (see convertThirtyTwo): `low` for pixels 0-7 | 16-23 of the
// group, `high` for pixels 8-15 | 24-31.
LUMVARA_AVX2 inline void duplicate(const Halves& term, Halves& low, Halves& high) {
  low = {_mm256_unpacklo_epi16(term.hi, term.hi), _mm256_unpacklo_epi16(term.lo, term.lo)};
  high = {_mm256_unpackhi_epi16(term.hi, term.hi), _mm256_unpackhi_epi16(term.lo, term.lo)};
}

// The high half of luma + chroma: the channel value before clipping.
// `chroma` holds the chroma term less one. The rounding average
// (a + b + 1) >> 1 of the low halves has its top bit set exactly when
// luma.lo + chroma.lo + 1 reaches 65536, which is the carry of the true sum.
LUMVARA_AVX2 inline __m256i channel(const Halves& luma, const Halves& chroma) {
  const __m256i carry = _mm256_srli_epi16(_mm256_avg_epu16(luma.lo, chroma.lo), 15);
  return _mm256_add_epi16(_mm256_add_epi16(luma.hi, chroma.hi), carry);
}

struct Channels {
  __m256i blue;
  __m256i green;
  __m256i red;
};

// L[y] = 76309 x (y - 16) for sixteen luma samples, 76309 = 65536 + 10773,
// and the three channels with their chroma terms.
LUMVARA_AVX2 inline Channels channels(__m256i y, const ChromaTerms& chroma) {
  static_assert(ColourTables::kLumaScale == 65536 + 10773);
  const Halves l = multiply(_mm256_sub_epi16(y, _mm256_set1_epi16(16)), 1, 10773);
  return {channel(l, chroma.blue), channel(l, chroma.green), channel(l, chroma.red)};
}

LUMVARA_AVX2 inline void storeFour(uint8_t* out, __m256i pixels) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(pixels));
}

LUMVARA_AVX2 inline void storeFourHigh(uint8_t* out, __m256i pixels) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_extracti128_si256(pixels, 1));
}

// Thirty-two pixels of one row. Unpacking the luma bytes in their lanes
// gives pixels 0-7 | 16-23 and 8-15 | 24-31; the saturating packs (which clip
// to 0 ... 255) put the bytes of both back in order, and the interleaving
// to B, G, R, 0 leaves four pixels per lane.
LUMVARA_AVX2 inline void convertThirtyTwo(const uint8_t* luma, uint8_t* out, const ChromaTerms& low,
                                          const ChromaTerms& high) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(luma));
  const Channels a = channels(_mm256_unpacklo_epi8(bytes, zero), low);
  const Channels b = channels(_mm256_unpackhi_epi8(bytes, zero), high);
  const __m256i blue = _mm256_packus_epi16(a.blue, b.blue);
  const __m256i green = _mm256_packus_epi16(a.green, b.green);
  const __m256i red = _mm256_packus_epi16(a.red, b.red);
  const __m256i blueGreenLow = _mm256_unpacklo_epi8(blue, green);   // 0-7 | 16-23
  const __m256i blueGreenHigh = _mm256_unpackhi_epi8(blue, green);  // 8-15 | 24-31
  const __m256i redZeroLow = _mm256_unpacklo_epi8(red, zero);
  const __m256i redZeroHigh = _mm256_unpackhi_epi8(red, zero);
  const __m256i p0 = _mm256_unpacklo_epi16(blueGreenLow, redZeroLow);     // 0-3 | 16-19
  const __m256i p4 = _mm256_unpackhi_epi16(blueGreenLow, redZeroLow);     // 4-7 | 20-23
  const __m256i p8 = _mm256_unpacklo_epi16(blueGreenHigh, redZeroHigh);   // 8-11 | 24-27
  const __m256i p12 = _mm256_unpackhi_epi16(blueGreenHigh, redZeroHigh);  // 12-15 | 28-31
  storeFour(out, p0);
  storeFour(out + 16, p4);
  storeFour(out + 32, p8);
  storeFour(out + 48, p12);
  storeFourHigh(out + 64, p0);
  storeFourHigh(out + 80, p4);
  storeFourHigh(out + 96, p8);
  storeFourHigh(out + 112, p12);
}

// Sixteen chroma samples less 128, in order.
LUMVARA_AVX2 inline __m256i loadChroma(const uint8_t* p) {
  const __m256i wide = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  return _mm256_sub_epi16(wide, _mm256_set1_epi16(128));
}

// Thirty-two columns of a row pair per step from column `begin` (even),
// sixteen chroma samples serving them. Returns the first column it left.
LUMVARA_AVX2 int convertColumnsAvx2(const RowPair& rows, int begin, int width) {
  int x = begin;
  for (; x + 32 <= width; x += 32) {
    const ChromaTerms terms = chromaTerms(loadChroma(rows.cb + x / 2), loadChroma(rows.cr + x / 2));
    ChromaTerms low;
    ChromaTerms high;
    duplicate(terms.blue, low.blue, high.blue);
    duplicate(terms.green, low.green, high.green);
    duplicate(terms.red, low.red, high.red);
    convertThirtyTwo(rows.luma0 + x, rows.dst0 + x * 4, low, high);
    if (rows.luma1 != nullptr) {
      convertThirtyTwo(rows.luma1 + x, rows.dst1 + x * 4, low, high);
    }
  }
  return x;
}

bool processorHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

#define LUMVARA_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// The 512-bit path splits the sum differently, so that the luma part is
// worked out once for all three channels. With 76309 = 65536 + 10773 and
// y the luma byte,
//   76309 y = 65536 q + r,  q = y + high16(10773 y),  r = low16(10773 y),
// and with the chroma part T of a channel (its table terms, less 76309 x 16
// for the luma offset) split as T = 65536 Th + Tl, 0 <= Tl < 65536,
//   (76309 y + T) >> 16 = q + Th + carry,  carry = 1 when r + Tl >= 65536,
// that is when r > 65535 - Tl = ~Tl, an unsigned 16-bit compare. Each chroma
// sample's T is one 32-bit product sum; its two halves are Th and Tl.

// T for sixteen chroma samples, as 32-bit values.
struct ChromaSums {
  __m512i blue;
  __m512i green;
  __m512i red;
};

LUMVARA_AVX512 inline ChromaSums chromaSums(const uint8_t* cb, const uint8_t* cr) {
  // The table terms are coefficient x (c - 128); the bias and the luma
  // offset fold into one constant per channel.
  constexpr int32_t kLumaOffset = ColourTables::kLumaScale * 16;
  constexpr int32_t kBlueBias = -ColourTables::kBlueFromCb * 128 - kLumaOffset;
  constexpr int32_t kRedBias = -ColourTables::kRedFromCr * 128 - kLumaOffset;
  constexpr int32_t kGreenBias = (ColourTables::kGreenFromCr + ColourTables::kGreenFromCb) * 128 - kLumaOffset;
  const __m512i b = _mm512_maskz_cvtepu8_epi32(0xFFFF, _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb)));
  const __m512i r = _mm512_maskz_cvtepu8_epi32(0xFFFF, _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr)));
  ChromaSums sums;
  sums.blue = _mm512_add_epi32(_mm512_mullo_epi32(b, _mm512_set1_epi32(ColourTables::kBlueFromCb)),
                               _mm512_set1_epi32(kBlueBias));
  sums.red =
      _mm512_add_epi32(_mm512_mullo_epi32(r, _mm512_set1_epi32(ColourTables::kRedFromCr)), _mm512_set1_epi32(kRedBias));
  const __m512i greenTerms = _mm512_add_epi32(_mm512_mullo_epi32(r, _mm512_set1_epi32(ColourTables::kGreenFromCr)),
                                              _mm512_mullo_epi32(b, _mm512_set1_epi32(ColourTables::kGreenFromCb)));
  sums.green = _mm512_sub_epi32(_mm512_set1_epi32(kGreenBias), greenTerms);
  return sums;
}

// One channel's chroma part for the thirty-two pixels that sixteen chroma
// samples serve, pixel by pixel in 16-bit lanes: Th, and ~Tl for the carry
// compare. Each sample's halves are copied to the two columns it serves.
struct ChromaHalves {
  __m512i high;
  __m512i notLow;
};

LUMVARA_AVX512 inline ChromaHalves chromaHalves(__m512i sums) {
  const __m512i highWords = _mm512_set4_epi32(0x0F0E0F0E, 0x0B0A0B0A, 0x07060706, 0x03020302);
  const __m512i lowWords = _mm512_set4_epi32(0x0D0C0D0C, 0x09080908, 0x05040504, 0x01000100);
  const __m512i inverted = _mm512_xor_si512(sums, _mm512_set1_epi32(-1));
  return {_mm512_shuffle_epi8(sums, highWords), _mm512_shuffle_epi8(inverted, lowWords)};
}

struct PixelChroma {
  ChromaHalves blue;
  ChromaHalves green;
  ChromaHalves red;
};

// The three channels of thirty-two pixels, 16-bit, before clipping.
struct Channels512 {
  __m512i blue;
  __m512i green;
  __m512i red;
};

LUMVARA_AVX512 inline __m512i channel512(__m512i q, __m512i r, const ChromaHalves& chroma) {
  const __mmask32 carry = _mm512_cmpgt_epu16_mask(r, chroma.notLow);
  const __m512i sum = _mm512_add_epi16(q, chroma.high);
  return _mm512_mask_sub_epi16(sum, carry, sum, _mm512_set1_epi16(-1));
}

LUMVARA_AVX512 inline Channels512 channels512(const uint8_t* luma, const PixelChroma& chroma) {
  static_assert(ColourTables::kLumaScale == 65536 + 10773);
  const __m512i y =
      _mm512_maskz_cvtepu8_epi16(~__mmask32{0}, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(luma)));
  const __m512i scale = _mm512_set1_epi16(10773);
  const __m512i q = _mm512_add_epi16(y, _mm512_mulhi_epu16(y, scale));
  const __m512i r = _mm512_mullo_epi16(y, scale);
  return {channel512(q, r, chroma.blue), channel512(q, r, chroma.green), channel512(q, r, chroma.red)};
}

// Byte indexes that turn the packed channels of sixty-four pixels into B, G,
// R, 0 pixels. A saturating pack of two registers x and y puts, in each
// 16-byte lane i, x's words 8i ... 8i + 7 and then y's as bytes. The packs
// made are blue and green of pixels 0-31 (first), of pixels 32-63
// (second), and red of pixels 0-31 with red of pixels 32-63 (red). Output
// register o holds pixels 16 o ... 16 o + 15 and takes blue and green from
// the first or second pack (first table of the permute), red from the red
// one (second table).
struct InterleaveIndexes {
  alignas(64) uint8_t index[4][64];
};

// Where word w (0-31) of the first register of a pack lands; the second's
// words follow 8 bytes later in the same lane.
constexpr int packedByte(int w, bool second) { return (w / 8) * 16 + (second ? 8 : 0) + w % 8; }

constexpr InterleaveIndexes makeInterleaveIndexes() {
  InterleaveIndexes built{};
  for (int o = 0; o < 4; ++o) {
    for (int m = 0; m < 16; ++m) {
      const int p = o * 16 + m;
      const int w = p % 32;
      built.index[o][m * 4] = static_cast<uint8_t>(packedByte(w, false));
      built.index[o][m * 4 + 1] = static_cast<uint8_t>(packedByte(w, true));
      built.index[o][m * 4 + 2] = static_cast<uint8_t>(64 + packedByte(w, p >= 32));
    }
  }
  return built;
}

constexpr InterleaveIndexes kInterleave = makeInterleaveIndexes();

// Bytes 0, 1 and 2 of every pixel; byte 3 is zeroed.
constexpr __mmask64 kColourBytes = 0x7777777777777777ull;

LUMVARA_AVX512 inline void storeSixtyFour(uint8_t* out, const Channels512& a, const Channels512& b) {
  const __m512i first = _mm512_packus_epi16(a.blue, a.green);
  const __m512i second = _mm512_packus_epi16(b.blue, b.green);
  const __m512i red = _mm512_packus_epi16(a.red, b.red);
  for (int o = 0; o < 4; ++o) {
    const __m512i index = _mm512_load_si512(kInterleave.index[o]);
    const __m512i pixels = _mm512_maskz_permutex2var_epi8(kColourBytes, o < 2 ? first : second, index, red);
    _mm512_storeu_si512(out + o * 64, pixels);
  }
}

// Groups of sixty-four columns are converted in runs: the chroma of the
// whole run first, then the first row's pixels, then the second's, so that
// each output row is written in one long stretch (row by row the memory
// system keeps up better than with the two rows interleaved). 32 groups
// cover a 2048-pixel row; their chroma takes 24 KB of stack.
constexpr int kGroupsPerChunk = 32;

// The chroma of the sixty-four columns at x (even): thirty-two samples.
LUMVARA_AVX512 inline void chromaOfGroup(const RowPair& rows, int x, PixelChroma* chroma) {
  for (int half = 0; half < 2; ++half) {
    const ChromaSums sums = chromaSums(rows.cb + x / 2 + half * 16, rows.cr + x / 2 + half * 16);
    chroma[half] = {chromaHalves(sums.blue), chromaHalves(sums.green), chromaHalves(sums.red)};
  }
}

// Groups at the even columns `starts`, at most kGroupsPerChunk of them.
LUMVARA_AVX512 void convertGroups(const RowPair& rows, const int* starts, int count) {
  PixelChroma chroma[kGroupsPerChunk][2];
  for (int g = 0; g < count; ++g) {
    chromaOfGroup(rows, starts[g], chroma[g]);
  }
  const uint8_t* luma[2] = {rows.luma0, rows.luma1};
  uint8_t* out[2] = {rows.dst0, rows.dst1};
  for (int row = 0; row < 2 && luma[row] != nullptr; ++row) {
    for (int g = 0; g < count; ++g) {
      const int x = starts[g];
      const Channels512 a = channels512(luma[row] + x, chroma[g][0]);
      const Channels512 b = channels512(luma[row] + x + 32, chroma[g][1]);
      storeSixtyFour(out[row] + x * 4, a, b);
    }
  }
}

// Columns [0, width) of a row pair, width >= 64 and even. The groups start
// at column `aligned` (even, below 16), where the output rows reach a
// cache-line boundary, so that their stores do not straddle lines; the
// columns in front of it and behind the last whole group are covered by one
// more group each, overlapping its neighbour (the overlap is written twice,
// with the same bytes).
LUMVARA_AVX512 void convertColumnsAvx512(const RowPair& rows, int aligned, int width) {
  int starts[kGroupsPerChunk];
  int count = 0;
  auto add = [&](int x) {
    starts[count++] = x;
    if (count == kGroupsPerChunk) {
      convertGroups(rows, starts, count);
      count = 0;
    }
  };
  if (aligned > 0) {
    add(0);
  }
  int x = aligned;
  for (; x + 64 <= width; x += 64) {
    add(x);
  }
  if (x < width) {
    add(width - 64);
  }
  if (count > 0) {
    convertGroups(rows, starts, count);
  }
}

// Columns in front of the first 64-byte boundary of the output rows: the
// 512-bit loop starts there, so that none of its stores straddles two cache
// lines. 0 when the rows lie differently, or when the boundary falls on an
// odd column (or inside a pixel), where no chroma sample begins.
int columnsBeforeAlignment(const RowPair& rows) {
  constexpr uintptr_t kLine = 64;
  const auto first = reinterpret_cast<uintptr_t>(rows.dst0);
  if (first % 4 != 0) {
    return 0;
  }
  if (rows.dst1 != nullptr && (reinterpret_cast<uintptr_t>(rows.dst1) - first) % kLine != 0) {
    return 0;
  }
  const int columns = static_cast<int>(((kLine - first % kLine) % kLine) / 4);
  return columns % 2 == 0 ? columns : 0;
}

bool processorHasAvx512() {
  static const bool has =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
  return has;
}

#endif

void convertRowPair(const RowPair& rows, int width, int chromaWidth, ConversionPath path) {
  int done = 0;
#ifdef LUMVARA_HAVE_X86_VECTORS
  // The vector loops read whole groups of luma samples and the chroma
  // samples serving them, never past the columns that have chroma: the
  // 512-bit loop (64 columns a group) covers them all once they are at
  // least one group wide, the 256-bit loop (32 a group) stops before a
  // group that would reach past them.
  const int vectorWidth = std::min(width, chromaWidth * 2);
  if (path == ConversionPath::Fastest && processorHasAvx512() && vectorWidth >= 64) {
    convertColumnsAvx512(rows, columnsBeforeAlignment(rows), vectorWidth);
    done = vectorWidth;
  }
  if ((path == ConversionPath::Fastest || path == ConversionPath::Vector256) && processorHasAvx2()) {
    done = convertColumnsAvx2(rows, done, vectorWidth);
  }
#else
  (void)path;
#endif
  convertColumnsWithTables(rows, done, width, chromaWidth);
}

}  // namespace

I420Planes packedI420(const uint8_t* picture, int width, int height) {
  I420Planes planes;
  planes.luma = picture;
  planes.cb = picture + static_cast<size_t>(width) * height;
  planes.cr = planes.cb + static_cast<size_t>(width / 2) * (height / 2);
  planes.lumaStride = width;
  planes.chromaStride = width / 2;
  planes.width = width;
  planes.height = height;
  return planes;
}

uint64_t packedI420Size(int width, int height) {
  if (width <= 0 || height <= 0) {
    return 0;
  }
  return static_cast<uint64_t>(width) * height + 2ull * static_cast<uint64_t>(width / 2) * (height / 2);
}

void convertI420ToBgrx(const I420Planes& src, uint8_t* dst, int dstPitch, ConversionPath path) {
  if (src.width <= 0 || src.height <= 0 || dst == nullptr) {
    return;
  }
  const int chromaWidth = src.width / 2;
  const int chromaHeight = src.height / 2;
  const bool hasChroma = chromaWidth > 0 && chromaHeight > 0;
  // A picture too small to carry chroma is drawn grey-neutral: one sample
  // of 128 serves every block.
  const uint8_t neutral = kNeutralChroma;
  for (int row = 0; row < src.height; row += 2) {
    const int chromaRow = hasChroma ? std::min(row / 2, chromaHeight - 1) : 0;
    RowPair rows;
    rows.luma0 = src.luma + static_cast<ptrdiff_t>(row) * src.lumaStride;
    rows.luma1 = row + 1 < src.height ? rows.luma0 + src.lumaStride : nullptr;
    rows.cb = hasChroma ? src.cb + static_cast<ptrdiff_t>(chromaRow) * src.chromaStride : &neutral;
    rows.cr = hasChroma ? src.cr + static_cast<ptrdiff_t>(chromaRow) * src.chromaStride : &neutral;
    rows.dst0 = dst + static_cast<ptrdiff_t>(row) * dstPitch;
    rows.dst1 = rows.luma1 != nullptr ? rows.dst0 + dstPitch : nullptr;
    if (!hasChroma) {
      // Every column reads the single neutral sample.
      convertColumnsWithTables(rows, 0, src.width, 1);
      continue;
    }
    convertRowPair(rows, src.width, chromaWidth, path);
  }
}

}  // namespace lumvara
