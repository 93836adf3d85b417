// The encoder: exact file layout, the tables against cjpeg's, its files read
// by djpeg and by an independent slow scan reader, the carriage of the
// container bits, its log and its refusals.

#include "jpeg/JpegCodec.h"
#include "jpeg/JpegMemory.h"
#include "jpeg/JpegTables.h"
#include "res/Log.h"
#include "res/StringTable.h"
#include "support/JpegTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <map>
#include <new>
#include <random>
#include <thread>

namespace {

class JpegEncoderTest : public ::testing::Test {
protected:
    std::vector<std::uint8_t> Encode(const RgbPicture& picture, CJpegCodec& codec)
    {
        std::vector<std::uint8_t> file;
        const JpegResult result
            = codec.EncodeToMemory(picture.width, picture.height, ToTopDownBgr(picture).data(), file);
        EXPECT_TRUE(result.IsOk()) << result.Reason();
        return file;
    }
    std::vector<std::uint8_t> Encode(const RgbPicture& picture)
    {
        CJpegCodec codec;
        return Encode(picture, codec);
    }

    CTempFolder m_scratch;
};

std::vector<std::uint8_t> Bytes(const std::vector<std::uint8_t>& file, std::size_t offset, std::size_t length)
{
    return std::vector<std::uint8_t>(
        file.begin() + std::ptrdiff_t(offset), file.begin() + std::ptrdiff_t(offset + length));
}

// The quantization tables (by id) and Huffman tables (by table byte) of a file.
void CollectTables(const std::vector<std::uint8_t>& file, std::map<int, std::vector<std::uint8_t>>& quantization,
    std::map<int, std::vector<std::uint8_t>>& huffman)
{
    for (const SegmentInfo& segment : ListSegments(file)) {
        std::size_t offset = segment.offset + 4;
        const std::size_t end = segment.offset + segment.length;
        while ((segment.marker == 0xDB || segment.marker == 0xC4) && offset < end) {
            const int id = file[offset];
            if (segment.marker == 0xDB) {
                quantization[id] = Bytes(file, offset + 1, 64);
                offset += 65;
            } else {
                std::size_t count = 0;
                for (std::size_t i = 1; i <= 16; ++i)
                    count += file[offset + i];
                huffman[id] = Bytes(file, offset + 1, 16 + count);
                offset += 17 + count;
            }
        }
    }
}

std::uint64_t Fingerprint(std::span<const std::uint8_t> bytes)
{
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (std::uint8_t byte : bytes)
        hash = (hash ^ byte) * 1099511628211ull;
    return hash;
}

} // namespace

TEST_F(JpegEncoderTest, OneColourPictureHasTheExactLayout)
{
    const std::vector<std::uint8_t> file = Encode(MakeUniformPicture(8, 8, 200, 30, 90));
    const std::vector<SegmentInfo> segments = ListSegments(file);
    const std::vector<std::tuple<int, std::size_t, std::size_t>> expected = { { 0xD8, 0, 2 }, { 0xDB, 2, 69 },
        { 0xDB, 71, 69 }, { 0xC4, 140, 420 }, { 0xC0, 560, 19 }, { 0xDA, 579, 14 } };
    ASSERT_EQ(expected.size(), segments.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(std::get<0>(expected[i]), segments[i].marker);
        EXPECT_EQ(std::get<1>(expected[i]), segments[i].offset);
        EXPECT_EQ(std::get<2>(expected[i]), segments[i].length);
    }
    EXPECT_EQ(0x00, file[6]);
    EXPECT_EQ(0x01, file[75]);
    EXPECT_EQ((std::vector<std::uint8_t> { 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x08, 0x00, 0x08, 0x03, 0x01, 0x11, 0x00,
                  0x02, 0x11, 0x01, 0x03, 0x11, 0x01 }),
        Bytes(file, 560, 19));
    EXPECT_EQ((std::vector<std::uint8_t> {
                  0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00 }),
        Bytes(file, 579, 14));
    // One MCU of three blocks, zero padding, EOI.
    std::vector<ParsedBlock> blocks;
    ASSERT_TRUE(ParseOwnScan(file, blocks));
    EXPECT_EQ(3u, blocks.size());

    // A 17 x 9 picture: SOF0 carries the true size, the scan 3 x 2 MCUs.
    const std::vector<std::uint8_t> odd = Encode(MakeTestPicture(17, 9));
    EXPECT_EQ((std::vector<std::uint8_t> { 0x00, 0x09, 0x00, 0x11 }), Bytes(odd, 565, 4));
    ASSERT_TRUE(ParseOwnScan(odd, blocks));
    EXPECT_EQ(18u, blocks.size());
}

