#include "jpeg/JpegTables.h"
#include "jpeg/JpegTransform.h"
#include "jpeg/JpegVector.h"

#include <cstring>

// Forward DCT, ITU-T T.81 A.3.3. The defined result is the direct sum of 64
// products per coefficient in double precision:
//   sum(v,u) = sum over y, then x, of (s(x,y) * T[u][x]) * T[v][y]
// with single-precision table values, F = (C(v) C(u) * sum) * 0.25 truncated,
// and the quantized value trunc(F) / q truncated. Only that quantized value
// leaves this file, and it equals trunc(F / q), a step function of F that
// jumps only where F / q crosses a non-zero integer.
//
// So the block is first transformed separably (rows, then columns: 1024
// multiply-adds in place of 4096) into sum', and t = sum' * k with
// k = (C(v) C(u) * 0.25) * (1/q) is quantized directly. Where t lies within
// kMargin of a non-zero integer, that one coefficient is recomputed by the
// direct sum (DirectCoefficient). Everywhere else trunc(t) is the direct
// sum's quantized value, because t and F / q are far closer than kMargin.
//
// With u = 2^-53, gamma(n) = n u / (1 - n u), |s| <= 128, |T| <= 1, c = the
// double C(v) C(u) <= 1, and S the exact sum of the 64 products:
// - Direct sum: each s * T[u][x] is exact (8-bit times 24-bit significand);
//   the 64 products by T[v][y] and their additions err by at most
//   gamma(64) * sum |terms| <= gamma(64) * 8192 < 5.9e-11.
// - Rows: R(y,u) = sum over x of s * T[u][x] is exact. Every T is a float of
//   magnitude at least cos(7 pi / 16) > 1/8, so a multiple of 2^-26; so is
//   every product and partial sum, all below 2^10 in magnitude: 36 bits.
// - Columns: sum' = sum over y of R(y,u) * T[v][y] errs from S by at most
//   gamma(8) * sum |R T| <= gamma(8) * 8192 < 7.3e-12.
// - So |sum' - sum| < 6.7e-11, and c |sum' - sum| / (4q) < 1.7e-11.
// - F = (c * sum) * 0.25 rounds once (0.25 is exact): |F - c sum / 4| <=
//   2048 u, so |F / q - c sum / (4q)| < 2.3e-13.
// - k carries two roundings (1/q, the product; c * 0.25 is exact) and t one
//   more: |t - c sum' / (4q)| <= 3.01 u * 2048 < 7e-13.
// Hence |t - F / q| < 2e-11 for every q >= 1. kMargin = 1e-6 is 50,000 times
// that: if no non-zero integer lies within kMargin of t, none lies between t
// and F / q, which therefore share one interval (k, k+1) with k >= 1, or
// (-1, 1), or (k-1, k) with k <= -1, where trunc is constant.

