#pragma once

#include <cstddef>
#include <cstdint>

// The codec's arithmetic: the 8x8 transforms and the colour conversions.
// Every result is fixed to the bit, whatever the build or the processor:
// the transforms are direct sums whose additions run in one fixed order, and
// the code is vectorised only across independent sums (never reassociating
// one), with contraction into fused multiply-adds turned off.

// Inverse DCT of one block (single precision). `coefficients` are the
// quantized values in natural order and `quantization` the table in natural
// order; each coefficient is dequantized as a 16-bit product. With M[u][x] =
// k(u) cos((2x+1) u pi / 16), k(0) = 0.7071, the block is T = M^T F and then
// S = T M, each entry a float sum of 8 float products in index order; a sample
// is S * 0.25 truncated to 16 bits, plus 128, clamped to 0..255.
// `rowMask` and `columnMask` have bit v (bit u) set for every row (column) of
// the block that may hold a non-zero coefficient; the sums skip the others,
// which only drops additions of zero.
void InverseDct(const std::int16_t* coefficients, const std::uint16_t* quantization, unsigned rowMask,
    unsigned columnMask, std::uint8_t* output, std::ptrdiff_t stride);

// The quantizer's divisors in the form the forward DCT uses: for each natural
// position, a reciprocal slightly above 1/q. For |F| < 4096 and 1 <= q <= 255,
// F times it, truncated, is exactly F / q truncated: the excess of 2^-24 moves
// F/q by less than 2^-12, which never reaches the next integer (at least 1/q
// away unless F/q is one), and outweighs every rounding error of the
// product.
// `scaled` holds (C(v) C(u) * 0.25) * (1/q) for the same positions.
struct JpegForwardQuantizer {
    alignas(64) double reciprocal[64]; // natural order
    alignas(64) double scaled[64]; // natural order
};
JpegForwardQuantizer MakeForwardQuantizer(const std::uint8_t* quantizationZigzag);
inline double QuantizerReciprocal(int divisor) { return (1.0 / divisor) * (1.0 + 0x1p-24); }

// Forward DCT and quantization of one block of level-shifted samples
// (double precision). F(v,u) = C(v) C(u) sum 0.25 truncated, where sum adds
// (s(x,y) T[u][x]) T[v][y] with y outer and x inner; then F / q truncated.
// `output` receives the 64 quantized values in natural order. The value is
// reached by a faster route that gives the same quantized values (see
// JpegFdct.cpp).
void ForwardDctQuantize(
    const std::int8_t* samples, std::ptrdiff_t stride, const JpegForwardQuantizer& quantizer, std::int16_t* output);

// One row of the decoder's colour conversion (single precision):
// R = Y + 1.402 (Cr-128), G = Y - 0.34414 (Cb-128) - 0.71414 (Cr-128),
// B = Y + 1.772 (Cb-128), each clamped to 0..255 and truncated; written as
// B, G, R bytes.
void ConvertYCbCrToBgr(
    const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, int width, std::uint8_t* bgr);

// One row of the encoder's colour conversion (double precision), from B, G, R
// bytes: Y = 0.299 R + 0.587 G + 0.114 B, Cb = 0.5 B - 0.1687 R - 0.3313 G + 128,
// Cr = 0.5 R - 0.4187 G - 0.0813 B + 128, each left to right, clamped to
// 0..255 and truncated.
void ConvertBgrToYCbCr(const std::uint8_t* bgr, int width, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr);

// The transform matrices, for tests and for the reference implementations.
// InverseDctMatrix(u, x) = k(u) cos((2x+1) u pi / 16) as above;
// ForwardDctTable(k, n) = T[k][n] = cos((2n+1) k pi / 16), T[0][n] = 1.
float InverseDctMatrix(int u, int x);
float ForwardDctTable(int k, int n);
