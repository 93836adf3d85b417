#include "sealed/SealedPicture.h"
#include "sealed/SealedContainer.h"
#include "support/BmpMaker.h"
#include "support/PngMaker.h"
#include "support/SealedTestSupport.h"
#include "support/TestFiles.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

// One folder for the whole program, removed when it ends.
const std::filesystem::path& TemporaryFolder()
{
    static const CTempFolder folder("veilmark-sealed-picture");
    return folder.Path();
}

// Seals a payload into `file`, saves the picture, loads the saved file again
// and opens it. Returns the saved file.
std::vector<std::uint8_t> SealSaveAndOpen(const std::vector<std::uint8_t>& file, const std::string& name)
{
    CSealedPicture picture;
    EXPECT_TRUE(picture.LoadFromBytes(file)) << picture.GetReason();
    EXPECT_TRUE(picture.HasElements()) << picture.GetReason();
    if (!picture.HasElements())
        return {};
    SealedPayload payload;
    payload.kind = SealedKind::File;
    payload.name = "secret.bin";
    payload.bytes = RandomBytes(std::size_t(SealedCapacity(picture.GetElementCount(), 10)), 21);
    SealOptions options;
    options.kdf = kCheapKdf;
    EXPECT_EQ(SealPayload(picture.GetElements(), "pw", payload, options), SealedStatus::Ok);
    const std::filesystem::path path = TemporaryFolder() / name;
    EXPECT_TRUE(picture.Save(path.string())) << picture.GetReason();

    CSealedPicture reloaded;
    EXPECT_TRUE(reloaded.Load(path.string())) << reloaded.GetReason();
    SealedPayload opened;
    EXPECT_EQ(reloaded.GetElementCount(), picture.GetElementCount());
    EXPECT_EQ(OpenPayload(reloaded.GetElements(), "pw", opened, kCheapKdf), SealedStatus::Ok);
    EXPECT_EQ(opened.bytes, payload.bytes);
    EXPECT_EQ(opened.name, payload.name);
    return ReadBytes(path);
}

// Bitmaps: the expected samples are written out independently of the code
// under test, as bit masks over little-endian pixel words.
struct BmpCase {
    const char* name;
    BmpShape shape;
    std::vector<std::uint32_t> masks; // colour fields of each pixel word
    std::uint64_t samplesPerPixel;
};

std::vector<std::uint8_t> MakeCaseBitmap(const BmpCase& test)
{
    std::vector<std::uint8_t> file = MakeBmp(test.shape);
    const std::size_t table = 14 + test.shape.infoSize;
    if (test.shape.bitCount == 8)
        for (std::size_t i = 0; i < 256; ++i)
            for (std::size_t c = 0; c < 3; ++c)
                file[table + 4 * i + c] = std::uint8_t(i);
    if (test.shape.compression == 3)
        for (std::size_t i = 0; i < 3; ++i)
            PutLittleEndian(file, 54 + 4 * i, test.masks[i]);
    return file;
}

class SealedBmp : public testing::TestWithParam<BmpCase> { };

