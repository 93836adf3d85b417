#include "picture/BmpCarrier.h"

#include "support/BmpMaker.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

struct KnownAnswer {
    const char* name;
    int bitCount;
    std::vector<std::uint8_t> before;
    std::uint8_t containerByte;
    std::vector<std::uint8_t> after;
};

void PrintTo(const KnownAnswer& value, std::ostream* stream) { *stream << value.name; }

class BmpCarrierKnownAnswer : public testing::TestWithParam<KnownAnswer> { };

TEST_P(BmpCarrierKnownAnswer, WritesExactBitsAndReadsThemBack)
{
    const KnownAnswer& answer = GetParam();
    const BmpHidingMode mode = HidingModeForBitCount(answer.bitCount);
    std::vector<std::uint8_t> pixels = answer.before;
    const std::uint8_t container[1] = { answer.containerByte };
    EmbedContainer(mode, pixels, container);
    EXPECT_EQ(pixels, answer.after);
    std::uint8_t readBack[1] = { 0 };
    ExtractContainer(mode, pixels, readBack);
    EXPECT_EQ(readBack[0], answer.containerByte);
}

std::vector<std::uint8_t> Repeat(std::uint8_t value, std::size_t count)
{
    return std::vector<std::uint8_t>(count, value);
}

INSTANTIATE_TEST_SUITE_P(Modes, BmpCarrierKnownAnswer,
    testing::Values(KnownAnswer { "Depth1FfIntoZero", 1, { 0x00, 0x00 }, 0xFF, { 0xAA, 0xAA } },
        KnownAnswer { "Depth1FfIntoFf", 1, { 0xFF, 0xFF }, 0xFF, { 0xFF, 0xFF } },
        KnownAnswer { "Depth1ZeroIntoFf", 1, { 0xFF, 0xFF }, 0x00, { 0x55, 0x55 } },
        KnownAnswer { "Depth1Mixed", 1, { 0x00, 0x00 }, 0x96, { 0x82, 0x28 } },
        KnownAnswer { "Depth4", 4, Repeat(0xF0, 8), 0xA5, { 0xF1, 0xF0, 0xF1, 0xF0, 0xF0, 0xF1, 0xF0, 0xF1 } },
        KnownAnswer { "Depth24", 24, Repeat(0x33, 8), 0x0F, { 0x32, 0x32, 0x32, 0x32, 0x33, 0x33, 0x33, 0x33 } },
        KnownAnswer { "Depth8", 8, Repeat(0x00, 16), 0x81, { 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0 } },
        KnownAnswer { "Depth16", 16, Repeat(0x7F, 16), 0x41,
            { 0x7F, 0x7F, 0xFF, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0xFF, 0x7F } },
        KnownAnswer { "Depth32", 32, { 0x11, 0x22, 0x33, 0x44 }, 0x5A, { 0x5A, 0x22, 0x33, 0x44 } }),
    [](const auto& info) { return std::string(info.param.name); });

class BmpCarrierRoundTrip : public testing::TestWithParam<int> { };

// Random pixels and container, a pixel length that leaves a partial group at
// the end: the container comes back whole and only carrier bits change.
TEST_P(BmpCarrierRoundTrip, ChangesOnlyCarrierBits)
{
    const int bitCount = GetParam();
    const BmpHidingMode mode = HidingModeForBitCount(bitCount);
    const std::size_t group = PixelBytesPerContainerByte(mode);
    const std::size_t capacity = 257;
    std::mt19937 generator { unsigned(bitCount) };
    std::vector<std::uint8_t> pixels(capacity * group + group - 1);
    for (auto& byte : pixels)
        byte = std::uint8_t(generator());
    std::vector<std::uint8_t> container(capacity);
    for (auto& byte : container)
        byte = std::uint8_t(generator());
    ASSERT_EQ(CarrierCapacity(mode, pixels.size()), capacity);

    const std::vector<std::uint8_t> before = pixels;
    EmbedContainer(mode, pixels, container);
    std::vector<std::uint8_t> readBack(capacity);
    ExtractContainer(mode, pixels, readBack);
    EXPECT_EQ(readBack, container);

    const std::vector<std::uint8_t> mask = CarrierBitMask(bitCount, pixels.size());
    for (std::size_t i = 0; i < pixels.size(); ++i)
        ASSERT_EQ(pixels[i] & ~mask[i], before[i] & ~mask[i]) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(Depths, BmpCarrierRoundTrip, testing::Values(1, 4, 8, 16, 24, 32));

TEST(BmpCarrier, OtherDepthsCarryNothing)
{
    for (int bitCount : { 0, 2, 15, 48 })
        EXPECT_EQ(CarrierCapacity(HidingModeForBitCount(bitCount), 100000), 0u) << bitCount;
}

} // namespace
