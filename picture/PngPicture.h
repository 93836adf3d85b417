#pragma once

#include "picture/PngImageData.h"
#include "picture/SampleGrid.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// A PNG file as a picture whose colour samples can change by one step. The
// image is decoded with libpng into whole rows; saving encodes the rows again
// for the same header (size, bit depth, colour type, interlacing; see
// PngImageData.h) and puts the new image data in place of the old, so every
// other chunk of the file, known or not, stays byte for byte where it was.
//
// Samples: the grey or red, green and blue channels of 8- and 16-bit grey,
// grey-alpha, RGB and RGBA pictures (16-bit samples are big-endian, as PNG
// stores them). Alpha is never a sample. Palette pictures, grey below 8 bits
// and pictures with a transparent colour key (tRNS) load but offer no samples;
// WhyNoSamples says why.
class CPngPicture {
public:
    // Decoded pictures larger than this many bytes are refused before the
    // image is inflated (a few bytes of file can claim gigabytes of pixels).
    static constexpr std::uint64_t kDefaultMaxImageBytes = std::uint64_t(1) << 30;

    [[nodiscard]] bool Load(const std::string& path);
    // With `encodeAhead`, a picture without interlacing is deflated band by
    // band while it is decoded, for a save that is coming: the save then
    // deflates only the bands whose rows changed, which every change must
    // mark through the sample grid's changedRows.
    [[nodiscard]] bool LoadFromBytes(
        std::vector<std::uint8_t> file, std::uint64_t maxImageBytes = kDefaultMaxImageBytes, bool encodeAhead = false);

    // Writes the file atomically; false with a reason on failure.
    [[nodiscard]] bool Save(const std::string& path);
    // The new file in memory.
    [[nodiscard]] bool EncodeToBytes(std::vector<std::uint8_t>& file);

    bool IsLoaded() const { return !m_image.empty(); }
    const std::string& GetFailureReason() const { return m_strFailure; }

    std::uint32_t GetWidth() const { return m_width; }
    std::uint32_t GetHeight() const { return m_height; }
    int GetBitDepth() const { return m_bitDepth; }
    int GetColorType() const { return m_colorType; }
    bool IsInterlaced() const { return m_bInterlaced; }
    // "grey", "grey-alpha", "RGB", "RGBA" or "palette".
    std::string GetColorTypeName() const;

    // Empty when the picture has samples; else one sentence.
    const std::string& WhyNoSamples() const { return m_strNoSamples; }
    // The samples of the decoded rows (empty grid when there are none).
    SampleGrid GetSampleGrid();

private:
    bool Fail(std::string reason);

    std::vector<std::uint8_t> m_file; // as read
    std::vector<std::uint8_t> m_image; // decoded rows, top to bottom, no padding
    std::unique_ptr<CPngImageDataEncoder> m_pEncoder; // bands deflated while loading, until a save
    std::vector<std::uint8_t> m_changedRows; // one flag per row, beside m_pEncoder
    std::size_t m_rowBytes = 0;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
    int m_bitDepth = 0;
    int m_colorType = 0;
    bool m_bInterlaced = false;
    std::string m_strNoSamples;
    std::string m_strFailure;
};
