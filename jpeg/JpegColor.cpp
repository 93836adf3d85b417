#include "jpeg/JpegTransform.h"
#include "jpeg/JpegVector.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <string_view>

#if JPEG_HAVE_AVX2_DISPATCH
#include <immintrin.h>
#endif

// Colour conversion between RGB and YCbCr (JFIF, ITU-T T.871). Each formula
// is evaluated left to right as written; vector lanes are different pixels,
// so every variant gives the results of the plain per-pixel arithmetic.
// Clamping to 0..255 before truncating toward zero is done with max and min.

static_assert(std::endian::native == std::endian::little);

namespace {

// --- decoder: YCbCr to BGR, single precision --------------------------------

std::uint8_t ClampTruncate(float value)
{
    if (value > 255.0f)
        value = 255.0f;
    if (value < 0.0f)
        value = 0.0f;
    return std::uint8_t(value);
}

void YCbCrToBgrPixel(std::uint8_t y, std::uint8_t cb, std::uint8_t cr, std::uint8_t* bgr)
{
    const float luma = y;
    const float blue = float(cb - 128);
    const float red = float(cr - 128);
    bgr[0] = ClampTruncate(luma + 1.772f * blue);
    bgr[1] = ClampTruncate(luma - 0.34414f * blue - 0.71414f * red);
    bgr[2] = ClampTruncate(luma + 1.402f * red);
}

void YCbCrToBgrBaseline(
    const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, int width, std::uint8_t* bgr)
{
    const JpegFloat8 zero = {};
    const JpegFloat8 full = zero + 255.0f;
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        JpegFloat8 luma, blue, red;
        for (int i = 0; i < 8; ++i) {
            luma[i] = y[x + i];
            blue[i] = float(cb[x + i] - 128);
            red[i] = float(cr[x + i] - 128);
        }
        JpegFloat8 channels[3] = { luma + 1.772f * blue, luma - 0.34414f * blue - 0.71414f * red, luma + 1.402f * red };
        for (JpegFloat8& channel : channels) {
            channel = channel > full ? full : channel;
            channel = channel < zero ? zero : channel;
        }
        const JpegInt8 b = __builtin_convertvector(channels[0], JpegInt8);
        const JpegInt8 g = __builtin_convertvector(channels[1], JpegInt8);
        const JpegInt8 r = __builtin_convertvector(channels[2], JpegInt8);
        for (int i = 0; i < 8; ++i) {
            bgr[3 * (x + i)] = std::uint8_t(b[i]);
            bgr[3 * (x + i) + 1] = std::uint8_t(g[i]);
            bgr[3 * (x + i) + 2] = std::uint8_t(r[i]);
        }
    }
    for (; x < width; ++x)
        YCbCrToBgrPixel(y[x], cb[x], cr[x], bgr + 3 * x);
}

// --- encoder: BGR to YCbCr, double precision --------------------------------

std::uint8_t ClampTruncate(double value)
{
    if (value > 255.0)
        value = 255.0;
    if (value < 0.0)
        value = 0.0;
    return std::uint8_t(value);
}

void BgrToYCbCrPixel(const std::uint8_t* bgr, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr)
{
    const double b = bgr[0], g = bgr[1], r = bgr[2];
    *y = ClampTruncate(0.299 * r + 0.587 * g + 0.114 * b);
    *cb = ClampTruncate(0.5 * b - 0.1687 * r - 0.3313 * g + 128.0);
    *cr = ClampTruncate(0.5 * r - 0.4187 * g - 0.0813 * b + 128.0);
}

void BgrToYCbCrBaseline(const std::uint8_t* bgr, int width, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr)
{
    for (int x = 0; x < width; ++x)
        BgrToYCbCrPixel(bgr + 3 * x, y + x, cb + x, cr + x);
}

#if JPEG_HAVE_AVX2_DISPATCH

JPEG_TARGET_AVX2 inline __m256 LoadBytesAsFloats(const std::uint8_t* bytes)
{
    std::int64_t packed;
    std::memcpy(&packed, bytes, sizeof packed);
    return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_cvtsi64_si128(packed)));
}

JPEG_TARGET_AVX2 inline __m256i ClampTruncate(__m256 value)
{
    value = _mm256_min_ps(_mm256_max_ps(value, _mm256_setzero_ps()), _mm256_set1_ps(255.0f));
    return _mm256_cvttps_epi32(value);
}

JPEG_TARGET_AVX2 void YCbCrToBgrAvx2(
    const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, int width, std::uint8_t* bgr)
{
    const __m256 offset = _mm256_set1_ps(128.0f);
    // Per 128-bit lane: the low three bytes of each of four 32-bit pixels.
    const __m256i gather = _mm256_setr_epi8(
        0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256 luma = LoadBytesAsFloats(y + x);
        const __m256 blue = _mm256_sub_ps(LoadBytesAsFloats(cb + x), offset);
        const __m256 red = _mm256_sub_ps(LoadBytesAsFloats(cr + x), offset);
        const __m256i b = ClampTruncate(_mm256_add_ps(luma, _mm256_mul_ps(_mm256_set1_ps(1.772f), blue)));
        const __m256i g
            = ClampTruncate(_mm256_sub_ps(_mm256_sub_ps(luma, _mm256_mul_ps(_mm256_set1_ps(0.34414f), blue)),
                _mm256_mul_ps(_mm256_set1_ps(0.71414f), red)));
        const __m256i r = ClampTruncate(_mm256_add_ps(luma, _mm256_mul_ps(_mm256_set1_ps(1.402f), red)));
        const __m256i packed = _mm256_or_si256(b, _mm256_or_si256(_mm256_slli_epi32(g, 8), _mm256_slli_epi32(r, 16)));
        const __m256i bytes = _mm256_shuffle_epi8(packed, gather);
        std::uint8_t* out = bgr + 3 * x;
        if (x + 8 < width) {
            // 16-byte stores whose last 4 bytes are rewritten by the next
            // store or by the next group of pixels.
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm256_extracti128_si256(bytes, 1));
        } else {
            alignas(32) std::uint8_t last[32];
            _mm256_store_si256(reinterpret_cast<__m256i*>(last), bytes);
            std::memcpy(out, last, 12);
            std::memcpy(out + 12, last + 16, 12);
        }
    }
    for (; x < width; ++x)
        YCbCrToBgrPixel(y[x], cb[x], cr[x], bgr + 3 * x);
}

