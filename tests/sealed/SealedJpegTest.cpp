// Sealed messages in JPEG files: the non-zero AC coefficients as elements,
// round trips over the covers cjpeg and jpegtran make, files that keep
// everything but the changed coefficients, tampering, and the format
// document's JPEG vector.

#include "jpeg/JpegCoefficientFile.h"
#include "sealed/JpegCoefficientElements.h"
#include "sealed/KeyedOrder.h"
#include "sealed/SealedContainer.h"
#include "sealed/SealedPicture.h"
#include "support/JpegTestSupport.h"
#include "support/SealedTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

using CoefficientIndex = CJpegCoefficientFile::CoefficientIndex;

bool HaveJpegTools() { return HaveLibjpegTools() && RunCommand("command -v jpegtran >/dev/null") == 0; }

class CAlwaysUp : public CDirectionSource {
public:
    bool Up() override { return true; }
};

// The segments before the first scan that a rewrite keeps byte for byte:
// APPn, COM, quantization tables, frame header, restart interval. Huffman
// tables may be made anew for the changed coefficients.
std::vector<std::vector<std::uint8_t>> MetadataSegments(const std::vector<std::uint8_t>& file)
{
    std::vector<std::vector<std::uint8_t>> segments;
    for (const SegmentInfo& segment : ListSegments(file))
        if ((segment.marker & 0xF0) == 0xE0 || segment.marker == 0xFE
            || ((segment.marker & 0xF0) == 0xC0 && segment.marker != 0xC4 && segment.marker != 0xCC)
            || segment.marker == 0xDB || segment.marker == 0xDD)
            segments.emplace_back(file.begin() + std::ptrdiff_t(segment.offset),
                file.begin() + std::ptrdiff_t(segment.offset + segment.length));
    return segments;
}

void ReadCoefficients(const std::vector<std::uint8_t>& file, CJpegCoefficientFile& model)
{
    const JpegResult result = model.ReadMemory(file);
    ASSERT_TRUE(result.IsOk()) << result.Reason();
}

struct JpegCover {
    const char* name;
    const char* cjpegOptions;
    const char* jpegtranOptions; // applied to cjpeg's file when set
};

const JpegCover kJpegCovers[] = {
    { "Baseline420", "-quality 75 -sample 2x2", nullptr },
    { "Baseline422", "-quality 90 -sample 2x1", nullptr },
    { "Baseline444", "-quality 90 -sample 1x1", nullptr },
    { "Grey", "-quality 75 -grayscale", nullptr },
    { "RestartInterval", "-quality 75 -restart 2B", nullptr },
    { "Optimized", "-quality 90 -optimize", nullptr },
    { "Progressive", "-quality 75 -progressive", nullptr },
    { "JpegtranProgressive", "-quality 90", "-progressive" },
};

// A cover with a comment segment, as cjpeg (and jpegtran) make it.
std::vector<std::uint8_t> MakeJpegCover(
    const CTempFolder& scratch, const JpegCover& cover, int width = 157, int height = 94)
{
    const std::string path = MakeCjpegFile(scratch, MakeTestPicture(width, height, 3), cover.cjpegOptions, cover.name);
    std::vector<std::uint8_t> file
        = InsertSegmentAfterSoi(ReadBytes(path), 0xFE, { 'k', 'e', 'p', 't', ' ', 'a', 's', ' ', 'i', 's' });
    if (cover.jpegtranOptions == nullptr)
        return file;
    const std::string source = (scratch / "before-jpegtran.jpg").string();
    const std::string target = (scratch / "after-jpegtran.jpg").string();
    EXPECT_TRUE(WriteBytes(source, file));
    std::string errors;
    EXPECT_EQ(0,
        RunCommand(
            std::string("jpegtran -copy all ") + cover.jpegtranOptions + " -outfile " + target + " " + source, &errors))
        << errors;
    return ReadBytes(target);
}

class SealedJpegTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveJpegTools())
            GTEST_SKIP() << "cjpeg/jpegtran (libjpeg-turbo-progs) are not installed";
    }

    CTempFolder m_scratch;
};

