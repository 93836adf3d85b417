// The decoder against libjpeg-turbo's djpeg, its log, and its failure path on
// malformed and unsupported files.

#include "jpeg/JpegCodec.h"
#include "jpeg/JpegTables.h"
#include "res/Log.h"
#include "res/StringTable.h"
#include "support/JpegTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <sys/stat.h>

namespace {

class JpegDecoderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveLibjpegTools())
            GTEST_SKIP() << "cjpeg/djpeg (libjpeg-turbo-progs) are not installed";
    }

    // A JPEG written by cjpeg with the given options.
    std::string MakeCjpegFile(const RgbPicture& picture, const std::string& options, const std::string& name)
    {
        return ::MakeCjpegFile(m_scratch, picture, options, name);
    }

    RgbPicture DecodeWithDjpeg(const std::string& path)
    {
        const std::string output = path + ".djpeg.pnm";
        std::string errors;
        EXPECT_EQ(0, RunCommand("djpeg -dct float -nosmooth -pnm -outfile " + output + " " + path, &errors));
        EXPECT_EQ("", errors);
        RgbPicture picture;
        EXPECT_TRUE(ReadPnm(output, picture));
        return picture;
    }

    CTempFolder m_scratch;
};

struct OracleCase {
    const char* name;
    int width;
    int height;
    const char* options;
    int components;
};

const OracleCase kOracleCases[] = {
    { "444", 64, 48, "-quality 90 -sample 1x1", 3 },
    { "422", 64, 48, "-quality 90 -sample 2x1", 3 },
    { "420", 64, 48, "-quality 90 -sample 2x2", 3 },
    { "440", 40, 40, "-quality 85 -sample 1x2", 3 },
    { "420_odd_17x9", 17, 9, "-sample 2x2", 3 },
    { "444_odd_17x9", 17, 9, "-sample 1x1", 3 },
    { "grey", 41, 23, "-grayscale", 1 },
    { "restart_every_row", 48, 40, "-sample 2x2 -restart 1", 3 },
    { "restart_every_3_mcus", 48, 40, "-sample 1x1 -restart 3B", 3 },
    { "quality_100", 32, 24, "-quality 100 -sample 1x1", 3 },
    { "quality_10", 33, 31, "-quality 10 -baseline -sample 2x2", 3 },
};

} // namespace

// Our samples differ from djpeg's float decoder by the transform's four-
// decimal cosines and truncation instead of rounding; the bounds leave room
// for that and nothing more.
TEST_F(JpegDecoderTest, AgreesWithDjpeg)
{
    for (const OracleCase& test : kOracleCases) {
        SCOPED_TRACE(test.name);
        const RgbPicture source = MakeTestPicture(test.width, test.height, 3);
        const std::string path = MakeCjpegFile(source, test.options, test.name);
        const RgbPicture reference = DecodeWithDjpeg(path);

        CJpegCodec codec;
        const JpegResult result = codec.Decode(path);
        ASSERT_TRUE(result.IsOk()) << result.Reason();
        ASSERT_TRUE(codec.HasImage());
        EXPECT_EQ(std::uint32_t(test.width), codec.GetWidth());
        EXPECT_EQ(std::uint32_t(test.height), codec.GetHeight());
        EXPECT_EQ(test.components, codec.GetComponentCount());
        const std::size_t rowBytes = (std::size_t(test.width) * 3 + 3) & ~std::size_t(3);
        ASSERT_EQ(rowBytes * std::size_t(test.height), codec.GetImage().size());

        const PixelDifference difference = ComparePixels(codec.GetImage(), test.width, test.height, reference);
        std::printf("[ djpeg    ] %-22s mean %.3f max %d\n", test.name, difference.mean, difference.max);
        EXPECT_LE(difference.mean, 1.5);
        EXPECT_LE(difference.max, 4);
        if (test.components == 1) {
            for (std::size_t y = 0; y < std::size_t(test.height); ++y) {
                const std::uint8_t* pixel = &codec.GetImage()[y * rowBytes];
                for (int x = 0; x < test.width; ++x, pixel += 3)
                    ASSERT_TRUE(pixel[0] == pixel[1] && pixel[1] == pixel[2]);
            }
            EXPECT_EQ(0u, codec.GetCarriedCount());
        }
    }
}