TEST_F(JpegEncoderTest, TablesAreTheStandardOnesWithThreeLuminanceChanges)
{
    if (!HaveLibjpegTools())
        GTEST_SKIP() << "cjpeg/djpeg (libjpeg-turbo-progs) are not installed";
    // At quality 50 cjpeg writes the tables of T.81 Annex K unscaled.
    const std::string ppm = (m_scratch / "tables.ppm").string();
    const std::string jpeg = (m_scratch / "tables.jpg").string();
    ASSERT_TRUE(WritePnm(ppm, MakeTestPicture(16, 16)));
    ASSERT_EQ(0, RunCommand("cjpeg -quality 50 -baseline -sample 1x1 -outfile " + jpeg + " " + ppm));
    std::map<int, std::vector<std::uint8_t>> theirQuantization, theirHuffman, ourQuantization, ourHuffman;
    CollectTables(ReadBytes(jpeg), theirQuantization, theirHuffman);
    CollectTables(Encode(MakeTestPicture(16, 16)), ourQuantization, ourHuffman);

    std::vector<std::uint8_t> expectedLuminance = theirQuantization[0];
    ASSERT_EQ(64u, expectedLuminance.size());
    EXPECT_EQ(35, expectedLuminance[22]);
    expectedLuminance[22] = 36;
    expectedLuminance[42] = 66;
    expectedLuminance[43] = 57;
    EXPECT_EQ(expectedLuminance, ourQuantization[0]);
    EXPECT_EQ(theirQuantization[1], ourQuantization[1]);
    EXPECT_EQ(2u, ourQuantization.size());
    EXPECT_EQ(theirHuffman, ourHuffman);
    EXPECT_EQ(4u, ourHuffman.size());
}

TEST_F(JpegEncoderTest, DjpegReadsOurFilesAsWeDo)
{
    if (!HaveLibjpegTools())
        GTEST_SKIP() << "cjpeg/djpeg (libjpeg-turbo-progs) are not installed";
    const RgbPicture pictures[] = { MakeUniformPicture(8, 8, 10, 250, 128), MakeTestPicture(17, 9, 2),
        MakeTestPicture(64, 48, 5), MakeTestPicture(333, 211, 6) };
    for (const RgbPicture& picture : pictures) {
        SCOPED_TRACE(std::to_string(picture.width) + "x" + std::to_string(picture.height));
        const std::string path = (m_scratch / "ours.jpg").string();
        CJpegCodec encoder;
        ASSERT_TRUE(encoder.Encode(path, picture.width, picture.height, ToTopDownBgr(picture).data()).IsOk());
        std::vector<ParsedBlock> blocks;
        EXPECT_TRUE(ParseOwnScan(ReadBytes(path), blocks));

        std::string errors;
        const std::string output = (m_scratch / "ours.ppm").string();
        ASSERT_EQ(0, RunCommand("djpeg -dct float -nosmooth -pnm -outfile " + output + " " + path, &errors));
        EXPECT_EQ("", errors);
        RgbPicture theirs;
        ASSERT_TRUE(ReadPnm(output, theirs));

        CJpegCodec decoder;
        ASSERT_TRUE(decoder.Decode(path).IsOk());
        const PixelDifference difference = ComparePixels(decoder.GetImage(), picture.width, picture.height, theirs);
        const PixelDifference loss = ComparePixels(decoder.GetImage(), picture.width, picture.height, picture);
        std::printf("[ ours     ] %3dx%-3d vs djpeg mean %.3f max %d; vs source mean %.2f\n", picture.width,
            picture.height, difference.mean, difference.max, loss.mean);
        EXPECT_LE(difference.mean, 1.5);
        EXPECT_LE(difference.max, 4);
        EXPECT_LE(loss.mean, 10.0); // a gross error (say, swapped channels) is far above
    }
}

