// The coefficient-domain JPEG model over libjpeg-turbo: files written back
// carry the input's coefficients, tables, markers and coding mode; changed
// coefficients read back changed; damaged files fail cleanly.

#include "jpeg/JpegCoefficientFile.h"
#include "support/JpegTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using CodingMode = CJpegCoefficientFile::CodingMode;

// Every APPn and COM segment before the first scan, whole, in order.
std::vector<std::vector<std::uint8_t>> MetadataSegments(const std::vector<std::uint8_t>& file)
{
    std::vector<std::vector<std::uint8_t>> segments;
    for (const SegmentInfo& segment : ListSegments(file)) {
        if ((segment.marker & 0xF0) == 0xE0 || segment.marker == 0xFE)
            segments.emplace_back(file.begin() + std::ptrdiff_t(segment.offset),
                file.begin() + std::ptrdiff_t(segment.offset + segment.length));
    }
    return segments;
}

std::uint8_t FrameMarker(const std::vector<std::uint8_t>& file)
{
    for (const SegmentInfo& segment : ListSegments(file)) {
        if (segment.marker >= 0xC0 && segment.marker <= 0xCF && segment.marker != 0xC4 && segment.marker != 0xC8
            && segment.marker != 0xCC)
            return segment.marker;
    }
    return 0;
}

// The scan script: for every scan its component identifiers and Ss, Se,
// Ah/Al (the table selectors are the writer's choice).
std::vector<std::vector<int>> ScanScript(const std::vector<std::uint8_t>& file)
{
    std::vector<std::vector<int>> scans;
    std::size_t offset = 2;
    while (offset + 4 <= file.size()) {
        const std::uint8_t marker = file[offset + 1];
        if (file[offset] != 0xFF || marker == 0x00 || marker == 0xFF || (marker >= 0xD0 && marker <= 0xD7)) {
            ++offset; // entropy-coded data, stuffed bytes, restart markers
            continue;
        }
        if (marker == 0xD9)
            break;
        const std::size_t length = std::size_t((file[offset + 2] << 8) | file[offset + 3]);
        if (marker == 0xDA && offset + 2 + length <= file.size()) {
            const int count = file[offset + 4];
            std::vector<int> scan;
            for (int i = 0; i < count; ++i)
                scan.push_back(file[offset + 5 + 2 * std::size_t(i)]);
            const std::size_t tail = offset + 5 + 2 * std::size_t(count);
            scan.insert(scan.end(), { file[tail], file[tail + 1], file[tail + 2] });
            scans.push_back(scan);
        }
        offset += 2 + length;
    }
    return scans;
}

void ExpectSameModel(const CJpegCoefficientFile& expected, const CJpegCoefficientFile& actual)
{
    EXPECT_EQ(expected.GetWidth(), actual.GetWidth());
    EXPECT_EQ(expected.GetHeight(), actual.GetHeight());
    EXPECT_EQ(expected.GetCodingMode(), actual.GetCodingMode());
    EXPECT_EQ(expected.GetRestartInterval(), actual.GetRestartInterval());
    ASSERT_EQ(expected.GetComponents().size(), actual.GetComponents().size());
    for (std::size_t c = 0; c < expected.GetComponents().size(); ++c) {
        const auto& a = expected.GetComponents()[c];
        const auto& b = actual.GetComponents()[c];
        EXPECT_EQ(a.id, b.id);
        EXPECT_EQ(a.horizontalSampling, b.horizontalSampling);
        EXPECT_EQ(a.verticalSampling, b.verticalSampling);
        EXPECT_EQ(a.quantization, b.quantization);
        EXPECT_EQ(a.blocksAcross, b.blocksAcross);
        EXPECT_EQ(a.blocksDown, b.blocksDown);
    }
}

// Indices where the two files' coefficients differ.
std::vector<CJpegCoefficientFile::CoefficientIndex> Differences(
    const CJpegCoefficientFile& first, const CJpegCoefficientFile& second)
{
    std::vector<CJpegCoefficientFile::CoefficientIndex> differences;
    EXPECT_EQ(first.GetCoefficientCount(), second.GetCoefficientCount());
    for (CJpegCoefficientFile::CoefficientIndex i = 0; i < first.GetCoefficientCount(); ++i) {
        if (first.GetCoefficient(i) != second.GetCoefficient(i))
            differences.push_back(i);
    }
    return differences;
}

struct CoverCase {
    const char* name;
    const char* cjpegOptions;
    const char* jpegtranOptions; // applied to cjpeg's file when set
    CodingMode mode;
    unsigned restartInterval;
};