JPEG_TARGET_AVX2 inline __m128i ClampTruncate(__m256d value)
{
    value = _mm256_min_pd(_mm256_max_pd(value, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
    return _mm256_cvttpd_epi32(value);
}

JPEG_TARGET_AVX2 inline void StoreFourBytes(__m128i values, std::uint8_t* out)
{
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(values, values), values);
    const int word = _mm_cvtsi128_si32(bytes);
    std::memcpy(out, &word, 4);
}

JPEG_TARGET_AVX2 void BgrToYCbCrAvx2(
    const std::uint8_t* bgr, int width, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr)
{
    // Four pixels (12 bytes) into three groups of four bytes: B, G, R.
    const __m128i split = _mm_setr_epi8(0, 3, 6, 9, 1, 4, 7, 10, 2, 5, 8, 11, -1, -1, -1, -1);
    const __m256d offset = _mm256_set1_pd(128.0);
    int x = 0;
    // A 16-byte load reads 4 bytes past the four pixels: stay 2 pixels short.
    for (; x + 6 <= width; x += 4) {
        const __m128i pixels = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 3 * x)), split);
        const __m256d b = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(pixels));
        const __m256d g = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_srli_si128(pixels, 4)));
        const __m256d r = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_srli_si128(pixels, 8)));
        const __m256d luma = _mm256_add_pd(
            _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(0.299), r), _mm256_mul_pd(_mm256_set1_pd(0.587), g)),
            _mm256_mul_pd(_mm256_set1_pd(0.114), b));
        const __m256d blue = _mm256_add_pd(_mm256_sub_pd(_mm256_sub_pd(_mm256_mul_pd(_mm256_set1_pd(0.5), b),
                                                             _mm256_mul_pd(_mm256_set1_pd(0.1687), r)),
                                               _mm256_mul_pd(_mm256_set1_pd(0.3313), g)),
            offset);
        const __m256d red = _mm256_add_pd(_mm256_sub_pd(_mm256_sub_pd(_mm256_mul_pd(_mm256_set1_pd(0.5), r),
                                                            _mm256_mul_pd(_mm256_set1_pd(0.4187), g)),
                                              _mm256_mul_pd(_mm256_set1_pd(0.0813), b)),
            offset);
        StoreFourBytes(ClampTruncate(luma), y + x);
        StoreFourBytes(ClampTruncate(blue), cb + x);
        StoreFourBytes(ClampTruncate(red), cr + x);
    }
    for (; x < width; ++x)
        BgrToYCbCrPixel(bgr + 3 * x, y + x, cb + x, cr + x);
}

#endif

using YCbCrToBgrFunction = void (*)(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, int, std::uint8_t*);
using BgrToYCbCrFunction = void (*)(const std::uint8_t*, int, std::uint8_t*, std::uint8_t*, std::uint8_t*);

YCbCrToBgrFunction ChooseYCbCrToBgr()
{
#if JPEG_HAVE_AVX2_DISPATCH
    if (JpegCpuHasAvx2())
        return YCbCrToBgrAvx2;
#endif
    return YCbCrToBgrBaseline;
}

BgrToYCbCrFunction ChooseBgrToYCbCr()
{
#if JPEG_HAVE_AVX2_DISPATCH
    if (JpegCpuHasAvx2())
        return BgrToYCbCrAvx2;
#endif
    return BgrToYCbCrBaseline;
}

} // namespace

namespace {

// VEILMARK_JPEG_MAX_ISA=baseline or =avx2 holds the codec to those variants,
// so that the tests can check every variant on a processor that has more.
bool IsaAllowed(const char* isa)
{
    const char* limit = std::getenv("VEILMARK_JPEG_MAX_ISA");
    if (limit == nullptr || *limit == '\0')
        return true;
    const std::string_view order[] = { "baseline", "avx2", "avx512" };
    int limitRank = 2, isaRank = 0;
    for (int rank = 0; rank < 3; ++rank) {
        if (order[rank] == limit)
            limitRank = rank;
        if (order[rank] == isa)
            isaRank = rank;
    }
    return isaRank <= limitRank;
}

} // namespace

bool JpegCpuHasAvx2()
{
#if JPEG_HAVE_AVX2_DISPATCH
    static const bool hasAvx2 = IsaAllowed("avx2") && __builtin_cpu_supports("avx2");
    return hasAvx2;
#else
    return false;
#endif
}

bool JpegCpuHasAvx512()
{
#if JPEG_HAVE_AVX2_DISPATCH
    static const bool hasAvx512 = JpegCpuHasAvx2() && IsaAllowed("avx512") && __builtin_cpu_supports("avx512f");
    return hasAvx512;
#else
    return false;
#endif
}

void ConvertYCbCrToBgr(
    const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, int width, std::uint8_t* bgr)
{
    static const YCbCrToBgrFunction function = ChooseYCbCrToBgr();
    function(y, cb, cr, width, bgr);
}

void ConvertBgrToYCbCr(const std::uint8_t* bgr, int width, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr)
{
    static const BgrToYCbCrFunction function = ChooseBgrToYCbCr();
    function(bgr, width, y, cb, cr);
}
