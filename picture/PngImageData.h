#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The image data of a PNG file (PNG 10-12): the decoded rows filtered with
// Sub (filter type 1) and deflated into one zlib stream, ready to be cut
// into IDAT chunks.
//
// The filtered scanlines are split into bands that are deflated on several
// threads at once. Every band but the last ends in a sync flush, which
// closes its last block and aligns it to a byte boundary, so the bands follow
// one another as one deflate stream (RFC 1951 3.2.3: only the very last
// block is marked final). Each band starts without a history, so no match
// reaches back into the band before it. The stream's Adler-32 (RFC 1950) is
// combined from the bands' own checksums. The stream does not depend on the
// number of threads, only on the picture and the band size.
struct PngImageLayout {
    const std::uint8_t* rows = nullptr; // top to bottom, `rowBytes` apart
    std::size_t rowBytes = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    unsigned bitsPerPixel = 0; // channels × bit depth
    bool interlaced = false; // Adam7 (PNG 8.2)
};

// A band is about this many bytes of filtered scanlines, and at least one
// scanline; a picture has as many bands as it has such shares, at least one.
inline constexpr std::uint64_t kPngBandBytes = std::uint64_t(4) << 20;

// Deflates the picture into `stream` (a whole zlib stream: header, the
// bands, Adler-32). `threads` 0 uses every processor. False with a reason
// when memory runs out.
[[nodiscard]] bool DeflatePngImageData(const PngImageLayout& layout, std::vector<std::uint8_t>& stream,
    std::string& error, unsigned threads = 0, std::uint64_t bandBytes = kPngBandBytes);
