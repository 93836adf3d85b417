#include "picture/DibImage.h"

#include "base/FileIO.h"
#include "res/StringTable.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <span>
#include <sys/stat.h>
#include <unistd.h>
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

CDibImage::~CDibImage() { CloseSource(); }

void CDibImage::CloseSource()
{
    if (m_source >= 0)
        ::close(m_source);
    m_source = -1;
}

bool CDibImage::SourceChanged() const
{
    struct stat status { };
    return ::fstat(m_source, &status) != 0 || std::uint64_t(status.st_size) != m_sourceLength
        || status.st_mtim.tv_sec != m_sourceModifiedSeconds || status.st_mtim.tv_nsec != m_sourceModifiedNanoseconds;
}

BmpResult CDibImage::Refuse(BmpStatus status, std::uint32_t number, std::string detail)
{
    CloseSource();
    m_file.Reset();
    m_colorTableLength = 0;
    m_pixelOffset = 0;
    m_pixelLength = 0;
    m_colorCount = 0;
    return { status, number, std::move(detail) };
}

BmpResult CDibImage::Load(const std::string& path)
{
    CloseSource();
    // A file too long for the bitmap model is turned away before it is read.
    struct stat status { };
    if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)
        && std::uint64_t(status.st_size) > kFileHeaderLength + kMaxBlockLength)
        return Refuse(BmpStatus::TooLarge);

    CLargeBuffer file;
    std::string error;
    if (!ReadWholeFile(path, file, error))
        return Refuse(BmpStatus::CannotReadFile, 0, error);
    return Adopt(std::move(file));
}

BmpResult CDibImage::LoadFromBytes(const std::vector<std::uint8_t>& file)
{
    CloseSource();
    CLargeBuffer copy;
    if (!copy.Allocate(file.size()))
        return Refuse(BmpStatus::CannotReadFile, 0, std::strerror(ENOMEM));
    if (!file.empty())
        std::memcpy(copy.data(), file.data(), file.size());
    return Adopt(std::move(copy));
}

BmpStatus CDibImage::CheckLayout(
    const std::uint8_t* head, std::uint64_t fileLength, Layout& layout, std::uint32_t& number)
{
    if (fileLength < 2 || head[0] != 'B' || head[1] != 'M')
        return BmpStatus::NotBitmap;
    if (fileLength > kFileHeaderLength + kMaxBlockLength)
        return BmpStatus::TooLarge;
    if (fileLength < kFileHeaderLength + kInfoHeaderLength)
        return BmpStatus::TooShort;

    const std::uint8_t* info = head + kFileHeaderLength;
    const std::uint64_t blockLength = fileLength - kFileHeaderLength;
    const std::uint32_t pixelFileOffset = ReadLittleEndian32(head + kOffsetOffBits);
    const std::uint32_t infoSize = ReadLittleEndian32(info + kOffsetSize);
    const std::int32_t width = std::int32_t(ReadLittleEndian32(info + kOffsetWidth));
    const std::int32_t height = std::int32_t(ReadLittleEndian32(info + kOffsetHeight));
    const unsigned bitCount = ReadLittleEndian16(info + kOffsetBitCount);
    const std::uint32_t compression = ReadLittleEndian32(info + kOffsetCompression);

    if (infoSize < kInfoHeaderLength) {
        number = infoSize;
        return BmpStatus::UnsupportedHeader;
    }
    if (!IsSupportedBitCount(bitCount)) {
        number = bitCount;
        return BmpStatus::UnsupportedDepth;
    }
    if (width < 0)
        return BmpStatus::NegativeWidth;

    const std::uint64_t colorCount = std::uint64_t(1) << bitCount;
    std::uint64_t colorTableLength = 0;
    if (bitCount < 16)
        colorTableLength = 4 * colorCount; // biClrUsed never shortens the table here
    else if (compression == kCompressionBitFields && (bitCount == 16 || bitCount == 32))
        colorTableLength = 12; // the red, green and blue masks
    // Headers and colour table must leave at least one byte of pixel data.
    const std::uint64_t pixelOffset = std::uint64_t(infoSize) + colorTableLength;
    if (pixelOffset >= blockLength)
        return BmpStatus::HeadersPastEnd;

    // The image size of the rows: padded to whole 32-bit words, times the row
    // count (a top-down bitmap has a negative height).
    const std::uint64_t rowLength = (std::uint64_t(width) * bitCount + 31) / 32 * 4;
    const std::uint64_t rows = height < 0 ? std::uint64_t(-std::int64_t(height)) : std::uint64_t(height);
    const bool rowsFit = rows == 0 || rowLength <= std::numeric_limits<std::uint32_t>::max() / rows;
    std::uint32_t imageSize = ReadLittleEndian32(info + kOffsetSizeImage);
    if (imageSize == 0) {
        if (!rowsFit)
            return BmpStatus::ImageSizeOverflow;
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
        if (!rowsFit || earliestRows + rowLength * rows > fileLength)
            return BmpStatus::PixelDataCutShort;
    }

    layout.imageSize = imageSize;
    layout.bitCount = bitCount;
    layout.colorCount = colorCount;
    layout.colorTableLength = colorTableLength;
    layout.pixelOffset = pixelOffset;
    return BmpStatus::Ok;
}