TEST_F(JpegDecoderTest, CarrierCapacityFollowsTheChromaBlocks)
{
    struct {
        int width, height;
        const char* options;
        std::uint32_t carried;
    } cases[] = {
        { 640, 480, "-sample 2x2", 300 }, // 2 x 40 x 30 chroma blocks / 8
        { 800, 600, "-sample 2x2", 475 }, { 100, 100, "-sample 1x1", 42 }, // 2 x 13 x 13 / 8
        { 96, 72, "-sample 1x1", 27 }, { 64, 48, "-sample 2x1", 6 }, // 2 x 4 x 6 / 8
    };
    for (const auto& test : cases) {
        const std::string path = MakeCjpegFile(MakeTestPicture(test.width, test.height), test.options, "capacity");
        CJpegCodec codec;
        ASSERT_TRUE(codec.Decode(path).IsOk());
        EXPECT_EQ(test.carried, codec.GetCarriedCount()) << test.width << "x" << test.height << " " << test.options;
    }
}

TEST_F(JpegDecoderTest, LogShowsOneRoundPerParserPass)
{
    // cjpeg writes APP0, two DQT, SOF0, four DHT and SOS: the first round
    // skips APP0 and takes one DQT, the second the other DQT and SOF0, then
    // one DHT per round, the last with SOS: six rounds.
    const std::string path = MakeCjpegFile(MakeTestPicture(16, 16), "-sample 1x1", "rounds");
    std::vector<std::string> lines;
    CScopedLogSink sink([&](std::string_view text) { lines.emplace_back(text); });
    CJpegCodec codec;
    ASSERT_TRUE(codec.Decode(path).IsOk());

    std::vector<std::string> expected = { LoadResString(104) };
    for (int round = 0; round < 6; ++round) {
        for (unsigned id : { 105u, 107u, 108u, 109u, 106u })
            expected.push_back(LoadResString(id));
    }
    for (unsigned id : { 111u, 113u, 112u })
        expected.push_back(LoadResString(id));
    EXPECT_EQ(expected, lines);
}

TEST_F(JpegDecoderTest, ReadOnlyFileLoads)
{
    const std::string path = MakeCjpegFile(MakeTestPicture(16, 16), "", "readonly");
    ASSERT_EQ(0, ::chmod(path.c_str(), 0444));
    CJpegCodec codec;
    EXPECT_TRUE(codec.Decode(path).IsOk());
}

TEST_F(JpegDecoderTest, DqtSegmentWithTwoTablesFillsBoth)
{
    const std::string path = MakeCjpegFile(MakeTestPicture(24, 16), "-sample 1x1 -quality 75", "dqt");
    std::vector<std::uint8_t> file = ReadBytes(path);
    const std::vector<SegmentInfo> segments = ListSegments(file);
    ASSERT_TRUE(segments[2].marker == 0xDB && segments[3].marker == 0xDB);
    // Join the two DQT segments into one holding both tables.
    std::vector<std::uint8_t> joined(file.begin(), file.begin() + std::ptrdiff_t(segments[2].offset));
    const std::size_t length = segments[2].length + segments[3].length - 4;
    joined.insert(joined.end(), { 0xFF, 0xDB, std::uint8_t((length - 2) >> 8), std::uint8_t(length - 2) });
    joined.insert(joined.end(), file.begin() + std::ptrdiff_t(segments[2].offset + 4),
        file.begin() + std::ptrdiff_t(segments[2].offset + segments[2].length));
    joined.insert(joined.end(), file.begin() + std::ptrdiff_t(segments[3].offset + 4), file.end());

    CJpegCodec separate, together;
    ASSERT_TRUE(separate.DecodeMemory(file).IsOk());
    ASSERT_TRUE(together.DecodeMemory(joined).IsOk());
    EXPECT_TRUE(std::ranges::equal(separate.GetImage(), together.GetImage()));
}

