#include "player/i420_converter.h"

#include <algorithm>
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
                       int32_t redTerm)
{
    out[0] = t.clip((luma + blueTerm) >> 16);
    out[1] = t.clip((luma - greenTerm) >> 16);
    out[2] = t.clip((luma + redTerm) >> 16);
    out[3] = 0;
}

// Columns [begin, width) of a row pair with the tables; `chromaWidth` > 0.
void convertColumnsWithTables(const RowPair& rows, int begin, int width, int chromaWidth)
{
    const ColourTables& t = colourTables();
    for (int x = begin; x < width; ++x) {
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

LUMVARA_AVX2 inline Halves addHalves(Halves a, Halves b)
{
    const __m256i lo = _mm256_add_epi16(a.lo, b.lo);
    // No carry exactly when the low sum did not wrap: lo >= a.lo, unsigned.
    const __m256i noCarry = _mm256_cmpeq_epi16(_mm256_max_epu16(lo, a.lo), lo);
    const __m256i carry = _mm256_add_epi16(noCarry, _mm256_set1_epi16(1));
    return {_mm256_add_epi16(_mm256_add_epi16(a.hi, b.hi), carry), lo};
}

// value x (65536 x whole + part) for signed 16-bit values: the signed high
// half of value x part, plus whole x value; the low half of value x part.
LUMVARA_AVX2 inline Halves multiply(__m256i value, int whole, int16_t part)
{
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
LUMVARA_AVX2 inline Halves lessOne(Halves a)
{
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

LUMVARA_AVX2 inline ChromaTerms chromaTerms(__m256i cb, __m256i cr)
{
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
LUMVARA_AVX2 inline void duplicate(const Halves& term, Halves& low, Halves& high)
{
    low = {_mm256_unpacklo_epi16(term.hi, term.hi), _mm256_unpacklo_epi16(term.lo, term.lo)};
    high = {_mm256_unpackhi_epi16(term.hi, term.hi), _mm256_unpackhi_epi16(term.lo, term.lo)};
}

// The high half of luma + chroma: the channel value before clipping.
// `chroma` holds the chroma term less one. The rounding average
// (a + b + 1) >> 1 of the low halves has its top bit set exactly when
// luma.lo + chroma.lo + 1 reaches 65536, which is the carry of the true sum.
LUMVARA_AVX2 inline __m256i channel(const Halves& luma, const Halves& chroma)
{
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
LUMVARA_AVX2 inline Channels channels(__m256i y, const ChromaTerms& chroma)
{
    static_assert(ColourTables::kLumaScale == 65536 + 10773);
    const Halves l = multiply(_mm256_sub_epi16(y, _mm256_set1_epi16(16)), 1, 10773);
    return {channel(l, chroma.blue), channel(l, chroma.green), channel(l, chroma.red)};
}

LUMVARA_AVX2 inline void storeFour(uint8_t* out, __m256i pixels)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(pixels));
}

LUMVARA_AVX2 inline void storeFourHigh(uint8_t* out, __m256i pixels)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_extracti128_si256(pixels, 1));
}

// Thirty-two pixels of one row. Unpacking the luma bytes in their lanes
// gives pixels 0-7 | 16-23 and 8-15 | 24-31; the saturating packs (which clip
// to 0 ... 255) put the bytes of both back in order, and the interleaving
// to B, G, R, 0 leaves four pixels per lane.
LUMVARA_AVX2 inline void convertThirtyTwo(const uint8_t* luma, uint8_t* out, const ChromaTerms& low,
                                          const ChromaTerms& high)
{
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
    const __m256i p0 = _mm256_unpacklo_epi16(blueGreenLow, redZeroLow);    // 0-3 | 16-19
    const __m256i p4 = _mm256_unpackhi_epi16(blueGreenLow, redZeroLow);    // 4-7 | 20-23
    const __m256i p8 = _mm256_unpacklo_epi16(blueGreenHigh, redZeroHigh);  // 8-11 | 24-27
    const __m256i p12 = _mm256_unpackhi_epi16(blueGreenHigh, redZeroHigh); // 12-15 | 28-31
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
LUMVARA_AVX2 inline __m256i loadChroma(const uint8_t* p)
{
    const __m256i wide = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    return _mm256_sub_epi16(wide, _mm256_set1_epi16(128));
}

// Thirty-two columns of a row pair per step, sixteen chroma samples serving
// them. Returns the first column it left.
LUMVARA_AVX2 int convertColumnsAvx2(const RowPair& rows, int width)
{
    int x = 0;
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

bool processorHasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

#endif

void convertRowPair(const RowPair& rows, int width, int chromaWidth, ConversionPath path)
{
    int done = 0;
#ifdef LUMVARA_HAVE_X86_VECTORS
    // The vector loop reads whole groups of 32 luma and 16 chroma samples;
    // it stops before any group that would reach past the row.
    if (path == ConversionPath::Fastest && processorHasAvx2()) {
        done = convertColumnsAvx2(rows, std::min(width, chromaWidth * 2));
    }
#else
    (void)path;
#endif
    convertColumnsWithTables(rows, done, width, chromaWidth);
}

}  // namespace

I420Planes packedI420(const uint8_t* picture, int width, int height)
{
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

uint64_t packedI420Size(int width, int height)
{
    if (width <= 0 || height <= 0) {
        return 0;
    }
    return static_cast<uint64_t>(width) * height + 2ull * static_cast<uint64_t>(width / 2) * (height / 2);
}

void convertI420ToBgrx(const I420Planes& src, uint8_t* dst, int dstPitch, ConversionPath path)
{
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
