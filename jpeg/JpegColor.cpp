#include "JpegTransform.h"
#include "JpegVector.h"

#include <cstring>

// Colour conversion between RGB and YCbCr (JFIF, ITU-T T.871). Each formula
// is evaluated left to right as written; the vector lanes are different
// pixels, so the results are those of the plain per-pixel arithmetic.

namespace {

JPEG_ALWAYS_INLINE JpegInt8 ClampTruncate(JpegFloat8 value)
{
    const JpegFloat8 zero = {};
    const JpegFloat8 full = zero + 255.0f;
    const JpegInt8 above = value > full;
    const JpegInt8 below = value < zero;
    JpegInt8 truncated = __builtin_convertvector(value, JpegInt8);
    truncated = (truncated & ~above) | (above & 255);
    return truncated & ~below;
}

JPEG_ALWAYS_INLINE JpegFloat8 LoadBytes(const std::uint8_t* bytes)
{
    JpegByte8 packed;
    std::memcpy(&packed, bytes, sizeof packed);
    return __builtin_convertvector(__builtin_convertvector(packed, JpegInt8), JpegFloat8);
}

JPEG_ALWAYS_INLINE void YCbCrToBgrBody(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                                       int width, std::uint8_t* bgr)
{
    for (int x = 0; x < width; x += 8) {
        const JpegFloat8 luma = LoadBytes(y + x);
        const JpegFloat8 blue = LoadBytes(cb + x) - 128.0f;
        const JpegFloat8 red = LoadBytes(cr + x) - 128.0f;
        const JpegByte8 r = __builtin_convertvector(ClampTruncate(luma + 1.402f * red), JpegByte8);
        const JpegByte8 g = __builtin_convertvector(ClampTruncate(luma - 0.34414f * blue - 0.71414f * red), JpegByte8);
        const JpegByte8 b = __builtin_convertvector(ClampTruncate(luma + 1.772f * blue), JpegByte8);
        const int count = width - x < 8 ? width - x : 8;
        std::uint8_t* out = bgr + 3 * x;
        for (int i = 0; i < count; ++i) {
            out[3 * i] = b[i];
            out[3 * i + 1] = g[i];
            out[3 * i + 2] = r[i];
        }
    }
}

void YCbCrToBgrBaseline(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, int width,
                        std::uint8_t* bgr)
{
    YCbCrToBgrBody(y, cb, cr, width, bgr);
}

JPEG_ALWAYS_INLINE JpegInt4 ClampTruncate(JpegDouble4 value)
{
    const JpegDouble4 zero = {};
    const JpegDouble4 full = zero + 255.0;
    const JpegInt4 above = __builtin_convertvector(value > full, JpegInt4);
    const JpegInt4 below = __builtin_convertvector(value < zero, JpegInt4);
    JpegInt4 truncated = __builtin_convertvector(value, JpegInt4);
    truncated = (truncated & ~above) | (above & 255);
    return truncated & ~below;
}

JPEG_ALWAYS_INLINE void BgrToYCbCrBody(const std::uint8_t* bgr, int width, std::uint8_t* y, std::uint8_t* cb,
                                       std::uint8_t* cr)
{
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        const std::uint8_t* in = bgr + 3 * x;
        const JpegDouble4 b = {double(in[0]), double(in[3]), double(in[6]), double(in[9])};
        const JpegDouble4 g = {double(in[1]), double(in[4]), double(in[7]), double(in[10])};
        const JpegDouble4 r = {double(in[2]), double(in[5]), double(in[8]), double(in[11])};
        const JpegByte4 luma = __builtin_convertvector(ClampTruncate(0.299 * r + 0.587 * g + 0.114 * b), JpegByte4);
        const JpegByte4 blue =
            __builtin_convertvector(ClampTruncate(0.5 * b - 0.1687 * r - 0.3313 * g + 128.0), JpegByte4);
        const JpegByte4 red =
            __builtin_convertvector(ClampTruncate(0.5 * r - 0.4187 * g - 0.0813 * b + 128.0), JpegByte4);
        std::memcpy(y + x, &luma, 4);
        std::memcpy(cb + x, &blue, 4);
        std::memcpy(cr + x, &red, 4);
    }
    for (; x < width; ++x) {
        const double b = bgr[3 * x], g = bgr[3 * x + 1], r = bgr[3 * x + 2];
        const JpegDouble4 values = {0.299 * r + 0.587 * g + 0.114 * b, 0.5 * b - 0.1687 * r - 0.3313 * g + 128.0,
                                    0.5 * r - 0.4187 * g - 0.0813 * b + 128.0, 0.0};
        const JpegInt4 converted = ClampTruncate(values);
        y[x] = std::uint8_t(converted[0]);
        cb[x] = std::uint8_t(converted[1]);
        cr[x] = std::uint8_t(converted[2]);
    }
}

void BgrToYCbCrBaseline(const std::uint8_t* bgr, int width, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr)
{
    BgrToYCbCrBody(bgr, width, y, cb, cr);
}

#if JPEG_HAVE_AVX2_DISPATCH
JPEG_TARGET_AVX2 void YCbCrToBgrAvx2(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                                     int width, std::uint8_t* bgr)
{
    YCbCrToBgrBody(y, cb, cr, width, bgr);
}

JPEG_TARGET_AVX2 void BgrToYCbCrAvx2(const std::uint8_t* bgr, int width, std::uint8_t* y, std::uint8_t* cb,
                                     std::uint8_t* cr)
{
    BgrToYCbCrBody(bgr, width, y, cb, cr);
}
#endif

using YCbCrToBgrFunction = void (*)(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, int,
                                    std::uint8_t*);
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

bool JpegCpuHasAvx2()
{
#if JPEG_HAVE_AVX2_DISPATCH
    static const bool hasAvx2 = __builtin_cpu_supports("avx2");
    return hasAvx2;
#else
    return false;
#endif
}

void ConvertYCbCrToBgr(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, int width,
                       std::uint8_t* bgr)
{
    static const YCbCrToBgrFunction function = ChooseYCbCrToBgr();
    function(y, cb, cr, width, bgr);
}

void ConvertBgrToYCbCr(const std::uint8_t* bgr, int width, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr)
{
    static const BgrToYCbCrFunction function = ChooseBgrToYCbCr();
    function(bgr, width, y, cb, cr);
}
