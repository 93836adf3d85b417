// The JPEG carrier picture through the CCarrierPicture interface: the DIB it
// keeps, the data space, hiding and revealing through a save, and failures.

#include "jpeg/JpegPicture.h"
#include "jpeg/JpegCodec.h"
#include "picture/SecretContainer.h"
#include "support/JpegTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

class JpegPictureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveLibjpegTools())
            GTEST_SKIP() << "cjpeg/djpeg (libjpeg-turbo-progs) are not installed";
    }

    std::string MakeCjpegFile(const RgbPicture& picture, const std::string& options, const std::string& name)
    {
        return ::MakeCjpegFile(m_scratch, picture, options, name);
    }

    static std::unique_ptr<CCarrierPicture> LoadPicture(const std::string& path, int expected = kPictureOk)
    {
        std::unique_ptr<CCarrierPicture> picture = std::make_unique<CJpegPicture>();
        EXPECT_EQ(expected, picture->Load(path)) << picture->GetFailureReason();
        return picture;
    }

    // A copy of the file cut to `fraction` of its length.
    std::string TruncatedCopy(const std::string& path, double fraction)
    {
        std::vector<std::uint8_t> bytes = ReadBytes(path);
        bytes.resize(std::size_t(double(bytes.size()) * fraction));
        const std::string copy = path + ".cut.jpg";
        EXPECT_TRUE(WriteBytes(copy, bytes));
        return copy;
    }

    CTempFolder m_scratch;
};

// Files the own decoder does not read, decoded by libjpeg-turbo.
struct LibjpegCover {
    const char* name;
    const char* cjpegOptions; // nullptr: a CMYK file made with libjpeg
    std::uint32_t dataSpace; // as the own decoder would count the frame
};

const LibjpegCover kLibjpegCovers[] = {
    { "Progressive420", "-progressive -sample 2x2", 48 },
    { "ProgressiveGrey", "-progressive -grayscale", 0 },
    { "Arithmetic", "-arithmetic", 48 },
    { "SequentialInThreeScans", "-scans SCRIPT", 48 },
    { "RgbCoded", "-rgb", 272 },
    { "Cmyk", nullptr, 48 },
};

class JpegLibjpegCoverTest : public JpegPictureTest, public ::testing::WithParamInterface<LibjpegCover> { };

} // namespace

TEST_P(JpegLibjpegCoverTest, LoadsAsACoverAndSavesAMessage)
{
    const LibjpegCover& cover = GetParam();
    const RgbPicture source = MakeTestPicture(317, 237, 3);
    std::string path = (m_scratch / (std::string(cover.name) + ".jpg")).string();
    if (cover.cjpegOptions == nullptr) {
        ASSERT_TRUE(WriteBytes(path, MakeCmykJpeg(source)));
    } else {
        ASSERT_TRUE(WriteBytes((m_scratch / "SCRIPT").string(), { '0', ';', '1', ';', '2', ';' }));
        std::string options = cover.cjpegOptions;
        if (const std::size_t at = options.find("SCRIPT"); at != std::string::npos)
            options.replace(at, 6, (m_scratch / "SCRIPT").string());
        path = MakeCjpegFile(source, options, cover.name);
    }
    const std::vector<std::uint8_t> file = ReadBytes(path);
    if (CJpegCodec().DecodeMemory(file).IsOk())
        GTEST_SKIP() << "the own decoder still reads " << cover.name << " files itself";

    CJpegPicture picture;
    ASSERT_EQ(kPictureOk, picture.Load(path)) << picture.GetFailureReason();
    EXPECT_EQ(317, picture.GetWidth());
    EXPECT_EQ(237, picture.GetHeight());
    EXPECT_EQ(237u * (317 * 3 + 1), picture.GetInfoHeader().biSizeImage);
    EXPECT_EQ(0, picture.HasSecretData());
    EXPECT_NE(std::string::npos, picture.GetReportPage().find("Normal JPEG"));
    EXPECT_EQ(cover.dataSpace, picture.GetDataSpace());
    // libjpeg's own program gives the same pixels; it does not turn CMYK
    // into RGB, so a CMYK cover is held to the picture it was made from.
    if (cover.cjpegOptions != nullptr) {
        EXPECT_TRUE(DjpegDibPixels(m_scratch, path) == picture.GetPixels());
    } else {
        EXPECT_LT(ComparePixels(picture.GetPixels(), 317, 237, source).mean, 5.0);
    }

    const std::string message = cover.dataSpace == 0 ? "" : "Hidden in a " + std::string(cover.name) + " cover";
    if (cover.dataSpace == 0) {
        EXPECT_EQ(ContainerStatus::MessageTooLong, WriteContainer(picture, "pw", message));
    } else {
        ASSERT_EQ(ContainerStatus::Ok, WriteContainer(picture, "cover word", message));
    }
    const std::vector<std::uint8_t> pixels = picture.GetPixels();
    const std::string saved = (m_scratch / "saved.jpg").string();
    ASSERT_EQ(kPictureOk, picture.Save(saved)) << picture.GetFailureReason();
    EXPECT_EQ(pixels, picture.GetPixels());

    // The saved file is one the own decoder reads, in the compatible format.
    CJpegPicture reloaded;
    ASSERT_EQ(kPictureOk, reloaded.Load(saved)) << reloaded.GetFailureReason();
    EXPECT_TRUE(CJpegCodec().DecodeMemory(ReadBytes(saved)).IsOk());
    RgbPicture loaded;
    loaded.width = 317;
    loaded.height = 237;
    for (int y = 0; y < 237; ++y) {
        for (int x = 0; x < 317; ++x) {
            const std::uint8_t* pixel = &pixels[std::size_t(236 - y) * (317 * 3 + 1) + std::size_t(x) * 3];
            loaded.samples.insert(loaded.samples.end(), { pixel[2], pixel[1], pixel[0] });
        }
    }
    EXPECT_LT(ComparePixels(reloaded.GetPixels(), 317, 237, loaded).mean, 6.0); // fixed-table re-encoding
    if (cover.dataSpace != 0) {
        EXPECT_EQ(1, reloaded.HasSecretData());
        std::string revealed;
        ASSERT_EQ(ContainerStatus::Ok, ReadContainer(reloaded, "cover word", revealed));
        EXPECT_EQ(message, revealed);
    }
}

