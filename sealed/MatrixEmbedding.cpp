#include "sealed/MatrixEmbedding.h"

#include <cassert>

namespace {

unsigned DataBit(std::span<const std::uint8_t> data, std::uint64_t bit)
{
    return (data[std::size_t(bit / 8)] >> (7 - bit % 8)) & 1;
}

// The k bits of block `block`, zero past `bitCount`.
std::uint32_t BlockValue(std::span<const std::uint8_t> data, std::uint64_t bitCount, std::uint64_t block, unsigned k)
{
    std::uint32_t value = 0;
    for (unsigned i = 0; i < k; ++i) {
        const std::uint64_t bit = block * k + i;
        value = value << 1 | (bit < bitCount ? DataBit(data, bit) : 0);
    }
    return value;
}

std::uint32_t Syndrome(const CCoverElements& elements, std::span<const std::uint32_t> block)
{
    std::uint32_t syndrome = 0;
    for (std::size_t i = 0; i < block.size(); ++i)
        if (elements.Bit(block[i]))
            syndrome ^= std::uint32_t(i + 1);
    return syndrome;
}

} // namespace

bool PlanMatrixCode(std::uint64_t bitCount, std::uint64_t available, MatrixPlan& plan)
{
    plan = MatrixPlan {};
    for (unsigned k = kMaxCodeBits; k >= 1; --k) {
        MatrixPlan candidate { k, (bitCount + k - 1) / k };
        // blocks * n <= available without overflow
        if (candidate.blocks <= available / candidate.BlockLength()) {
            plan = candidate;
            return true;
        }
    }
    return false;
}

std::uint64_t EmbedMatrix(CCoverElements& elements, std::span<const std::uint32_t> positions, const MatrixPlan& plan,
    std::span<const std::uint8_t> data, std::uint64_t bitCount, CDirectionSource& directions)
{
    assert(positions.size() == plan.Elements());
    const std::size_t length = std::size_t(plan.BlockLength());
    std::uint64_t changes = 0;
    for (std::uint64_t block = 0; block < plan.blocks; ++block) {
        const auto members = positions.subspan(std::size_t(block) * length, length);
        const std::uint32_t difference = Syndrome(elements, members) ^ BlockValue(data, bitCount, block, plan.codeBits);
        if (difference != 0) {
            elements.Change(members[difference - 1], directions.Up());
            ++changes;
        }
    }
    return changes;
}

bool ExtractMatrix(const CCoverElements& elements, std::span<const std::uint32_t> positions, const MatrixPlan& plan,
    std::span<std::uint8_t> data, std::uint64_t bitCount)
{
    assert(positions.size() == plan.Elements() && data.size() * 8 >= bitCount);
    const std::size_t length = std::size_t(plan.BlockLength());
    const unsigned k = plan.codeBits;
    for (std::uint64_t block = 0; block < plan.blocks; ++block) {
        const std::uint32_t value = Syndrome(elements, positions.subspan(std::size_t(block) * length, length));
        for (unsigned i = 0; i < k; ++i) {
            const std::uint64_t bit = block * k + i;
            const unsigned carried = (value >> (k - 1 - i)) & 1;
            if (bit >= bitCount) {
                if (carried)
                    return false;
            } else if (carried) {
                data[std::size_t(bit / 8)] |= std::uint8_t(0x80 >> (bit % 8));
            }
        }
    }
    return true;
}
