#include "JpegTransform.h"
#include "JpegTables.h"
#include "JpegVector.h"

#include <cstring>

// Forward DCT, ITU-T T.81 A.3.3, as the direct sum of 64 products per
// coefficient in double precision:
//   sum(v,u) = sum over y, then x, of s(x,y) * T[u][x] * T[v][y]
// Each product is formed as (s * T[u][x]) * T[v][y]. Both factors T are
// single-precision values (24-bit significands), so T[u][x] * T[v][y] is exact
// in double (48 bits), and so is s * T[u][x] for an 8-bit sample (32 bits);
// either way the product is the exact value s T[u][x] T[v][y] rounded once.
// The table below therefore holds T[u][x] * T[v][y] and each term is one
// multiplication, bit for bit the same as the two-step product. The 64 sums of
// a block run side by side in vector lanes; each keeps the order y outer,
// x inner.

namespace {

constexpr double kHalfSqrt = 0.7071; // C(0)

struct ForwardTables {
    ForwardTables()
    {
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                for (int v = 0; v < 8; ++v) {
                    for (int u = 0; u < 8; ++u) {
                        const double product = double(ForwardDctTable(u, x)) * double(ForwardDctTable(v, y));
                        reinterpret_cast<double*>(&weights[8 * y + x][0])[8 * v + u] = product;
                    }
                }
            }
        }
        for (int v = 0; v < 8; ++v) {
            for (int u = 0; u < 8; ++u)
                reinterpret_cast<double*>(&scale[0])[8 * v + u] = (v == 0 ? kHalfSqrt : 1.0) * (u == 0 ? kHalfSqrt : 1.0);
        }
    }
    JpegDouble4 weights[64][16]; // [8y + x][lanes of (v, u)]
    JpegDouble4 scale[16];       // C(v) C(u)
};

const ForwardTables& Tables()
{
    static const ForwardTables tables;
    return tables;
}

JPEG_ALWAYS_INLINE void ForwardDctBody(const std::int8_t* samples, std::ptrdiff_t stride,
                                       const std::uint8_t* quantizationZigzag, std::int16_t* output,
                                       const ForwardTables& tables)
{
    double s[64];
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x)
            s[8 * y + x] = samples[y * stride + x];
    }
    alignas(32) double divisor[64];
    for (int k = 0; k < 64; ++k)
        divisor[kZigzagToNatural[std::size_t(k)]] = quantizationZigzag[k];

    alignas(32) std::int32_t natural[64];
    // Two halves of 32 coefficients keep the accumulators in registers.
    for (int half = 0; half < 2; ++half) {
        const int first = 8 * half;
        JpegDouble4 sum[8] = {};
        for (int i = 0; i < 64; ++i) {
            const double sample = s[i];
            const JpegDouble4* weight = &tables.weights[i][first];
            for (int lane = 0; lane < 8; ++lane)
                sum[lane] = sum[lane] + sample * weight[lane];
        }
        for (int lane = 0; lane < 8; ++lane) {
            const JpegDouble4 coefficient = (tables.scale[first + lane] * sum[lane]) * 0.25;
            const JpegInt4 truncated = __builtin_convertvector(coefficient, JpegInt4);
            JpegDouble4 quotient;
            std::memcpy(&quotient, divisor + 4 * (first + lane), sizeof quotient);
            // An integer below 2^11 divided by one below 2^8: the double
            // quotient truncates to the same value as the integer division.
            quotient = __builtin_convertvector(truncated, JpegDouble4) / quotient;
            const JpegInt4 quantized = __builtin_convertvector(quotient, JpegInt4);
            std::memcpy(natural + 4 * (first + lane), &quantized, sizeof quantized);
        }
    }
    for (int k = 0; k < 64; ++k)
        output[k] = std::int16_t(natural[kZigzagToNatural[std::size_t(k)]]);
}

void ForwardDctBaseline(const std::int8_t* samples, std::ptrdiff_t stride, const std::uint8_t* quantizationZigzag,
                        std::int16_t* output)
{
    ForwardDctBody(samples, stride, quantizationZigzag, output, Tables());
}

#if JPEG_HAVE_AVX2_DISPATCH
JPEG_TARGET_AVX2 void ForwardDctAvx2(const std::int8_t* samples, std::ptrdiff_t stride,
                                     const std::uint8_t* quantizationZigzag, std::int16_t* output)
{
    ForwardDctBody(samples, stride, quantizationZigzag, output, Tables());
}
#endif

using ForwardDctFunction = void (*)(const std::int8_t*, std::ptrdiff_t, const std::uint8_t*, std::int16_t*);

ForwardDctFunction ChooseForwardDct()
{
#if JPEG_HAVE_AVX2_DISPATCH
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

void ForwardDctQuantize(const std::int8_t* samples, std::ptrdiff_t stride, const std::uint8_t* quantizationZigzag,
                        std::int16_t* output)
{
    static const ForwardDctFunction function = ChooseForwardDct();
    function(samples, stride, quantizationZigzag, output);
}
