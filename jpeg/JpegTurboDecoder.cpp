#include "jpeg/JpegTurboDecoder.h"

#include "jpeg/JpegTurboSupport.h"

#include <memory>
#include <new>

namespace {

// The same limit as the own decoder's: what a 24-bit DIB of 32-bit size holds.
constexpr std::uint64_t kMaxPictureBytes = 0x7FFFFFFF;

struct DecompressorState {
    JpegTurboErrorManager errors;
    jpeg_decompress_struct decompressor {};
    bool created = false;

    DecompressorState() = default;
    DecompressorState(const DecompressorState&) = delete;
    DecompressorState& operator=(const DecompressorState&) = delete;
    ~DecompressorState()
    {
        if (created)
            jpeg_destroy_decompress(&decompressor);
    }
};

// One row of inverted CMYK samples into B, G, R bytes.
void ConvertInvertedCmykRow(const JSAMPLE* cmyk, std::uint32_t width, std::uint8_t* bgr)
{
    for (std::uint32_t x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        const unsigned black = cmyk[3];
        bgr[0] = std::uint8_t((cmyk[2] * black + 127) / 255);
        bgr[1] = std::uint8_t((cmyk[1] * black + 127) / 255);
        bgr[2] = std::uint8_t((cmyk[0] * black + 127) / 255);
    }
}

} // namespace

JpegResult DecodeJpegWithTurbo(std::span<const std::uint8_t> file, JpegTurboPicture& picture)
{
    picture = JpegTurboPicture {};
    std::unique_ptr<DecompressorState> state;
    try {
        state = std::make_unique<DecompressorState>();
    } catch (const std::bad_alloc&) {
        return { JpegStatus::OutOfMemory, {} };
    }
    jpeg_decompress_struct& decompressor = state->decompressor;
    decompressor.err = InstallTurboErrorManager(state->errors);
    const bool headerRead = RunTurboStep(state->errors, [&] {
        jpeg_create_decompress(&decompressor);
        state->created = true;
        jpeg_mem_src(&decompressor, file.data(), static_cast<unsigned long>(file.size()));
        jpeg_read_header(&decompressor, TRUE);
    });
    if (!headerRead)
        return { JpegStatus::TurboReadFailed, state->errors.message };

    const std::uint32_t width = decompressor.image_width;
    const std::uint32_t height = decompressor.image_height;
    const std::size_t rowBytes = (std::size_t(width) * 3 + 3) & ~std::size_t(3);
    if (std::uint64_t(rowBytes) * height > kMaxPictureBytes)
        return { JpegStatus::PictureTooLarge, {} };
    const bool cmyk = decompressor.jpeg_color_space == JCS_CMYK || decompressor.jpeg_color_space == JCS_YCCK;

    JpegTurboPicture decoded;
    std::vector<JSAMPLE> cmykRow;
    try {
        decoded.pixels.assign(rowBytes * height, 0);
        if (cmyk)
            cmykRow.resize(std::size_t(width) * 4);
        for (int c = 0; c < decompressor.num_components; ++c)
            decoded.sampling.emplace_back(
                decompressor.comp_info[c].h_samp_factor, decompressor.comp_info[c].v_samp_factor);
    } catch (const std::bad_alloc&) {
        return { JpegStatus::OutOfMemory, {} };
    }

    // The decoder's default, accurate integer DCT and smooth upsampling.
    // The end of the file after the last row is not read: like the own
    // decoder, a missing end-of-image marker or trailing bytes do not spoil
    // a complete picture.
    std::uint8_t* const pixels = decoded.pixels.data();
    JSAMPLE* const cmykSamples = cmykRow.data();
    const bool rowsRead = RunTurboStep(state->errors, [&] {
        decompressor.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
        jpeg_start_decompress(&decompressor);
        while (decompressor.output_scanline < decompressor.output_height) {
            std::uint8_t* target = pixels + std::size_t(height - 1 - decompressor.output_scanline) * rowBytes;
            JSAMPROW row = cmyk ? cmykSamples : target;
            jpeg_read_scanlines(&decompressor, &row, 1);
            if (cmyk)
                ConvertInvertedCmykRow(cmykSamples, width, target);
        }
    });
    if (!rowsRead)
        return { JpegStatus::TurboReadFailed, state->errors.message };

    decoded.width = width;
    decoded.height = height;
    picture = std::move(decoded);
    return {};
}
