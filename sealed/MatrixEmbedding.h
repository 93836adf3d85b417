#pragma once

#include "sealed/CoverElements.h"

#include <cstddef>
#include <cstdint>
#include <span>

// Matrix embedding with binary Hamming codes. A block of n = 2^k - 1 elements
// carries k bits as its syndrome: the XOR of (i + 1) over every element i of
// the block (i = 0 .. n-1) whose bit is 1. Any k-bit value is reached by
// changing at most one element, element (syndrome XOR value) - 1, so a block
// costs 1 - 2^-k changes on average for k bits. k = 1 is plain LSB matching.
//
// Bits are taken from bytes in order, most significant bit first; a block's
// value is its k bits with the first as the most significant. Bits past the
// end of the data, in the last block, are zero and the reader checks them.

inline constexpr unsigned kMaxCodeBits = 12;

struct MatrixPlan {
    unsigned codeBits = 0; // k
    std::uint64_t blocks = 0;

    std::uint64_t BlockLength() const { return (std::uint64_t(1) << codeBits) - 1; }
    std::uint64_t Elements() const { return blocks * BlockLength(); }
};

// The largest k up to kMaxCodeBits whose blocks for `bitCount` bits fit in
// `available` elements; false when not even k = 1 fits.
[[nodiscard]] bool PlanMatrixCode(std::uint64_t bitCount, std::uint64_t available, MatrixPlan& plan);

// Where embedding takes its random step directions from.
class CDirectionSource {
public:
    virtual ~CDirectionSource() = default;
    virtual bool Up() = 0;
};

// Embeds `data` (bitCount bits) into the elements at `positions` (exactly
// plan.Elements() of them); returns the number of elements changed.
std::uint64_t EmbedMatrix(CCoverElements& elements, std::span<const std::uint32_t> positions, const MatrixPlan& plan,
    std::span<const std::uint8_t> data, std::uint64_t bitCount, CDirectionSource& directions);

// Reads bitCount bits back into `data` (zeroed by the caller); false when a
// padding bit of the last block is not zero.
[[nodiscard]] bool ExtractMatrix(const CCoverElements& elements, std::span<const std::uint32_t> positions,
    const MatrixPlan& plan, std::span<std::uint8_t> data, std::uint64_t bitCount);