namespace {

using Mutation = std::function<void(std::vector<std::uint8_t>&)>;

struct FailureCase {
    const char* name;
    const char* options; // cjpeg options for the base file
    Mutation mutate;
    JpegStatus expected;
};

std::size_t FindSegment(const std::vector<std::uint8_t>& file, std::uint8_t marker)
{
    for (const SegmentInfo& segment : ListSegments(file)) {
        if (segment.marker == marker)
            return segment.offset;
    }
    ADD_FAILURE() << "no segment " << int(marker);
    return 0;
}

std::size_t EntropyStart(const std::vector<std::uint8_t>& file)
{
    const SegmentInfo sos = ListSegments(file).back();
    return sos.offset + sos.length;
}

void Patch(std::vector<std::uint8_t>& file, std::uint8_t marker, std::size_t offset, std::uint8_t value)
{
    file[FindSegment(file, marker) + offset] = value;
}

// The code of a symbol in one of the standard tables, as a bit string.
std::string CodeOf(const HuffmanTableDefinition& definition, std::uint8_t symbol)
{
    JpegHuffmanTable table;
    EXPECT_EQ(JpegStatus::Ok, BuildHuffmanTable(definition.bits.data(), definition.values, definition.count, table));
    for (int i = 0; i < table.count; ++i) {
        if (table.symbols[std::size_t(i)] == symbol) {
            std::string bits;
            for (int b = table.lengths[std::size_t(i)] - 1; b >= 0; --b)
                bits += char('0' + ((table.codes[std::size_t(i)] >> b) & 1));
            return bits;
        }
    }
    ADD_FAILURE() << "no symbol " << int(symbol);
    return {};
}

// Entropy-coded bytes from a bit string, zero-padded to `length` bytes, with
// every 0xFF stuffed.
std::vector<std::uint8_t> PackBits(std::string bits, std::size_t length)
{
    bits.resize(8 * length, '0');
    std::vector<std::uint8_t> data;
    for (std::size_t i = 0; i < bits.size(); i += 8) {
        data.push_back(std::uint8_t(std::stoi(bits.substr(i, 8), nullptr, 2)));
        if (data.back() == 0xFF)
            data.push_back(0x00);
    }
    return data;
}

// Adobe's APP14 segment with the given colour transform, right after SOI.
void InsertAdobeSegment(std::vector<std::uint8_t>& file, std::uint8_t transform)
{
    file.insert(file.begin() + 2,
        { 0xFF, 0xEE, 0x00, 0x0E, 'A', 'd', 'o', 'b', 'e', 0x00, 0x64, 0x00, 0x00, 0x00, 0x00, transform });
}

// Renames the three components, in the frame header and in the scan header.
void NameComponents(std::vector<std::uint8_t>& file, std::uint8_t first, std::uint8_t second, std::uint8_t third)
{
    const std::uint8_t names[] = { first, second, third };
    for (std::size_t i = 0; i < 3; ++i) {
        Patch(file, 0xC0, 10 + 3 * i, names[i]);
        Patch(file, 0xDA, 5 + 2 * i, names[i]);
    }
}

// Replaces the scan's data with the given bytes (and EOI).
void ReplaceEntropyData(std::vector<std::uint8_t>& file, std::vector<std::uint8_t> data)
{
    file.resize(EntropyStart(file));
    file.insert(file.end(), data.begin(), data.end());
    file.insert(file.end(), { 0xFF, 0xD9 });
}

const FailureCase kFailureCases[] = {
    { "empty file", "", [](auto& f) { f.clear(); }, JpegStatus::NoStartOfImage },
    { "not a JPEG", "", [](auto& f) { f.assign(100, 0x42); }, JpegStatus::NoStartOfImage },
    { "only SOI and EOI", "",
        [](auto& f) {
            f = { 0xFF, 0xD8, 0xFF, 0xD9 };
        },
        JpegStatus::NoScan },
    { "progressive", "-progressive", nullptr, JpegStatus::Progressive },
    { "arithmetic", "-arithmetic", nullptr, JpegStatus::ArithmeticCoding },
    { "lossless", "", [](auto& f) { Patch(f, 0xC0, 1, 0xC3); }, JpegStatus::Lossless },
    { "extended", "", [](auto& f) { Patch(f, 0xC0, 1, 0xC1); }, JpegStatus::ExtendedSequential },
    { "12-bit samples", "", [](auto& f) { Patch(f, 0xC0, 4, 12); }, JpegStatus::BadSamplePrecision },
    { "several scans", "-scans SCANS", nullptr, JpegStatus::SeveralScans },
    { "four components", "", [](auto& f) { Patch(f, 0xC0, 9, 4); }, JpegStatus::TooManyComponents },
    { "two components", "", [](auto& f) { Patch(f, 0xC0, 9, 2); }, JpegStatus::TwoComponents },
    { "frame length wrong", "", [](auto& f) { Patch(f, 0xC0, 3, 20); }, JpegStatus::BadFrameHeader },
    { "width 0", "", [](auto& f) { Patch(f, 0xC0, 7, 0), Patch(f, 0xC0, 8, 0); }, JpegStatus::EmptyFrame },
    { "height 0 (DNL)", "", [](auto& f) { Patch(f, 0xC0, 5, 0), Patch(f, 0xC0, 6, 0); }, JpegStatus::HeightFromDnl },
    { "sampling factor 0", "", [](auto& f) { Patch(f, 0xC0, 11, 0x01); }, JpegStatus::BadSamplingFactor },
    { "sampling factor 5", "", [](auto& f) { Patch(f, 0xC0, 11, 0x51); }, JpegStatus::BadSamplingFactor },
    { "uneven sampling", "-sample 2x2", [](auto& f) { Patch(f, 0xC0, 14, 0x31); }, JpegStatus::UnevenSampling },
    { "quantization table id 4", "", [](auto& f) { Patch(f, 0xC0, 12, 4); }, JpegStatus::BadQuantizationTable },
    { "undefined quantization table", "", [](auto& f) { Patch(f, 0xC0, 12, 2); },
        JpegStatus::MissingQuantizationTable },
    { "16-bit quantization table", "", [](auto& f) { Patch(f, 0xDB, 4, 0x10); }, JpegStatus::SixteenBitQuantization },
    { "quantization id 5", "", [](auto& f) { Patch(f, 0xDB, 4, 0x05); }, JpegStatus::BadQuantizationTable },
    { "Huffman table byte 0x24", "", [](auto& f) { Patch(f, 0xC4, 4, 0x24); }, JpegStatus::BadHuffmanTableClass },
    { "Huffman counts overfill", "", [](auto& f) { Patch(f, 0xC4, 5, 3); }, JpegStatus::SegmentTooShort },
    { "segment length 1", "", [](auto& f) { Patch(f, 0xDB, 2, 0), Patch(f, 0xDB, 3, 1); },
        JpegStatus::SegmentTooShort },
    { "segment past the end", "", [](auto& f) { f.resize(FindSegment(f, 0xC4) + 30); }, JpegStatus::SegmentPastEnd },
    { "garbage between segments", "", [](auto& f) { Patch(f, 0xC4, 0, 0x00); }, JpegStatus::MissingMarker },
    { "scan selector mismatch", "", [](auto& f) { Patch(f, 0xDA, 7, 9); }, JpegStatus::ScanComponentMismatch },
    { "undefined Huffman table", "", [](auto& f) { Patch(f, 0xDA, 6, 0x22); }, JpegStatus::MissingHuffmanTable },
    { "scan before frame", "", [](auto& f) { Patch(f, 0xC0, 1, 0xFE); }, JpegStatus::ScanBeforeFrame },
    { "16-bit quantization from cjpeg", "-quality 10", nullptr, JpegStatus::SixteenBitQuantization },
    { "RGB from cjpeg -rgb", "-rgb", nullptr, JpegStatus::RgbColourSpace },
    { "Adobe transform 0", "", [](auto& f) { InsertAdobeSegment(f, 0); }, JpegStatus::RgbColourSpace },
    { "components named R G B", "", [](auto& f) { NameComponents(f, 'R', 'G', 'B'); }, JpegStatus::RgbColourSpace },
    { "restart segment length 5", "-restart 1", [](auto& f) { Patch(f, 0xDD, 3, 5); }, JpegStatus::BadRestartInterval },
    { "60 comments before the frame", "",
        [](auto& f) {
            for (int i = 0; i < 60; ++i)
                f.insert(f.begin() + 2, { 0xFF, 0xFE, 0x00, 0x03, 0x21 });
        },
        JpegStatus::NoScan },
    { "a second scan after the first", "",
        [](auto& f) {
            const SegmentInfo sos = ListSegments(f).back();
            const std::vector<std::uint8_t> header(
                f.begin() + std::ptrdiff_t(sos.offset), f.begin() + std::ptrdiff_t(sos.offset + sos.length));
            f.resize(f.size() - 2); // EOI
            f.insert(f.end(), header.begin(), header.end());
            f.insert(f.end(), { 0x12, 0x34, 0xFF, 0xD9 });
        },
        JpegStatus::SeveralScans },
    { "entropy data cut short", "", [](auto& f) { f.resize(EntropyStart(f) + (f.size() - EntropyStart(f)) / 2); },
        JpegStatus::EntropyDataTruncated },
    { "entropy data cut to nothing", "", [](auto& f) { f.resize(EntropyStart(f)); }, JpegStatus::EntropyDataTruncated },
    { "marker inside entropy data", "",
        [](auto& f) {
            const std::size_t middle = EntropyStart(f) + (f.size() - EntropyStart(f)) / 2;
            f[middle] = 0xFF, f[middle + 1] = 0xC4;
        },
        JpegStatus::EntropyDataInterrupted },
    { "code in no table", "", [](auto& f) { ReplaceEntropyData(f, std::vector<std::uint8_t>(4000, 0xFF)); },
        JpegStatus::EntropyDataInterrupted },
    { "code in no table (stuffed)", "",
        [](auto& f) {
            std::vector<std::uint8_t> data;
            for (int i = 0; i < 4000; ++i)
                data.insert(data.end(), { 0xFF, 0x00 });
            ReplaceEntropyData(f, data);
        },
        JpegStatus::BadHuffmanCode },
    { "run past coefficient 63", "",
        [](auto& f) {
            // DC category 0, then AC symbol 0xF1 (run 15, size 1) five times:
            // k walks from 1 past 63.
            std::string bits = CodeOf(kDcLuminanceHuffman, 0x00);
            for (int i = 0; i < 5; ++i)
                bits += CodeOf(kAcLuminanceHuffman, 0xF1) + "1";
            ReplaceEntropyData(f, PackBits(bits, 4000));
        },
        JpegStatus::BadCoefficientRun },
};

} // namespace

