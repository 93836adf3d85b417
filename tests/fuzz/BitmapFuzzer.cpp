// libFuzzer target: the bitmap reader over arbitrary bytes. Every input must
// either load as a picture whose pixel data lies inside the file, or fail
// with a reason and leave nothing loaded. A picture that loads is also read
// through the carrier, which visits every container bit.

#include "picture/BmpPicture.h"
#include "picture/DibImage.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> file(data, data + size);

    CDibImage dib;
    if (const BmpResult result = dib.LoadFromBytes(file); !result.IsOk()) {
        if (dib.IsLoaded() || result.Reason().empty())
            __builtin_trap();
    } else {
        if (dib.GetPixelDataOffset() + dib.GetPixelDataLength() != dib.GetBlockLength())
            __builtin_trap();
        if (dib.GetBlockLength() + CDibImage::kFileHeaderLength != size)
            __builtin_trap();
        unsigned sum = 0; // reads every pixel byte, so a wrong length shows
        const std::uint8_t* pixels = dib.GetPixelData();
        for (std::size_t i = 0; i < dib.GetPixelDataLength(); ++i)
            sum += pixels[i];
        if (sum == 0xFFFFFFFF)
            return 1;
    }

    CBmpPicture picture;
    if (picture.LoadFromBytes(std::move(file), "fuzz.bmp") == 0) {
        if (!picture.IsLoaded() || picture.GetDataSpace() % 16 != 0)
            __builtin_trap();
        if (picture.GetDataSpace() != 0 && picture.GetCarrierCapacity() < picture.GetDataSpace())
            __builtin_trap();
    } else if (picture.IsLoaded()) {
        __builtin_trap();
    }
    return 0;
}
