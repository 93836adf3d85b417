#include "picture/BmpCarrier.h"

#include <bit>
#include <cassert>
#include <cstring>

namespace {

constexpr std::uint64_t kLowBitOfEachByte = 0x0101010101010101;
// Multiplying by this places bit 0 of byte j at bit 63 - j; every partial
// product lands on its own bit position (8i + 9j are distinct for i, j < 8), so
// no carries disturb the gathered byte. Used the other way round it spreads
// bit 7 - j of a byte onto bit 8j + 7.
constexpr std::uint64_t kGatherMultiplier = 0x8040201008040201;

std::uint64_t LoadLittleEndian64(const std::uint8_t* bytes)
{
    std::uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    if constexpr (std::endian::native == std::endian::big)
        value = __builtin_bswap64(value);
    return value;
}

void StoreLittleEndian64(std::uint8_t* bytes, std::uint64_t value)
{
    if constexpr (std::endian::native == std::endian::big)
        value = __builtin_bswap64(value);
    std::memcpy(bytes, &value, sizeof value);
}

// Container bit 7 - j is bit 0 of byte j of the eight-byte group (modes 1, 4).
std::uint8_t GatherLowBits(const std::uint8_t* group)
{
    return std::uint8_t(((LoadLittleEndian64(group) & kLowBitOfEachByte) * kGatherMultiplier) >> 56);
}

void ScatterLowBits(std::uint8_t* group, std::uint8_t value)
{
    const std::uint64_t spread = ((std::uint64_t(value) * kGatherMultiplier) >> 7) & kLowBitOfEachByte;
    StoreLittleEndian64(group, (LoadLittleEndian64(group) & ~kLowBitOfEachByte) | spread);
}

// Mode 0: four bits in each of two bytes, at bits 7, 5, 3, 1.
std::uint8_t GatherOddBits(std::uint8_t high, std::uint8_t low)
{
    auto nibble = [](std::uint8_t byte) {
        return unsigned((byte >> 4 & 8) | (byte >> 3 & 4) | (byte >> 2 & 2) | (byte >> 1 & 1));
    };
    return std::uint8_t(nibble(high) << 4 | nibble(low));
}

std::uint8_t SpreadToOddBits(unsigned nibble)
{
    return std::uint8_t((nibble & 8) << 4 | (nibble & 4) << 3 | (nibble & 2) << 2 | (nibble & 1) << 1);
}

} // namespace

BmpHidingMode HidingModeForBitCount(int bitCount)
{
    switch (bitCount) {
    case 1:
        return BmpHidingMode::Depth1;
    case 4:
        return BmpHidingMode::Depth4;
    case 8:
        return BmpHidingMode::Depth8;
    case 16:
        return BmpHidingMode::Depth16;
    case 24:
        return BmpHidingMode::Depth24;
    case 32:
        return BmpHidingMode::Depth32;
    default:
        return BmpHidingMode::None;
    }
}

std::size_t PixelBytesPerContainerByte(BmpHidingMode mode)
{
    switch (mode) {
    case BmpHidingMode::Depth1:
        return 2;
    case BmpHidingMode::Depth4:
    case BmpHidingMode::Depth24:
        return 8;
    case BmpHidingMode::Depth8:
    case BmpHidingMode::Depth16:
        return 16;
    case BmpHidingMode::Depth32:
        return 4;
    case BmpHidingMode::None:
        break;
    }
    return 0;
}

std::size_t CarrierCapacity(BmpHidingMode mode, std::size_t pixelLength)
{
    const std::size_t group = PixelBytesPerContainerByte(mode);
    return group == 0 ? 0 : pixelLength / group;
}

void ExtractContainer(BmpHidingMode mode, std::span<const std::uint8_t> pixels, std::span<std::uint8_t> container)
{
    assert(container.size() <= CarrierCapacity(mode, pixels.size()));
    const std::uint8_t* p = pixels.data();
    std::uint8_t* out = container.data();
    const std::size_t count = container.size();
    switch (mode) {
    case BmpHidingMode::Depth1:
        for (std::size_t k = 0; k < count; ++k)
            out[k] = GatherOddBits(p[2 * k], p[2 * k + 1]);
        break;
    case BmpHidingMode::Depth4:
    case BmpHidingMode::Depth24:
        for (std::size_t k = 0; k < count; ++k)
            out[k] = GatherLowBits(p + 8 * k);
        break;
    case BmpHidingMode::Depth8:
    case BmpHidingMode::Depth16: {
        const unsigned shift = mode == BmpHidingMode::Depth8 ? 0 : 7;
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint8_t* group = p + 16 * k;
            unsigned value = 0;
            for (int j = 0; j < 8; ++j)
                value = value << 1 | (group[2 * j] >> shift & 1);
            out[k] = std::uint8_t(value);
        }
        break;
    }
    case BmpHidingMode::Depth32:
        for (std::size_t k = 0; k < count; ++k)
            out[k] = p[4 * k];
        break;
    case BmpHidingMode::None:
        break;
    }
}

void EmbedContainer(BmpHidingMode mode, std::span<std::uint8_t> pixels, std::span<const std::uint8_t> container)
{
    assert(container.size() <= CarrierCapacity(mode, pixels.size()));
    std::uint8_t* p = pixels.data();
    const std::uint8_t* in = container.data();
    const std::size_t count = container.size();
    switch (mode) {
    case BmpHidingMode::Depth1:
        for (std::size_t k = 0; k < count; ++k) {
            constexpr std::uint8_t keep = 0x55; // bits 6, 4, 2, 0 are not carriers
            p[2 * k] = std::uint8_t((p[2 * k] & keep) | SpreadToOddBits(in[k] >> 4));
            p[2 * k + 1] = std::uint8_t((p[2 * k + 1] & keep) | SpreadToOddBits(in[k] & 15));
        }
        break;
    case BmpHidingMode::Depth4:
    case BmpHidingMode::Depth24:
        for (std::size_t k = 0; k < count; ++k)
            ScatterLowBits(p + 8 * k, in[k]);
        break;
    case BmpHidingMode::Depth8:
    case BmpHidingMode::Depth16: {
        const unsigned shift = mode == BmpHidingMode::Depth8 ? 0 : 7;
        const std::uint8_t keep = std::uint8_t(~(1u << shift));
        for (std::size_t k = 0; k < count; ++k) {
            std::uint8_t* group = p + 16 * k;
            for (int j = 0; j < 8; ++j) {
                const unsigned bit = in[k] >> (7 - j) & 1;
                group[2 * j] = std::uint8_t((group[2 * j] & keep) | bit << shift);
            }
        }
        break;
    }
    case BmpHidingMode::Depth32:
        for (std::size_t k = 0; k < count; ++k)
            p[4 * k] = in[k];
        break;
    case BmpHidingMode::None:
        break;
    }
}