const CoverCase kCovers[] = {
    { "Baseline420Q75", "-quality 75 -sample 2x2", nullptr, CodingMode::BaselineStandardTables, 0 },
    { "Baseline422Q90", "-quality 90 -sample 2x1", nullptr, CodingMode::BaselineStandardTables, 0 },
    { "Baseline444Q90", "-quality 90 -sample 1x1", nullptr, CodingMode::BaselineStandardTables, 0 },
    { "Grey", "-quality 75 -grayscale", nullptr, CodingMode::BaselineStandardTables, 0 },
    { "RestartInterval", "-quality 75 -restart 3B", nullptr, CodingMode::BaselineStandardTables, 3 },
    { "OptimizedTables", "-quality 90 -optimize", nullptr, CodingMode::BaselineOptimizedTables, 0 },
    { "SequentialInThreeScans", "-quality 75 -scans SCRIPT", nullptr, CodingMode::BaselineStandardTables, 0 },
    { "Progressive", "-quality 75 -progressive", nullptr, CodingMode::Progressive, 0 },
    { "JpegtranProgressive", "-quality 90 -restart 1", "-progressive", CodingMode::Progressive, 0 },
    { "Arithmetic", "-quality 75 -arithmetic", nullptr, CodingMode::Arithmetic, 0 },
    { "RgbCoded", "-quality 90 -rgb", nullptr, CodingMode::BaselineStandardTables, 0 },
};

class JpegCoefficientFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveLibjpegTools() || RunCommand("command -v jpegtran >/dev/null") != 0)
            GTEST_SKIP() << "cjpeg/djpeg/jpegtran (libjpeg-turbo-progs) are not installed";
    }

    // A cover made by cjpeg (and jpegtran) with a comment, a two-chunk ICC
    // profile and an Exif-like APP1 segment.
    std::vector<std::uint8_t> MakeCover(const CoverCase& cover)
    {
        std::vector<std::uint8_t> profile(70000);
        for (std::size_t i = 0; i < profile.size(); ++i)
            profile[i] = std::uint8_t(i * 7 + i / 251);
        EXPECT_TRUE(WriteBytes((m_scratch / "profile.icc").string(), profile));
        EXPECT_TRUE(WriteBytes((m_scratch / "SCRIPT").string(), { '0', ';', '1', ';', '2', ';' }));
        std::string options = cover.cjpegOptions;
        if (const std::size_t at = options.find("SCRIPT"); at != std::string::npos)
            options.replace(at, 6, (m_scratch / "SCRIPT").string());
        options += " -icc " + (m_scratch / "profile.icc").string();
        const std::string path = MakeCjpegFile(m_scratch, MakeTestPicture(203, 141, 5), options, cover.name);
        const std::vector<std::uint8_t> exif { 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 1, 2, 3, 4, 5 };
        const std::vector<std::uint8_t> comment { 'K', 'e', 'p', 't', ' ', 'a', 's', ' ', 'i', 's' };
        std::vector<std::uint8_t> file
            = InsertSegmentAfterSoi(InsertSegmentAfterSoi(ReadBytes(path), 0xFE, comment), 0xE1, exif);
        if (cover.jpegtranOptions != nullptr) {
            const std::string source = (m_scratch / "before-jpegtran.jpg").string();
            const std::string target = (m_scratch / "after-jpegtran.jpg").string();
            EXPECT_TRUE(WriteBytes(source, file));
            std::string errors;
            EXPECT_EQ(0,
                RunCommand(
                    std::string("jpegtran -copy all ") + cover.jpegtranOptions + " -outfile " + target + " " + source,
                    &errors))
                << errors;
            file = ReadBytes(target);
        }
        return file;
    }

    CTempFolder m_scratch;
};

class JpegCoefficientCoverTest : public JpegCoefficientFileTest, public ::testing::WithParamInterface<CoverCase> { };