TEST_F(JpegEncoderTest, MidGreyCarriesOnlyTheCarrierBits)
{
    // Every coefficient of a mid-grey picture is 0: each luminance block is
    // a DC of size 0 and EOB, each chroma block holds just its carrier bit
    // at zigzag position 9 (run 8, size 1), which the decoder reads back.
    CJpegCodec codec;
    ASSERT_TRUE(codec.DecodeMemory(Encode(MakeUniformPicture(32, 16, 0, 0, 0))).IsOk());
    std::mt19937 random(1);
    for (std::uint32_t i = 0; i < codec.GetContainerBufferSize(); ++i)
        codec.GetContainerBuffer()[i] = std::uint8_t(random());
    const std::vector<std::uint8_t> pattern(codec.GetContainerBuffer(), codec.GetContainerBuffer() + 2);

    const std::vector<std::uint8_t> file = Encode(MakeUniformPicture(32, 16, 128, 128, 128), codec);
    std::vector<ParsedBlock> blocks;
    ASSERT_TRUE(ParseOwnScan(file, blocks));
    ASSERT_EQ(24u, blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const ParsedBlock& block = blocks[i];
        EXPECT_EQ(0, block.coefficients[0]);
        if (i % 3 == 0) {
            EXPECT_EQ(std::vector<int> { 0x00 }, block.acSymbols);
            continue;
        }
        const std::size_t bit = i / 3 * 2 + (i % 3 - 1);
        const int expected = (pattern[bit / 8] >> (7 - bit % 8)) & 1;
        EXPECT_EQ(expected, block.coefficients[kCarrierZigzagIndex]) << "block " << i;
        const std::vector<int> symbols = expected ? std::vector<int> { 0x81, 0x00 } : std::vector<int> { 0x00 };
        EXPECT_EQ(symbols, block.acSymbols) << "block " << i;
    }
    CJpegCodec reader;
    ASSERT_TRUE(reader.DecodeMemory(file).IsOk());
    EXPECT_EQ(2u, reader.GetCarriedCount());
    EXPECT_EQ(pattern, std::vector<std::uint8_t>(reader.GetContainerBuffer(), reader.GetContainerBuffer() + 2));
}

TEST_F(JpegEncoderTest, ZeroRunsAndEndOfBlock)
{
    // Left block: horizontal stripes at vertical frequency 6 put the only AC
    // coefficient at zigzag 21, after a run of 20 zeros: one ZRL, then run 4.
    // Right block: a checkerboard sets coefficient 63, so no EOB follows.
    RgbPicture picture = MakeUniformPicture(16, 8, 0, 0, 0);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) {
            const double stripe = 128 + 100 * std::cos((2 * y + 1) * 6 * M_PI / 16);
            const int value = x < 8 ? int(std::lround(stripe)) : ((x + y) % 2 ? 255 : 0);
            for (int c = 0; c < 3; ++c)
                picture.samples[std::size_t((y * 16 + x) * 3 + c)] = std::uint8_t(value);
        }
    }
    std::vector<ParsedBlock> blocks;
    ASSERT_TRUE(ParseOwnScan(Encode(picture), blocks));
    const ParsedBlock& stripes = blocks[0];
    ASSERT_GE(stripes.acSymbols.size(), 3u);
    EXPECT_EQ(0xF0, stripes.acSymbols[0]);
    EXPECT_EQ(4, stripes.acSymbols[1] >> 4);
    EXPECT_EQ(0x00, stripes.acSymbols.back());
    for (int k = 1; k < 21; ++k)
        EXPECT_EQ(0, stripes.coefficients[k]) << k;
    EXPECT_NE(0, stripes.coefficients[21]);

    const ParsedBlock& checkerboard = blocks[3];
    EXPECT_NE(0, checkerboard.coefficients[63]);
    EXPECT_NE(0x00, checkerboard.acSymbols.back());
}

TEST_F(JpegEncoderTest, EveryStuffedByteAndThePaddingAreInPlace)
{
    // Noise makes plenty of data, so some bytes come out as 0xFF.
    RgbPicture noise = MakeUniformPicture(64, 64, 0, 0, 0);
    std::mt19937 random(2);
    for (std::uint8_t& sample : noise.samples)
        sample = std::uint8_t(random());
    const std::vector<std::uint8_t> file = Encode(noise);
    const SegmentInfo sos = ListSegments(file).back();
    int stuffed = 0;
    for (std::size_t i = sos.offset + sos.length; i + 2 < file.size(); ++i) {
        if (file[i] == 0xFF) {
            ASSERT_EQ(0x00, file[i + 1]) << "at " << i;
            ++stuffed;
        }
    }
    EXPECT_GT(stuffed, 0);
    std::vector<ParsedBlock> blocks;
    EXPECT_TRUE(ParseOwnScan(file, blocks)); // also checks the zero padding before EOI
}

