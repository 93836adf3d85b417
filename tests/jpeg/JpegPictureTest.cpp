// The JPEG carrier picture through the CCarrierPicture interface: the DIB it
// keeps, the data space, hiding and revealing through a save, and failures.

#include "jpeg/JpegPicture.h"
#include "JpegTestSupport.h"
#include "picture/SecretContainer.h"

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

    CScratchFolder m_scratch;
};

} // namespace

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

    const std::string saved = m_scratch.Path("saved.jpg");
    ASSERT_EQ(ContainerStatus::Ok, WriteContainer(*camera, "pass", "hello"));
    ASSERT_EQ(kPictureOk, camera->Save(saved)) << camera->GetFailureReason();
    EXPECT_EQ(272u, camera->GetDataSpace()); // until the saved file is loaded

    const std::string reportTemplate = m_scratch.Path("ltemplateJPG.htm");
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
    const std::string base = m_scratch.Path("base.jpg");
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
        const std::string path = m_scratch.Path("hidden.jpg");
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
    ASSERT_EQ(kPictureOk, picture.Save(m_scratch.Path("first.jpg")));
    EXPECT_EQ(before, picture.GetPixels());
    ASSERT_EQ(kPictureOk, picture.Save(m_scratch.Path("second.jpg")));
    EXPECT_EQ(ReadBytes(m_scratch.Path("first.jpg")), ReadBytes(m_scratch.Path("second.jpg")));

    // A save that cannot write reports why and changes nothing.
    EXPECT_EQ(kPictureWriteFailed, picture.Save(m_scratch.Path("missing/folder.jpg")));
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
        { m_scratch.Path("absent.jpg"), kPictureCannotCreate, "No such file" },
        { MakeCjpegFile(MakeTestPicture(32, 32), "-progressive", "progressive"), kPictureNotSupported,
            "Progressive JPEG is not supported." },
        { MakeCjpegFile(MakeTestPicture(32, 32), "-rgb", "rgb"), kPictureNotSupported,
            "stored as RGB rather than YCbCr" },
    };
    for (const auto& test : cases) {
        CJpegPicture picture;
        EXPECT_EQ(test.code, picture.Load(test.path));
        EXPECT_NE(std::string::npos, picture.GetFailureReason().find(test.reason)) << picture.GetFailureReason();
        EXPECT_FALSE(picture.IsLoaded());
        EXPECT_EQ(nullptr, picture.GetDataBuffer());
        EXPECT_EQ(0u, picture.GetDataSpace());
        EXPECT_TRUE(picture.GetPixels().empty());
        EXPECT_EQ(kPictureAlreadyLoaded, picture.Save(m_scratch.Path("never.jpg")));
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