TEST_P(JpegCoefficientCoverTest, RewriteKeepsCoefficientsTablesMarkersAndCodingMode)
{
    const CoverCase& cover = GetParam();
    const std::vector<std::uint8_t> input = MakeCover(cover);
    CJpegCoefficientFile original;
    ASSERT_TRUE(original.ReadMemory(input).IsOk());
    EXPECT_EQ(cover.mode, original.GetCodingMode());
    EXPECT_EQ(cover.restartInterval, original.GetRestartInterval());
    EXPECT_EQ(std::string(cover.name) == "Grey" ? 1u : 3u, original.GetComponents().size());

    std::vector<std::uint8_t> output;
    const JpegResult written = original.WriteMemory(output);
    ASSERT_TRUE(written.IsOk()) << written.Reason();
    CJpegCoefficientFile rewritten;
    ASSERT_TRUE(rewritten.ReadMemory(output).IsOk());
    ExpectSameModel(original, rewritten);
    EXPECT_TRUE(Differences(original, rewritten).empty());

    const auto metadata = MetadataSegments(input);
    EXPECT_EQ(5u, metadata.size()); // APP1, COM, APP0 (JFIF), APP2 x 2 (ICC)
    EXPECT_EQ(metadata, MetadataSegments(output));
    EXPECT_EQ(FrameMarker(input), FrameMarker(output));
    EXPECT_EQ(ScanScript(input), ScanScript(output));
    if (cover.mode == CodingMode::BaselineStandardTables) {
        EXPECT_LE(output.size(), input.size() + 64);
    }

    // The same coefficients and tables decode to the same pixels, by an
    // independent decoder.
    const std::string inputPath = (m_scratch / "input.jpg").string();
    const std::string outputPath = (m_scratch / "output.jpg").string();
    ASSERT_TRUE(WriteBytes(inputPath, input));
    ASSERT_TRUE(WriteBytes(outputPath, output));
    const std::vector<std::uint8_t> expectedPixels = DjpegDibPixels(m_scratch, inputPath);
    EXPECT_FALSE(expectedPixels.empty());
    EXPECT_TRUE(expectedPixels == DjpegDibPixels(m_scratch, outputPath));
}

INSTANTIATE_TEST_SUITE_P(Covers, JpegCoefficientCoverTest, ::testing::ValuesIn(kCovers),
    [](const ::testing::TestParamInfo<CoverCase>& info) { return std::string(info.param.name); });

TEST_F(JpegCoefficientFileTest, ChangedCoefficientsReadBackAndNothingElseDiffers)
{
    for (const CoverCase& cover : { kCovers[0], kCovers[7], kCovers[9] }) {
        SCOPED_TRACE(cover.name);
        CJpegCoefficientFile file;
        ASSERT_TRUE(file.ReadMemory(MakeCover(cover)).IsOk());
        const std::vector<CJpegCoefficientFile::CoefficientIndex> carriers = file.GetCarriers();
        ASSERT_GT(carriers.size(), 1000u);
        // The carriers are exactly the non-zero AC coefficients, ascending.
        std::size_t nonZeroAc = 0;
        for (CJpegCoefficientFile::CoefficientIndex i = 0; i < file.GetCoefficientCount(); ++i)
            nonZeroAc += i % 64 != 0 && file.GetCoefficient(i) != 0;
        EXPECT_EQ(nonZeroAc, carriers.size());
        EXPECT_TRUE(std::is_sorted(carriers.begin(), carriers.end()));
        EXPECT_NE(0, file.GetCoefficient(carriers.back()));

        // One carrier moved away from zero, one (in the last component) set
        // to zero, one DC changed.
        const auto grown = carriers[carriers.size() / 3];
        const auto cleared = carriers.back();
        const auto dc = file.GetComponents().back().firstIndex + 64;
        const std::int16_t grownValue
            = std::int16_t(file.GetCoefficient(grown) + (file.GetCoefficient(grown) > 0 ? 1 : -1));
        const std::int16_t dcValue = std::int16_t(file.GetCoefficient(dc) - 5);
        CJpegCoefficientFile original;
        ASSERT_TRUE(original.ReadMemory(MakeCover(cover)).IsOk());
        ASSERT_TRUE(file.SetCoefficient(grown, grownValue));
        ASSERT_TRUE(file.SetCoefficient(cleared, 0));
        ASSERT_TRUE(file.SetCoefficient(dc, dcValue));

        std::vector<std::uint8_t> output;
        ASSERT_TRUE(file.WriteMemory(output).IsOk());
        CJpegCoefficientFile changed;
        ASSERT_TRUE(changed.ReadMemory(output).IsOk());
        ExpectSameModel(original, changed);
        std::vector<CJpegCoefficientFile::CoefficientIndex> expected { dc, grown, cleared };
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, Differences(original, changed));
        EXPECT_EQ(grownValue, changed.GetCoefficient(grown));
        EXPECT_EQ(0, changed.GetCoefficient(cleared));
        EXPECT_EQ(dcValue, changed.GetCoefficient(dc));
        std::vector<CJpegCoefficientFile::CoefficientIndex> remaining(carriers.begin(), carriers.end() - 1);
        EXPECT_EQ(remaining, changed.GetCarriers());
    }
}

