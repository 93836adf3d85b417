// The two shortcuts of the codec against the long way round: the carrier-only
// decode against the full decode, and the transcode (decoding band by band
// into the encoder) against a full decode followed by an encode.

#include "jpeg/JpegCodec.h"
#include "res/Log.h"
#include "support/JpegTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

class JpegTranscodeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveLibjpegTools())
            GTEST_SKIP() << "cjpeg/djpeg (libjpeg-turbo-progs) are not installed";
    }

    std::vector<std::uint8_t> CjpegFile(int width, int height, const std::string& options, unsigned seed = 5)
    {
        return ReadBytes(MakeCjpegFile(m_scratch, MakeTestPicture(width, height, seed), options, "source"));
    }

    CTempFolder m_scratch;
};

struct FileCase {
    const char* name;
    int width;
    int height;
    const char* options;
};

// Small ones are transcoded whole, large ones (512 x 512 pixels and more) in
// bands; subsampled frames have MCUs of 16 rows, restart markers reset the
// predictions, and odd sizes end in partial MCUs.
const FileCase kFileCases[] = {
    { "444_small", 64, 48, "-quality 90 -sample 1x1" },
    { "420_odd_small", 17, 9, "-sample 2x2" },
    { "grey_small", 41, 23, "-grayscale" },
    { "420_large_odd", 701, 523, "-quality 85 -sample 2x2" },
    { "422_large", 640, 512, "-sample 2x1" },
    { "440_large", 520, 530, "-sample 1x2" },
    { "444_large_restarts", 600, 600, "-sample 1x1 -restart 3B" },
    { "grey_large", 800, 400, "-grayscale -restart 1" },
};

std::vector<std::string> CaptureLog(const std::function<void()>& work)
{
    std::vector<std::string> lines;
    CScopedLogSink sink([&](std::string_view text) { lines.emplace_back(text); });
    work();
    return lines;
}

// The decoded picture's rows, top-down, as Encode takes them.
std::vector<std::uint8_t> TopDownRows(const CJpegCodec& codec)
{
    const std::size_t rowBytes = (std::size_t(codec.GetWidth()) * 3 + 3) & ~std::size_t(3);
    const std::span<const std::uint8_t> image = codec.GetImage();
    std::vector<std::uint8_t> rows(image.size());
    for (std::size_t y = 0; y < codec.GetHeight(); ++y)
        std::memcpy(&rows[y * rowBytes], &image[(codec.GetHeight() - 1 - y) * rowBytes], rowBytes);
    return rows;
}

// Some container bits to hide, the same for both ways round.
void FillContainer(CJpegCodec& codec)
{
    std::mt19937 random(3);
    for (std::uint32_t i = 0; i < codec.GetCarriedCount(); ++i)
        codec.GetContainerBuffer()[i] = std::uint8_t(random());
}

} // namespace

TEST_F(JpegTranscodeTest, CarrierDecodeGivesWhatTheFullDecodeGives)
{
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
    for (const FileCase& test : kFileCases)
        files.emplace_back(test.name, CjpegFile(test.width, test.height, test.options));
    // A file of our own encoder, whose carrier bits hold a pattern.
    CJpegCodec writer;
    ASSERT_TRUE(writer.DecodeMemory(files[3].second).IsOk());
    FillContainer(writer);
    std::vector<std::uint8_t> own;
    ASSERT_TRUE(writer.TranscodeToMemory(files[3].second, own).IsOk());
    files.emplace_back("own_encoder", own);

    for (const auto& [name, file] : files) {
        SCOPED_TRACE(name);
        CJpegCodec full;
        CJpegCodec carriers;
        const std::vector<std::string> fullLog = CaptureLog([&] { ASSERT_TRUE(full.DecodeMemory(file).IsOk()); });
        const std::vector<std::string> carrierLog
            = CaptureLog([&] { ASSERT_TRUE(carriers.DecodeCarriers(file).IsOk()); });
        EXPECT_EQ(fullLog, carrierLog);
        EXPECT_EQ(full.GetWidth(), carriers.GetWidth());
        EXPECT_EQ(full.GetHeight(), carriers.GetHeight());
        EXPECT_EQ(full.GetComponentCount(), carriers.GetComponentCount());
        EXPECT_EQ(full.GetCarriedCount(), carriers.GetCarriedCount());
        ASSERT_EQ(full.GetContainerBufferSize(), carriers.GetContainerBufferSize());
        EXPECT_TRUE(std::equal(full.GetContainerBuffer(), full.GetContainerBuffer() + full.GetContainerBufferSize(),
            carriers.GetContainerBuffer()));
        EXPECT_FALSE(carriers.HasImage());
        EXPECT_TRUE(carriers.GetImage().empty());
    }
    CJpegCodec check;
    ASSERT_TRUE(check.DecodeCarriers(own).IsOk());
    EXPECT_TRUE(std::equal(
        check.GetContainerBuffer(), check.GetContainerBuffer() + check.GetCarriedCount(), writer.GetContainerBuffer()));
}

