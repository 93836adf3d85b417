#include "picture/BmpPicture.h"

#include "picture/SecretContainer.h"
#include "res/Log.h"
#include "support/BmpMaker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct DepthCase {
    int bitCount;
    std::size_t pixelLength;
    std::size_t capacity;
    std::uint32_t dataSpace;
};

class BmpPictureDepth : public testing::TestWithParam<DepthCase> { };

TEST_P(BmpPictureDepth, CapacityAndDataSpaceOf100By100)
{
    const DepthCase& depth = GetParam();
    CBmpPicture picture;
    ASSERT_EQ(picture.LoadFromBytes(MakeBmp({ .bitCount = std::uint16_t(depth.bitCount) }), "p.bmp"), kPictureOk)
        << picture.GetFailureReason();
    EXPECT_EQ(picture.GetDibImage()->GetPixelDataLength(), depth.pixelLength);
    EXPECT_EQ(picture.GetCarrierCapacity(), depth.capacity);
    EXPECT_EQ(picture.GetDataSpace(), depth.dataSpace);
    EXPECT_EQ(picture.HasSecretData(), 0);
}

// A full-size message saved and loaded again comes back, and the saved file
// differs from the original only in carrier bits and the two header fill-ins.
TEST_P(BmpPictureDepth, SaveChangesOnlyCarrierBitsAndLoadsBack)
{
    const DepthCase& depth = GetParam();
    const std::vector<std::uint8_t> original = MakeBmp({ .bitCount = std::uint16_t(depth.bitCount), .seed = 7 });
    CTempFolder folder;
    WriteBytes(folder / "in.bmp", original);
    CBmpPicture picture;
    ASSERT_EQ(picture.Load(folder / "in.bmp"), kPictureOk);
    const std::string message(depth.dataSpace - 1, 'm');
    ASSERT_EQ(WriteContainer(picture, "pass", message), ContainerStatus::Ok);
    ASSERT_EQ(picture.Save(folder / "out.bmp"), kPictureOk) << picture.GetFailureReason();

    const std::vector<std::uint8_t> saved = ReadBytes(folder / "out.bmp");
    ASSERT_EQ(saved.size(), original.size());
    const std::size_t pixelStart = 14 + picture.GetDibImage()->GetPixelDataOffset();
    const std::vector<std::uint8_t> mask = CarrierBitMask(depth.bitCount, saved.size() - pixelStart);
    for (std::size_t i = 0; i < saved.size(); ++i) {
        if (i >= 34 && i < 38) // biSizeImage fill-in
            continue;
        if (depth.bitCount <= 8 && i >= 46 && i < 50) // biClrUsed fill-in
            continue;
        const std::uint8_t carrier = i >= pixelStart ? mask[i - pixelStart] : 0;
        ASSERT_EQ(saved[i] & ~carrier, original[i] & ~carrier) << "byte " << i;
    }

    CBmpPicture reloaded;
    ASSERT_EQ(reloaded.Load(folder / "out.bmp"), kPictureOk);
    EXPECT_EQ(reloaded.HasSecretData(), 1);
    std::string revealed;
    ASSERT_EQ(ReadContainer(reloaded, "pass", revealed), ContainerStatus::Ok);
    EXPECT_EQ(revealed, message);
}

INSTANTIATE_TEST_SUITE_P(Depths, BmpPictureDepth,
    testing::Values(DepthCase { 1, 1600, 800, 768 }, DepthCase { 4, 5200, 650, 624 }, DepthCase { 8, 10000, 625, 592 },
        DepthCase { 16, 20000, 1250, 1216 }, DepthCase { 24, 30000, 3750, 3728 }, DepthCase { 32, 40000, 10000, 9968 }),
    [](const auto& info) { return "Depth" + std::to_string(info.param.bitCount); });

TEST(BmpPicture, FreshPictureHoldsNothing)
{
    CBmpPicture picture;
    EXPECT_FALSE(picture.IsLoaded());
    EXPECT_EQ(picture.HasSecretData(), 0);
    EXPECT_EQ(picture.GetDataSpace(), 0u);
    EXPECT_EQ(picture.GetDataBuffer(), nullptr);
    EXPECT_EQ(picture.Save("/nonexistent/never.bmp"), kPictureAlreadyLoaded);
}