INSTANTIATE_TEST_SUITE_P(Covers, JpegLibjpegCoverTest, ::testing::ValuesIn(kLibjpegCovers),
    [](const ::testing::TestParamInfo<LibjpegCover>& info) { return std::string(info.param.name); });

TEST_F(JpegPictureTest, OddSizedPictureGivesAPaddedBottomUpDib)
{
    const RgbPicture source = MakeTestPicture(17, 9);
    CJpegPicture picture;
    ASSERT_EQ(kPictureOk, picture.Load(MakeCjpegFile(source, "-sample 1x1", "odd")));
    const CJpegPicture::InfoHeader& header = picture.GetInfoHeader();
    EXPECT_EQ(40u, header.biSize);
    EXPECT_EQ(17, header.biWidth);
    EXPECT_EQ(9, header.biHeight);
    EXPECT_EQ(1, header.biPlanes);
    EXPECT_EQ(24, header.biBitCount);
    EXPECT_EQ(0u, header.biCompression);
    EXPECT_EQ(468u, header.biSizeImage); // 9 rows of 51 + 1 bytes
    ASSERT_EQ(468u, picture.GetPixels().size());
    // Bottom-up: the last row of the buffer is the picture's top row, and the
    // row padding byte is zero.
    const PixelDifference difference = ComparePixels(picture.GetPixels(), 17, 9, source);
    EXPECT_LE(difference.mean, 10.0);
    for (int row = 0; row < 9; ++row)
        EXPECT_EQ(0, picture.GetPixels()[std::size_t(row) * 52 + 51]);
    EXPECT_TRUE(picture.IsLoaded());
    EXPECT_EQ(0, picture.HasSecretData());
}