TEST_F(JpegTranscodeTest, CarrierDecodeRefusesWhatTheFullDecodeRefuses)
{
    // Damaged files, with and without restart markers: both decodes reach
    // the same verdict for the same reason, and agree on the carrier bits of
    // every file they accept.
    for (const char* options : { "-sample 2x2 -restart 2B", "-sample 1x1" }) {
        const std::vector<std::uint8_t> original = CjpegFile(40, 24, options, 4);
        std::mt19937 random(23);
        int accepted = 0;
        for (int trial = 0; trial < 400; ++trial) {
            const std::vector<std::uint8_t> file = DamagedCopy(original, trial, random);
            CJpegCodec full;
            CJpegCodec carriers;
            const JpegResult fullResult = full.DecodeMemory(file);
            const JpegResult carrierResult = carriers.DecodeCarriers(file);
            ASSERT_EQ(fullResult.status, carrierResult.status) << options << ", trial " << trial;
            if (!fullResult.IsOk()) {
                ASSERT_EQ(nullptr, carriers.GetContainerBuffer());
                continue;
            }
            ++accepted;
            ASSERT_EQ(full.GetCarriedCount(), carriers.GetCarriedCount());
            ASSERT_TRUE(std::equal(full.GetContainerBuffer(), full.GetContainerBuffer() + full.GetContainerBufferSize(),
                carriers.GetContainerBuffer()));
        }
        EXPECT_GT(accepted, 0);
    }
}

TEST_F(JpegTranscodeTest, TranscodeWritesWhatDecodeAndEncodeWrite)
{
    for (const FileCase& test : kFileCases) {
        const std::vector<std::uint8_t> file = CjpegFile(test.width, test.height, test.options);
        for (const int helpers : { 0, 2 }) {
            SCOPED_TRACE(std::string(test.name) + " with helpers " + std::to_string(helpers));
            CJpegCodec reference;
            reference.SetEncoderHelperThreads(helpers);
            ASSERT_TRUE(reference.DecodeMemory(file).IsOk());
            FillContainer(reference);
            const std::vector<std::uint8_t> rows = TopDownRows(reference);
            std::vector<std::uint8_t> expected;
            const std::vector<std::string> encodeLog = CaptureLog([&] {
                ASSERT_TRUE(reference
                                .EncodeToMemory(std::int32_t(reference.GetWidth()), std::int32_t(reference.GetHeight()),
                                    rows.data(), expected)
                                .IsOk());
            });

            CJpegCodec codec;
            codec.SetEncoderHelperThreads(helpers);
            ASSERT_TRUE(codec.DecodeCarriers(file).IsOk());
            FillContainer(codec);
            std::vector<std::uint8_t> transcoded;
            const std::vector<std::string> transcodeLog
                = CaptureLog([&] { ASSERT_TRUE(codec.TranscodeToMemory(file, transcoded).IsOk()); });
            EXPECT_TRUE(expected == transcoded);
            EXPECT_EQ(encodeLog, transcodeLog);

            // The file on disk is the same, and so is a bottom-up picture
            // handed to Encode with a negative stride.
            const std::string path = (m_scratch / "transcoded.jpg").string();
            ASSERT_TRUE(codec.Transcode(file, path).IsOk());
            EXPECT_TRUE(expected == ReadBytes(path));
            const std::ptrdiff_t rowBytes = std::ptrdiff_t(rows.size() / reference.GetHeight());
            ASSERT_TRUE(
                reference
                    .Encode(path, std::int32_t(reference.GetWidth()), std::int32_t(reference.GetHeight()),
                        reference.GetImage().data() + std::ptrdiff_t(reference.GetImage().size()) - rowBytes, -rowBytes)
                    .IsOk());
            EXPECT_TRUE(expected == ReadBytes(path));
        }
    }
}

TEST_F(JpegTranscodeTest, ATranscodeWhoseDecodeFailsSaysWhyAndWritesNothing)
{
    // The decoder behind a transcode meets what the codec did not read: a
    // file of another size, or one cut short. The encoder waiting for its
    // rows stops, and the decoder's own reason comes back.
    const std::vector<std::uint8_t> file = CjpegFile(640, 560, "-sample 2x2");
    std::vector<std::uint8_t> cut = file;
    cut.resize(file.size() * 2 / 3);
    const struct {
        const char* name;
        std::vector<std::uint8_t> other;
        JpegStatus expected;
    } cases[] = {
        { "another size", CjpegFile(560, 640, "-sample 2x2"), JpegStatus::DecodingStopped },
        { "cut short", cut, JpegStatus::EntropyDataTruncated },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        CJpegCodec codec;
        ASSERT_TRUE(codec.DecodeCarriers(file).IsOk());
        const std::string path = (m_scratch / "failed.jpg").string();
        const JpegResult result = codec.Transcode(test.other, path);
        EXPECT_EQ(test.expected, result.status) << result.Reason();
        EXPECT_FALSE(std::ifstream(path).good());
    }
}