TEST_F(JpegEncoderTest, CarriedBitsReadBackAsWritten)
{
    // Strong vertical detail makes many carrier coefficients other than 0
    // and 1 before the bit is written; each must still read back.
    RgbPicture picture = MakeTestPicture(96, 64, 4);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 96; ++x) {
            std::uint8_t* pixel = &picture.samples[std::size_t((y * 96 + x) * 3)];
            pixel[0] = std::uint8_t(y % 8 < 3 ? 250 : 10);
            pixel[2] = std::uint8_t(y % 8 < 4 ? 20 : 240);
        }
    }
    CJpegCodec codec;
    ASSERT_TRUE(codec.DecodeMemory(Encode(picture)).IsOk());
    std::mt19937 random(99);
    for (std::uint32_t i = 0; i < codec.GetContainerBufferSize(); ++i)
        codec.GetContainerBuffer()[i] = std::uint8_t(random());
    const std::uint32_t carried = codec.GetCarriedCount();
    ASSERT_EQ(2u * 12 * 8 / 8, carried);
    const std::vector<std::uint8_t> written(codec.GetContainerBuffer(), codec.GetContainerBuffer() + carried);

    const std::string path = (m_scratch / "carrier.jpg").string();
    std::vector<std::uint8_t> pixels = ToTopDownBgr(picture);
    ASSERT_TRUE(codec.Encode(path, 96, 64, pixels.data()).IsOk());
    CJpegCodec reader;
    ASSERT_TRUE(reader.Decode(path).IsOk());
    ASSERT_EQ(carried, reader.GetCarriedCount());
    EXPECT_EQ(written, std::vector<std::uint8_t>(reader.GetContainerBuffer(), reader.GetContainerBuffer() + carried));
}

TEST_F(JpegEncoderTest, LogOfEncodingAndOfDecodingOurFile)
{
    std::vector<unsigned> ids;
    std::string text;
    std::vector<std::uint8_t> file;
    {
        // Record the numbers by matching each text against the table.
        CScopedLogSink scoped([&](std::string_view line) {
            text += line;
            for (unsigned id = 104; id <= 124; ++id) {
                if (!line.empty() && LoadResString(id) == line) {
                    ids.push_back(id);
                    break;
                }
            }
        });
        file = Encode(MakeTestPicture(16, 8));
        EXPECT_EQ((std::vector<unsigned> { 114, 115, 116, 117, 107, 118, 119, 120, 121, 122, 123, 124 }), ids);
        EXPECT_NE(std::string::npos, text.find("Convert RGB color model to YUV model.Level shifting.\r\n"));

        ids.clear();
        CJpegCodec codec;
        ASSERT_TRUE(codec.DecodeMemory(file).IsOk());
    }
    std::vector<unsigned> expected = { 104 };
    for (int round = 0; round < 3; ++round)
        expected.insert(expected.end(), { 105, 107, 108, 109, 106 });
    expected.insert(expected.end(), { 111, 113, 112 });
    EXPECT_EQ(expected, ids);
}

TEST_F(JpegEncoderTest, RefusesImpossibleSizesAndReportsWriteFailures)
{
    const std::vector<std::uint8_t> pixels(4 * 3 * 70000, 0);
    CJpegCodec codec;
    std::vector<std::uint8_t> file;
    for (auto [width, height] : { std::pair { 0, 8 }, std::pair { 8, 0 }, std::pair { -5, 8 }, std::pair { 65536, 1 },
             std::pair { 1, 65536 } }) {
        const JpegResult result = codec.EncodeToMemory(width, height, pixels.data(), file);
        EXPECT_EQ(JpegStatus::BadEncodeSize, result.status) << width << "x" << height;
    }
    EXPECT_TRUE(codec.EncodeToMemory(65535, 1, pixels.data(), file).IsOk());

    const std::string path = (m_scratch / "no-such-folder/out.jpg").string();
    const JpegResult result = codec.Encode(path, 8, 8, pixels.data());
    EXPECT_EQ(JpegStatus::CannotWriteFile, result.status);
    EXPECT_EQ(JpegStatusKind::File, result.Kind());
    EXPECT_NE(std::string::npos, result.Reason().find("No such file")) << result.Reason();
}