// A change steps the magnitude and keeps the sign; nothing becomes zero and
// nothing leaves the range an 8-bit JPEG codes.
TEST_F(SealedJpegTest, ChangesStepTheMagnitudeAndNeverReachZero)
{
    struct Step {
        std::int16_t before;
        bool up;
        std::int16_t after;
    };
    const Step steps[] = {
        { 1, true, 2 },
        { 1, false, 2 },
        { -1, true, -2 },
        { -1, false, -2 },
        { 2, false, 1 },
        { -2, false, -1 },
        { 5, true, 6 },
        { -5, true, -6 },
        { -6, false, -5 },
        { 1023, true, 1022 },
        { -1023, true, -1022 },
        { 1022, true, 1023 },
    };
    CJpegCoefficientFile file;
    ReadCoefficients(MakeJpegCover(m_scratch, kJpegCovers[2]), file);
    const std::vector<CoefficientIndex> carriers = file.GetCarriers();
    ASSERT_GE(carriers.size(), std::size(steps));
    for (std::size_t i = 0; i < std::size(steps); ++i)
        ASSERT_TRUE(file.SetCoefficient(carriers[i], steps[i].before));
    CJpegCoefficientElements elements(file);
    ASSERT_EQ(elements.Count(), carriers.size());
    for (std::uint32_t i = 0; i < std::size(steps); ++i) {
        ASSERT_EQ(elements.CoefficientOf(i), carriers[i]);
        EXPECT_EQ(elements.Bit(i), unsigned(steps[i].before < 0 ? -steps[i].before : steps[i].before) & 1);
        elements.Change(i, steps[i].up);
        elements.WriteBack();
        EXPECT_EQ(file.GetCoefficient(carriers[i]), steps[i].after)
            << steps[i].before << (steps[i].up ? " up" : " down");
        EXPECT_NE(elements.Bit(i), unsigned(steps[i].before) & 1);
    }
    EXPECT_EQ(file.GetCarriers(), carriers);
}

class SealedJpegCover : public SealedJpegTest, public testing::WithParamInterface<JpegCover> { };