TEST(BmpPicture, LoadFailuresCarryCodesAndReasons)
{
    CTempFolder folder;
    WriteBytes(folder / "text.bmp", { 'M', 'B', 'x' });
    CBmpPicture notBitmap;
    EXPECT_EQ(notBitmap.Load(folder / "text.bmp"), kPictureNotSupported);
    EXPECT_EQ(notBitmap.GetFailureReason(), "This is not a BMP file");
    EXPECT_FALSE(notBitmap.IsLoaded());

    CBmpPicture missing;
    EXPECT_EQ(missing.Load(folder / "missing.bmp"), kPictureCannotCreate);
    EXPECT_EQ(missing.GetFailureReason(), "The file cannot be read: No such file or directory");

    CBmpPicture cut;
    EXPECT_EQ(cut.LoadFromBytes(MakeBmp({ .pixelLength = 6 }), "cut.bmp"), kPictureNotSupported);
    EXPECT_EQ(cut.GetFailureReason(), "The bitmap's pixel data is cut short");
    EXPECT_FALSE(cut.IsLoaded());

    CBmpPicture twice;
    ASSERT_EQ(twice.LoadFromBytes(MakeBmp({}), "a.bmp"), kPictureOk);
    EXPECT_EQ(twice.LoadFromBytes(MakeBmp({}), "a.bmp"), kPictureAlreadyLoaded);
}

TEST(BmpPicture, SaveToUnwritablePlaceFails)
{
    CBmpPicture picture;
    ASSERT_EQ(picture.LoadFromBytes(MakeBmp({}), "a.bmp"), kPictureOk);
    EXPECT_EQ(picture.Save("/nonexistent/folder/out.bmp"), kPictureWriteFailed);
    EXPECT_EQ(picture.GetFailureReason(), "The file cannot be written: No such file or directory");
}

TEST(BmpPicture, DigestSitsAfterMagic)
{
    CBmpPicture picture;
    ASSERT_EQ(picture.LoadFromBytes(MakeBmp({}), "a.bmp"), kPictureOk);
    const std::uint8_t digest[10] = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 };
    picture.MarkSecret();
    picture.SetPasswordDigest(digest);
    std::uint8_t back[10] = {};
    picture.GetPasswordDigest(back);
    EXPECT_EQ(std::memcmp(back, digest, 10), 0);
    EXPECT_EQ(std::memcmp(picture.GetDataBuffer() - 16, "VMHD01", 6), 0);
}

struct CompressedCase {
    const char* name;
    std::uint16_t bitCount;
    std::uint32_t compression;
    bool compressedFlag; // shown as "compressed" on the report
    const char* refusal;
};

void PrintTo(const CompressedCase& value, std::ostream* stream) { *stream << value.name; }

class BmpPictureCompressed : public testing::TestWithParam<CompressedCase> { };

// A compressed bitmap whose stored bytes another writer hid a container in
// reveals it, but takes no new message: its stored bytes are no plain pixels.
TEST_P(BmpPictureCompressed, RevealsButRefusesHiding)
{
    const CompressedCase& compressed = GetParam();
    CTempFolder folder;
    // Hide into an uncompressed twin, then mark the file compressed: the
    // stored bytes stay those that carry the container.
    CBmpPicture twin;
    ASSERT_EQ(twin.LoadFromBytes(MakeBmp({ .width = 64, .height = 48, .bitCount = compressed.bitCount }), "twin.bmp"),
        kPictureOk);
    ASSERT_EQ(WriteContainer(twin, "pw", "rle secret"), ContainerStatus::Ok);
    ASSERT_EQ(twin.Save(folder / "twin.bmp"), kPictureOk);
    std::vector<std::uint8_t> file = ReadBytes(folder / "twin.bmp");
    PutLittleEndian(file, 30, compressed.compression);

    CBmpPicture picture;
    ASSERT_EQ(picture.LoadFromBytes(file, "c.bmp"), kPictureOk) << picture.GetFailureReason();
    EXPECT_EQ(picture.IsCompressed(), compressed.compressedFlag);
    EXPECT_EQ(
        picture.GetReportPage().find("<td width=\"72%\">YES</td>") != std::string::npos, compressed.compressedFlag);
    // 3072 bytes at 8 bits and 1536 at 4 bits both carry 192 container bytes.
    EXPECT_EQ(picture.GetDataSpace(), 160u);
    EXPECT_EQ(picture.HasSecretData(), 1);
    std::string revealed;
    ASSERT_EQ(ReadContainer(picture, "pw", revealed), ContainerStatus::Ok);
    EXPECT_EQ(revealed, "rle secret");

    EXPECT_NE(picture.WhyCannotHide().find(compressed.refusal), std::string::npos) << picture.WhyCannotHide();
    EXPECT_EQ(picture.Save(folder / "out.bmp"), kPictureNotSupported);
    EXPECT_EQ(picture.GetFailureReason(), picture.WhyCannotHide());
    EXPECT_FALSE(std::filesystem::exists(folder / "out.bmp"));
}