BmpResult CDibImage::Adopt(CLargeBuffer file)
{
    Layout layout;
    std::uint32_t number = 0;
    if (const BmpStatus status = CheckLayout(file.data(), file.size(), layout, number); status != BmpStatus::Ok)
        return Refuse(status, number);
    const std::size_t pixelLength = file.size() - kFileHeaderLength - std::size_t(layout.pixelOffset);
    TakeLayout(std::move(file), layout, pixelLength);
    return {};
}

void CDibImage::TakeLayout(CLargeBuffer headers, const Layout& layout, std::size_t pixelLength)
{
    m_file = std::move(headers);
    std::uint8_t* block = Block();
    WriteLittleEndian32(block + kOffsetSizeImage, layout.imageSize);
    if (layout.bitCount <= 8 && ReadLittleEndian32(block + kOffsetClrUsed) == 0)
        WriteLittleEndian32(block + kOffsetClrUsed, std::uint32_t(layout.colorCount));

    m_colorCount = layout.colorCount;
    m_colorTableLength = std::size_t(layout.colorTableLength);
    m_pixelOffset = std::size_t(layout.pixelOffset);
    m_pixelLength = pixelLength;
}

BmpResult CDibImage::LoadHeaders(const std::string& path, const PixelVisitor& visit)
{
    return ReadHeaders(path, visit, false);
}

BmpResult CDibImage::LoadHeadersKeepingFile(const std::string& path, const PixelVisitor& visit)
{
    return ReadHeaders(path, visit, true);
}