// Seals an empty text and a file filling the capacity; the written file
// opens to the payload and differs from the cover only in coefficients that
// carried a bit, each by one step of its magnitude.
TEST_P(SealedJpegCover, RoundTripChangesOnlyCarriersByOneStep)
{
    const std::vector<std::uint8_t> cover = MakeJpegCover(m_scratch, GetParam());
    CJpegCoefficientFile original;
    ReadCoefficients(cover, original);
    const std::vector<CoefficientIndex> carriers = original.GetCarriers();

    for (const bool full : { false, true }) {
        CSealedPicture picture;
        ASSERT_TRUE(picture.LoadFromBytes(cover)) << picture.GetReason();
        ASSERT_EQ(picture.GetFormat(), CSealedPicture::Format::Jpeg);
        ASSERT_TRUE(picture.HasElements()) << picture.GetReason();
        ASSERT_EQ(picture.GetElementCount(), carriers.size());
        SealedPayload payload;
        if (full) {
            payload.kind = SealedKind::File;
            payload.name = "notes.bin";
            payload.bytes = RandomBytes(std::size_t(SealedCapacity(carriers.size(), payload.name.size())), 7);
        }
        SealOptions options;
        options.kdf = kCheapKdf;
        SealReport report;
        ASSERT_EQ(SealPayload(picture.GetElements(), "pw", payload, options, &report), SealedStatus::Ok);
        const std::string path = (m_scratch / (std::string("sealed-") + GetParam().name + ".jpg")).string();
        ASSERT_TRUE(picture.Save(path)) << picture.GetReason();
        const std::vector<std::uint8_t> output = ReadBytes(path);

        CJpegCoefficientFile sealed;
        ReadCoefficients(output, sealed);
        EXPECT_EQ(sealed.GetCodingMode(), original.GetCodingMode());
        EXPECT_EQ(sealed.GetRestartInterval(), original.GetRestartInterval());
        EXPECT_TRUE(MetadataSegments(output) == MetadataSegments(cover)) << "tables, frame and APPn/COM segments";
        ASSERT_EQ(sealed.GetCoefficientCount(), original.GetCoefficientCount());
        EXPECT_EQ(sealed.GetCarriers(), carriers);
        std::uint64_t changed = 0;
        std::size_t carrier = 0;
        for (CoefficientIndex i = 0; i < original.GetCoefficientCount(); ++i) {
            const bool isCarrier = carrier < carriers.size() && carriers[carrier] == i;
            carrier += isCarrier;
            const int before = original.GetCoefficient(i);
            const int after = sealed.GetCoefficient(i);
            if (before == after)
                continue;
            ++changed;
            ASSERT_TRUE(isCarrier) << "coefficient " << i << " is no carrier";
            ASSERT_EQ(std::abs(std::abs(before) - std::abs(after)), 1) << before << " -> " << after;
            ASSERT_EQ(before < 0, after < 0);
        }
        EXPECT_EQ(changed, report.changes);
        std::printf("[ figures  ] %s, %s: %llu carriers, k = %u, %llu changes for %llu bits (%.3f per bit)\n",
            GetParam().name, full ? "full" : "empty", static_cast<unsigned long long>(carriers.size()),
            report.bodyCodeBits, static_cast<unsigned long long>(changed),
            static_cast<unsigned long long>(report.embeddedBits), double(changed) / double(report.embeddedBits));

        CSealedPicture reloaded;
        ASSERT_TRUE(reloaded.Load(path)) << reloaded.GetReason();
        SealedPayload opened;
        ASSERT_EQ(OpenPayload(reloaded.GetElements(), "pw", opened, kCheapKdf), SealedStatus::Ok);
        EXPECT_EQ(opened.kind, payload.kind);
        EXPECT_EQ(opened.name, payload.name);
        EXPECT_EQ(opened.bytes, payload.bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(Covers, SealedJpegCover, testing::ValuesIn(kJpegCovers),
    [](const testing::TestParamInfo<JpegCover>& info) { return std::string(info.param.name); });

// One changed element anywhere in a full container, or a zero coefficient
// that became a carrier, and the message no longer opens; nor does it with
// another password. Two seals of one message differ.
TEST_F(SealedJpegTest, TamperingAndWrongPasswordsOpenNothing)
{
    const std::vector<std::uint8_t> cover = MakeJpegCover(m_scratch, kJpegCovers[0], 96, 64);
    CSealedPicture picture;
    ASSERT_TRUE(picture.LoadFromBytes(cover)) << picture.GetReason();
    const std::uint64_t count = picture.GetElementCount();
    SealedPayload payload;
    payload.bytes = RandomBytes(std::size_t(SealedCapacity(count)), 3);
    // A fixed salt fixes the order, and with it the few elements a full
    // container leaves over: none of those tampered with below.
    const std::vector<std::uint8_t> salt = RandomBytes(kSealedSaltBytes, 4);
    SealOptions options;
    options.kdf = kCheapKdf;
    options.salt = salt.data();
    ASSERT_EQ(SealPayload(picture.GetElements(), "pw", payload, options), SealedStatus::Ok);
    const std::string path = (m_scratch / "sealed.jpg").string();
    ASSERT_TRUE(picture.Save(path));
    const std::vector<std::uint8_t> sealed = ReadBytes(path);

    // With a full container nearly every element carries a bit: salt and
    // header near the start of the order, body blocks after.
    for (const std::uint64_t element : { std::uint64_t(0), count / 3, count / 2, count - 9 }) {
        CJpegCoefficientFile file;
        ReadCoefficients(sealed, file);
        CJpegCoefficientElements elements(file);
        elements.Change(std::uint32_t(element), false);
        elements.WriteBack();
        std::vector<std::uint8_t> changed;
        ASSERT_TRUE(file.WriteMemory(changed).IsOk());
        CSealedPicture tampered;
        ASSERT_TRUE(tampered.LoadFromBytes(changed));
        SealedPayload opened;
        EXPECT_EQ(OpenPayload(tampered.GetElements(), "pw", opened, kCheapKdf), SealedStatus::NotFound) << element;
        EXPECT_TRUE(opened.bytes.empty());
    }
    {
        CJpegCoefficientFile file;
        ReadCoefficients(sealed, file);
        const std::vector<CoefficientIndex> carriers = file.GetCarriers();
        CoefficientIndex zero = 1;
        while (std::binary_search(carriers.begin(), carriers.end(), zero) || zero % 64 == 0)
            ++zero;
        ASSERT_TRUE(file.SetCoefficient(zero, 1));
        std::vector<std::uint8_t> changed;
        ASSERT_TRUE(file.WriteMemory(changed).IsOk());
        CSealedPicture tampered;
        ASSERT_TRUE(tampered.LoadFromBytes(changed));
        ASSERT_EQ(tampered.GetElementCount(), count + 1);
        SealedPayload opened;
        EXPECT_EQ(OpenPayload(tampered.GetElements(), "pw", opened, kCheapKdf), SealedStatus::NotFound);
    }
    CSealedPicture reloaded;
    ASSERT_TRUE(reloaded.LoadFromBytes(sealed));
    SealedPayload opened;
    EXPECT_EQ(OpenPayload(reloaded.GetElements(), "pW", opened, kCheapKdf), SealedStatus::NotFound);
    ASSERT_EQ(OpenPayload(reloaded.GetElements(), "pw", opened, kCheapKdf), SealedStatus::Ok);
    EXPECT_EQ(opened.bytes, payload.bytes);

    CSealedPicture again;
    ASSERT_TRUE(again.LoadFromBytes(cover));
    options.salt = nullptr; // a fresh random salt
    ASSERT_EQ(SealPayload(again.GetElements(), "pw", payload, options), SealedStatus::Ok);
    const std::string secondPath = (m_scratch / "second.jpg").string();
    ASSERT_TRUE(again.Save(secondPath));
    CJpegCoefficientFile first;
    ReadCoefficients(sealed, first);
    CJpegCoefficientFile second;
    ReadCoefficients(ReadBytes(secondPath), second);
    std::uint64_t differing = 0;
    for (CoefficientIndex i = 0; i < first.GetCoefficientCount(); ++i)
        differing += first.GetCoefficient(i) != second.GetCoefficient(i);
    // Under another salt the same message sets other bits in another order:
    // about half of the carriers differ.
    EXPECT_GT(differing, count / 4);
}

// A frame header announcing more coefficients than the caller allows is
// refused before its memory is taken; a header cut short is a clear error.
TEST_F(SealedJpegTest, OversizedAndDamagedFilesAreRefusedWithAReason)
{
    std::vector<std::uint8_t> file = MakeJpegCover(m_scratch, kJpegCovers[0], 32, 32);
    for (const SegmentInfo& segment : ListSegments(file)) {
        if (segment.marker == 0xC0) {
            file[segment.offset + 5] = 0xEA; // height 60000
            file[segment.offset + 6] = 0x60;
            file[segment.offset + 7] = 0xEA; // width 60000
            file[segment.offset + 8] = 0x60;
        }
    }
    CSealedPicture picture;
    EXPECT_FALSE(picture.LoadFromBytes(file, 1 << 22));
    EXPECT_NE(picture.GetReason().find("too large"), std::string::npos) << picture.GetReason();
    EXPECT_FALSE(picture.HasElements());

    const std::vector<std::uint8_t> cover = MakeJpegCover(m_scratch, kJpegCovers[0], 32, 32);
    for (const std::size_t length : { std::size_t(2), std::size_t(40), cover.size() / 2 }) {
        EXPECT_FALSE(picture.LoadFromBytes({ cover.begin(), cover.begin() + std::ptrdiff_t(length) })) << length;
        EXPECT_FALSE(picture.GetReason().empty());
    }
}

// The vector of docs/sealed-format.md: a fixed cjpeg file, password
// "Veilmark", salt 00 01 .. 0F, the text "Hi", every step upward.
TEST(SealedJpegVector, KnownAnswer)
{
    CSealedPicture picture;
    ASSERT_TRUE(picture.Load(VEILMARK_SEALED_FIXTURES "/vector.jpg")) << picture.GetReason();
    ASSERT_TRUE(picture.HasElements()) << picture.GetReason();
    EXPECT_EQ(picture.GetElementCount(), 2134u);

    std::uint8_t salt[kSealedSaltBytes];
    for (std::size_t i = 0; i < kSealedSaltBytes; ++i)
        salt[i] = std::uint8_t(i);
    CAlwaysUp up;
    SealOptions options;
    options.salt = salt;
    options.directions = &up;
    SealedPayload payload;
    payload.bytes = { 'H', 'i' };
    SealReport report;
    ASSERT_EQ(SealPayload(picture.GetElements(), "Veilmark", payload, options, &report), SealedStatus::Ok);
    EXPECT_EQ(report.bodyCodeBits, 6u);
    EXPECT_EQ(report.elementsUsed, 1832u); // 320 + 24 blocks of 63
    EXPECT_EQ(report.changes, 208u);

    // The salt's first eight positions (salt bits 0-7 are those of the byte
    // 00), the coefficient each names and its value after embedding: an
    // even magnitude, reached by stepping outward where it was odd.
    struct SaltPosition {
        std::uint32_t element;
        CoefficientIndex coefficient;
        int value;
    };
    const SaltPosition expected[] = { { 404, 2891, -2 }, { 2096, 17736, -8 }, { 694, 4873, 2 }, { 1940, 15234, -2 },
        { 654, 4609, -4 }, { 748, 5265, -2 }, { 294, 2114, -2 }, { 725, 5130, 2 } };
    auto& elements = static_cast<CJpegCoefficientElements&>(picture.GetElements());
    elements.WriteBack();
    CKeyedOrder order(std::uint32_t(elements.Count()));
    CKeyStream stream(SaltOrderKey("Veilmark"));
    order.Draw(8, stream);
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(order.Positions(0, 8)[i], expected[i].element) << i;
        EXPECT_EQ(elements.CoefficientOf(expected[i].element), expected[i].coefficient) << i;
        EXPECT_EQ(picture.GetJpeg()->GetCoefficient(expected[i].coefficient), expected[i].value) << i;
    }
}

} // namespace
