#include "picture/BmpSampleGrid.h"

#include "res/StringTable.h"

#include <algorithm>
#include <bit>
#include <iterator>
#include <string>

namespace {

constexpr std::size_t kFileHeaderLength = 14;
constexpr std::size_t kInfoHeaderLength = 40;
constexpr std::size_t kMasksLength = 12;
constexpr std::size_t kGreyRampEntries = 256;

// Offsets from the start of the file.
constexpr std::size_t kOffsetPixelArray = 10;
constexpr std::size_t kOffsetInfoSize = 14;
constexpr std::size_t kOffsetWidth = 18;
constexpr std::size_t kOffsetHeight = 22;
constexpr std::size_t kOffsetBitCount = 28;
constexpr std::size_t kOffsetCompression = 30;
constexpr std::size_t kOffsetClrUsed = 46;
constexpr std::size_t kOffsetMasks = kFileHeaderLength + kInfoHeaderLength;

constexpr std::uint32_t kCompressionNone = 0;
constexpr std::uint32_t kCompressionRle8 = 1;
constexpr std::uint32_t kCompressionRle4 = 2;
constexpr std::uint32_t kCompressionBitFields = 3;

// A 16-bit bitmap without masks is 5-5-5 with the top bit unused.
constexpr std::uint32_t kDefaultMasks16[3] = { 0x7C00, 0x03E0, 0x001F };

std::uint32_t Read32(const std::uint8_t* bytes)
{
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16
        | std::uint32_t(bytes[3]) << 24;
}

std::uint16_t Read16(const std::uint8_t* bytes) { return std::uint16_t(bytes[0] | bytes[1] << 8); }

bool Refuse(std::string& reason, std::string text)
{
    reason = std::move(text);
    return false;
}

// A colour mask must be one run of set bits inside the pixel word.
bool MaskToChannel(std::uint32_t mask, unsigned bitCount, SampleChannel& channel)
{
    if (mask == 0 || (bitCount < 32 && (mask >> bitCount) != 0))
        return false;
    const unsigned shift = unsigned(std::countr_zero(mask));
    const std::uint32_t field = mask >> shift;
    if ((field & (field + 1)) != 0)
        return false; // not contiguous
    channel.byteOffset = 0;
    channel.shift = std::uint8_t(shift);
    channel.maxValue = field;
    return true;
}

} // namespace

