#include "jpeg/JpegTables.h"
#include "jpeg/JpegTransform.h"
#include "jpeg/JpegVector.h"

#include <cstring>

// Inverse DCT, ITU-T T.81 A.3.3, evaluated as two matrix products in single
// precision. Both products keep, for every output entry, the sum of its 8
// products in index order; the vector lanes are different entries, so
// vectorising never changes a sum. Terms whose coefficient row or column is
// all zero add exactly zero and are left out; this can only change the sign
// of a zero partial sum, which truncation maps to the same sample.

namespace {

struct InverseMatrix {
    InverseMatrix()
    {
        for (int u = 0; u < 8; ++u) {
            for (int x = 0; x < 8; ++x)
                rows[u][x] = InverseDctMatrix(u, x);
        }
    }
    JpegFloat8 rows[8]; // rows[u][x] = M[u][x]
};

const InverseMatrix& Matrix()
{
    static const InverseMatrix matrix;
    return matrix;
}

JPEG_ALWAYS_INLINE void InverseDctBody(const std::int16_t* coefficients, const std::uint16_t* quantization,
    unsigned rowMask, unsigned columnMask, std::uint8_t* output, std::ptrdiff_t stride, const JpegFloat8* m)
{
    if (rowMask == 0 || columnMask == 0) {
        for (int y = 0; y < 8; ++y)
            std::memset(output + y * stride, 128, 8);
        return;
    }

    // Dequantize each row that holds coefficients: a 16-bit product.
    JpegFloat8 f[8];
    for (unsigned mask = rowMask; mask != 0; mask &= mask - 1) {
        const int v = __builtin_ctz(mask);
        JpegShort8 c;
        JpegUShort8 q;
        std::memcpy(&c, coefficients + 8 * v, sizeof c);
        std::memcpy(&q, quantization + 8 * v, sizeof q);
        JpegInt8 product = __builtin_convertvector(c, JpegInt8) * __builtin_convertvector(q, JpegInt8);
        product = (product << 16) >> 16;
        f[v] = __builtin_convertvector(product, JpegFloat8);
    }

    // T[y][u] = sum over v of M[v][y] F[v][u]; lanes are u.
    JpegFloat8 t[8];
    {
        unsigned mask = rowMask;
        int v = __builtin_ctz(mask);
        for (int y = 0; y < 8; ++y)
            t[y] = m[v][y] * f[v];
        for (mask &= mask - 1; mask != 0; mask &= mask - 1) {
            v = __builtin_ctz(mask);
            for (int y = 0; y < 8; ++y)
                t[y] = t[y] + m[v][y] * f[v];
        }
    }

    // S[y][x] = sum over u of T[y][u] M[u][x]; lanes are x.
    JpegFloat8 s[8];
    {
        unsigned mask = columnMask;
        int u = __builtin_ctz(mask);
        for (int y = 0; y < 8; ++y)
            s[y] = t[y][u] * m[u];
        for (mask &= mask - 1; mask != 0; mask &= mask - 1) {
            u = __builtin_ctz(mask);
            for (int y = 0; y < 8; ++y)
                s[y] = s[y] + t[y][u] * m[u];
        }
    }

    const JpegInt8 zero = {};
    const JpegInt8 full = zero + 255;
    for (int y = 0; y < 8; ++y) {
        JpegInt8 sample = __builtin_convertvector(s[y] * 0.25f, JpegInt8);
        sample = ((sample << 16) >> 16) + 128;
        const JpegInt8 below = sample < zero;
        sample = sample & ~below;
        const JpegInt8 above = sample > full;
        sample = (sample & ~above) | (full & above);
        const JpegByte8 bytes = __builtin_convertvector(sample, JpegByte8);
        std::memcpy(output + y * stride, &bytes, 8);
    }
}

void InverseDctBaseline(const std::int16_t* coefficients, const std::uint16_t* quantization, unsigned rowMask,
    unsigned columnMask, std::uint8_t* output, std::ptrdiff_t stride)
{
    InverseDctBody(coefficients, quantization, rowMask, columnMask, output, stride, Matrix().rows);
}

#if JPEG_HAVE_AVX2_DISPATCH
JPEG_TARGET_AVX2 void InverseDctAvx2(const std::int16_t* coefficients, const std::uint16_t* quantization,
    unsigned rowMask, unsigned columnMask, std::uint8_t* output, std::ptrdiff_t stride)
{
    InverseDctBody(coefficients, quantization, rowMask, columnMask, output, stride, Matrix().rows);
}
#endif

using InverseDctFunction
    = void (*)(const std::int16_t*, const std::uint16_t*, unsigned, unsigned, std::uint8_t*, std::ptrdiff_t);

InverseDctFunction ChooseInverseDct()
{
#if JPEG_HAVE_AVX2_DISPATCH
    if (JpegCpuHasAvx2())
        return InverseDctAvx2;
#endif
    return InverseDctBaseline;
}

} // namespace

float InverseDctMatrix(int u, int x)
{
    if (u == 0)
        return 0.7071f;
    return CosineOfSixteenth((2 * x + 1) * u);
}

void InverseDct(const std::int16_t* coefficients, const std::uint16_t* quantization, unsigned rowMask,
    unsigned columnMask, std::uint8_t* output, std::ptrdiff_t stride)
{
    static const InverseDctFunction function = ChooseInverseDct();
    function(coefficients, quantization, rowMask, columnMask, output, stride);
}
