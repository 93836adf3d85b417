#pragma once

#include "base/LargeBuffer.h"
#include "picture/BmpStatus.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

// A Windows bitmap file held exactly as it stands on disk: the 14-byte file
// header as read, and everything after it (info header, colour table, pixel
// data) as one block. The picture is never decoded: hiding changes pixel bytes
// in place and saving writes header and block back, so the saved file has the
// same length and layout as the loaded one.
//
// Loading fills in two info header fields when they are 0: biSizeImage (the
// padded row length times the row count) and, for 8 bits per pixel or fewer,
// biClrUsed (the colour count). Saving writes those fill-ins too.
class CDibImage {
public:
    static constexpr std::size_t kFileHeaderLength = 14;
    static constexpr std::size_t kInfoHeaderLength = 40;

    CDibImage() = default;
    virtual ~CDibImage();
    CDibImage(const CDibImage&) = delete;
    CDibImage& operator=(const CDibImage&) = delete;

    // Reads and checks the file. On failure the image stays empty and the
    // result says why.
    BmpResult Load(const std::string& path);
    // The same for a whole file already in memory.
    BmpResult LoadFromBytes(const std::vector<std::uint8_t>& file);
    // Reads and checks the file like Load, but keeps only the headers and
    // colour table: the pixel bytes pass through `visit` in pieces, in
    // order, each with its offset from the start of the pixel data, and are
    // then dropped. The headers are in place (the getters answer) before the
    // first piece comes. Such an image cannot be saved and has no pixel data
    // to hand out; the other getters answer as after Load.
    using PixelVisitor = std::function<void(std::span<const std::uint8_t> pixels, std::size_t offset)>;
    BmpResult LoadHeaders(const std::string& path, const PixelVisitor& visit);
    // LoadHeaders that keeps the file open afterwards, so that SaveFromFile
    // can copy the pixel bytes out of it again.
    BmpResult LoadHeadersKeepingFile(const std::string& path, const PixelVisitor& visit);

    // Writes the file header and the block to `path` atomically. On failure
    // returns false and sets `error` to the system's reason.
    [[nodiscard]] bool Save(const std::string& path, std::string& error) const;
    // Writes to `path` atomically what Save would write had `edit` changed
    // the pixel data in place, without holding it: the headers, then the
    // pixel bytes copied from the kept file in pieces, each passed through
    // `edit` with its offset from the start of the pixel data. Pieces start
    // on a multiple of 16 bytes. A file that changed since it was loaded
    // fails the save. On failure returns false and sets `error`.
    using PixelEditor = std::function<void(std::span<std::uint8_t> pixels, std::size_t offset)>;
    [[nodiscard]] bool SaveFromFile(const std::string& path, const PixelEditor& edit, std::string& error) const;

    bool IsLoaded() const { return !m_file.empty(); }

    std::int32_t GetWidth() const;
    std::int32_t GetHeight() const;
    int GetBitsPerPixel() const;
    std::uint32_t GetCompression() const;
    std::uint32_t GetImageSize() const; // biSizeImage as held in the block
    std::uint32_t GetColorsUsed() const; // biClrUsed as held in the block
    std::uint64_t GetColorCount() const { return m_colorCount; } // 2 to the bit depth

    std::span<const std::uint8_t> GetFileHeader() const;
    const std::uint8_t* GetInfoHeader() const { return Block(); }
    std::size_t GetBlockLength() const { return IsLoaded() ? m_pixelOffset + m_pixelLength : 0; }
    std::size_t GetColorTableLength() const { return m_colorTableLength; }
    // Offset of the pixel data from the start of the block.
    std::size_t GetPixelDataOffset() const { return m_pixelOffset; }
    // Null when the pixels were not kept (LoadHeaders).
    std::uint8_t* GetPixelData() { return HasPixels() ? Block() + m_pixelOffset : nullptr; }
    const std::uint8_t* GetPixelData() const { return HasPixels() ? Block() + m_pixelOffset : nullptr; }
    std::size_t GetPixelDataLength() const { return IsLoaded() ? m_pixelLength : 0; }
    bool HasPixels() const { return IsLoaded() && m_file.size() == kFileHeaderLength + GetBlockLength(); }
    // Whether the file stays open for SaveFromFile (LoadHeadersKeepingFile).
    bool KeepsFile() const { return IsLoaded() && m_source >= 0; }

private:
    BmpResult Refuse(BmpStatus status, std::uint32_t number = 0, std::string detail = {});
    BmpResult ReadHeaders(const std::string& path, const PixelVisitor& visit, bool keepFile);
    void CloseSource();
    // Whether the kept file no longer has the length and modification time
    // it had when it was loaded.
    bool SourceChanged() const;
    struct Layout {
        std::uint32_t imageSize = 0; // biSizeImage, filled in when 0
        unsigned bitCount = 0;
        std::uint64_t colorCount = 0;
        std::uint64_t colorTableLength = 0;
        std::uint64_t pixelOffset = 0; // from the start of the block
    };
    // Checks a file of `fileLength` bytes from its first bytes: at least the
    // file header and the 40-byte info header when the file has them.
    static BmpStatus CheckLayout(
        const std::uint8_t* head, std::uint64_t fileLength, Layout& layout, std::uint32_t& number);
    BmpResult Adopt(CLargeBuffer file);
    void TakeLayout(CLargeBuffer headers, const Layout& layout, std::size_t pixelLength);
    std::uint8_t* Block() { return IsLoaded() ? m_file.data() + kFileHeaderLength : nullptr; }
    const std::uint8_t* Block() const { return IsLoaded() ? m_file.data() + kFileHeaderLength : nullptr; }

    // The file as read: the 14-byte file header, then the block. Keeping both
    // in one buffer spares a copy of the whole picture on every load, and the
    // buffer is read into without being cleared first.
    CLargeBuffer m_file;
    std::size_t m_colorTableLength = 0;
    std::size_t m_pixelOffset = 0;
    std::size_t m_pixelLength = 0;
    std::uint64_t m_colorCount = 0;
    // The loaded file, open for SaveFromFile, or -1; with its length and
    // modification time at the load.
    int m_source = -1;
    std::uint64_t m_sourceLength = 0;
    std::int64_t m_sourceModifiedSeconds = 0;
    long m_sourceModifiedNanoseconds = 0;
};