INSTANTIATE_TEST_SUITE_P(Compressions, BmpPictureCompressed,
    testing::Values(CompressedCase { "Rle8", 8, 1, true, "run-length encoded" },
        CompressedCase { "Rle4", 4, 2, true, "run-length encoded" },
        CompressedCase { "EmbeddedJpeg", 8, 4, false, "holds JPEG data" },
        CompressedCase { "EmbeddedPng", 8, 5, false, "holds PNG data" },
        CompressedCase { "Unknown", 8, 6, false, "compression 6 is not" }),
    [](const auto& info) { return std::string(info.param.name); });

// Two 24-bit pixels carry two container bytes: too few for a container.
TEST(BmpPicture, TinyBitmapOffersNoDataSpace)
{
    CTempFolder folder;
    CBmpPicture picture;
    ASSERT_EQ(picture.LoadFromBytes(MakeBmp({ .width = 2, .height = 2, .bitCount = 24 }), "t.bmp"), kPictureOk);
    EXPECT_EQ(picture.GetCarrierCapacity(), 2u);
    EXPECT_EQ(picture.GetDataSpace(), 0u);
    EXPECT_EQ(WriteContainer(picture, "pw", ""), ContainerStatus::MessageTooLong);
    picture.MarkSecret();
    EXPECT_EQ(picture.Save(folder / "t.bmp"), kPictureOk);
}

TEST(BmpPicture, LogsReadingAndSaving)
{
    std::vector<std::string> lines;
    CScopedLogSink sink([&](std::string_view text) { lines.emplace_back(text); });
    CTempFolder folder;
    CBmpPicture picture;
    ASSERT_EQ(picture.LoadFromBytes(MakeBmp({}), "a.bmp"), kPictureOk);
    ASSERT_EQ(picture.Save(folder / "a.bmp"), kPictureOk);
    EXPECT_EQ(lines,
        (std::vector<std::string> {
            "Reading 'Secrect Data' from picture.\r\n", "Saving 'Secret Data' into picture.\r\n" }));
}

struct BitRowCase {
    int bitCount;
    const char* row;
};

class BmpPictureBuiltInReport : public testing::TestWithParam<BitRowCase> { };

TEST_P(BmpPictureBuiltInReport, ShowsPixelSize)
{
    CBmpPicture picture;
    picture.SetReportTemplate("/nonexistent/ltemplateBMP.htm");
    ASSERT_EQ(picture.LoadFromBytes(MakeBmp({ .bitCount = std::uint16_t(GetParam().bitCount) }), "a.bmp"), kPictureOk);
    const std::string row = std::string("<td width=\"72%\">") + GetParam().row + "</td>";
    EXPECT_NE(picture.GetReportPage().find(row), std::string::npos) << picture.GetReportPage();
}

INSTANTIATE_TEST_SUITE_P(Depths, BmpPictureBuiltInReport,
    testing::Values(BitRowCase { 1, "1 (1Pixel==1 Bit)" }, BitRowCase { 8, "8 (1Pixel==1 Byte)" },
        BitRowCase { 24, "24 (1Pixel==3 Byte)" },
        // 32-bit pixels show 2^24 colours: the fourth byte holds no colour.
        BitRowCase { 32, "16777216" }));

