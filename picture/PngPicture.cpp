#include "picture/PngPicture.h"

#include "base/FileIO.h"
#include "picture/PngImageData.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <png.h>
#include <utility>
#include <zlib.h>

namespace {

constexpr std::size_t kSignatureLength = 8;
constexpr std::size_t kChunkOverhead = 12; // length, type, CRC
constexpr std::uint32_t kMaxChunkLength = 0x7FFFFFFF; // PNG 5.3: at most 2^31 - 1
// Larger image data chunks than libpng's 8 KiB: fewer chunk headers.
constexpr std::size_t kImageDataChunkBytes = 256 * 1024;
constexpr std::uint8_t kImageDataType[4] = { 'I', 'D', 'A', 'T' };

struct MemorySource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;
};

// What libpng's callbacks share with the code that called into libpng. The
// objects live outside the functions that call setjmp, so a longjmp never
// skips a destructor or leaves one of them in an indeterminate state.
struct CodecState {
    std::string error;
    std::vector<png_bytep> rows;
    bool encodeAhead = false;
    std::unique_ptr<CPngImageDataEncoder> ahead;
};

// Rows decoded between two reports to the encoder that deflates ahead.
constexpr std::uint32_t kRowsPerReport = 16;

void OnError(png_structp png, png_const_charp message)
{
    auto* state = static_cast<CodecState*>(png_get_error_ptr(png));
    try {
        state->error = message ? message : "libpng failed";
    } catch (...) {
    }
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) { }

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length)
{
    auto* source = static_cast<MemorySource*>(png_get_io_ptr(png));
    if (length > source->size - source->at)
        png_error(png, "The file ends inside the picture");
    std::memcpy(out, source->data + source->at, length);
    source->at += length;
}

std::uint32_t ReadBigEndian32(const std::uint8_t* bytes)
{
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 | std::uint32_t(bytes[2]) << 8
        | std::uint32_t(bytes[3]);
}

struct Chunk {
    std::size_t start = 0;
    std::size_t length = 0; // the whole chunk: length, type, data and CRC
    bool isImageData = false;
};

// The chunks from the signature to IEND; `end` is where IEND stops (bytes
// after it are kept as they are).
bool WalkChunks(std::span<const std::uint8_t> file, std::vector<Chunk>& chunks, std::size_t& end)
{
    chunks.clear();
    std::size_t at = kSignatureLength;
    while (at <= file.size() && file.size() - at >= kChunkOverhead) {
        const std::uint32_t dataLength = ReadBigEndian32(file.data() + at);
        if (dataLength > kMaxChunkLength || dataLength > file.size() - at - kChunkOverhead)
            return false;
        Chunk chunk;
        chunk.start = at;
        chunk.length = kChunkOverhead + dataLength;
        const std::uint8_t* type = file.data() + at + 4;
        chunk.isImageData = std::memcmp(type, "IDAT", 4) == 0;
        chunks.push_back(chunk);
        at += chunk.length;
        if (std::memcmp(type, "IEND", 4) == 0) {
            end = at;
            return true;
        }
    }
    return false;
}

unsigned ChannelCount(int colorType)
{
    switch (colorType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return 4;
    default: // grey, palette
        return 1;
    }
}

