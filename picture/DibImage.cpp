#include "picture/DibImage.h"

#include "base/FileIO.h"
#include "res/StringTable.h"

#include <algorithm>
#include <limits>
#include <span>
#include <sys/stat.h>
#include <utility>

namespace {

// BITMAPFILEHEADER bfOffBits, from the start of the file.
constexpr std::size_t kOffsetOffBits = 10;

// BITMAPINFOHEADER field offsets from the start of the block.
constexpr std::size_t kOffsetSize = 0;
constexpr std::size_t kOffsetWidth = 4;
constexpr std::size_t kOffsetHeight = 8;
constexpr std::size_t kOffsetBitCount = 14;
constexpr std::size_t kOffsetCompression = 16;
constexpr std::size_t kOffsetSizeImage = 20;
constexpr std::size_t kOffsetClrUsed = 32;

constexpr std::uint32_t kCompressionNone = 0;
constexpr std::uint32_t kCompressionBitFields = 3;

// The block length is a 32-bit quantity in the bitmap model.
constexpr std::uint64_t kMaxBlockLength = std::numeric_limits<std::uint32_t>::max();

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes)
{
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16
        | std::uint32_t(bytes[3]) << 24;
}

std::uint16_t ReadLittleEndian16(const std::uint8_t* bytes) { return std::uint16_t(bytes[0] | bytes[1] << 8); }

void WriteLittleEndian32(std::uint8_t* bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = std::uint8_t(value >> (8 * i));
}

bool IsSupportedBitCount(unsigned bitCount)
{
    switch (bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        return true;
    default:
        return false;
    }
}

} // namespace

BmpResult CDibImage::Refuse(BmpStatus status, std::uint32_t number, std::string detail)
{
    m_file.clear();
    m_file.shrink_to_fit();
    m_colorTableLength = 0;
    m_pixelOffset = 0;
    m_colorCount = 0;
    return { status, number, std::move(detail) };
}

BmpResult CDibImage::Load(const std::string& path)
{
    // A file too long for the bitmap model is turned away before it is read.
    struct stat status { };
    if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)
        && std::uint64_t(status.st_size) > kFileHeaderLength + kMaxBlockLength)
        return Refuse(BmpStatus::TooLarge);

    std::vector<std::uint8_t> file;
    std::string error;
    if (!ReadWholeFile(path, file, error))
        return Refuse(BmpStatus::CannotReadFile, 0, error);
    return LoadFromBytes(std::move(file));
}

