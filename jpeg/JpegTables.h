#pragma once

#include <array>
#include <cstdint>

// Constant tables shared by the decoder and the encoder.

// ITU-T T.81 Figure A.6: natural (row-major) position of each zigzag entry.
extern const std::array<std::uint8_t, 64> kZigzagToNatural;

// The zigzag entry that carries one secret bit in every chroma block:
// vertical frequency 3, horizontal frequency 0.
inline constexpr int kCarrierZigzagIndex = 9;
inline constexpr int kCarrierNaturalIndex = 24;

// The encoder's fixed quantization tables, in zigzag order as written to DQT.
extern const std::array<std::uint8_t, 64> kLuminanceQuantization;
extern const std::array<std::uint8_t, 64> kChrominanceQuantization;

// The typical Huffman tables of ITU-T T.81 Annex K (Tables K.3 to K.6): the
// 16 code counts BITS[1..16] and the symbols HUFFVAL in code order.
struct HuffmanSpecification {
    std::array<std::uint8_t, 16> bits;
    const std::uint8_t* values;
    int count;
};
extern const HuffmanSpecification kDcLuminanceHuffman;
extern const HuffmanSpecification kAcLuminanceHuffman;
extern const HuffmanSpecification kDcChrominanceHuffman;
extern const HuffmanSpecification kAcChrominanceHuffman;

// cos(k * pi / 16) for k = 0..7, rounded to four decimals (k = 0 gives 1).
// Both transforms take every cosine from these seven constants.
float CosineOfSixteenth(int multiple);
