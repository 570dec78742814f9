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

struct Avx2Constants {
    __m256i lumaScale, lumaBias, chromaBias, blueScale, greenCrScale, greenCbScale, redScale, pairUp, zero,
        max;
};

LUMVARA_AVX2 inline Avx2Constants avx2Constants()
{
    return {_mm256_set1_epi32(ColourTables::kLumaScale),
            _mm256_set1_epi32(-ColourTables::kLumaScale * 16),
            _mm256_set1_epi32(128),
            _mm256_set1_epi32(ColourTables::kBlueFromCb),
            _mm256_set1_epi32(ColourTables::kGreenFromCr),
            _mm256_set1_epi32(ColourTables::kGreenFromCb),
            _mm256_set1_epi32(ColourTables::kRedFromCr),
            _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3),
            _mm256_setzero_si256(),
            _mm256_set1_epi32(255)};
}

// Four chroma samples, each doubled for its two columns, minus 128.
LUMVARA_AVX2 inline __m256i loadChroma(const uint8_t* p, const Avx2Constants& k)
{
    int32_t four;
    std::memcpy(&four, p, 4);
    const __m256i wide = _mm256_cvtepu8_epi32(_mm_cvtsi32_si128(four));
    return _mm256_sub_epi32(_mm256_permutevar8x32_epi32(wide, k.pairUp), k.chromaBias);
}

// L[y] of eight luma samples.
LUMVARA_AVX2 inline __m256i loadLuma(const uint8_t* p, const Avx2Constants& k)
{
    int64_t eight;
    std::memcpy(&eight, p, 8);
    const __m256i wide = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(eight));
    return _mm256_add_epi32(_mm256_mullo_epi32(wide, k.lumaScale), k.lumaBias);
}

// The clip table's effect: shift, then saturate to 0 ... 255.
LUMVARA_AVX2 inline __m256i channel(__m256i sum, const Avx2Constants& k)
{
    return _mm256_min_epi32(_mm256_max_epi32(_mm256_srai_epi32(sum, 16), k.zero), k.max);
}

LUMVARA_AVX2 inline void storeEight(uint8_t* out, __m256i luma, __m256i blueTerm, __m256i greenTerm,
                                    __m256i redTerm, const Avx2Constants& k)
{
    const __m256i blue = channel(_mm256_add_epi32(luma, blueTerm), k);
    const __m256i green = channel(_mm256_sub_epi32(luma, greenTerm), k);
    const __m256i red = channel(_mm256_add_epi32(luma, redTerm), k);
    const __m256i pixels =
        _mm256_or_si256(blue, _mm256_or_si256(_mm256_slli_epi32(green, 8), _mm256_slli_epi32(red, 16)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), pixels);
}

// Eight pixels per step in 32-bit lanes: the lanes hold exactly the table
// entries (the products of the table formulas), shifted arithmetically and
// saturated like the clip table. Returns the first column it left.
LUMVARA_AVX2 int convertColumnsAvx2(const RowPair& rows, int width)
{
    const Avx2Constants k = avx2Constants();
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256i cb = loadChroma(rows.cb + x / 2, k);
        const __m256i cr = loadChroma(rows.cr + x / 2, k);
        const __m256i blueTerm = _mm256_mullo_epi32(cb, k.blueScale);
        const __m256i greenTerm =
            _mm256_add_epi32(_mm256_mullo_epi32(cr, k.greenCrScale), _mm256_mullo_epi32(cb, k.greenCbScale));
        const __m256i redTerm = _mm256_mullo_epi32(cr, k.redScale);
        storeEight(rows.dst0 + x * 4, loadLuma(rows.luma0 + x, k), blueTerm, greenTerm, redTerm, k);
        if (rows.luma1 != nullptr) {
            storeEight(rows.dst1 + x * 4, loadLuma(rows.luma1 + x, k), blueTerm, greenTerm, redTerm, k);
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
    // The vector loop reads whole groups of 8 luma and 4 chroma samples; it
    // stops before any group that would reach past the row.
    if (path == ConversionPath::Fastest && processorHasAvx2()) {
        done = convertColumnsAvx2(rows, std::min(width, chromaWidth * 2) & ~7);
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
