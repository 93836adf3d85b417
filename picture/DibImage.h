#pragma once

#include "picture/BmpStatus.h"

#include <cstddef>
#include <cstdint>
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
    virtual ~CDibImage() = default;
    CDibImage(const CDibImage&) = delete;
    CDibImage& operator=(const CDibImage&) = delete;

    // Reads and checks the file. On failure the image stays empty and the
    // result says why.
    BmpResult Load(const std::string& path);
    // The same for a whole file already in memory.
    BmpResult LoadFromBytes(std::vector<std::uint8_t> file);

    // Writes the file header and the block to `path` atomically. On failure
    // returns false and sets `error` to the system's reason.
    [[nodiscard]] bool Save(const std::string& path, std::string& error) const;

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
    std::size_t GetBlockLength() const { return IsLoaded() ? m_file.size() - kFileHeaderLength : 0; }
    std::size_t GetColorTableLength() const { return m_colorTableLength; }
    // Offset of the pixel data from the start of the block.
    std::size_t GetPixelDataOffset() const { return m_pixelOffset; }
    std::uint8_t* GetPixelData() { return Block() + m_pixelOffset; }
    const std::uint8_t* GetPixelData() const { return Block() + m_pixelOffset; }
    std::size_t GetPixelDataLength() const { return IsLoaded() ? GetBlockLength() - m_pixelOffset : 0; }

private:
    BmpResult Refuse(BmpStatus status, std::uint32_t number = 0, std::string detail = {});
    std::uint8_t* Block() { return IsLoaded() ? m_file.data() + kFileHeaderLength : nullptr; }
    const std::uint8_t* Block() const { return IsLoaded() ? m_file.data() + kFileHeaderLength : nullptr; }

    // The file as read: the 14-byte file header, then the block. Keeping both
    // in one buffer spares a copy of the whole picture on every load.
    std::vector<std::uint8_t> m_file;
    std::size_t m_colorTableLength = 0;
    std::size_t m_pixelOffset = 0;
    std::uint64_t m_colorCount = 0;
};