TEST_F(JpegPictureTest, DataSpaceBeforeAndAfterASave)
{
    // A 4:2:0 camera-like picture carries 2 bits per 16 x 16 pixels: 300
    // bytes, 272 of message; saved by us (4:4:4) it carries 1200 and 1168.
    const std::unique_ptr<CCarrierPicture> camera
        = LoadPicture(MakeCjpegFile(MakeTestPicture(640, 480), "-sample 2x2", "camera"));
    EXPECT_EQ(272u, camera->GetDataSpace());
    EXPECT_EQ(300u, static_cast<CJpegPicture&>(*camera).GetCarrierCapacity());

    const std::string saved = (m_scratch / "saved.jpg").string();
    ASSERT_EQ(ContainerStatus::Ok, WriteContainer(*camera, "pass", "hello"));
    ASSERT_EQ(kPictureOk, camera->Save(saved)) << camera->GetFailureReason();
    EXPECT_EQ(272u, camera->GetDataSpace()); // until the saved file is loaded

    const std::string reportTemplate = (m_scratch / "ltemplateJPG.htm").string();
    WriteBytes(reportTemplate,
        { '%', 'I', 'M', 'G', 'W', 'I', 'D', 'T', 'H', '%', '|', '%', 'I', 'M', 'G', 'H', 'E', 'I', 'G', 'H', 'T', '%',
            '|', '%', 'D', 'A', 'T', 'A', 'S', 'P', 'A', 'C', 'E', '%', '|', '%', 'S', 'E', 'C', 'R', 'E', 'T', 'J',
            'P', 'G', '%' });
    CJpegPicture reloaded;
    reloaded.SetReportTemplate(reportTemplate);
    ASSERT_EQ(kPictureOk, reloaded.Load(saved));
    EXPECT_EQ(1168u, reloaded.GetDataSpace());
    EXPECT_EQ(1, reloaded.HasSecretData());
    EXPECT_EQ("640|480|1168|SECRET JPEG", reloaded.GetReportPage());
    std::string message;
    ASSERT_EQ(ContainerStatus::Ok, ReadContainer(reloaded, "pass", message));
    EXPECT_EQ("hello", message);
}

TEST_F(JpegPictureTest, MessagesRoundTripThroughASavedFile)
{
    // 160 x 120 written by us: 300 MCUs, 600 bits, 75 bytes, data space 48.
    const std::string base = (m_scratch / "base.jpg").string();
    {
        const std::unique_ptr<CCarrierPicture> first
            = LoadPicture(MakeCjpegFile(MakeTestPicture(160, 120, 7), "-sample 1x1", "source"));
        ASSERT_EQ(kPictureOk, first->Save(base));
    }
    const std::unique_ptr<CCarrierPicture> carrier = LoadPicture(base);
    ASSERT_EQ(48u, carrier->GetDataSpace());
    EXPECT_EQ(0, carrier->HasSecretData());
    EXPECT_NE(std::string::npos, carrier->GetReportPage().find("Normal JPEG"));

    for (std::size_t length : { 0u, 15u, 16u, 47u }) {
        SCOPED_TRACE(length);
        std::string text;
        for (std::size_t i = 0; i < length; ++i)
            text += char('a' + i % 26);
        const std::unique_ptr<CCarrierPicture> picture = LoadPicture(base);
        ASSERT_EQ(ContainerStatus::Ok, WriteContainer(*picture, "secret word", text));
        const std::string path = (m_scratch / "hidden.jpg").string();
        ASSERT_EQ(kPictureOk, picture->Save(path));
        EXPECT_NE(std::string::npos, picture->GetResultPage().find(path));

        const std::unique_ptr<CCarrierPicture> reader = LoadPicture(path);
        ASSERT_EQ(1, reader->HasSecretData());
        EXPECT_NE(std::string::npos, reader->GetReportPage().find("SECRET JPEG"));
        std::string revealed = "unchanged";
        EXPECT_EQ(ContainerStatus::WrongPassword, ReadContainer(*reader, "secret ward", revealed));
        EXPECT_EQ("unchanged", revealed);
        ASSERT_EQ(ContainerStatus::Ok, ReadContainer(*reader, "secret word", revealed));
        EXPECT_EQ(text, revealed);
    }
    EXPECT_EQ(ContainerStatus::MessageTooLong, WriteContainer(*carrier, "pw", std::string(48, 'x')));
}

TEST_F(JpegPictureTest, SavingLeavesThePixelsAsTheyWere)
{
    CJpegPicture picture;
    ASSERT_EQ(kPictureOk, picture.Load(MakeCjpegFile(MakeTestPicture(45, 31), "-sample 2x1", "keep")));
    const std::vector<std::uint8_t> before = picture.GetPixels();
    ASSERT_EQ(kPictureOk, picture.Save((m_scratch / "first.jpg").string()));
    EXPECT_EQ(before, picture.GetPixels());
    ASSERT_EQ(kPictureOk, picture.Save((m_scratch / "second.jpg").string()));
    EXPECT_EQ(ReadBytes((m_scratch / "first.jpg").string()), ReadBytes((m_scratch / "second.jpg").string()));

    // A save that cannot write reports why and changes nothing.
    EXPECT_EQ(kPictureWriteFailed, picture.Save((m_scratch / "missing/folder.jpg").string()));
    EXPECT_NE(std::string::npos, picture.GetFailureReason().find("cannot be written")) << picture.GetFailureReason();
    EXPECT_EQ(before, picture.GetPixels());
    EXPECT_TRUE(picture.IsLoaded());
}