TEST(BmpPicture, TemplatesReplaceOwnTokensOnly)
{
    CTempFolder folder;
    const std::string loadTemplate = "%IMGWIDTH%x%IMGHEIGHT% %IMGWIDTH% %imgwidth% %NUMCOLOR% %BPP% %COMPRESSED% "
                                     "%DATASPACE% %SECRETBMP% %SECRETJPG% %FILEPATH%";
    WriteBytes(folder / "load.htm", std::vector<std::uint8_t>(loadTemplate.begin(), loadTemplate.end()));
    const std::string resultTemplate = "saved %FILEPATH% and %FILEPATH% %DATASPACE%";
    WriteBytes(folder / "result.htm", std::vector<std::uint8_t>(resultTemplate.begin(), resultTemplate.end()));

    CBmpPicture picture;
    picture.SetReportTemplate(folder / "load.htm");
    picture.SetResultTemplate(folder / "result.htm");
    ASSERT_EQ(picture.LoadFromBytes(MakeBmp({ .width = 10, .height = -3, .bitCount = 8 }), "in.bmp"), kPictureOk);
    EXPECT_EQ(picture.GetReportPage(), "10x-3 10 %imgwidth% 256 8 NO 0 Normal BMP %SECRETJPG% in.bmp");
    ASSERT_EQ(picture.Save(folder / "out.bmp"), kPictureOk);
    const std::string saved = (folder / "out.bmp").string();
    EXPECT_EQ(picture.GetResultPage(), "saved " + saved + " and " + saved + " %DATASPACE%");
}

} // namespace

// Reading only (reveal, info) streams the pixel bytes through in pieces and
// keeps the headers; it must find what a full load finds, also across the
// pieces' boundaries, and saving must then refuse.
TEST(BmpPicture, ReadingOnlyFindsWhatALoadFinds)
{
    const struct {
        const char* name;
        BmpShape shape;
        bool hide;
    } cases[] = {
        { "24-bit over two pieces", { .width = 400, .height = 300, .bitCount = 24, .seed = 3 }, true },
        { "1-bit over several pieces", { .width = 2100, .height = 1100, .bitCount = 1, .seed = 4 }, true },
        { "32-bit top-down", { .width = 300, .height = -300, .bitCount = 32, .seed = 5 }, true },
        { "4-bit with a cut last group", { .width = 340, .height = 7, .bitCount = 4, .seed = 6 }, true },
        { "8-bit run-length coded", { .width = 64, .height = 64, .bitCount = 8, .compression = 1, .seed = 8 }, false },
    };
    CTempFolder folder;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        WriteBytes(folder / "in.bmp", MakeBmp(test.shape));
        std::string path = folder / "in.bmp";
        if (test.hide) {
            CBmpPicture writer;
            ASSERT_EQ(writer.Load(path), kPictureOk) << writer.GetFailureReason();
            ASSERT_EQ(WriteContainer(writer, "pass", "read me"), ContainerStatus::Ok);
            ASSERT_EQ(writer.Save(folder / "hidden.bmp"), kPictureOk) << writer.GetFailureReason();
            path = folder / "hidden.bmp";
        }
        CBmpPicture loaded;
        CBmpPicture read;
        ASSERT_EQ(loaded.Load(path), kPictureOk) << loaded.GetFailureReason();
        ASSERT_EQ(read.LoadForReading(path), kPictureOk) << read.GetFailureReason();
        EXPECT_EQ(read.GetCarrierCapacity(), loaded.GetCarrierCapacity());
        ASSERT_EQ(read.GetDataSpace(), loaded.GetDataSpace());
        EXPECT_EQ(read.HasSecretData(), loaded.HasSecretData());
        EXPECT_EQ(read.GetReportPage(), loaded.GetReportPage());
        EXPECT_EQ(read.IsCompressed(), loaded.IsCompressed());
        EXPECT_EQ(0, std::memcmp(read.GetDataBuffer() - 16, loaded.GetDataBuffer() - 16, loaded.GetDataSpace() + 20));
        if (test.hide) {
            std::string message;
            ASSERT_EQ(ReadContainer(read, "pass", message), ContainerStatus::Ok);
            EXPECT_EQ(message, "read me");
        }
        EXPECT_EQ(read.Save(folder / "refused.bmp"), test.hide ? kPictureAlreadyLoaded : kPictureNotSupported);
        EXPECT_FALSE(std::ifstream(folder / "refused.bmp").good());
    }
}

