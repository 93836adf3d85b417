#pragma once

#include "support/TestFiles.h"

// Builds bitmap files in memory for tests, and a temporary folder to put them in.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

struct BmpShape {
    std::int32_t width = 100;
    std::int32_t height = 100;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::uint32_t clrUsed = 0;
    std::uint32_t infoSize = 40;
    // Colour table bytes actually present; by default 4 entries per colour
    // below 16 bits, the three masks for bit fields, else none.
    std::optional<std::size_t> colorTableLength {};
    // Pixel bytes present; by default padded rows times |height|.
    std::optional<std::size_t> pixelLength {};
    std::uint32_t seed = 1;
};

inline void PutLittleEndian(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value, int width = 4)
{
    for (int i = 0; i < width; ++i)
        bytes[at + i] = std::uint8_t(value >> (8 * i));
}

inline std::size_t DefaultColorTableLength(const BmpShape& shape)
{
    if (shape.bitCount < 16)
        return 4u << shape.bitCount;
    return shape.compression == 3 && (shape.bitCount == 16 || shape.bitCount == 32) ? 12 : 0;
}

inline std::size_t DefaultPixelLength(const BmpShape& shape)
{
    const std::size_t row = (std::size_t(shape.width) * shape.bitCount + 31) / 32 * 4;
    return row * std::size_t(shape.height < 0 ? -std::int64_t(shape.height) : shape.height);
}

// A bitmap of the given shape with pseudo-random colour table and pixel bytes.
inline std::vector<std::uint8_t> MakeBmp(const BmpShape& shape)
{
    const std::size_t table = shape.colorTableLength.value_or(DefaultColorTableLength(shape));
    const std::size_t pixels = shape.pixelLength.value_or(DefaultPixelLength(shape));
    const std::size_t headers = 14 + std::size_t(shape.infoSize < 40 ? 40 : shape.infoSize);
    std::vector<std::uint8_t> file(headers + table + pixels, 0);
    file[0] = 'B';
    file[1] = 'M';
    PutLittleEndian(file, 2, std::uint32_t(file.size()));
    PutLittleEndian(file, 10, std::uint32_t(headers + table));
    PutLittleEndian(file, 14, shape.infoSize);
    PutLittleEndian(file, 18, std::uint32_t(shape.width));
    PutLittleEndian(file, 22, std::uint32_t(shape.height));
    PutLittleEndian(file, 26, 1, 2);
    PutLittleEndian(file, 28, shape.bitCount, 2);
    PutLittleEndian(file, 30, shape.compression);
    PutLittleEndian(file, 34, shape.sizeImage);
    PutLittleEndian(file, 46, shape.clrUsed);
    std::mt19937 generator(shape.seed);
    for (std::size_t i = headers; i < file.size(); ++i)
        file[i] = std::uint8_t(generator());
    return file;
}

// Carrier bits of each pixel byte for the 1, 4, 8, 16, 24 and 32 bit layouts,
// written out from the layout table rather than from the code under test.
inline std::vector<std::uint8_t> CarrierBitMask(int bitCount, std::size_t pixelLength)
{
    std::vector<std::uint8_t> mask(pixelLength, 0);
    auto fill = [&](std::size_t group, std::initializer_list<std::pair<std::size_t, std::uint8_t>> bits) {
        for (std::size_t start = 0; start + group <= pixelLength; start += group)
            for (const auto& [offset, bitMask] : bits)
                mask[start + offset] = bitMask;
    };
    switch (bitCount) {
    case 1:
        fill(2, { { 0, 0xAA }, { 1, 0xAA } });
        break;
    case 4:
    case 24:
        fill(8, { { 0, 1 }, { 1, 1 }, { 2, 1 }, { 3, 1 }, { 4, 1 }, { 5, 1 }, { 6, 1 }, { 7, 1 } });
        break;
    case 8:
        fill(16, { { 0, 1 }, { 2, 1 }, { 4, 1 }, { 6, 1 }, { 8, 1 }, { 10, 1 }, { 12, 1 }, { 14, 1 } });
        break;
    case 16:
        fill(16,
            { { 0, 0x80 }, { 2, 0x80 }, { 4, 0x80 }, { 6, 0x80 }, { 8, 0x80 }, { 10, 0x80 }, { 12, 0x80 },
                { 14, 0x80 } });
        break;
    case 32:
        fill(4, { { 0, 0xFF } });
        break;
    }
    return mask;
}