namespace {

constexpr double kHalfSqrt = 0.7071; // C(0)
constexpr double kMargin = 1e-6;
constexpr double kRounder = 0x1.8p52; // x + it - it rounds x to an integer

// |x|, by clearing the sign bits
template <typename Double, typename Long> JPEG_ALWAYS_INLINE Double Magnitude(Double x)
{
    Long bits;
    std::memcpy(&bits, &x, sizeof x);
    bits = bits & 0x7fffffffffffffffll;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

struct ForwardTables {
    ForwardTables()
    {
        for (int x = 0; x < 8; ++x) {
            for (int u = 0; u < 8; ++u)
                column[x][u / 4][u % 4] = double(ForwardDctTable(u, x));
        }
        for (int v = 0; v < 8; ++v) {
            for (int y = 0; y < 8; ++y) {
                table[v][y] = double(ForwardDctTable(v, y));
                for (int lane = 0; lane < 8; ++lane)
                    spread[v][y][lane] = table[v][y];
            }
            for (int u = 0; u < 8; ++u)
                scale[v][u / 4][u % 4] = (v == 0 ? kHalfSqrt : 1.0) * (u == 0 ? kHalfSqrt : 1.0);
        }
    }
    JpegDouble4 column[8][2]; // T[u][x] for u = 0..7, by x
    double table[8][8]; // T[v][y]
    alignas(64) double spread[8][8][8]; // T[v][y] in every lane
    JpegDouble4 scale[8][2]; // C(v) C(u)
};

const ForwardTables& Tables()
{
    static const ForwardTables tables;
    return tables;
}

// The direct sum for one coefficient, quantized: the defined result.
std::int16_t DirectCoefficient(const std::int8_t* samples, std::ptrdiff_t stride, const JpegForwardQuantizer& quantizer,
    int v, int u, const ForwardTables& tables)
{
    double sum = 0.0;
    for (int y = 0; y < 8; ++y) {
        const double factor = tables.table[v][y];
        for (int x = 0; x < 8; ++x)
            sum = sum + (double(samples[y * stride + x]) * tables.column[x][u / 4][u % 4]) * factor;
    }
    const double coefficient = (tables.scale[v][u / 4][u % 4] * sum) * 0.25;
    const std::int32_t truncated = std::int32_t(coefficient);
    return std::int16_t(std::int32_t(double(truncated) * quantizer.reciprocal[8 * v + u]));
}

// Double, Long, Int and Short are vectors of 4 or 8 lanes; the 8 values of
// u are spread over 8 / lanes of them.
template <typename Double, typename Long, typename Int, typename Short>
JPEG_ALWAYS_INLINE void ForwardDctBody(const std::int8_t* samples, std::ptrdiff_t stride,
    const JpegForwardQuantizer& quantizer, std::int16_t* output, const ForwardTables& tables)
{
    constexpr int kLanes = int(sizeof(Double) / sizeof(double));
    constexpr int kParts = 8 / kLanes;
    Double columns[8][kParts];
    std::memcpy(columns, tables.column, sizeof columns);

    // rows[y][part][lane] = R(y, kLanes part + lane), exact
    Double rows[8][kParts];
    for (int y = 0; y < 8; ++y) {
        Double sum[kParts] = {};
        for (int x = 0; x < 8; ++x) {
            // 4 lanes: spread as integers, then converted, which is far
            // cheaper than spreading a double where the vector is two SSE2
            // halves
            Double sample;
            if constexpr (kLanes == 4)
                sample = __builtin_convertvector(Int {} + std::int32_t(samples[y * stride + x]), Double);
            else
                sample = Double {} + double(samples[y * stride + x]);
            for (int part = 0; part < kParts; ++part)
                sum[part] = sum[part] + sample * columns[x][part];
        }
        for (int part = 0; part < kParts; ++part)
            rows[y][part] = sum[part];
    }

    alignas(64) std::int64_t near[64]; // sign bit: recompute
    Long anyNear = {};
    for (int v = 0; v < 8; ++v) {
        Double sum[kParts] = {};
        for (int y = 0; y < 8; ++y) {
            Double factor;
            std::memcpy(&factor, tables.spread[v][y], sizeof factor);
            for (int part = 0; part < kParts; ++part)
                sum[part] = sum[part] + rows[y][part] * factor;
        }
        for (int part = 0; part < kParts; ++part) {
            Double scaled;
            std::memcpy(&scaled, quantizer.scaled + 8 * v + kLanes * part, sizeof scaled);
            const Double ratio = sum[part] * scaled;
            const Int quantized = __builtin_convertvector(ratio, Int);
            const Short narrow = __builtin_convertvector(quantized, Short);
            const int first = 8 * v + kLanes * part;
            std::memcpy(output + first, &narrow, sizeof narrow);

            // nearest integer (|ratio| < 2^51) and the distance to it, exact
            const Double nearest = (ratio + kRounder) - kRounder;
            const Double offset = ratio - nearest;
            // within kMargin of a non-zero integer: |offset| < kMargin <
            // |ratio| (kMargin < 1/2), i.e. both differences below are
            // negative; their sign bits tell
            const Double below = Magnitude<Double, Long>(offset) - kMargin;
            const Double above = kMargin - Magnitude<Double, Long>(ratio);
            Long belowBits, aboveBits;
            std::memcpy(&belowBits, &below, sizeof below);
            std::memcpy(&aboveBits, &above, sizeof above);
            const Long flags = belowBits & aboveBits;
            std::memcpy(near + first, &flags, sizeof flags);
            anyNear = anyNear | flags;
        }
    }
    std::int64_t any = 0;
    for (int lane = 0; lane < kLanes; ++lane)
        any |= anyNear[lane];
    if (any >= 0)
        return;
    for (int n = 0; n < 64; ++n) {
        if (near[n] < 0)
            output[n] = DirectCoefficient(samples, stride, quantizer, n / 8, n % 8, tables);
    }
}

void ForwardDctBaseline(
    const std::int8_t* samples, std::ptrdiff_t stride, const JpegForwardQuantizer& quantizer, std::int16_t* output)
{
    ForwardDctBody<JpegDouble4, JpegLong4, JpegInt4, JpegShort4>(samples, stride, quantizer, output, Tables());
}

#if JPEG_HAVE_AVX2_DISPATCH
JPEG_TARGET_AVX2 void ForwardDctAvx2(
    const std::int8_t* samples, std::ptrdiff_t stride, const JpegForwardQuantizer& quantizer, std::int16_t* output)
{
    ForwardDctBody<JpegDouble4, JpegLong4, JpegInt4, JpegShort4>(samples, stride, quantizer, output, Tables());
}

JPEG_TARGET_AVX512 void ForwardDctAvx512(
    const std::int8_t* samples, std::ptrdiff_t stride, const JpegForwardQuantizer& quantizer, std::int16_t* output)
{
    ForwardDctBody<JpegDouble8, JpegLong8, JpegInt8, JpegShort8>(samples, stride, quantizer, output, Tables());
}
#endif

using ForwardDctFunction = void (*)(const std::int8_t*, std::ptrdiff_t, const JpegForwardQuantizer&, std::int16_t*);

ForwardDctFunction ChooseForwardDct()
{
#if JPEG_HAVE_AVX2_DISPATCH
    if (JpegCpuHasAvx512())
        return ForwardDctAvx512;
    if (JpegCpuHasAvx2())
        return ForwardDctAvx2;
#endif
    return ForwardDctBaseline;
}

} // namespace

float ForwardDctTable(int k, int n)
{
    if (k == 0)
        return 1.0f;
    return CosineOfSixteenth((2 * n + 1) * k);
}

JpegForwardQuantizer MakeForwardQuantizer(const std::uint8_t* quantizationZigzag)
{
    JpegForwardQuantizer quantizer;
    for (int k = 0; k < 64; ++k) {
        const int natural = kZigzagToNatural[std::size_t(k)];
        quantizer.reciprocal[natural] = QuantizerReciprocal(quantizationZigzag[k]);
        const double c = (natural / 8 == 0 ? kHalfSqrt : 1.0) * (natural % 8 == 0 ? kHalfSqrt : 1.0);
        quantizer.scaled[natural] = (c * 0.25) * (1.0 / quantizationZigzag[k]);
    }
    return quantizer;
}

void ForwardDctQuantize(
    const std::int8_t* samples, std::ptrdiff_t stride, const JpegForwardQuantizer& quantizer, std::int16_t* output)
{
    static const ForwardDctFunction function = ChooseForwardDct();
    function(samples, stride, quantizer, output);
}
