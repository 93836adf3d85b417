#include "picture/PngImageData.h"
#include "picture/PngPicture.h"
#include "support/PngMaker.h"

#include <csetjmp>
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

namespace {

struct Decoded {
    std::vector<std::uint8_t> rows;
    bool interlaced = false;
    std::string error;
};

// The rows as libpng reads them from the file, which checks every chunk's
// CRC and the zlib stream's Adler-32.
Decoded DecodeWithLibpng(const std::vector<std::uint8_t>& file)
{
    struct Source {
        const std::vector<std::uint8_t>* file;
        std::size_t at;
        Decoded* out;
    };
    Decoded decoded;
    Source source { &file, 0, &decoded };
    png_structp png = png_create_read_struct(
        PNG_LIBPNG_VER_STRING, &source,
        [](png_structp p, png_const_charp message) {
            static_cast<Source*>(png_get_error_ptr(p))->out->error = message;
            png_longjmp(p, 1);
        },
        [](png_structp, png_const_charp) {});
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> pointers;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return decoded;
    }
    png_set_read_fn(png, &source, [](png_structp p, png_bytep out, png_size_t length) {
        auto* from = static_cast<Source*>(png_get_io_ptr(p));
        if (length > from->file->size() - from->at)
            png_error(p, "the file ends early");
        std::memcpy(out, from->file->data() + from->at, length);
        from->at += length;
    });
    png_read_info(png, info);
    decoded.interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    if (decoded.interlaced)
        png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    decoded.rows.assign(rowBytes * height, 0);
    for (png_uint_32 row = 0; row < height; ++row)
        pointers.push_back(decoded.rows.data() + row * rowBytes);
    png_read_image(png, pointers.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return decoded;
}

// Rows for `shape` whose unused bits past the last pixel of a row are zero,
// as a decoder leaves them.
std::vector<std::uint8_t> RowsWithCleanPadding(const PngShape& shape)
{
    std::vector<std::uint8_t> rows = MakePngRows(shape);
    const std::size_t rowBits = std::size_t(shape.width) * PngChannels(shape.colorType) * shape.bitDepth;
    const std::size_t rowBytes = (rowBits + 7) / 8;
    if (rowBits % 8 != 0)
        for (std::size_t row = 0; row < shape.height; ++row)
            rows[row * rowBytes + rowBytes - 1] &= std::uint8_t(0xFF << (8 - rowBits % 8));
    return rows;
}

PngShape Shape(int colorType, int bitDepth, std::uint32_t width, std::uint32_t height, bool interlaced)
{
    PngShape shape;
    shape.colorType = colorType;
    shape.bitDepth = bitDepth;
    shape.width = width;
    shape.height = height;
    shape.interlaced = interlaced;
    return shape;
}

std::string ShapeName(const testing::TestParamInfo<PngShape>& info)
{
    const PngShape& shape = info.param;
    return "type" + std::to_string(shape.colorType) + "_depth" + std::to_string(shape.bitDepth) + "_"
        + std::to_string(shape.width) + "x" + std::to_string(shape.height) + (shape.interlaced ? "_adam7" : "");
}

class PngEncoding : public testing::TestWithParam<PngShape> { };

// Saved with bands of every size from one scanline to the whole picture and
// on one or several threads, every kind of PNG reads back through libpng to
// the samples it was loaded with, and every other chunk stays as it was.
TEST_P(PngEncoding, LibpngReadsTheSameRowsForEveryBandSize)
{
    const PngShape& shape = GetParam();
    const std::vector<std::uint8_t> rows = RowsWithCleanPadding(shape);
    const std::vector<std::uint8_t> file = MakePng(shape, rows);
    CPngPicture picture;
    ASSERT_TRUE(picture.LoadFromBytes(file)) << picture.GetFailureReason();
    std::vector<std::uint8_t> saved;
    ASSERT_TRUE(picture.EncodeToBytes(saved)) << picture.GetFailureReason();
    const Decoded decoded = DecodeWithLibpng(saved);
    ASSERT_EQ(decoded.error, "");
    EXPECT_EQ(decoded.interlaced, shape.interlaced);
    EXPECT_TRUE(decoded.rows == rows) << "the saved picture decodes to other samples";

    PngImageLayout layout;
    layout.rows = rows.data();
    layout.rowBytes = rows.size() / shape.height;
    layout.width = shape.width;
    layout.height = shape.height;
    layout.bitsPerPixel = unsigned(PngChannels(shape.colorType) * shape.bitDepth);
    layout.interlaced = shape.interlaced;
    std::vector<std::uint8_t> whole;
    std::string error;
    ASSERT_TRUE(DeflatePngImageData(layout, whole, error, 1, rows.size() * 2)) << error;
    for (const std::uint64_t bandBytes :
        { std::uint64_t(1), std::uint64_t(layout.rowBytes * 3 + 5), std::uint64_t(700) }) {
        for (const unsigned threads : { 1u, 3u }) {
            std::vector<std::uint8_t> banded;
            ASSERT_TRUE(DeflatePngImageData(layout, banded, error, threads, bandBytes)) << error;
            // The same filtered scanlines, however they were cut.
            std::vector<std::uint8_t> inflated(whole.size() * 8 + rows.size() * 2 + 64);
            uLongf inflatedLength = uLongf(inflated.size());
            std::vector<std::uint8_t> expected(inflated.size());
            uLongf expectedLength = uLongf(expected.size());
            ASSERT_EQ(uncompress(inflated.data(), &inflatedLength, banded.data(), uLong(banded.size())), Z_OK)
                << "bands of " << bandBytes << " bytes on " << threads << " threads";
            ASSERT_EQ(uncompress(expected.data(), &expectedLength, whole.data(), uLong(whole.size())), Z_OK);
            inflated.resize(inflatedLength);
            expected.resize(expectedLength);
            EXPECT_TRUE(inflated == expected) << "bands of " << bandBytes << " bytes on " << threads << " threads";
            if (threads == 3) {
                std::vector<std::uint8_t> oneThread;
                ASSERT_TRUE(DeflatePngImageData(layout, oneThread, error, 1, bandBytes)) << error;
                EXPECT_TRUE(oneThread == banded) << "the stream depends on the number of threads";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, PngEncoding,
    testing::Values(Shape(PNG_COLOR_TYPE_GRAY, 1, 13, 11, false), Shape(PNG_COLOR_TYPE_GRAY, 1, 13, 11, true),
        Shape(PNG_COLOR_TYPE_GRAY, 2, 7, 9, true), Shape(PNG_COLOR_TYPE_GRAY, 4, 9, 6, true),
        Shape(PNG_COLOR_TYPE_PALETTE, 4, 11, 10, false), Shape(PNG_COLOR_TYPE_PALETTE, 8, 17, 9, true),
        Shape(PNG_COLOR_TYPE_GRAY, 8, 1, 1, true), Shape(PNG_COLOR_TYPE_GRAY, 16, 5, 3, true),
        Shape(PNG_COLOR_TYPE_GRAY_ALPHA, 8, 40, 30, false), Shape(PNG_COLOR_TYPE_GRAY_ALPHA, 16, 9, 9, true),
        Shape(PNG_COLOR_TYPE_RGB, 8, 40, 30, false), Shape(PNG_COLOR_TYPE_RGB, 8, 3, 2, true),
        Shape(PNG_COLOR_TYPE_RGB, 8, 33, 17, true), Shape(PNG_COLOR_TYPE_RGB, 16, 12, 20, false),
        Shape(PNG_COLOR_TYPE_RGB_ALPHA, 8, 1, 40, false), Shape(PNG_COLOR_TYPE_RGB_ALPHA, 16, 10, 10, true)),
    ShapeName);

// A picture large enough for several bands at the encoder's own band size,
// saved on as many threads as the machine has.
TEST(PngEncoding, LargePictureSplitsIntoBandsThatLibpngReads)
{
    const PngShape shape = Shape(PNG_COLOR_TYPE_RGB, 8, 400, 300, false);
    const std::vector<std::uint8_t> rows = MakePngRows(shape);
    ASSERT_GT(rows.size(), 2 * kPngBandBytes);
    CPngPicture picture;
    ASSERT_TRUE(picture.LoadFromBytes(MakePng(shape, rows))) << picture.GetFailureReason();
    std::vector<std::uint8_t> saved;
    ASSERT_TRUE(picture.EncodeToBytes(saved)) << picture.GetFailureReason();
    const Decoded decoded = DecodeWithLibpng(saved);
    ASSERT_EQ(decoded.error, "");
    EXPECT_TRUE(decoded.rows == rows);
}

} // namespace

// A drawing of flat areas on a gradient is run-length coded: Huffman coding
// alone could not go below one bit per byte.
TEST(PngEncoding, FlatAndGradientPicturesStaySmall)
{
    PngImageLayout layout;
    layout.width = 600;
    layout.height = 400;
    layout.bitsPerPixel = 24;
    layout.rowBytes = 600 * 3;
    std::vector<std::uint8_t> rows(layout.rowBytes * layout.height);
    for (std::size_t y = 0; y < layout.height; ++y)
        for (std::size_t x = 0; x < layout.width; ++x)
            for (std::size_t c = 0; c < 3; ++c)
                rows[y * layout.rowBytes + x * 3 + c]
                    = x > 100 && x < 300 && y > 50 && y < 250 ? std::uint8_t(30 * c) : std::uint8_t(y / 2 + 40 * c);
    layout.rows = rows.data();
    std::vector<std::uint8_t> stream;
    std::string error;
    ASSERT_TRUE(DeflatePngImageData(layout, stream, error, 1, rows.size() / 3)) << error;
    EXPECT_LT(stream.size(), rows.size() / 50);
}