TEST_F(JpegDecoderTest, MalformedAndUnsupportedFilesFailCleanly)
{
    const std::string scanScript = (m_scratch / "scans.txt").string();
    WriteBytes(scanScript, { '0', ';', '\n', '1', ';', '\n', '2', ';', '\n' });
    for (const FailureCase& test : kFailureCases) {
        SCOPED_TRACE(test.name);
        std::string options = test.options;
        if (const std::size_t at = options.find("SCANS"); at != std::string::npos)
            options.replace(at, 5, scanScript);
        std::vector<std::uint8_t> file = ReadBytes(MakeCjpegFile(MakeTestPicture(48, 32, 9), options, "base"));
        if (test.mutate)
            test.mutate(file);

        CJpegCodec codec;
        const JpegResult result = codec.DecodeMemory(file);
        EXPECT_EQ(test.expected, result.status) << result.Reason();
        EXPECT_FALSE(result.Reason().empty());
        EXPECT_FALSE(codec.HasImage());
        EXPECT_TRUE(codec.GetImage().empty());
        EXPECT_EQ(nullptr, codec.GetContainerBuffer());
        EXPECT_EQ(0u, codec.GetWidth());
    }
}

TEST_F(JpegDecoderTest, ColourSignsThatStillMeanYCbCr)
{
    // Adobe's transform decides over the component names; a grey picture has
    // no colours to mistake; other APP14 segments and names say nothing.
    const struct {
        const char* name;
        const char* options;
        Mutation mutate;
    } cases[] = {
        { "Adobe transform 1 over names R G B", "-rgb", [](auto& f) { Patch(f, 0xEE, 15, 1); } },
        { "grey with Adobe transform 0", "-grayscale", [](auto& f) { InsertAdobeSegment(f, 0); } },
        { "APP14 that is not Adobe's", "",
            [](auto& f) {
                InsertAdobeSegment(f, 0);
                f[6] = 'a';
            } },
        { "components named R G C", "", [](auto& f) { NameComponents(f, 'R', 'G', 'C'); } },
    };
    const RgbPicture source = MakeTestPicture(48, 32, 9);
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        std::vector<std::uint8_t> file = ReadBytes(MakeCjpegFile(source, test.options, "colour"));
        test.mutate(file);
        CJpegCodec codec;
        const JpegResult result = codec.DecodeMemory(file);
        EXPECT_TRUE(result.IsOk()) << result.Reason();
    }
}