TEST_P(SealedBmp, RoundTripChangesOnlySamplesByOneStep)
{
    const BmpCase& test = GetParam();
    const std::vector<std::uint8_t> file = MakeCaseBitmap(test);
    CSealedPicture probe;
    ASSERT_TRUE(probe.LoadFromBytes(file));
    const std::int64_t rows = std::abs(test.shape.height);
    EXPECT_EQ(probe.GetElementCount(), std::uint64_t(test.shape.width) * rows * test.samplesPerPixel);

    const std::vector<std::uint8_t> saved = SealSaveAndOpen(file, std::string(test.name) + ".bmp");
    ASSERT_EQ(saved.size(), file.size());
    const std::size_t pixelArray = file[10] | file[11] << 8;
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + std::ptrdiff_t(pixelArray), saved.begin()))
        << "headers or colour table changed";
    const std::size_t bytesPerPixel = test.shape.bitCount / 8;
    const std::size_t stride = (std::size_t(test.shape.width) * test.shape.bitCount + 31) / 32 * 4;
    std::uint32_t allMasks = 0;
    for (std::uint32_t mask : test.masks)
        allMasks |= mask;
    std::size_t changedSamples = 0;
    for (std::int64_t row = 0; row < rows; ++row) {
        const std::size_t rowStart = pixelArray + std::size_t(row) * stride;
        for (std::size_t x = 0; x < stride; ++x) {
            const std::size_t at = rowStart + x;
            if (x >= std::size_t(test.shape.width) * bytesPerPixel) {
                ASSERT_EQ(saved[at], file[at]) << "row padding changed";
                continue;
            }
            if (x % bytesPerPixel != 0)
                continue;
            std::uint32_t before = 0;
            std::uint32_t after = 0;
            for (std::size_t b = 0; b < bytesPerPixel; ++b) {
                before |= std::uint32_t(file[at + b]) << (8 * b);
                after |= std::uint32_t(saved[at + b]) << (8 * b);
            }
            ASSERT_EQ(before & ~allMasks, after & ~allMasks) << "a bit outside the colour fields changed";
            for (std::uint32_t mask : test.masks) {
                const int shift = __builtin_ctz(mask);
                const int difference = int((after & mask) >> shift) - int((before & mask) >> shift);
                ASSERT_LE(std::abs(difference), 1);
                changedSamples += difference != 0;
            }
        }
    }
    EXPECT_GT(changedSamples, 0u);
    EXPECT_TRUE(std::equal(file.begin() + std::ptrdiff_t(pixelArray + rows * stride), file.end(),
        saved.begin() + std::ptrdiff_t(pixelArray + rows * stride)));
}

BmpShape Shape(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint32_t compression = 0,
    std::uint32_t infoSize = 40)
{
    BmpShape shape;
    shape.width = width;
    shape.height = height;
    shape.bitCount = bits;
    shape.compression = compression;
    shape.infoSize = infoSize;
    return shape;
}

INSTANTIATE_TEST_SUITE_P(Depths, SealedBmp,
    testing::Values(BmpCase { "grey8", Shape(37, 21, 8), { 0xFF }, 1 },
        BmpCase { "rgb555", Shape(33, 20, 16), { 0x7C00, 0x03E0, 0x001F }, 3 },
        BmpCase { "rgb565", Shape(31, 20, 16, 3), { 0xF800, 0x07E0, 0x001F }, 3 },
        BmpCase { "bgr24", Shape(35, 19, 24), { 0xFF, 0xFF00, 0xFF0000 }, 3 },
        BmpCase { "bgr24TopDown", Shape(35, -19, 24), { 0xFF, 0xFF00, 0xFF0000 }, 3 },
        BmpCase { "bgrx32", Shape(30, 20, 32), { 0xFF, 0xFF00, 0xFF0000 }, 3 },
        BmpCase { "fields32", Shape(30, 20, 32, 3), { 0xFF0000, 0xFF00, 0xFF }, 3 },
        BmpCase { "fields32V5", Shape(30, 20, 32, 3, 124), { 0x3FF00000, 0x000FFC00, 0x000003FF }, 3 }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SealedBmp, BitmapsWithoutSamplesAreRefusedWithAReason)
{
    struct Refusal {
        std::vector<std::uint8_t> file;
        const char* words;
    };
    std::vector<Refusal> refusals;
    refusals.push_back({ MakeBmp(Shape(40, 20, 1)), "1-bit" });
    refusals.push_back({ MakeBmp(Shape(40, 20, 4)), "4-bit" });
    refusals.push_back({ MakeBmp(Shape(40, 20, 8)), "grey ramp" }); // a random colour table
    refusals.push_back({ MakeBmp(Shape(40, 20, 8, 1)), "run-length" });
    BmpShape truncated = Shape(40, 20, 24);
    truncated.pixelLength = 40 * 3 * 20 - 1;
    refusals.push_back({ MakeBmp(truncated), "past the end" });
    std::vector<std::uint8_t> overlapping = MakeBmp(Shape(40, 20, 16, 3));
    PutLittleEndian(overlapping, 54, 0xFC00);
    PutLittleEndian(overlapping, 58, 0x07E0);
    PutLittleEndian(overlapping, 62, 0x001F);
    refusals.push_back({ overlapping, "overlap" });
    std::vector<std::uint8_t> gapped = MakeBmp(Shape(40, 20, 16, 3));
    PutLittleEndian(gapped, 54, 0xF000 | 0x0200);
    PutLittleEndian(gapped, 58, 0x01E0);
    PutLittleEndian(gapped, 62, 0x001F);
    refusals.push_back({ gapped, "malformed" });
    std::vector<std::uint8_t> offsetPastEnd = MakeBmp(Shape(40, 20, 24));
    PutLittleEndian(offsetPastEnd, 10, 0xFFFFFF00);
    refusals.push_back({ offsetPastEnd, "past the end" });
    for (const Refusal& refusal : refusals) {
        CSealedPicture picture;
        ASSERT_TRUE(picture.LoadFromBytes(refusal.file));
        EXPECT_FALSE(picture.HasElements()) << refusal.words;
        EXPECT_NE(picture.GetReason().find(refusal.words), std::string::npos) << picture.GetReason();
    }
}

// PNG pictures: every colour type and depth that has samples.
class SealedPng : public testing::TestWithParam<PngShape> { };

struct PngChunk {
    std::string type;
    std::vector<std::uint8_t> bytes;
    bool operator==(const PngChunk&) const = default;
};

std::vector<PngChunk> ChunksOtherThanImageData(const std::vector<std::uint8_t>& file)
{
    std::vector<PngChunk> chunks;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::size_t length = std::size_t(file[at]) << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        PngChunk chunk { std::string(file.begin() + std::ptrdiff_t(at + 4), file.begin() + std::ptrdiff_t(at + 8)),
            std::vector<std::uint8_t>(
                file.begin() + std::ptrdiff_t(at), file.begin() + std::ptrdiff_t(at + 12 + length)) };
        if (chunk.type != "IDAT")
            chunks.push_back(chunk);
        at += 12 + length;
    }
    return chunks;
}

