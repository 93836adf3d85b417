#include "picture/DibImage.h"

#include "support/BmpMaker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kSizeImageAt = 14 + 20; // file offsets of the two fill-ins
constexpr std::size_t kClrUsedAt = 14 + 32;

std::uint32_t ReadLittleEndian(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t(bytes[at + 3]) << 24;
}

struct FillInCase {
    const char* name;
    BmpShape shape;
    std::uint32_t sizeImage;
    std::uint32_t clrUsed;
};

void PrintTo(const FillInCase& value, std::ostream* stream) { *stream << value.name; }

class DibImageFillIns : public testing::TestWithParam<FillInCase> { };

// Saving without hiding writes the file back unchanged except for the two
// header fill-ins.
TEST_P(DibImageFillIns, SavedFileDiffersOnlyInFillIns)
{
    const FillInCase& fillIn = GetParam();
    const std::vector<std::uint8_t> original = MakeBmp(fillIn.shape);
    CDibImage image;
    const BmpResult loaded = image.LoadFromBytes(original);
    ASSERT_TRUE(loaded.IsOk()) << loaded.Reason();
    CTempFolder folder;
    std::string error;
    ASSERT_TRUE(image.Save(folder / "out.bmp", error)) << error;
    const std::vector<std::uint8_t> saved = ReadBytes(folder / "out.bmp");

    ASSERT_EQ(saved.size(), original.size());
    EXPECT_EQ(ReadLittleEndian(saved, kSizeImageAt), fillIn.sizeImage);
    EXPECT_EQ(ReadLittleEndian(saved, kClrUsedAt), fillIn.clrUsed);
    for (std::size_t i = 0; i < saved.size(); ++i) {
        const bool fillInByte = (i >= kSizeImageAt && i < kSizeImageAt + 4) || (i >= kClrUsedAt && i < kClrUsedAt + 4);
        if (!fillInByte) {
            ASSERT_EQ(saved[i], original[i]) << "byte " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, DibImageFillIns,
    testing::Values(FillInCase { "Depth24", { .bitCount = 24 }, 30000, 0 },
        FillInCase { "Depth24OddWidthTopDown", { .width = 3, .height = -5, .bitCount = 24 }, 60, 0 },
        FillInCase { "Depth8", { .bitCount = 8 }, 10000, 256 },
        FillInCase { "Depth8ClrUsedKept", { .bitCount = 8, .clrUsed = 16 }, 10000, 16 },
        FillInCase { "Depth1SizeKept", { .bitCount = 1, .sizeImage = 1234 }, 1234, 2 },
        FillInCase { "Depth32", { .bitCount = 32 }, 40000, 0 }),
    [](const auto& info) { return std::string(info.param.name); });

struct OffsetCase {
    const char* name;
    BmpShape shape;
    std::size_t pixelOffset; // from the start of the info header
};

void PrintTo(const OffsetCase& value, std::ostream* stream) { *stream << value.name; }

class DibImagePixelOffset : public testing::TestWithParam<OffsetCase> { };

TEST_P(DibImagePixelOffset, PixelDataRunsFromColourTableEndToFileEnd)
{
    const OffsetCase& offset = GetParam();
    const std::vector<std::uint8_t> file = MakeBmp(offset.shape);
    CDibImage image;
    const BmpResult loaded = image.LoadFromBytes(file);
    ASSERT_TRUE(loaded.IsOk()) << loaded.Reason();
    EXPECT_EQ(image.GetPixelDataOffset(), offset.pixelOffset);
    EXPECT_EQ(image.GetPixelDataLength(), file.size() - 14 - offset.pixelOffset);
    EXPECT_EQ(image.GetPixelData()[0], file[14 + offset.pixelOffset]);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DibImagePixelOffset,
    testing::Values(OffsetCase { "Depth16BitFields", { .bitCount = 16, .compression = 3 }, 52 },
        OffsetCase { "Depth32BitFields", { .bitCount = 32, .compression = 3 }, 52 },
        OffsetCase { "Depth16", { .bitCount = 16 }, 40 }, OffsetCase { "Depth32", { .bitCount = 32 }, 40 },
        OffsetCase { "Depth24BitFieldsIgnored", { .bitCount = 24, .compression = 3 }, 40 },
        // Only 16 colours stored and bfOffBits pointing at them: the
        // table is still taken to be 256 entries long.
        OffsetCase { "Depth8ShortTable", { .bitCount = 8, .clrUsed = 16, .colorTableLength = 64 }, 1064 },
        OffsetCase { "LongInfoHeader", { .bitCount = 24, .infoSize = 124 }, 124 }),
    [](const auto& info) { return std::string(info.param.name); });

struct HostileCase {
    const char* name;
    std::vector<std::uint8_t> file;
    BmpStatus status;
    const char* reason;
};

void PrintTo(const HostileCase& value, std::ostream* stream) { *stream << value.name; }

std::vector<std::uint8_t> Truncated(std::vector<std::uint8_t> file, std::size_t length)
{
    file.resize(length);
    return file;
}

std::vector<std::uint8_t> WithWord(std::vector<std::uint8_t> file, std::size_t at, std::uint32_t value)
{
    PutLittleEndian(file, at, value);
    return file;
}

class DibImageHostile : public testing::TestWithParam<HostileCase> { };

TEST_P(DibImageHostile, IsRefusedWithReason)
{
    const HostileCase& hostile = GetParam();
    CDibImage image;
    const BmpResult result = image.LoadFromBytes(hostile.file);
    EXPECT_FALSE(image.IsLoaded());
    EXPECT_EQ(result.status, hostile.status);
    EXPECT_EQ(result.Reason(), hostile.reason);

    // Reading the headers alone from the file refuses it the same way and
    // passes on no pixels.
    CTempFolder folder;
    WriteBytes(folder / "hostile.bmp", hostile.file);
    CDibImage headers;
    bool visited = false;
    const BmpResult streamed = headers.LoadHeaders(
        folder / "hostile.bmp", [&](std::span<const std::uint8_t>, std::size_t) { visited = true; });
    EXPECT_FALSE(headers.IsLoaded());
    EXPECT_FALSE(visited);
    EXPECT_EQ(streamed.status, hostile.status);
    EXPECT_EQ(streamed.Reason(), hostile.reason);
}

const std::vector<std::uint8_t> kSmall24 = MakeBmp({ .width = 4, .height = 4, .bitCount = 24 });

INSTANTIATE_TEST_SUITE_P(Files, DibImageHostile,
    testing::Values(HostileCase { "Empty", {}, BmpStatus::NotBitmap, "This is not a BMP file" },
        HostileCase {
            "SwappedMagic", WithWord(kSmall24, 0, 0x4D4D424D), BmpStatus::NotBitmap, "This is not a BMP file" },
        HostileCase { "HeaderOnly", Truncated(kSmall24, 30), BmpStatus::TooShort,
            "The file is too short to hold the bitmap headers" },
        HostileCase { "CoreHeader", WithWord(kSmall24, 14, 12), BmpStatus::UnsupportedHeader,
            "Bitmap info headers of 12 bytes are not supported" },
        HostileCase { "HugeInfoSize", WithWord(kSmall24, 14, 0xFFFFFFF0), BmpStatus::HeadersPastEnd,
            "The bitmap headers claim more bytes than the file holds" },
        HostileCase { "ColourTableBeyondEnd", MakeBmp({ .bitCount = 8, .colorTableLength = 64, .pixelLength = 100 }),
            BmpStatus::HeadersPastEnd, "The bitmap headers claim more bytes than the file holds" },
        HostileCase { "NoPixelData", MakeBmp({ .bitCount = 4, .pixelLength = 0 }), BmpStatus::HeadersPastEnd,
            "The bitmap headers claim more bytes than the file holds" },
        HostileCase {
            "Depth2", MakeBmp({ .bitCount = 2 }), BmpStatus::UnsupportedDepth, "Bit depth 2 is not supported" },
        HostileCase { "Depth0", MakeBmp({ .bitCount = 0, .pixelLength = 64 }), BmpStatus::UnsupportedDepth,
            "Bit depth 0 is not supported" },
        HostileCase { "NegativeWidth", MakeBmp({ .width = -4, .height = 4, .bitCount = 24, .pixelLength = 48 }),
            BmpStatus::NegativeWidth, "The bitmap width is negative" },
        HostileCase { "ImageSizeOverflow",
            MakeBmp({ .width = 0x7FFFFFFF, .height = -0x7FFFFFFF - 1, .bitCount = 32, .pixelLength = 64 }),
            BmpStatus::ImageSizeOverflow, "The bitmap's image size does not fit its header field" },
        // 100 x 100 at 24 bits needs 30000 bytes of rows.
        HostileCase { "RowsCutShort", MakeBmp({ .pixelLength = 6 }), BmpStatus::PixelDataCutShort,
            "The bitmap's pixel data is cut short" },
        HostileCase { "LastByteMissing", MakeBmp({ .pixelLength = 29999 }), BmpStatus::PixelDataCutShort,
            "The bitmap's pixel data is cut short" },
        HostileCase { "TopDownRowsCutShort",
            MakeBmp({ .width = 10, .height = -10, .bitCount = 1, .compression = 3, .pixelLength = 39 }),
            BmpStatus::PixelDataCutShort, "The bitmap's pixel data is cut short" },
        // Rows that start where bfOffBits points, after a shortened table,
        // must still all be there.
        HostileCase { "ShortTableRowsCutShort",
            MakeBmp({ .bitCount = 8, .clrUsed = 16, .colorTableLength = 64, .pixelLength = 9999 }),
            BmpStatus::PixelDataCutShort, "The bitmap's pixel data is cut short" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DibImage, UnreadableFileGivesSystemReason)
{
    CDibImage image;
    const BmpResult result = image.Load("/nonexistent/picture.bmp");
    EXPECT_EQ(result.status, BmpStatus::CannotReadFile);
    EXPECT_EQ(result.Kind(), BmpStatusKind::File);
    EXPECT_EQ(result.Reason(), "The file cannot be read: No such file or directory");
}

// A save from the kept file that fails half-way, here because the file is cut
// short while its pieces are copied, leaves the target as it was and no other
// file; one that comes through passes every piece through the editor, in
// order, on whole carrier groups.
TEST(DibImage, SaveFromFileIsWholeOrNothing)
{
    CTempFolder folder;
    const auto source = folder / "in.bmp";
    const auto target = folder / "out.bmp";
    const std::vector<std::uint8_t> original = MakeBmp({ .width = 1000, .height = 1000, .bitCount = 24 });
    for (const bool cutShort : { false, true }) {
        SCOPED_TRACE(cutShort ? "cut short" : "whole");
        WriteBytes(source, original);
        WriteText(target, "old");
        CDibImage image;
        const BmpResult loaded = image.LoadHeadersKeepingFile(source, [](auto, std::size_t) {});
        ASSERT_TRUE(loaded.IsOk()) << loaded.Reason();
        ASSERT_TRUE(image.KeepsFile());
        std::size_t expectedOffset = 0;
        std::string error;
        const bool saved = image.SaveFromFile(
            target,
            [&](std::span<std::uint8_t> pixels, std::size_t offset) {
                EXPECT_EQ(offset, expectedOffset);
                EXPECT_EQ(offset % 16, 0u);
                expectedOffset += pixels.size();
                for (std::uint8_t& byte : pixels)
                    byte ^= 0xFF;
                if (cutShort && offset == 0)
                    std::filesystem::resize_file(source, original.size() / 2);
            },
            error);
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
            names.insert(entry.path().filename().string());
        EXPECT_EQ(names, (std::set<std::string> { "in.bmp", "out.bmp" }));
        if (cutShort) {
            EXPECT_FALSE(saved);
            EXPECT_EQ(error, "The picture changed on disk after it was loaded");
            EXPECT_EQ(ReadText(target), "old");
            continue;
        }
        ASSERT_TRUE(saved) << error;
        EXPECT_EQ(expectedOffset, image.GetPixelDataLength());
        const std::vector<std::uint8_t> written = ReadBytes(target);
        ASSERT_EQ(written.size(), original.size());
        const std::size_t pixelStart = 14 + image.GetPixelDataOffset();
        for (std::size_t i = 0; i < written.size(); ++i) {
            const bool fillIn = i >= kSizeImageAt && i < kSizeImageAt + 4;
            if (!fillIn) {
                ASSERT_EQ(written[i], i < pixelStart ? original[i] : std::uint8_t(~original[i])) << "byte " << i;
            }
        }
    }
}

} // namespace
