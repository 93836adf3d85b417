#include "sealed/SealedContainer.h"
#include "sealed/KeyedOrder.h"
#include "sealed/MasterKeyDerivation.h"
#include "sealed/MatrixEmbedding.h"
#include "support/SealedTestSupport.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <numeric>

namespace {

class CAlwaysUp : public CDirectionSource {
public:
    bool Up() override { return true; }
};

TEST(KeyedOrder, SaltAndKeyStreamsTogetherDrawEveryElementOnce)
{
    ASSERT_TRUE(StartSodium());
    constexpr std::uint32_t kCount = 5000;
    // Kept sparse throughout, made whole at once, or made whole midway: the
    // same shuffle.
    std::vector<std::vector<std::uint32_t>> drawn;
    for (int whole : { 0, 1, 2 }) {
        CKeyedOrder order(kCount);
        if (whole == 1)
            order.Expect(kCount);
        CKeyStream first(SaltOrderKey("one"));
        CKeyStream second(SaltOrderKey("two"));
        order.Draw(128, first);
        order.Draw(100, second);
        if (whole == 2)
            order.Expect(kCount);
        order.Draw(kCount - 228, second);
        const auto positions = order.Positions(0, kCount);
        drawn.emplace_back(positions.begin(), positions.end());
    }
    EXPECT_EQ(drawn[0], drawn[1]);
    EXPECT_EQ(drawn[0], drawn[2]);
    std::vector<std::uint32_t> sorted = drawn[0];
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::uint32_t> all(kCount);
    std::iota(all.begin(), all.end(), 0u);
    EXPECT_EQ(sorted, all);
    // A keyed order, not the identity or a rotation of it.
    EXPECT_LT(std::count_if(drawn[0].begin(), drawn[0].begin() + 128, [](std::uint32_t p) { return p < 128; }), 20);
}

TEST(KeyedOrder, BelowStaysInRangeAndCoversIt)
{
    ASSERT_TRUE(StartSodium());
    CKeyStream stream(SaltOrderKey("range"));
    for (std::uint64_t bound : { 1ull, 2ull, 3ull, 7ull, 1000ull, (1ull << 63) + 5 }) {
        std::vector<int> seen(std::size_t(std::min<std::uint64_t>(bound, 1000)), 0);
        for (int i = 0; i < 20000; ++i) {
            const std::uint64_t value = stream.Below(bound);
            ASSERT_LT(value, bound);
            if (bound <= 1000)
                ++seen[std::size_t(value)];
        }
        if (bound <= 1000) {
            EXPECT_EQ(std::count(seen.begin(), seen.end(), 0), 0) << bound;
        }
    }
}

struct PlanCase {
    std::uint64_t bits;
    std::uint64_t available;
    bool fits;
    unsigned codeBits;
};

class MatrixPlanTable : public testing::TestWithParam<PlanCase> { };

TEST_P(MatrixPlanTable, PicksTheLargestCodeThatFits)
{
    MatrixPlan plan;
    ASSERT_EQ(PlanMatrixCode(GetParam().bits, GetParam().available, plan), GetParam().fits);
    EXPECT_EQ(plan.codeBits, GetParam().codeBits);
    if (GetParam().fits) {
        EXPECT_LE(plan.Elements(), GetParam().available);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MatrixPlanTable,
    testing::Values(PlanCase { 100, 99, false, 0 }, PlanCase { 100, 100, true, 1 }, PlanCase { 100, 149, true, 1 },
        PlanCase { 100, 150, true, 2 }, // 50 blocks of 3
        PlanCase { 1000, 10000, true, 5 }, // 10 % full: 200 blocks of 31
        PlanCase { 1000, 6199, true, 4 }, PlanCase { 8, 1u << 20, true, 12 }, PlanCase { 1, 4095, true, 12 }));

TEST(MatrixEmbedding, RoundTripsWithAtMostOneChangePerBlock)
{
    for (unsigned k = 1; k <= kMaxCodeBits; ++k) {
        const std::uint64_t bits = 8 * 37;
        const MatrixPlan plan { k, (bits + k - 1) / k };
        ByteCover cover(std::size_t(plan.Elements()), k);
        const std::vector<std::uint8_t> before = cover.bytes;
        CSampleGridElements elements = cover.Elements();
        std::vector<std::uint32_t> positions(std::size_t(plan.Elements()));
        std::iota(positions.rbegin(), positions.rend(), 0u);
        const std::vector<std::uint8_t> data = RandomBytes(37, 100 + k);
        CAlwaysUp up;
        const std::uint64_t changes = EmbedMatrix(elements, positions, plan, data, bits, up);

        std::vector<std::uint8_t> back(37, 0);
        ASSERT_TRUE(ExtractMatrix(elements, positions, plan, back, bits)) << k;
        EXPECT_EQ(back, data) << k;
        std::uint64_t changed = 0;
        for (std::uint64_t block = 0; block < plan.blocks; ++block) {
            int inBlock = 0;
            for (std::uint64_t i = 0; i < plan.BlockLength(); ++i) {
                const std::size_t at = positions[std::size_t(block * plan.BlockLength() + i)];
                if (cover.bytes[at] != before[at]) {
                    ++inBlock;
                    EXPECT_EQ(std::abs(int(cover.bytes[at]) - int(before[at])), 1);
                }
            }
            EXPECT_LE(inBlock, 1);
            changed += std::uint64_t(inBlock);
        }
        EXPECT_EQ(changed, changes);
    }
}

TEST(MatrixEmbedding, NonZeroPaddingIsRefused)
{
    // 10 bits in blocks of 3 bits: the last block carries 1 bit and 2 zeros.
    const MatrixPlan plan { 3, 4 };
    ByteCover cover(28);
    CSampleGridElements elements = cover.Elements();
    std::vector<std::uint32_t> positions(28);
    std::iota(positions.begin(), positions.end(), 0u);
    const std::vector<std::uint8_t> data { 0xA5, 0xC0 };
    CAlwaysUp up;
    EmbedMatrix(elements, positions, plan, data, 10, up);
    std::vector<std::uint8_t> back(2, 0);
    ASSERT_TRUE(ExtractMatrix(elements, positions, plan, back, 10));
    EXPECT_EQ(back, data);
    elements.Change(positions[21 + 0], true); // syndrome of the last block changes by 1: a padding bit
    std::fill(back.begin(), back.end(), 0);
    EXPECT_FALSE(ExtractMatrix(elements, positions, plan, back, 10));
}

struct RoundTripCase {
    SealedKind kind;
    std::string name;
    std::int64_t length; // -1: the whole capacity
};

class SealedRoundTrip : public testing::TestWithParam<RoundTripCase> { };

TEST_P(SealedRoundTrip, OpensToTheSamePayload)
{
    ByteCover cover(6000);
    CSampleGridElements elements = cover.Elements();
    SealedPayload payload;
    payload.kind = GetParam().kind;
    payload.name = GetParam().name;
    const std::uint64_t capacity = SealedCapacity(elements.Count(), payload.name.size());
    EXPECT_EQ(capacity, (6000 - 320) / 8 - 16 - payload.name.size());
    payload.bytes = RandomBytes(GetParam().length < 0 ? capacity : std::size_t(GetParam().length), 3);
    SealOptions options;
    options.kdf = kCheapKdf;
    ASSERT_EQ(SealPayload(elements, "pass word", payload, options), SealedStatus::Ok);

    SealedPayload opened;
    ASSERT_EQ(OpenPayload(elements, "pass word", opened, kCheapKdf), SealedStatus::Ok);
    EXPECT_EQ(opened.kind, payload.kind);
    EXPECT_EQ(opened.name, payload.name);
    EXPECT_EQ(opened.bytes, payload.bytes);
    EXPECT_EQ(OpenPayload(elements, "pass worD", opened, kCheapKdf), SealedStatus::NotFound);
}

INSTANTIATE_TEST_SUITE_P(Payloads, SealedRoundTrip,
    testing::Values(RoundTripCase { SealedKind::Text, "", 0 }, RoundTripCase { SealedKind::Text, "", 1 },
        RoundTripCase { SealedKind::Text, "", 300 }, RoundTripCase { SealedKind::Text, "", -1 },
        RoundTripCase { SealedKind::File, "a", 0 }, RoundTripCase { SealedKind::File, "report.pdf", 200 },
        RoundTripCase { SealedKind::File, std::string(255, 'n'), -1 }));

TEST(SealedContainer, RefusalsLeaveTheCoverUnchanged)
{
    ByteCover cover(6000);
    const std::vector<std::uint8_t> before = cover.bytes;
    CSampleGridElements elements = cover.Elements();
    SealOptions options;
    options.kdf = kCheapKdf;
    SealedPayload tooLong;
    tooLong.bytes.resize(std::size_t(SealedCapacity(6000)) + 1);
    EXPECT_EQ(SealPayload(elements, "pw", tooLong, options), SealedStatus::DoesNotFit);
    for (const std::string& name : { std::string(), std::string(256, 'x'), std::string("a/b"), std::string("a\0b", 3),
             std::string(".."), std::string(".") }) {
        SealedPayload file;
        file.kind = SealedKind::File;
        file.name = name;
        EXPECT_EQ(SealPayload(elements, "pw", file, options), SealedStatus::NameInvalid) << name;
    }
    SealedPayload namedText;
    namedText.name = "x";
    EXPECT_EQ(SealPayload(elements, "pw", namedText, options), SealedStatus::NameInvalid);
    ByteCover tiny(kSealedFixedElements + 8 * kSealedTagBytes - 1);
    CSampleGridElements tinyElements = tiny.Elements();
    EXPECT_FALSE(CanCarrySealed(tinyElements.Count()));
    EXPECT_EQ(SealPayload(tinyElements, "pw", SealedPayload {}, options), SealedStatus::DoesNotFit);
    EXPECT_EQ(cover.bytes, before);
}

TEST(SealedContainer, SmallestCoverTakesAnEmptyMessage)
{
    ByteCover cover(kSealedFixedElements + 8 * kSealedTagBytes);
    CSampleGridElements elements = cover.Elements();
    SealOptions options;
    options.kdf = kCheapKdf;
    ASSERT_EQ(SealPayload(elements, "", SealedPayload {}, options), SealedStatus::Ok);
    SealedPayload opened;
    opened.bytes = { 1 };
    ASSERT_EQ(OpenPayload(elements, "", opened, kCheapKdf), SealedStatus::Ok);
    EXPECT_TRUE(opened.bytes.empty());
}

TEST(SealedContainer, SameMessageTwiceGivesDifferentBits)
{
    ByteCover first(20000, 5);
    ByteCover second(20000, 5);
    CSampleGridElements a = first.Elements();
    CSampleGridElements b = second.Elements();
    SealedPayload payload;
    payload.bytes.assign(100, 'x');
    SealOptions options;
    options.kdf = kCheapKdf;
    ASSERT_EQ(SealPayload(a, "same", payload, options), SealedStatus::Ok);
    ASSERT_EQ(SealPayload(b, "same", payload, options), SealedStatus::Ok);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < first.bytes.size(); ++i)
        differing += (first.bytes[i] & 1) != (second.bytes[i] & 1);
    // Fresh salts: different keys, positions and ciphertexts.
    EXPECT_GT(differing, 200u);
}

// A master key derived ahead on its own thread seals exactly as one derived
// in place for its salt; it seals one message only, and never one under
// another password.
TEST(SealedContainer, KeyDerivedAheadSealsOnceAndOnlyForItsPassword)
{
    SealedPayload payload;
    payload.bytes.assign(100, 'x');
    CAlwaysUp up;
    CMasterKeyDerivation derivation;
    ASSERT_TRUE(derivation.Start("same", kCheapKdf));
    const std::vector<std::uint8_t> salt(derivation.Salt(), derivation.Salt() + kSealedSaltBytes);
    const auto seal = [&](std::string_view password, const std::uint8_t* fixedSalt, CMasterKeyDerivation* derived) {
        ByteCover cover(20000, 5);
        CSampleGridElements elements = cover.Elements();
        SealOptions options;
        options.kdf = kCheapKdf;
        options.directions = &up;
        options.salt = fixedSalt;
        options.derived = derived;
        EXPECT_EQ(SealPayload(elements, password, payload, options), SealedStatus::Ok);
        SealedPayload opened;
        EXPECT_EQ(OpenPayload(elements, password, opened, kCheapKdf), SealedStatus::Ok);
        EXPECT_EQ(opened.bytes, payload.bytes);
        return cover.bytes;
    };
    EXPECT_FALSE(derivation.IsFor("other", kCheapKdf));
    seal("other", nullptr, &derivation); // not for this password: derives its own
    const std::vector<std::uint8_t> ahead = seal("same", nullptr, &derivation);
    EXPECT_EQ(ahead, seal("same", salt.data(), nullptr));
    EXPECT_FALSE(derivation.IsFor("same", kCheapKdf));
    const std::vector<std::uint8_t> again = seal("same", salt.data(), &derivation);
    EXPECT_EQ(again, ahead) << "a used key must leave the salt to the caller";
    EXPECT_NE(seal("same", nullptr, &derivation), ahead);
}

TEST(SealedContainer, EverySingleChangedElementIsCaught)
{
    ByteCover cover(1400, 9);
    CSampleGridElements elements = cover.Elements();
    SealedPayload payload;
    payload.kind = SealedKind::File;
    payload.name = "n.txt";
    payload.bytes = RandomBytes(40, 4);
    SealOptions options;
    options.kdf = kCheapKdf;
    SealReport report;
    ASSERT_EQ(SealPayload(elements, "pw", payload, options, &report), SealedStatus::Ok);
    ASSERT_GT(report.bodyCodeBits, 1u); // the body is matrix-coded, so padding matters too
    const std::vector<std::uint8_t> sealed = cover.bytes;
    std::size_t caught = 0;
    for (std::uint32_t i = 0; i < cover.bytes.size(); ++i) {
        elements.Change(i, true);
        SealedPayload opened;
        const SealedStatus status = OpenPayload(elements, "pw", opened, kCheapKdf);
        if (status == SealedStatus::Ok)
            EXPECT_EQ(opened.bytes, payload.bytes) << "a changed element " << i << " gave another message";
        else
            ++caught;
        cover.bytes = sealed;
    }
    // Exactly the elements that carry something fail when changed.
    EXPECT_EQ(caught, report.elementsUsed);
}

TEST(SealedContainer, TenPercentOfCapacityChangesUnderFivePercentOfElements)
{
    constexpr std::size_t kElements = 400000;
    ByteCover cover(kElements, 11);
    const std::vector<std::uint8_t> before = cover.bytes;
    CSampleGridElements elements = cover.Elements();
    SealedPayload payload;
    payload.bytes = RandomBytes(std::size_t(SealedCapacity(kElements) / 10), 12);
    SealOptions options;
    options.kdf = kCheapKdf;
    SealReport report;
    ASSERT_EQ(SealPayload(elements, "pw", payload, options, &report), SealedStatus::Ok);
    std::size_t changed = 0;
    for (std::size_t i = 0; i < kElements; ++i) {
        changed += cover.bytes[i] != before[i];
        ASSERT_LE(std::abs(int(cover.bytes[i]) - int(before[i])), 1);
    }
    EXPECT_EQ(changed, report.changes);
    EXPECT_EQ(report.bodyCodeBits, 5u);
    EXPECT_LT(double(changed) / kElements, 0.025);
    SealedPayload opened;
    ASSERT_EQ(OpenPayload(elements, "pw", opened, kCheapKdf), SealedStatus::Ok);
    EXPECT_EQ(opened.bytes, payload.bytes);
}

TEST(SealedContainer, SaturatedSamplesStepInward)
{
    ByteCover cover(3000);
    for (std::size_t i = 0; i < cover.bytes.size(); ++i)
        cover.bytes[i] = i % 2 ? 0xFF : 0x00;
    const std::vector<std::uint8_t> before = cover.bytes;
    CSampleGridElements elements = cover.Elements();
    SealedPayload payload;
    payload.bytes = RandomBytes(200, 2);
    SealOptions options;
    options.kdf = kCheapKdf;
    ASSERT_EQ(SealPayload(elements, "pw", payload, options), SealedStatus::Ok);
    for (std::size_t i = 0; i < cover.bytes.size(); ++i)
        ASSERT_TRUE(cover.bytes[i] == before[i] || cover.bytes[i] == (i % 2 ? 0xFE : 0x01)) << i;
    SealedPayload opened;
    ASSERT_EQ(OpenPayload(elements, "pw", opened, kCheapKdf), SealedStatus::Ok);
    EXPECT_EQ(opened.bytes, payload.bytes);
}

TEST(SealedContainer, FormatParametersRoundTrip)
{
    ByteCover cover(4000);
    CSampleGridElements elements = cover.Elements();
    SealedPayload payload;
    payload.bytes = { 'h', 'i' };
    ASSERT_EQ(SealPayload(elements, "pw", payload), SealedStatus::Ok);
    SealedPayload opened;
    ASSERT_EQ(OpenPayload(elements, "pw", opened), SealedStatus::Ok);
    EXPECT_EQ(opened.bytes, payload.bytes);
    // The cheap parameters derive another key: the format's cost is fixed.
    EXPECT_EQ(OpenPayload(elements, "pw", opened, kCheapKdf), SealedStatus::NotFound);
}

} // namespace

