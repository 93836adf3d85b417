#include "JpegTables.h"
#include "JpegTransform.h"
#include "JpegVector.h"

#include <cstring>

// Forward DCT, ITU-T T.81 A.3.3, as the direct sum of 64 products per
// coefficient in double precision:
//   sum(v,u) = sum over y, then x, of (s(x,y) * T[u][x]) * T[v][y]
// with single-precision table values. The inner factor s(x,y) * T[u][x] does
// not depend on v, so it is formed once per block (it is exact: an 8-bit
// sample times a 24-bit significand); each term is then one multiplication by
// T[v][y], exactly as written. The 64 sums of a block run side by side in
// vector lanes (u across a pair of 4-lane vectors, v across registers); each
// keeps the order y outer, x inner, and the accumulators stay in registers.

namespace {

constexpr double kHalfSqrt = 0.7071; // C(0)

struct ForwardTables {
    ForwardTables()
    {
        for (int x = 0; x < 8; ++x) {
            for (int u = 0; u < 8; ++u)
                column[x][u / 4][u % 4] = double(ForwardDctTable(u, x));
        }
        for (int v = 0; v < 8; ++v) {
            for (int y = 0; y < 8; ++y)
                table[v][y] = double(ForwardDctTable(v, y));
            for (int u = 0; u < 8; ++u)
                scale[v][u / 4][u % 4] = (v == 0 ? kHalfSqrt : 1.0) * (u == 0 ? kHalfSqrt : 1.0);
        }
    }
    JpegDouble4 column[8][2]; // T[u][x] for u = 0..7, by x
    double table[8][8]; // T[v][y]
    JpegDouble4 scale[8][2]; // C(v) C(u)
};

const ForwardTables& Tables()
{
    static const ForwardTables tables;
    return tables;
}

JPEG_ALWAYS_INLINE void ForwardDctBody(const std::int8_t* samples, std::ptrdiff_t stride,
    const JpegForwardQuantizer& quantizer, std::int16_t* output, const ForwardTables& tables)
{
    // partial[8y + x][u] = s(x,y) * T[u][x]
    JpegDouble4 partial[64][2];
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const double sample = samples[y * stride + x];
            partial[8 * y + x][0] = sample * tables.column[x][0];
            partial[8 * y + x][1] = sample * tables.column[x][1];
        }
    }

    // Four rows of coefficients (v) at a time keep 8 accumulators, 4 factors
    // and the partial products within 16 vector registers.
    for (int firstRow = 0; firstRow < 8; firstRow += 4) {
        JpegDouble4 sum[4][2] = {};
        for (int y = 0; y < 8; ++y) {
            const double t0 = tables.table[firstRow][y];
            const double t1 = tables.table[firstRow + 1][y];
            const double t2 = tables.table[firstRow + 2][y];
            const double t3 = tables.table[firstRow + 3][y];
            for (int x = 0; x < 8; ++x) {
                const JpegDouble4 low = partial[8 * y + x][0];
                const JpegDouble4 high = partial[8 * y + x][1];
                sum[0][0] = sum[0][0] + low * t0;
                sum[0][1] = sum[0][1] + high * t0;
                sum[1][0] = sum[1][0] + low * t1;
                sum[1][1] = sum[1][1] + high * t1;
                sum[2][0] = sum[2][0] + low * t2;
                sum[2][1] = sum[2][1] + high * t2;
                sum[3][0] = sum[3][0] + low * t3;
                sum[3][1] = sum[3][1] + high * t3;
            }
        }
        for (int row = 0; row < 4; ++row) {
            const int v = firstRow + row;
            for (int half = 0; half < 2; ++half) {
                const JpegDouble4 coefficient = (tables.scale[v][half] * sum[row][half]) * 0.25;
                const JpegInt4 truncated = __builtin_convertvector(coefficient, JpegInt4);
                JpegDouble4 reciprocal;
                std::memcpy(&reciprocal, quantizer.reciprocal + 8 * v + 4 * half, sizeof reciprocal);
                const JpegInt4 quantized
                    = __builtin_convertvector(__builtin_convertvector(truncated, JpegDouble4) * reciprocal, JpegInt4);
                for (int lane = 0; lane < 4; ++lane)
                    output[8 * v + 4 * half + lane] = std::int16_t(quantized[lane]);
            }
        }
    }
}

// With 32 registers of 8 doubles the whole block fits in one pass: 8
// accumulators (one per v, lanes u), 8 factors T[v][y] and the partial
// products. Each lane runs the same operations as above.
JPEG_ALWAYS_INLINE void ForwardDctWideBody(const std::int8_t* samples, std::ptrdiff_t stride,
    const JpegForwardQuantizer& quantizer, std::int16_t* output, const ForwardTables& tables)
{
    JpegDouble8 columns[8];
    std::memcpy(columns, tables.column, sizeof columns);
    JpegDouble8 partial[64];
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x)
            partial[8 * y + x] = double(samples[y * stride + x]) * columns[x];
    }
    JpegDouble8 sum[8] = {};
    for (int y = 0; y < 8; ++y) {
        double t[8];
#pragma GCC unroll 8
        for (int v = 0; v < 8; ++v)
            t[v] = tables.table[v][y];
        for (int x = 0; x < 8; ++x) {
            const JpegDouble8 product = partial[8 * y + x];
#pragma GCC unroll 8
            for (int v = 0; v < 8; ++v)
                sum[v] = sum[v] + product * t[v];
        }
    }
    for (int v = 0; v < 8; ++v) {
        JpegDouble8 scale, reciprocal;
        std::memcpy(&scale, tables.scale[v], sizeof scale);
        std::memcpy(&reciprocal, quantizer.reciprocal + 8 * v, sizeof reciprocal);
        const JpegDouble8 coefficient = (scale * sum[v]) * 0.25;
        const JpegInt8 truncated = __builtin_convertvector(coefficient, JpegInt8);
        const JpegInt8 quantized
            = __builtin_convertvector(__builtin_convertvector(truncated, JpegDouble8) * reciprocal, JpegInt8);
        for (int lane = 0; lane < 8; ++lane)
            output[8 * v + lane] = std::int16_t(quantized[lane]);
    }
}

void ForwardDctBaseline(
    const std::int8_t* samples, std::ptrdiff_t stride, const JpegForwardQuantizer& quantizer, std::int16_t* output)
{
    ForwardDctBody(samples, stride, quantizer, output, Tables());
}

#if JPEG_HAVE_AVX2_DISPATCH
JPEG_TARGET_AVX2 void ForwardDctAvx2(
    const std::int8_t* samples, std::ptrdiff_t stride, const JpegForwardQuantizer& quantizer, std::int16_t* output)
{
    ForwardDctBody(samples, stride, quantizer, output, Tables());
}

JPEG_TARGET_AVX512 void ForwardDctAvx512(
    const std::int8_t* samples, std::ptrdiff_t stride, const JpegForwardQuantizer& quantizer, std::int16_t* output)
{
    ForwardDctWideBody(samples, stride, quantizer, output, Tables());
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
    for (int k = 0; k < 64; ++k)
        quantizer.reciprocal[kZigzagToNatural[std::size_t(k)]] = QuantizerReciprocal(quantizationZigzag[k]);
    return quantizer;
}

void ForwardDctQuantize(
    const std::int8_t* samples, std::ptrdiff_t stride, const JpegForwardQuantizer& quantizer, std::int16_t* output)
{
    static const ForwardDctFunction function = ChooseForwardDct();
    function(samples, stride, quantizer, output);
}