bool DecodeRows(CodecState& state, std::span<const std::uint8_t> file, std::uint64_t maxImageBytes,
    std::vector<std::uint8_t>& image, std::uint32_t& width, std::uint32_t& height, int& bitDepth, int& colorType,
    bool& interlaced, bool& colorKey, std::size_t& rowBytes)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, OnError, OnWarning);
    if (!png) {
        state.error = "libpng cannot start";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        state.error = "libpng cannot start";
        return false;
    }
    MemorySource source { file.data(), file.size(), 0 };
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &source, ReadFromMemory);
    png_read_info(png, info);
    png_uint_32 pngWidth = 0;
    png_uint_32 pngHeight = 0;
    int interlaceType = 0;
    png_get_IHDR(png, info, &pngWidth, &pngHeight, &bitDepth, &colorType, &interlaceType, nullptr, nullptr);
    width = pngWidth;
    height = pngHeight;
    interlaced = interlaceType != PNG_INTERLACE_NONE;
    colorKey = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (interlaced)
        png_set_interlace_handling(png);
    png_read_update_info(png, info);
    rowBytes = png_get_rowbytes(png, info);
    if (rowBytes == 0 || std::uint64_t(rowBytes) * height > maxImageBytes)
        png_error(png, "The picture is too large");
    bool allocated = true;
    try {
        image.assign(rowBytes * height, 0);
        state.rows.resize(height);
    } catch (const std::bad_alloc&) {
        allocated = false;
    }
    if (!allocated)
        png_error(png, "Out of memory for the picture");
    for (std::uint32_t row = 0; row < height; ++row)
        state.rows[row] = image.data() + std::size_t(row) * rowBytes;
    if (state.encodeAhead && !interlaced) {
        try {
            PngImageLayout layout;
            layout.rows = image.data();
            layout.rowBytes = rowBytes;
            layout.width = width;
            layout.height = height;
            layout.bitsPerPixel = ChannelCount(colorType) * unsigned(bitDepth);
            state.ahead = std::make_unique<CPngImageDataEncoder>(layout);
            state.ahead->StartAhead();
        } catch (const std::bad_alloc&) {
            state.ahead.reset(); // the whole image is deflated when it is saved
        }
    }
    if (state.ahead) {
        // Rows in order (no interlacing), each batch handed to the encoder.
        for (std::uint32_t row = 0; row < height;) {
            const std::uint32_t count = std::min(kRowsPerReport, height - row);
            png_read_rows(png, state.rows.data() + row, nullptr, count);
            row += count;
            state.ahead->RowsDecoded(row);
        }
    } else {
        png_read_image(png, state.rows.data());
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

void AppendBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(std::uint8_t(value >> shift));
}

// The zlib stream as IDAT chunks (PNG 5.3: length, type, data, CRC of type
// and data).
void AppendImageData(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> stream)
{
    for (std::size_t at = 0; at < stream.size(); at += kImageDataChunkBytes) {
        const auto data = stream.subspan(at, std::min(kImageDataChunkBytes, stream.size() - at));
        AppendBigEndian32(out, std::uint32_t(data.size()));
        out.insert(out.end(), std::begin(kImageDataType), std::end(kImageDataType));
        out.insert(out.end(), data.begin(), data.end());
        uLong crc = crc32(0, kImageDataType, sizeof kImageDataType);
        crc = crc32(crc, data.data(), uInt(data.size()));
        AppendBigEndian32(out, std::uint32_t(crc));
    }
}

} // namespace

bool CPngPicture::Fail(std::string reason)
{
    m_strFailure = std::move(reason);
    return false;
}

bool CPngPicture::Load(const std::string& path)
{
    std::vector<std::uint8_t> file;
    std::string error;
    if (!ReadWholeFile(path, file, error))
        return Fail("The file cannot be read: " + error);
    return LoadFromBytes(std::move(file));
}

bool CPngPicture::LoadFromBytes(std::vector<std::uint8_t> file, std::uint64_t maxImageBytes, bool encodeAhead)
{
    m_pEncoder.reset();
    m_changedRows.clear();
    m_image.clear();
    m_file.clear();
    m_strNoSamples.clear();
    if (file.size() < kSignatureLength || png_sig_cmp(file.data(), 0, kSignatureLength) != 0)
        return Fail("This is not a PNG file");

    CodecState state;
    state.encodeAhead = encodeAhead;
    std::vector<std::uint8_t> image;
    bool colorKey = false;
    const bool decoded = DecodeRows(state, file, maxImageBytes, image, m_width, m_height, m_bitDepth, m_colorType,
        m_bInterlaced, colorKey, m_rowBytes);
    // The rows are the encoder's to read only while they are decoded.
    if (state.ahead)
        state.ahead->StopAhead();
    if (!decoded)
        return Fail("The PNG file is damaged or not supported: " + state.error);
    if (state.ahead) {
        try {
            m_changedRows.assign(m_height, 0);
            m_pEncoder = std::move(state.ahead);
        } catch (const std::bad_alloc&) {
            m_changedRows.clear();
        }
    }
    std::vector<Chunk> chunks;
    std::size_t end = 0;
    if (!WalkChunks(file, chunks, end))
        return Fail("The PNG file's chunks are malformed");

    if (m_colorType == PNG_COLOR_TYPE_PALETTE)
        m_strNoSamples = "A colour-palette PNG picture cannot carry a sealed message: a changed index changes "
                         "the colour";
    else if (m_bitDepth < 8)
        m_strNoSamples = "A grey PNG picture of fewer than 8 bits cannot carry a sealed message";
    else if (colorKey)
        m_strNoSamples = "A PNG picture with a transparent colour key (tRNS) cannot carry a sealed message: a "
                         "changed sample could make a pixel transparent";
    m_image = std::move(image);
    m_file = std::move(file);
    m_strFailure.clear();
    return true;
}