TEST_F(JpegEncoderTest, ResultsAreTheSameOnEveryBuild)
{
    // Fixed fingerprints of an encoded file and of its decoded pixels. The
    // arithmetic is fixed to the bit, so every build and every code path
    // (the suite also runs held to the baseline and to the AVX2 variants, and
    // the picture is large enough for the encoder's helper threads) must
    // give these values.
    const std::vector<std::uint8_t> file = Encode(MakeTestPicture(301, 283, 12));
    CJpegCodec codec;
    ASSERT_TRUE(codec.DecodeMemory(file).IsOk());
    EXPECT_EQ(10068469075239275820ull, Fingerprint(file));
    EXPECT_EQ(8962260332605605778ull, Fingerprint(codec.GetImage()));
}

namespace {

// An allocator that fails chosen picture buffers of the codec, on whichever
// thread asks: the one numbered g_failAt (counting from 0), or every one
// asked for by a thread other than g_spared; by returning null or by
// throwing std::bad_alloc.
std::atomic<int> g_allocations { 0 };
std::atomic<int> g_failAt { -1 };
std::atomic<bool> g_throw { false };
std::thread::id g_spared;
std::atomic<bool> g_failOtherThreads { false };

void* FailingAllocator(std::size_t bytes)
{
    const int number = g_allocations.fetch_add(1);
    const bool fail = number == g_failAt.load() || (g_failOtherThreads && std::this_thread::get_id() != g_spared);
    if (!fail)
        return AllocateDefault(bytes);
    if (g_throw)
        throw std::bad_alloc();
    return nullptr;
}

class CScopedFailingAllocator {
public:
    CScopedFailingAllocator() { m_previous = SetJpegAllocator(FailingAllocator); }
    ~CScopedFailingAllocator() { SetJpegAllocator(m_previous); }

private:
    JpegAllocator m_previous = nullptr;
};

// Encodes on a thread of its own, which the allocator spares. An encoder
// that has not returned within the time limit hangs; its threads cannot be
// stopped from here, so the test program ends at once with a message rather
// than waiting for ever.
JpegResult EncodeWithin(CJpegCodec& codec, const RgbPicture& picture, std::vector<std::uint8_t>& file)
{
    const std::vector<std::uint8_t> pixels = ToTopDownBgr(picture);
    std::packaged_task<JpegResult()> task([&] {
        g_spared = std::this_thread::get_id();
        return codec.EncodeToMemory(picture.width, picture.height, pixels.data(), file);
    });
    std::future<JpegResult> done = task.get_future();
    std::thread worker(std::move(task));
    if (done.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        std::fprintf(stderr, "The encoder did not return within 30 seconds.\n");
        std::_Exit(EXIT_FAILURE);
    }
    worker.join();
    return done.get();
}

// Runs `work` on a thread of its own, which the allocator spares, and ends
// the test program when it hangs (see EncodeWithin).
JpegResult RunWithin(const std::function<JpegResult()>& work)
{
    std::packaged_task<JpegResult()> task([&] {
        g_spared = std::this_thread::get_id();
        return work();
    });
    std::future<JpegResult> done = task.get_future();
    std::thread worker(std::move(task));
    if (done.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        std::fprintf(stderr, "The codec did not return within 30 seconds.\n");
        std::_Exit(EXIT_FAILURE);
    }
    worker.join();
    return done.get();
}

} // namespace