TEST_P(SealedPng, RoundTripKeepsAlphaAndEveryOtherChunk)
{
    const PngShape& shape = GetParam();
    const std::vector<std::uint8_t> rows = MakePngRows(shape);
    const std::vector<std::uint8_t> file = MakePng(shape, rows);
    ASSERT_FALSE(file.empty());
    const std::vector<std::uint8_t> saved = SealSaveAndOpen(
        file, "png-" + std::to_string(shape.colorType) + "-" + std::to_string(shape.bitDepth) + ".png");
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(ChunksOtherThanImageData(saved), ChunksOtherThanImageData(file));

    CPngPicture decoded;
    ASSERT_TRUE(decoded.LoadFromBytes(saved));
    EXPECT_EQ(decoded.IsInterlaced(), shape.interlaced);
    const SampleGrid grid = decoded.GetSampleGrid();
    const int channels = PngChannels(shape.colorType);
    const int colours = (shape.colorType & PNG_COLOR_MASK_COLOR) ? 3 : 1;
    const std::size_t sampleBytes = std::size_t(shape.bitDepth) / 8;
    ASSERT_EQ(grid.rowStride * grid.rows, rows.size());
    std::size_t changed = 0;
    for (std::size_t at = 0; at < rows.size(); at += sampleBytes) {
        const std::size_t channel = (at % grid.rowStride) / sampleBytes % std::size_t(channels);
        const int before = sampleBytes == 2 ? rows[at] << 8 | rows[at + 1] : rows[at];
        const int after = sampleBytes == 2 ? grid.pixels[at] << 8 | grid.pixels[at + 1] : grid.pixels[at];
        if (int(channel) >= colours)
            ASSERT_EQ(after, before) << "alpha changed";
        else
            ASSERT_LE(std::abs(after - before), 1);
        changed += after != before;
    }
    EXPECT_GT(changed, 0u);
}

PngShape Png(int colorType, int bitDepth, bool interlaced = false)
{
    PngShape shape;
    shape.colorType = colorType;
    shape.bitDepth = bitDepth;
    shape.interlaced = interlaced;
    return shape;
}

INSTANTIATE_TEST_SUITE_P(Kinds, SealedPng,
    testing::Values(Png(PNG_COLOR_TYPE_GRAY, 8), Png(PNG_COLOR_TYPE_GRAY, 16), Png(PNG_COLOR_TYPE_GRAY_ALPHA, 8),
        Png(PNG_COLOR_TYPE_GRAY_ALPHA, 16), Png(PNG_COLOR_TYPE_RGB, 8), Png(PNG_COLOR_TYPE_RGB, 16),
        Png(PNG_COLOR_TYPE_RGB_ALPHA, 8), Png(PNG_COLOR_TYPE_RGB_ALPHA, 16), Png(PNG_COLOR_TYPE_RGB, 8, true),
        Png(PNG_COLOR_TYPE_GRAY_ALPHA, 16, true)));