TEST_F(JpegDecoderTest, MissingEndOfImageStillGivesTheWholePicture)
{
    // All blocks are there; only the EOI marker is missing. The picture is
    // complete, and the parsing rounds run out without finding more.
    std::vector<std::uint8_t> file = ReadBytes(MakeCjpegFile(MakeTestPicture(24, 16), "-sample 2x2", "noeoi"));
    CJpegCodec whole;
    ASSERT_TRUE(whole.DecodeMemory(file).IsOk());
    file.resize(file.size() - 2);
    std::size_t lines = 0;
    CScopedLogSink sink([&](std::string_view) { ++lines; });
    CJpegCodec cut;
    const JpegResult result = cut.DecodeMemory(file);
    ASSERT_TRUE(result.IsOk()) << result.Reason();
    EXPECT_TRUE(std::ranges::equal(whole.GetImage(), cut.GetImage()));
    EXPECT_EQ(1u + 51 * 5 + 3, lines);
}

TEST_F(JpegDecoderTest, UnsupportedAndMalformedAreToldApart)
{
    EXPECT_EQ(JpegStatusKind::Unsupported, KindOfJpegStatus(JpegStatus::Progressive));
    EXPECT_EQ(JpegStatusKind::Format, KindOfJpegStatus(JpegStatus::EntropyDataTruncated));
    CJpegCodec codec;
    const JpegResult missing = codec.Decode((m_scratch / "absent.jpg").string());
    EXPECT_EQ(JpegStatusKind::File, missing.Kind());
    EXPECT_NE(std::string::npos, missing.Reason().find("No such file")) << missing.Reason();
}

TEST_F(JpegDecoderTest, RandomDamageNeverBreaksTheDecoder)
{
    // Flipped bits and cut files either decode to a full picture or fail
    // with a reason; the sanitizer build checks that no buffer is overrun.
    const std::vector<std::uint8_t> original
        = ReadBytes(MakeCjpegFile(MakeTestPicture(40, 24, 4), "-sample 2x2 -restart 2B", "damage"));
    std::mt19937 random(17);
    int decoded = 0, failed = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const std::vector<std::uint8_t> file = DamagedCopy(original, trial, random);
        CJpegCodec codec;
        const JpegResult result = codec.DecodeMemory(file);
        if (result.IsOk()) {
            ++decoded;
            ASSERT_EQ((codec.GetWidth() * 3 + 3) / 4 * 4 * codec.GetHeight(), codec.GetImage().size());
        } else {
            ++failed;
            ASSERT_FALSE(codec.HasImage());
            ASSERT_NE(JpegStatusKind::Ok, result.Kind());
        }
    }
    EXPECT_GT(decoded, 0);
    EXPECT_GT(failed, 0);
}