TEST_F(JpegEncoderTest, EveryAllocationFailureEndsTheTranscodeCleanly)
{
    // Large enough to be transcoded in bands, by a decoding thread feeding an
    // encoder with a helper. Whichever buffer cannot be had, on whichever
    // thread, the transcode returns the same file or OutOfMemory, and never
    // waits for ever for a thread that gave up.
    const std::vector<std::uint8_t> source = Encode(MakeTestPicture(520, 520, 6));
    std::vector<std::uint8_t> reference;
    int allocations = 0;
    {
        CScopedFailingAllocator allocator;
        g_allocations = 0;
        g_failAt = -1;
        CJpegCodec codec;
        codec.SetEncoderHelperThreads(1);
        ASSERT_TRUE(codec.DecodeCarriers(source).IsOk());
        ASSERT_TRUE(RunWithin([&] { return codec.TranscodeToMemory(source, reference); }).IsOk());
        allocations = g_allocations;
    }
    ASSERT_GT(allocations, 2);
    int failures = 0;
    for (const bool throwing : { false, true }) {
        for (int failAt = 0; failAt < allocations + 2; ++failAt) {
            SCOPED_TRACE((throwing ? "throwing at allocation " : "null at allocation ") + std::to_string(failAt));
            CScopedFailingAllocator allocator;
            CJpegCodec codec;
            codec.SetEncoderHelperThreads(1);
            ASSERT_TRUE(codec.DecodeCarriers(source).IsOk());
            g_allocations = 0;
            g_failAt = failAt;
            g_throw = throwing;
            std::vector<std::uint8_t> file;
            const JpegResult result = RunWithin([&] { return codec.TranscodeToMemory(source, file); });
            g_failAt = -1;
            if (result.IsOk()) {
                EXPECT_EQ(reference, file);
                continue;
            }
            ++failures;
            EXPECT_EQ(JpegStatus::OutOfMemory, result.status) << result.Reason();
            EXPECT_TRUE(file.empty());
        }
    }
    EXPECT_GE(failures, 2);
    g_throw = false;
}

TEST_F(JpegEncoderTest, EveryAllocationFailureEndsTheEncodeCleanly)
{
    // Tall enough for two helper threads, narrow to stay quick. Whichever
    // picture buffer cannot be had, on whichever thread, the encode returns:
    // either the same file (a helper without memory leaves its rows to the
    // other threads) or OutOfMemory with nothing in the caller's vector.
    const RgbPicture picture = MakeTestPicture(24, 8 * 70, 3);
    std::vector<std::uint8_t> reference;
    int allocations = 0;
    {
        CScopedFailingAllocator allocator;
        g_allocations = 0;
        g_failAt = -1;
        CJpegCodec codec;
        codec.SetEncoderHelperThreads(2);
        ASSERT_TRUE(EncodeWithin(codec, picture, reference).IsOk());
        allocations = g_allocations;
    }
    ASSERT_GT(allocations, 2);
    EXPECT_EQ(reference, Encode(picture));

    for (const bool throwing : { false, true }) {
        int failures = 0;
        for (int failAt = 0; failAt < allocations; ++failAt) {
            SCOPED_TRACE((throwing ? "throwing at allocation " : "null at allocation ") + std::to_string(failAt));
            CScopedFailingAllocator allocator;
            g_allocations = 0;
            g_failAt = failAt;
            g_throw = throwing;
            CJpegCodec codec;
            codec.SetEncoderHelperThreads(2);
            std::vector<std::uint8_t> file = { 1, 2, 3 };
            const JpegResult result = EncodeWithin(codec, picture, file);
            if (result.IsOk()) {
                EXPECT_EQ(reference, file);
                continue;
            }
            ++failures;
            EXPECT_EQ(JpegStatus::OutOfMemory, result.status);
            EXPECT_TRUE(file.empty());
        }
        EXPECT_GE(failures, 2); // at least the coefficients and the output fail the encode
    }
    g_failAt = -1;
    g_throw = false;
}

TEST_F(JpegEncoderTest, HelpersThatCannotAllocateLeaveTheirRowsToTheCoder)
{
    // Every helper's request for memory fails; the encoding thread does all
    // the rows and writes the same file.
    const RgbPicture picture = MakeTestPicture(24, 8 * 100, 4);
    const std::vector<std::uint8_t> reference = Encode(picture);
    for (const bool throwing : { false, true }) {
        SCOPED_TRACE(throwing ? "throwing" : "null");
        CScopedFailingAllocator allocator;
        g_failAt = -1;
        g_throw = throwing;
        g_failOtherThreads = true;
        CJpegCodec codec;
        codec.SetEncoderHelperThreads(3);
        std::vector<std::uint8_t> file;
        const JpegResult result = EncodeWithin(codec, picture, file);
        g_failOtherThreads = false;
        EXPECT_TRUE(result.IsOk()) << result.Reason();
        EXPECT_EQ(reference, file);
    }
    g_throw = false;
}