BmpResult CDibImage::LoadFromBytes(std::vector<std::uint8_t> file)
{
    if (file.size() < 2 || file[0] != 'B' || file[1] != 'M')
        return Refuse(BmpStatus::NotBitmap);
    if (file.size() > kFileHeaderLength + kMaxBlockLength)
        return Refuse(BmpStatus::TooLarge);
    if (file.size() < kFileHeaderLength + kInfoHeaderLength)
        return Refuse(BmpStatus::TooShort);

    const std::uint8_t* info = file.data() + kFileHeaderLength;
    const std::uint64_t blockLength = file.size() - kFileHeaderLength;
    const std::uint32_t pixelFileOffset = ReadLittleEndian32(file.data() + kOffsetOffBits);
    const std::uint32_t infoSize = ReadLittleEndian32(info + kOffsetSize);
    const std::int32_t width = std::int32_t(ReadLittleEndian32(info + kOffsetWidth));
    const std::int32_t height = std::int32_t(ReadLittleEndian32(info + kOffsetHeight));
    const unsigned bitCount = ReadLittleEndian16(info + kOffsetBitCount);
    const std::uint32_t compression = ReadLittleEndian32(info + kOffsetCompression);

    if (infoSize < kInfoHeaderLength)
        return Refuse(BmpStatus::UnsupportedHeader, infoSize);
    if (!IsSupportedBitCount(bitCount))
        return Refuse(BmpStatus::UnsupportedDepth, bitCount);
    if (width < 0)
        return Refuse(BmpStatus::NegativeWidth);

    const std::uint64_t colorCount = std::uint64_t(1) << bitCount;
    std::uint64_t colorTableLength = 0;
    if (bitCount < 16)
        colorTableLength = 4 * colorCount; // biClrUsed never shortens the table here
    else if (compression == kCompressionBitFields && (bitCount == 16 || bitCount == 32))
        colorTableLength = 12; // the red, green and blue masks
    // Headers and colour table must leave at least one byte of pixel data.
    const std::uint64_t pixelOffset = std::uint64_t(infoSize) + colorTableLength;
    if (pixelOffset >= blockLength)
        return Refuse(BmpStatus::HeadersPastEnd);

    // The image size of the rows: padded to whole 32-bit words, times the row
    // count (a top-down bitmap has a negative height).
    const std::uint64_t rowLength = (std::uint64_t(width) * bitCount + 31) / 32 * 4;
    const std::uint64_t rows = height < 0 ? std::uint64_t(-std::int64_t(height)) : std::uint64_t(height);
    const bool rowsFit = rows == 0 || rowLength <= std::numeric_limits<std::uint32_t>::max() / rows;
    std::uint32_t imageSize = ReadLittleEndian32(info + kOffsetSizeImage);
    if (imageSize == 0) {
        if (!rowsFit)
            return Refuse(BmpStatus::ImageSizeOverflow);
        imageSize = std::uint32_t(rowLength * rows);
    }

    // Uncompressed rows must all be in the file. The model takes the pixel
    // data to start at the end of the full colour table whatever bfOffBits
    // says, but a writer that stored a shortened table put its rows where
    // bfOffBits points, so the rows may begin as early as that (never before
    // the info header ends). Run-length and embedded data have no fixed size.
    if (compression == kCompressionNone || compression == kCompressionBitFields) {
        const std::uint64_t earliestRows
            = std::clamp<std::uint64_t>(pixelFileOffset, kFileHeaderLength + infoSize, kFileHeaderLength + pixelOffset);
        if (!rowsFit || earliestRows + rowLength * rows > file.size())
            return Refuse(BmpStatus::PixelDataCutShort);
    }

    m_file = std::move(file);
    std::uint8_t* block = Block();
    WriteLittleEndian32(block + kOffsetSizeImage, imageSize);
    if (bitCount <= 8 && ReadLittleEndian32(block + kOffsetClrUsed) == 0)
        WriteLittleEndian32(block + kOffsetClrUsed, std::uint32_t(colorCount));

    m_colorCount = colorCount;
    m_colorTableLength = std::size_t(colorTableLength);
    m_pixelOffset = std::size_t(pixelOffset);
    return {};
}

bool CDibImage::Save(const std::string& path, std::string& error) const
{
    if (!IsLoaded()) {
        error = "No bitmap is loaded";
        return false;
    }
    return WriteFileAtomically(path, { GetFileHeader(), { Block(), GetBlockLength() } }, error);
}

std::span<const std::uint8_t> CDibImage::GetFileHeader() const
{
    return IsLoaded() ? std::span<const std::uint8_t>(m_file.data(), kFileHeaderLength)
                      : std::span<const std::uint8_t>();
}

std::int32_t CDibImage::GetWidth() const
{
    return IsLoaded() ? std::int32_t(ReadLittleEndian32(Block() + kOffsetWidth)) : 0;
}

std::int32_t CDibImage::GetHeight() const
{
    return IsLoaded() ? std::int32_t(ReadLittleEndian32(Block() + kOffsetHeight)) : 0;
}

int CDibImage::GetBitsPerPixel() const { return IsLoaded() ? ReadLittleEndian16(Block() + kOffsetBitCount) : 0; }

std::uint32_t CDibImage::GetCompression() const
{
    return IsLoaded() ? ReadLittleEndian32(Block() + kOffsetCompression) : 0;
}

std::uint32_t CDibImage::GetImageSize() const
{
    return IsLoaded() ? ReadLittleEndian32(Block() + kOffsetSizeImage) : 0;
}

std::uint32_t CDibImage::GetColorsUsed() const { return IsLoaded() ? ReadLittleEndian32(Block() + kOffsetClrUsed) : 0; }