bool DescribeBmpSamples(std::span<std::uint8_t> file, SampleGrid& grid, std::string& reason)
{
    grid = SampleGrid {};
    if (file.size() < 2 || file[0] != 'B' || file[1] != 'M')
        return Refuse(reason, LoadResString(144));
    if (file.size() < kFileHeaderLength + kInfoHeaderLength)
        return Refuse(reason, "The file is too short to hold the bitmap headers");

    const std::uint8_t* bytes = file.data();
    const std::uint64_t pixelArray = Read32(bytes + kOffsetPixelArray);
    const std::uint32_t infoSize = Read32(bytes + kOffsetInfoSize);
    const std::int64_t width = std::int32_t(Read32(bytes + kOffsetWidth));
    const std::int64_t height = std::int32_t(Read32(bytes + kOffsetHeight));
    const unsigned bitCount = Read16(bytes + kOffsetBitCount);
    const std::uint32_t compression = Read32(bytes + kOffsetCompression);
    const std::uint32_t colorsUsed = Read32(bytes + kOffsetClrUsed);

    if (infoSize < kInfoHeaderLength || kFileHeaderLength + std::uint64_t(infoSize) > file.size())
        return Refuse(reason, "The bitmap info header is malformed or not supported");
    if (width <= 0 || height == 0)
        return Refuse(reason, "The bitmap has no pixels");
    if (bitCount == 1 || bitCount == 4)
        return Refuse(reason,
            "A " + std::to_string(bitCount)
                + "-bit bitmap cannot carry a sealed message: its pixels are colour-table indices packed "
                  "into bytes, with no sample that can change by one step");
    if (compression == kCompressionRle8 || compression == kCompressionRle4)
        return Refuse(reason, "A run-length encoded bitmap cannot carry a sealed message: its bytes are run codes");

    std::uint64_t headersEnd = kFileHeaderLength + std::uint64_t(infoSize);
    grid.pixelBytes = bitCount / 8;
    switch (bitCount) {
    case 8: {
        if (compression != kCompressionNone)
            return Refuse(reason, "This bitmap's compression is not supported for sealed messages");
        const std::uint8_t* table = bytes + headersEnd;
        headersEnd += 4 * kGreyRampEntries;
        bool greyRamp = (colorsUsed == 0 || colorsUsed == kGreyRampEntries) && headersEnd <= file.size();
        for (std::size_t entry = 0; greyRamp && entry < kGreyRampEntries; ++entry)
            greyRamp = table[4 * entry] == entry && table[4 * entry + 1] == entry && table[4 * entry + 2] == entry;
        if (!greyRamp)
            return Refuse(reason,
                "An 8-bit bitmap can carry a sealed message only when its colour table is the grey ramp "
                "0-255: in a colour palette a changed index changes the colour");
        grid.channelCount = 1;
        grid.channels[0] = { 0, 0, 0xFF };
        break;
    }
    case 24:
        if (compression != kCompressionNone)
            return Refuse(reason, "This bitmap's compression is not supported for sealed messages");
        grid.channelCount = 3;
        for (std::uint8_t channel = 0; channel < 3; ++channel)
            grid.channels[channel] = { channel, 0, 0xFF };
        break;
    case 16:
    case 32: {
        std::uint32_t masks[3];
        if (compression == kCompressionBitFields) {
            if (kOffsetMasks + kMasksLength > file.size())
                return Refuse(reason, "The bitmap's colour masks lie past the end of the file");
            for (std::size_t i = 0; i < 3; ++i)
                masks[i] = Read32(bytes + kOffsetMasks + 4 * i);
            if (infoSize == kInfoHeaderLength)
                headersEnd += kMasksLength;
            if ((masks[0] & masks[1]) || (masks[0] & masks[2]) || (masks[1] & masks[2]))
                return Refuse(reason, "The bitmap's colour masks overlap");
        } else if (compression == kCompressionNone && bitCount == 16) {
            std::copy(std::begin(kDefaultMasks16), std::end(kDefaultMasks16), masks);
        } else if (compression == kCompressionNone) {
            // Blue, green and red bytes in stored order; the fourth byte may
            // be alpha and stays as it is.
            grid.channelCount = 3;
            for (std::uint8_t channel = 0; channel < 3; ++channel)
                grid.channels[channel] = { channel, 0, 0xFF };
            break;
        } else {
            return Refuse(reason, "This bitmap's compression is not supported for sealed messages");
        }
        grid.wordBytes = bitCount / 8;
        grid.channelCount = 3;
        for (std::size_t i = 0; i < 3; ++i)
            if (!MaskToChannel(masks[i], bitCount, grid.channels[i]))
                return Refuse(reason, "The bitmap's colour masks are malformed");
        break;
    }
    default:
        return Refuse(reason, "Bit depth " + std::to_string(bitCount) + " is not supported for sealed messages");
    }

    if (pixelArray < headersEnd)
        return Refuse(reason, "The bitmap's pixel array starts inside its headers");
    const std::uint64_t rowStride = (std::uint64_t(width) * bitCount + 31) / 32 * 4;
    const std::uint64_t rows = std::uint64_t(height < 0 ? -height : height);
    if (pixelArray > file.size() || rows > (file.size() - pixelArray) / rowStride)
        return Refuse(reason, "The bitmap's pixel array runs past the end of the file");

    grid.pixels = file.data() + pixelArray;
    grid.rowStride = std::size_t(rowStride);
    grid.rows = std::size_t(rows);
    grid.pixelsPerRow = std::size_t(width);
    return true;
}
