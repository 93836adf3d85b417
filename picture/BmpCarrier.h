#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Where container bytes live in the stored pixel bytes of a bitmap. The pixel
// data is treated as one flat run of bytes: rows, row padding and pixel
// boundaries are not told apart. Container byte k is tied to group k of pixel
// bytes, the groups following each other without a gap, and its bits are placed
// most significant first:
//
//   mode  depth  group  carrier bits
//   0     1      2      bits 7, 5, 3, 1 of each byte
//   1     4      8      bit 0 of each byte
//   2     8      16     bit 0 of the bytes at even offsets
//   3     16     16     bit 7 of the bytes at even offsets (the low byte of each pixel)
//   4     24     8      bit 0 of each byte
//   5     32     4      the whole first byte
//
// Writing changes only carrier bits. Pixel bytes after the last whole group are
// neither read nor written.
enum class BmpHidingMode : int {
    None = -1,
    Depth1 = 0,
    Depth4 = 1,
    Depth8 = 2,
    Depth16 = 3,
    Depth24 = 4,
    Depth32 = 5,
};

BmpHidingMode HidingModeForBitCount(int bitCount);

// Pixel bytes per container byte; 0 for BmpHidingMode::None.
std::size_t PixelBytesPerContainerByte(BmpHidingMode mode);

// Container bytes that `pixelLength` pixel bytes carry (0 without a mode).
std::size_t CarrierCapacity(BmpHidingMode mode, std::size_t pixelLength);

// Reads container.size() bytes out of the pixels. container.size() must not
// exceed CarrierCapacity(mode, pixels.size()).
void ExtractContainer(BmpHidingMode mode, std::span<const std::uint8_t> pixels, std::span<std::uint8_t> container);

// Writes container.size() bytes into the carrier bits of the pixels.
void EmbedContainer(BmpHidingMode mode, std::span<std::uint8_t> pixels, std::span<const std::uint8_t> container);
