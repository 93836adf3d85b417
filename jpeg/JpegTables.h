#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Constant tables shared by the decoder and the encoder.

// ITU-T T.81 Figure A.6: natural (row-major) position of each zigzag entry.
// clang-format off
inline constexpr std::array<std::uint8_t, 64> kZigzagToNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};
// clang-format on
// The inverse: the zigzag entry of each natural position.
inline constexpr std::array<std::uint8_t, 64> kNaturalToZigzag = [] {
    std::array<std::uint8_t, 64> inverse {};
    for (std::size_t k = 0; k < 64; ++k)
        inverse[kZigzagToNatural[k]] = std::uint8_t(k);
    return inverse;
}();

// The zigzag entry that carries one secret bit in every chroma block:
// vertical frequency 3, horizontal frequency 0.
inline constexpr int kCarrierZigzagIndex = 9;
inline constexpr int kCarrierNaturalIndex = 24;
static_assert(kZigzagToNatural[kCarrierZigzagIndex] == kCarrierNaturalIndex); // row 3, column 0

// The encoder's fixed quantization tables, in zigzag order as written to DQT.
extern const std::array<std::uint8_t, 64> kLuminanceQuantization;
extern const std::array<std::uint8_t, 64> kChrominanceQuantization;

// The typical Huffman tables of ITU-T T.81 Annex K (Tables K.3 to K.6): the
// 16 code counts BITS[1..16] and the symbols HUFFVAL in code order.
struct HuffmanTableDefinition {
    std::array<std::uint8_t, 16> bits;
    const std::uint8_t* values;
    int count;
};
extern const HuffmanTableDefinition kDcLuminanceHuffman;
extern const HuffmanTableDefinition kAcLuminanceHuffman;
extern const HuffmanTableDefinition kDcChrominanceHuffman;
extern const HuffmanTableDefinition kAcChrominanceHuffman;

// cos(k * pi / 16) for k = 0..7, rounded to four decimals (k = 0 gives 1).
// Both transforms take every cosine from these seven constants.
float CosineOfSixteenth(int multiple);