TEST_F(JpegPictureTest, FailedLoadsLeaveNoPicture)
{
    struct {
        std::string path;
        int code;
        const char* reason;
    } cases[] = {
        { (m_scratch / "absent.jpg").string(), kPictureCannotCreate, "No such file" },
        { TruncatedCopy(MakeCjpegFile(MakeTestPicture(64, 64), "-progressive", "progressive"), 0.7),
            kPictureNotSupported, "The JPEG file cannot be decoded: Premature end of JPEG file." },
    };
    for (const auto& test : cases) {
        CJpegPicture picture;
        EXPECT_EQ(test.code, picture.Load(test.path));
        EXPECT_NE(std::string::npos, picture.GetFailureReason().find(test.reason)) << picture.GetFailureReason();
        EXPECT_FALSE(picture.IsLoaded());
        EXPECT_EQ(nullptr, picture.GetDataBuffer());
        EXPECT_EQ(0u, picture.GetDataSpace());
        EXPECT_TRUE(picture.GetPixels().empty());
        EXPECT_EQ(kPictureAlreadyLoaded, picture.Save((m_scratch / "never.jpg").string()));
        EXPECT_EQ(kPictureAlreadyLoaded, picture.Load(test.path));
        EXPECT_EQ(ContainerStatus::NotLoaded, WriteContainer(picture, "pw", "text"));
    }

    CJpegPicture loaded;
    const std::string good = MakeCjpegFile(MakeTestPicture(16, 16), "", "good");
    ASSERT_EQ(kPictureOk, loaded.Load(good));
    EXPECT_EQ(kPictureAlreadyLoaded, loaded.Load(good));
}

TEST_F(JpegPictureTest, GreyPictureCarriesNothing)
{
    const std::unique_ptr<CCarrierPicture> picture
        = LoadPicture(MakeCjpegFile(MakeTestPicture(64, 64), "-grayscale", "grey"));
    EXPECT_EQ(0u, static_cast<CJpegPicture&>(*picture).GetCarrierCapacity());
    EXPECT_EQ(0u, picture->GetDataSpace());
    EXPECT_EQ(0, picture->HasSecretData());
    EXPECT_EQ(ContainerStatus::MessageTooLong, WriteContainer(*picture, "pw", ""));
    EXPECT_EQ("Grey JPEG pictures have no room for a message.",
        DescribeContainerStatus(ContainerStatus::MessageTooLong, *picture));

    // A colour picture with no data space is merely too small.
    const std::unique_ptr<CCarrierPicture> small
        = LoadPicture(MakeCjpegFile(MakeTestPicture(64, 64), "-sample 1x1", "small"));
    EXPECT_EQ(0u, small->GetDataSpace());
    EXPECT_EQ("The picture is too small to hold a message.",
        DescribeContainerStatus(ContainerStatus::MessageTooLong, *small));
}

TEST_F(JpegPictureTest, HeaderOperationsTouchOnlyTheirBytes)
{
    const std::unique_ptr<CCarrierPicture> picture
        = LoadPicture(MakeCjpegFile(MakeTestPicture(8, 8), "-sample 1x1", "tiny"));
    const std::uint8_t digest[10] = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 };
    picture->MarkSecret();
    picture->SetPasswordDigest(digest);
    std::uint8_t copy[10] = {};
    picture->GetPasswordDigest(copy);
    EXPECT_EQ(0, std::memcmp(digest, copy, 10));
    const std::uint8_t* header = picture->GetDataBuffer() - kContainerHeaderLength;
    EXPECT_EQ(0, std::memcmp(header, "VMHD01", 6));
    EXPECT_EQ(0, std::memcmp(header + 6, digest, 10));
    EXPECT_EQ(0u, picture->GetDataSpace()); // one MCU carries 2 bits
}
