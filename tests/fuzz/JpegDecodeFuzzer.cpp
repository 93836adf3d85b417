// libFuzzer target: the JPEG decoder over arbitrary bytes. Every input must
// either decode to a complete picture or fail with a reason, without any
// access outside a buffer (the build adds AddressSanitizer and
// UndefinedBehaviorSanitizer). The carrier-only decode must reach the same
// verdict and the same carrier bits. Small pictures that decode are encoded
// again and must decode once more, and the transcode of the file must give
// the same encoded file.

#include "jpeg/JpegCodec.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CJpegCodec codec;
    const JpegResult result = codec.DecodeMemory({ data, size });
    CJpegCodec carriers;
    const JpegResult carrierResult = carriers.DecodeCarriers({ data, size });
    if (carrierResult.status != result.status || carriers.HasImage()
        || carriers.GetContainerBufferSize() != codec.GetContainerBufferSize()
        || carriers.GetCarriedCount() != codec.GetCarriedCount()
        || !std::equal(carriers.GetContainerBuffer(), carriers.GetContainerBuffer() + carriers.GetContainerBufferSize(),
            codec.GetContainerBuffer()))
        __builtin_trap();
    if (!result.IsOk()) {
        if (codec.HasImage() || !codec.GetImage().empty() || result.Reason().empty())
            __builtin_trap();
        return 0;
    }

    const std::uint32_t width = codec.GetWidth();
    const std::uint32_t height = codec.GetHeight();
    const std::size_t rowBytes = (std::size_t(width) * 3 + 3) & ~std::size_t(3);
    if (width == 0 || height == 0 || codec.GetImage().size() != rowBytes * height)
        __builtin_trap();
    unsigned sum = 0; // reads every byte, so uninitialised or freed memory shows
    for (std::uint8_t byte : codec.GetImage())
        sum += byte;
    if (codec.GetCarriedCount() > codec.GetContainerBufferSize())
        __builtin_trap();

    if (std::size_t(width) * height <= 64 * 64) {
        // The decoded rows are bottom-up; the encoder takes top-down rows.
        std::vector<std::uint8_t> topDown(codec.GetImage().size());
        for (std::uint32_t row = 0; row < height; ++row) {
            const std::uint8_t* source = codec.GetImage().data() + std::size_t(height - 1 - row) * rowBytes;
            std::copy(source, source + rowBytes, topDown.begin() + std::ptrdiff_t(row * rowBytes));
        }
        std::vector<std::uint8_t> file;
        if (!codec.EncodeToMemory(std::int32_t(width), std::int32_t(height), topDown.data(), file).IsOk())
            __builtin_trap();
        CJpegCodec again;
        if (!again.DecodeMemory(file).IsOk() || again.GetWidth() != width || again.GetHeight() != height)
            __builtin_trap();
        std::vector<std::uint8_t> transcoded;
        if (!carriers.TranscodeToMemory({ data, size }, transcoded).IsOk() || transcoded != file)
            __builtin_trap();
    }
    return sum == 0xFFFFFFFF ? 1 : 0;
}