TEST_F(JpegCoefficientFileTest, ImpossibleChangesAreRefused)
{
    CJpegCoefficientFile file;
    ASSERT_TRUE(file.ReadMemory(MakeCover(kCovers[0])).IsOk());
    const auto count = file.GetCoefficientCount();
    const std::int16_t before = file.GetCoefficient(65);
    struct {
        CJpegCoefficientFile::CoefficientIndex index;
        std::int16_t value;
        bool accepted;
    } cases[] = {
        { count, 1, false },
        { count - 1, 1023, true },
        { 65, 1024, false },
        { 65, -1024, false },
        { 64, 2047, true },
        { 64, 2048, false },
        { 64, -2048, false },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(testing::Message() << test.index << " " << test.value);
        EXPECT_EQ(test.accepted, file.SetCoefficient(test.index, test.value));
    }
    EXPECT_EQ(before, file.GetCoefficient(65));
    EXPECT_EQ(0, file.GetCoefficient(count));
    // Extreme values still make a valid file.
    std::vector<std::uint8_t> output;
    ASSERT_TRUE(file.WriteMemory(output).IsOk());
    CJpegCoefficientFile reread;
    ASSERT_TRUE(reread.ReadMemory(output).IsOk());
    EXPECT_EQ(1023, reread.GetCoefficient(count - 1));
    EXPECT_EQ(2047, reread.GetCoefficient(64));
}

TEST_F(JpegCoefficientFileTest, DamagedFilesFailCleanly)
{
    const std::vector<std::uint8_t> baseline = MakeCover(kCovers[0]);
    const std::vector<std::uint8_t> progressive = MakeCover(kCovers[7]);
    auto truncated = [](std::vector<std::uint8_t> file, std::size_t size) {
        file.resize(size);
        return file;
    };
    // The first scan's data, cut short by an end-of-image marker.
    std::vector<std::uint8_t> interrupted = baseline;
    const std::size_t scan = ListSegments(baseline).back().offset + 200;
    interrupted[scan] = 0xFF;
    interrupted[scan + 1] = 0xD9;
    std::vector<std::uint8_t> noWidth = baseline;
    for (const SegmentInfo& segment : ListSegments(baseline)) {
        if (segment.marker == 0xC0)
            noWidth[segment.offset + 7] = noWidth[segment.offset + 8] = 0;
    }
    const std::string text = "not a picture";
    const struct {
        const char* name;
        std::vector<std::uint8_t> file;
    } cases[] = {
        { "empty", {} },
        { "text", std::vector<std::uint8_t>(text.begin(), text.end()) },
        { "headers cut", truncated(baseline, 300) },
        { "baseline data cut", truncated(baseline, baseline.size() * 2 / 3) },
        { "progressive data cut", truncated(progressive, progressive.size() * 2 / 3) },
        { "marker inside the data", interrupted },
        { "no width", noWidth },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        CJpegCoefficientFile file;
        const JpegResult result = file.ReadMemory(test.file);
        EXPECT_EQ(JpegStatus::TurboReadFailed, result.status);
        EXPECT_FALSE(result.detail.empty());
        EXPECT_FALSE(file.IsLoaded());
        EXPECT_EQ(0u, file.GetCoefficientCount());
        EXPECT_TRUE(file.GetCarriers().empty());
        std::vector<std::uint8_t> output { 1, 2, 3 };
        EXPECT_EQ(JpegStatus::NothingToWrite, file.WriteMemory(output).status);
        EXPECT_TRUE(output.empty());
    }
}

TEST_F(JpegCoefficientFileTest, FilesAreReadAndReplacedWhole)
{
    const std::string path = (m_scratch / "cover.jpg").string();
    ASSERT_TRUE(WriteBytes(path, MakeCover(kCovers[7])));
    CJpegCoefficientFile file;
    EXPECT_EQ(JpegStatus::CannotReadFile, file.Read((m_scratch / "absent.jpg").string()).status);
    ASSERT_TRUE(file.Read(path).IsOk());
    const auto carrier = file.GetCarriers().front();
    ASSERT_TRUE(file.SetCoefficient(carrier, std::int16_t(file.GetCoefficient(carrier) * 2)));
    std::vector<std::uint8_t> expected;
    ASSERT_TRUE(file.WriteMemory(expected).IsOk());

    // Onto the file that was read, and into a folder that does not exist.
    ASSERT_TRUE(file.Write(path).IsOk());
    EXPECT_EQ(expected, ReadBytes(path));
    const JpegResult missing = file.Write((m_scratch / "absent/out.jpg").string());
    EXPECT_EQ(JpegStatus::CannotWriteFile, missing.status);
    EXPECT_FALSE(missing.detail.empty());
    EXPECT_FALSE(std::filesystem::exists((m_scratch / "absent").string()));
    // No temporary file is left beside the targets.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_scratch.Path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string> { "Progressive.jpg", "Progressive.pnm", "SCRIPT", "cover.jpg", "profile.icc" }),
        names);
}

} // namespace