// Deflating ahead while decoding gives the very file a plain save gives,
// after changes in some bands and none in others, for every kind.
TEST_P(SealedPng, DeflatingWhileDecodingSavesTheSameFile)
{
    PngShape shape = GetParam();
    shape.width = 300; // several bands of the encoder
    shape.height = 200;
    const std::vector<std::uint8_t> file = MakePng(shape);
    std::vector<std::vector<std::uint8_t>> saved;
    for (const bool ahead : { false, true }) {
        CPngPicture picture;
        ASSERT_TRUE(picture.LoadFromBytes(file, CPngPicture::kDefaultMaxImageBytes, ahead));
        CSampleGridElements elements(picture.GetSampleGrid());
        // A few samples in the first rows and one in the last.
        for (const std::uint64_t index :
            { std::uint64_t(0), std::uint64_t(7), std::uint64_t(1000), elements.Count() - 1 })
            elements.Change(std::uint32_t(index), true);
        saved.emplace_back();
        ASSERT_TRUE(picture.EncodeToBytes(saved.back())) << picture.GetFailureReason();
    }
    EXPECT_TRUE(saved[0] == saved[1]) << "a changed band was kept as it was decoded";
    CPngPicture reloaded;
    ASSERT_TRUE(reloaded.LoadFromBytes(saved[1]));
    CPngPicture original;
    ASSERT_TRUE(original.LoadFromBytes(file));
    const SampleGrid before = original.GetSampleGrid();
    const SampleGrid after = reloaded.GetSampleGrid();
    const std::size_t bytes = before.rowStride * before.rows;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < bytes; ++i)
        differing += before.pixels[i] != after.pixels[i];
    EXPECT_GE(differing, 1u);
    EXPECT_LE(differing, 8u);

    std::vector<std::uint8_t> cut(file.begin(), file.begin() + std::ptrdiff_t(file.size() * 2 / 3));
    CPngPicture damaged;
    EXPECT_FALSE(damaged.LoadFromBytes(cut, CPngPicture::kDefaultMaxImageBytes, true));
}

TEST(SealedPng, PicturesWithoutSamplesLoadButAreRefused)
{
    PngShape keyed = Png(PNG_COLOR_TYPE_RGB, 8);
    keyed.colorKey = true;
    for (const auto& [shape, words] : { std::pair { Png(PNG_COLOR_TYPE_PALETTE, 8), "palette" },
             std::pair { Png(PNG_COLOR_TYPE_GRAY, 4), "fewer than 8 bits" }, std::pair { keyed, "tRNS" } }) {
        CSealedPicture picture;
        ASSERT_TRUE(picture.LoadFromBytes(MakePng(shape))) << picture.GetReason();
        EXPECT_FALSE(picture.HasElements());
        EXPECT_NE(picture.GetReason().find(words), std::string::npos) << picture.GetReason();
    }
}

TEST(SealedPng, DamagedFilesAreRefusedWithAReason)
{
    const std::vector<std::uint8_t> good = MakePng(Png(PNG_COLOR_TYPE_RGB, 8));
    std::vector<std::vector<std::uint8_t>> damaged;
    damaged.emplace_back(good.begin(), good.begin() + std::ptrdiff_t(good.size() / 2)); // cut in the image data
    damaged.emplace_back(good.begin(), good.begin() + 20); // cut in the header
    std::vector<std::uint8_t> badCrc = good;
    badCrc[30] ^= 1; // inside IHDR
    damaged.push_back(badCrc);
    std::vector<std::uint8_t> huge = MakePng(Png(PNG_COLOR_TYPE_RGB, 8));
    for (CPngPicture probe; probe.LoadFromBytes(huge, 1000);)
        FAIL() << "a picture over the size limit loaded";
    for (const auto& file : damaged) {
        CSealedPicture picture;
        EXPECT_FALSE(picture.LoadFromBytes(file));
        EXPECT_FALSE(picture.GetReason().empty());
    }
    CSealedPicture neither;
    EXPECT_FALSE(neither.LoadFromBytes({ 'G', 'I', 'F', '8' }));
    EXPECT_NE(neither.GetReason().find("neither"), std::string::npos);
}

} // namespace