// Hiding straight from the file (the pixels copied in pieces from the loaded
// file) writes the very bytes that a full load and save write, for every
// depth and layout, across the pieces' boundaries, and with or without a
// message written into the container first.
TEST(BmpPicture, HidingFromTheFileWritesWhatASaveWrites)
{
    const struct {
        const char* name;
        BmpShape shape;
        bool writeMessage;
    } cases[] = {
        { "1-bit", { .bitCount = 1, .seed = 11 }, true },
        { "4-bit", { .bitCount = 4, .seed = 12 }, true },
        { "8-bit", { .bitCount = 8, .seed = 13 }, true },
        { "16-bit", { .bitCount = 16, .seed = 14 }, true },
        { "16-bit with bit fields", { .bitCount = 16, .compression = 3, .seed = 15 }, true },
        { "24-bit", { .bitCount = 24, .seed = 16 }, true },
        { "32-bit", { .bitCount = 32, .seed = 17 }, true },
        { "24-bit top-down", { .width = 90, .height = -70, .bitCount = 24, .seed = 18 }, true },
        { "8-bit with bytes after the rows", { .bitCount = 8, .pixelLength = 10000 + 37, .seed = 19 }, true },
        { "4-bit with a cut last group", { .width = 340, .height = 7, .bitCount = 4, .seed = 20 }, true },
        { "24-bit over two pieces", { .width = 700, .height = 700, .bitCount = 24, .seed = 21 }, true },
        { "1-bit over three pieces", { .width = 4100, .height = 4100, .bitCount = 1, .seed = 22 }, true },
        { "24-bit saved without a message", { .width = 700, .height = 700, .bitCount = 24, .seed = 23 }, false },
    };
    CTempFolder folder;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        WriteBytes(folder / "in.bmp", MakeBmp(test.shape));
        CBmpPicture loaded;
        CBmpPicture streamed;
        ASSERT_EQ(loaded.Load(folder / "in.bmp"), kPictureOk) << loaded.GetFailureReason();
        ASSERT_EQ(streamed.LoadForHiding(folder / "in.bmp"), kPictureOk) << streamed.GetFailureReason();
        ASSERT_EQ(streamed.GetDataSpace(), loaded.GetDataSpace());
        EXPECT_EQ(streamed.GetReportPage(), loaded.GetReportPage());
        if (test.writeMessage) {
            const std::string message(loaded.GetDataSpace() - 1, 'h');
            ASSERT_EQ(WriteContainer(loaded, "pass", message), ContainerStatus::Ok);
            ASSERT_EQ(WriteContainer(streamed, "pass", message), ContainerStatus::Ok);
        }
        ASSERT_EQ(loaded.Save(folder / "loaded.bmp"), kPictureOk) << loaded.GetFailureReason();
        ASSERT_EQ(streamed.Save(folder / "streamed.bmp"), kPictureOk) << streamed.GetFailureReason();
        const std::vector<std::uint8_t> expected = ReadBytes(folder / "loaded.bmp");
        ASSERT_EQ(ReadBytes(folder / "streamed.bmp"), expected);
        EXPECT_NE(ReadBytes(folder / "in.bmp"), expected); // the fill-ins at least
    }
}

// A picture loaded for hiding must stay as it was until it is saved: a file
// that changed fails the save, which then writes nothing.
TEST(BmpPicture, HidingFromAChangedFileWritesNothing)
{
    CTempFolder folder;
    const std::vector<std::uint8_t> original = MakeBmp({ .bitCount = 24 });
    WriteBytes(folder / "in.bmp", original);
    CBmpPicture picture;
    ASSERT_EQ(picture.LoadForHiding(folder / "in.bmp"), kPictureOk) << picture.GetFailureReason();
    ASSERT_EQ(WriteContainer(picture, "pass", "lost"), ContainerStatus::Ok);
    std::vector<std::uint8_t> longer = original;
    longer.push_back(0);
    WriteBytes(folder / "in.bmp", longer);

    EXPECT_EQ(picture.Save(folder / "out.bmp"), kPictureWriteFailed);
    EXPECT_EQ(
        picture.GetFailureReason(), "The file cannot be written: The picture changed on disk after it was loaded");
    EXPECT_FALSE(std::ifstream(folder / "out.bmp").good());
}