namespace {

// The test vector of docs/sealed-format.md, checked independently by
// sealed_oracle.py: password "Veilmark", salt 00 01 .. 0F, a cover of 4096
// byte samples of value (7i + 3) mod 256, the text "Hi", every step upward.
TEST(SealedContainer, KnownAnswerVector)
{
    ByteCover cover(4096);
    for (std::size_t i = 0; i < cover.bytes.size(); ++i)
        cover.bytes[i] = std::uint8_t(i * 7 + 3);
    CSampleGridElements elements = cover.Elements();
    std::array<std::uint8_t, kSealedSaltBytes> salt {};
    std::iota(salt.begin(), salt.end(), std::uint8_t(0));
    CAlwaysUp up;
    SealOptions options;
    options.salt = salt.data();
    options.directions = &up;
    SealedPayload payload;
    payload.bytes = { 'H', 'i' };
    SealReport report;
    ASSERT_EQ(SealPayload(elements, "Veilmark", payload, options, &report), SealedStatus::Ok);
    EXPECT_EQ(report.bodyCodeBits, 7u);
    EXPECT_EQ(report.elementsUsed, 2987u);

    // Salt bits 0-7 are those of 0x00, at these positions.
    const std::uint32_t saltPositions[] = { 775, 4024, 1332, 3724, 1254, 1434, 560, 1388 };
    const std::uint8_t saltValues[] = { 52, 12, 112, 216, 78, 58, 84, 248 };
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(cover.bytes[saltPositions[i]], saltValues[i]) << i;
    const std::uint32_t headerPositions[] = { 1339, 2178, 1219, 3560, 712, 2166, 4064, 2837 };
    const char headerBits[] = "01101111";
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(cover.bytes[headerPositions[i]] & 1, unsigned(headerBits[i] - '0')) << i;
    CSealedKey master;
    ASSERT_TRUE(DeriveMasterKey("Veilmark", salt.data(), kSealedKdf, master));
    EXPECT_EQ(master.data()[0], 0xFF);
    EXPECT_EQ(master.data()[31], 0x05);
}

} // namespace
