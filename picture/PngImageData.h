#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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
// Small bands cost next to nothing in size (a Huffman table and a flush
// each: 0.1 % on 24 MP RGB) and keep the bands a few changed samples touch
// few, so that little is deflated twice when deflating ran ahead.
inline constexpr std::uint64_t kPngBandBytes = std::uint64_t(64) << 10;

// The encoder of one picture's image data. While the picture is decoded it
// can deflate, on a thread of its own, every band whose rows the decoder has
// finished (pictures without interlacing only), so that saving deflates only
// the bands that are missing or whose rows changed since. The rows must not
// change while the thread runs: StopAhead ends it.
class CPngImageDataEncoder {
public:
    // Throws std::bad_alloc when the band table does not fit in memory.
    explicit CPngImageDataEncoder(const PngImageLayout& layout, std::uint64_t bandBytes = kPngBandBytes);
    ~CPngImageDataEncoder();
    CPngImageDataEncoder(const CPngImageDataEncoder&) = delete;
    CPngImageDataEncoder& operator=(const CPngImageDataEncoder&) = delete;

    void StartAhead();
    // The decoder has finished the first `rows` rows.
    void RowsDecoded(std::uint32_t rows);
    // Stops the thread after the band it is deflating; safe to call again.
    void StopAhead();
    // The whole zlib stream (header, bands, Adler-32) into `stream`, after
    // deflating every band not yet deflated or holding a row whose flag in
    // `changedRows` (one per row, may be null) is set; `threads` 0 uses
    // every processor. Call once. False with a reason when memory runs out.
    [[nodiscard]] bool Finish(
        const std::uint8_t* changedRows, std::vector<std::uint8_t>& stream, std::string& error, unsigned threads = 0);

private:
    class CWriter;
    std::unique_ptr<CWriter> m_pWriter;
};

// Deflates the picture into `stream` (a whole zlib stream: header, the
// bands, Adler-32). `threads` 0 uses every processor. False with a reason
// when memory runs out.
[[nodiscard]] bool DeflatePngImageData(const PngImageLayout& layout, std::vector<std::uint8_t>& stream,
    std::string& error, unsigned threads = 0, std::uint64_t bandBytes = kPngBandBytes);
