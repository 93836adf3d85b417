#pragma once

// Builds PNG files in memory for tests: libpng writes the image, then extra
// chunks (text, a private chunk, a time stamp) are put around the image data
// so that tests can check they survive byte for byte.

#include <cstdint>
#include <cstring>
#include <png.h>
#include <random>
#include <string>
#include <vector>
#include <zlib.h>

struct PngShape {
    std::uint32_t width = 40;
    std::uint32_t height = 30;
    int bitDepth = 8;
    int colorType = PNG_COLOR_TYPE_RGB;
    bool interlaced = false;
    bool colorKey = false; // a tRNS chunk
    bool extraChunks = true;
    std::uint32_t seed = 7;
};

inline void PutChunk(std::vector<std::uint8_t>& out, const char* type, const std::string& data)
{
    const std::uint32_t length = std::uint32_t(data.size());
    for (int i = 3; i >= 0; --i)
        out.push_back(std::uint8_t(length >> (8 * i)));
    std::vector<std::uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    const std::uint32_t crc = std::uint32_t(crc32(0, body.data(), uInt(body.size())));
    for (int i = 3; i >= 0; --i)
        out.push_back(std::uint8_t(crc >> (8 * i)));
}

inline int PngChannels(int colorType)
{
    switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
        return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    default:
        return 4;
    }
}

// Pixel bytes, rows top to bottom: pseudo-random, with runs of 0 and of the
// largest sample value so that steps at both ends of the range occur.
inline std::vector<std::uint8_t> MakePngRows(const PngShape& shape)
{
    const std::size_t rowBytes = (std::size_t(shape.width) * PngChannels(shape.colorType) * shape.bitDepth + 7) / 8;
    std::vector<std::uint8_t> rows(rowBytes * shape.height);
    std::mt19937 generator(shape.seed);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const unsigned pick = generator() % 8;
        rows[i] = pick == 0 ? 0 : pick == 1 ? 0xFF : std::uint8_t(generator());
    }
    return rows;
}

inline std::vector<std::uint8_t> MakePng(const PngShape& shape, const std::vector<std::uint8_t>& rows)
{
    std::vector<std::uint8_t> encoded;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(
        png, &encoded,
        [](png_structp p, png_bytep data, png_size_t length) {
            auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(p));
            out->insert(out->end(), data, data + length);
        },
        nullptr);
    png_set_IHDR(png, info, shape.width, shape.height, shape.bitDepth, shape.colorType,
        shape.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
        PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette(256);
    if (shape.colorType == PNG_COLOR_TYPE_PALETTE) {
        for (int i = 0; i < 256; ++i)
            palette[std::size_t(i)] = { png_byte(i), png_byte(255 - i), png_byte(i / 2) };
        png_set_PLTE(png, info, palette.data(), 1 << shape.bitDepth);
    }
    png_color_16 key {};
    if (shape.colorKey)
        png_set_tRNS(png, info, nullptr, 0, &key);
    png_write_info(png, info);
    if (shape.interlaced)
        png_set_interlace_handling(png);
    const std::size_t rowBytes = rows.size() / shape.height;
    std::vector<png_bytep> pointers(shape.height);
    for (std::uint32_t row = 0; row < shape.height; ++row)
        pointers[row] = const_cast<png_bytep>(rows.data()) + row * rowBytes;
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (!shape.extraChunks)
        return encoded;

    // Signature and IHDR (8 + 25 bytes), then the extra chunks, the rest,
    // and a time stamp before IEND (the last 12 bytes).
    std::vector<std::uint8_t> file(encoded.begin(), encoded.begin() + 33);
    PutChunk(file, "tEXt", std::string("Comment\0kept as it is", 21));
    PutChunk(file, "vmTs", "private chunk");
    file.insert(file.end(), encoded.begin() + 33, encoded.end() - 12);
    PutChunk(file, "tIME", std::string("\x07\xE8\x03\x0F\x0C\x22\x38", 7));
    file.insert(file.end(), encoded.end() - 12, encoded.end());
    return file;
}

inline std::vector<std::uint8_t> MakePng(const PngShape& shape) { return MakePng(shape, MakePngRows(shape)); }