std::string CPngPicture::GetColorTypeName() const
{
    switch (m_colorType) {
    case PNG_COLOR_TYPE_GRAY:
        return "grey";
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return "grey-alpha";
    case PNG_COLOR_TYPE_RGB:
        return "RGB";
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return "RGBA";
    case PNG_COLOR_TYPE_PALETTE:
        return "palette";
    default:
        return "unknown";
    }
}

SampleGrid CPngPicture::GetSampleGrid()
{
    SampleGrid grid;
    if (!IsLoaded() || !m_strNoSamples.empty())
        return grid;
    const unsigned sampleBytes = unsigned(m_bitDepth) / 8;
    const bool color = (m_colorType & PNG_COLOR_MASK_COLOR) != 0;
    const bool alpha = (m_colorType & PNG_COLOR_MASK_ALPHA) != 0;
    grid.channelCount = color ? 3 : 1;
    grid.pixelBytes = (grid.channelCount + (alpha ? 1 : 0)) * sampleBytes;
    grid.wordBytes = sampleBytes;
    grid.bigEndian = true;
    for (std::size_t channel = 0; channel < grid.channelCount; ++channel)
        grid.channels[channel] = { std::uint8_t(channel * sampleBytes), 0, sampleBytes == 2 ? 0xFFFFu : 0xFFu };
    grid.pixels = m_image.data();
    grid.changedRows = m_changedRows.empty() ? nullptr : m_changedRows.data();
    grid.rowStride = m_rowBytes;
    grid.rows = m_height;
    grid.pixelsPerRow = m_width;
    return grid;
}

bool CPngPicture::EncodeToBytes(std::vector<std::uint8_t>& file)
{
    if (!IsLoaded())
        return Fail("No picture is loaded");
    PngImageLayout layout;
    layout.rows = m_image.data();
    layout.rowBytes = m_rowBytes;
    layout.width = m_width;
    layout.height = m_height;
    layout.bitsPerPixel = ChannelCount(m_colorType) * unsigned(m_bitDepth);
    layout.interlaced = m_bInterlaced;
    std::vector<std::uint8_t> stream;
    std::string error;
    // Bands deflated while the picture was decoded are taken as they are
    // unless a row of theirs changed since; that is the encoder's only use.
    if (std::unique_ptr<CPngImageDataEncoder> ahead = std::move(m_pEncoder)) {
        if (!ahead->Finish(m_changedRows.data(), stream, error))
            return Fail("The picture cannot be encoded: " + error);
    } else if (!DeflatePngImageData(layout, stream, error)) {
        return Fail("The picture cannot be encoded: " + error);
    }

    // The header and every other chunk are the loaded ones, so the new image
    // data only has to take the old image data's place.
    std::vector<Chunk> original;
    std::size_t originalEnd = 0;
    if (!WalkChunks(m_file, original, originalEnd))
        return Fail("The PNG file's chunks are malformed");
    const std::size_t chunkCount = (stream.size() + kImageDataChunkBytes - 1) / kImageDataChunkBytes;
    try {
        file.clear();
        file.reserve(m_file.size() + stream.size() + chunkCount * kChunkOverhead);
        file.insert(file.end(), m_file.begin(), m_file.begin() + kSignatureLength);
        bool imageDataWritten = false;
        for (const Chunk& chunk : original) {
            if (!chunk.isImageData) {
                file.insert(file.end(), m_file.begin() + std::ptrdiff_t(chunk.start),
                    m_file.begin() + std::ptrdiff_t(chunk.start + chunk.length));
            } else if (!imageDataWritten) {
                AppendImageData(file, stream);
                imageDataWritten = true;
            }
        }
        file.insert(file.end(), m_file.begin() + std::ptrdiff_t(originalEnd), m_file.end());
    } catch (const std::bad_alloc&) {
        return Fail("Out of memory while encoding the picture");
    }
    m_strFailure.clear();
    return true;
}

bool CPngPicture::Save(const std::string& path)
{
    std::vector<std::uint8_t> file;
    if (!EncodeToBytes(file))
        return false;
    std::string error;
    if (!WriteFileAtomically(path, { file }, error))
        return Fail("The file cannot be written: " + error);
    m_strFailure.clear();
    return true;
}