BmpResult CDibImage::ReadHeaders(const std::string& path, const PixelVisitor& visit, bool keepFile)
{
    (void)Refuse(BmpStatus::Ok);
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return Refuse(BmpStatus::CannotReadFile, 0, std::strerror(errno));
    struct Closer {
        int descriptor;
        ~Closer()
        {
            if (descriptor >= 0)
                ::close(descriptor);
        }
    } closer { descriptor };
    struct stat status { };
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
        return Refuse(BmpStatus::CannotReadFile, 0, S_ISDIR(status.st_mode) ? "Is a directory" : std::strerror(EINVAL));
    const std::uint64_t fileLength = std::uint64_t(status.st_size);
    // A file that changes while it is read cannot be told from a damaged one.
    const auto readExactly = [&](std::uint8_t* target, std::size_t length) -> BmpResult {
        std::size_t filled = 0;
        while (filled < length) {
            const ssize_t got = ::read(descriptor, target + filled, length - filled);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return Refuse(BmpStatus::CannotReadFile, 0, std::strerror(errno));
            if (got == 0)
                return Refuse(BmpStatus::CannotReadFile, 0, "The file changed while it was read");
            filled += std::size_t(got);
        }
        return {};
    };

    // As in Load, a file too long for the bitmap model is turned away first.
    if (fileLength > kFileHeaderLength + kMaxBlockLength)
        return Refuse(BmpStatus::TooLarge);
    std::uint8_t head[kFileHeaderLength + kInfoHeaderLength] = {};
    if (BmpResult result = readExactly(head, std::size_t(std::min<std::uint64_t>(fileLength, sizeof head)));
        !result.IsOk())
        return result;
    Layout layout;
    std::uint32_t number = 0;
    if (const BmpStatus checked = CheckLayout(head, fileLength, layout, number); checked != BmpStatus::Ok)
        return Refuse(checked, number);

    CLargeBuffer headers;
    const std::size_t headerLength = kFileHeaderLength + std::size_t(layout.pixelOffset);
    if (!headers.Allocate(headerLength))
        return Refuse(BmpStatus::CannotReadFile, 0, std::strerror(ENOMEM));
    std::memcpy(headers.data(), head, sizeof head);
    if (BmpResult result = readExactly(headers.data() + sizeof head, headerLength - sizeof head); !result.IsOk())
        return result;
    const std::size_t pixelLength = std::size_t(fileLength) - headerLength;
    TakeLayout(std::move(headers), layout, pixelLength);

    // Pieces of a whole number of carrier groups (16 bytes holds any of
    // them), small enough to stay in the processor's cache.
    constexpr std::size_t kPieceLength = std::size_t(1) << 18;
    CLargeBuffer piece;
    if (!piece.Allocate(std::min(kPieceLength, pixelLength)))
        return Refuse(BmpStatus::CannotReadFile, 0, std::strerror(ENOMEM));
    for (std::size_t offset = 0; offset < pixelLength; offset += kPieceLength) {
        const std::size_t length = std::min(kPieceLength, pixelLength - offset);
        if (BmpResult result = readExactly(piece.data(), length); !result.IsOk())
            return result;
        visit({ piece.data(), length }, offset);
    }
    if (keepFile) {
        m_source = std::exchange(closer.descriptor, -1);
        m_sourceLength = fileLength;
        m_sourceModifiedSeconds = status.st_mtim.tv_sec;
        m_sourceModifiedNanoseconds = status.st_mtim.tv_nsec;
    }
    return {};
}

bool CDibImage::Save(const std::string& path, std::string& error) const
{
    if (!IsLoaded()) {
        error = "No bitmap is loaded";
        return false;
    }
    if (!HasPixels()) {
        error = "The pixels of this bitmap were not kept";
        return false;
    }
    return WriteFileAtomically(path, { GetFileHeader(), { Block(), GetBlockLength() } }, error);
}

bool CDibImage::SaveFromFile(const std::string& path, const PixelEditor& edit, std::string& error) const
{
    if (!KeepsFile()) {
        error = IsLoaded() ? "The file of this bitmap was not kept open" : "No bitmap is loaded";
        return false;
    }
    // Pieces large enough that each system call moves a lot, small enough to
    // stay in the processor's cache between the read, the edit and the write.
    constexpr std::size_t kPieceLength = std::size_t(1) << 20;
    static_assert(kPieceLength % 16 == 0, "pieces start on whole carrier groups");
    CLargeBuffer piece;
    if (!piece.Allocate(std::min(kPieceLength, m_pixelLength))) {
        error = std::strerror(ENOMEM);
        return false;
    }
    const char* const changed = "The picture changed on disk after it was loaded";
    const std::uint64_t pixelStart = kFileHeaderLength + m_pixelOffset;
    const FileProducer produce = [&](const FilePieceSink& write, std::string& reason) {
        if (SourceChanged()) {
            reason = changed;
            return false;
        }
        if (!write(GetFileHeader()) || !write({ Block(), m_pixelOffset }))
            return false;
        for (std::size_t offset = 0; offset < m_pixelLength; offset += kPieceLength) {
            const std::size_t length = std::min(kPieceLength, m_pixelLength - offset);
            std::size_t filled = 0;
            while (filled < length) {
                const ssize_t got
                    = ::pread(m_source, piece.data() + filled, length - filled, off_t(pixelStart + offset + filled));
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0) {
                    reason = got < 0 ? std::string("The picture cannot be read again: ") + std::strerror(errno)
                                     : std::string(changed);
                    return false;
                }
                filled += std::size_t(got);
            }
            edit({ piece.data(), length }, offset);
            if (!write({ piece.data(), length }))
                return false;
        }
        // A change made while the pieces were copied shows only now.
        if (SourceChanged()) {
            reason = changed;
            return false;
        }
        return true;
    };
    return WriteFileAtomicallyFrom(path, produce, error);
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
