#include "crypto/UnitCipher.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

namespace {

using Block = std::array<std::uint8_t, 8>;

struct BlowfishVector {
    Block key;
    Block plain;
    Block cipher;
};

// Eric Young's published Blowfish test vectors (8-byte keys, big-endian blocks).
const BlowfishVector kVectors[] = {
    { { 0, 0, 0, 0, 0, 0, 0, 0 }, { 0, 0, 0, 0, 0, 0, 0, 0 }, { 0x4E, 0xF9, 0x97, 0x45, 0x61, 0x98, 0xDD, 0x78 } },
    { { 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF }, { 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF },
        { 0x51, 0x86, 0x6F, 0xD5, 0xB8, 0x5E, 0xCB, 0x8A } },
    { { 0x30, 0, 0, 0, 0, 0, 0, 0 }, { 0x10, 0, 0, 0, 0, 0, 0, 0x01 },
        { 0x7D, 0x85, 0x6F, 0x9A, 0x61, 0x30, 0x63, 0xF2 } },
    { { 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF }, { 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11 },
        { 0x61, 0xF9, 0xC3, 0x80, 0x22, 0x81, 0xB0, 0x96 } },
    { { 0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10 }, { 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF },
        { 0x0A, 0xCE, 0xAB, 0x0F, 0xC6, 0xA0, 0xA2, 0x8D } },
};

// Our cipher key is always 16 bytes; Blowfish keys of 8 bytes repeated twice
// give the same schedule, since the key schedule cycles through the key bytes.
CipherKey DoubledKey(const Block& key)
{
    CipherKey doubled;
    std::memcpy(doubled.data(), key.data(), 8);
    std::memcpy(doubled.data() + 8, key.data(), 8);
    return doubled;
}

Block ReverseHalves(const Block& block)
{
    return { block[3], block[2], block[1], block[0], block[7], block[6], block[5], block[4] };
}

TEST(UnitCipher, BytesZeroToSevenAreBlowfishWithReversedHalves)
{
    for (const auto& vector : kVectors) {
        std::uint8_t unit[16] = {};
        const Block reversedPlain = ReverseHalves(vector.plain);
        std::memcpy(unit, reversedPlain.data(), 8);
        for (int i = 8; i < 16; ++i)
            unit[i] = std::uint8_t(0xA0 + i);
        std::uint8_t out[16];
        const CipherKey key = DoubledKey(vector.key);
        EXPECT_EQ(EncryptUnit(key.data(), unit, out), 0);
        Block head;
        std::memcpy(head.data(), out, 8);
        EXPECT_EQ(ReverseHalves(head), vector.cipher);
        EXPECT_EQ(std::memcmp(out + 8, unit + 8, 8), 0) << "bytes 8-15 pass in the clear";

        std::uint8_t back[16];
        EXPECT_EQ(DecryptUnit(key.data(), out, back), 0);
        EXPECT_EQ(std::memcmp(back, unit, 16), 0);
    }
}

TEST(UnitCipher, RoundTripInPlaceAndPositionIndependent)
{
    std::mt19937 random(7);
    CipherKey key;
    for (auto& byte : key)
        byte = std::uint8_t(random());
    const CUnitCipher cipher(key);
    for (int trial = 0; trial < 200; ++trial) {
        std::uint8_t unit[16];
        for (auto& byte : unit)
            byte = std::uint8_t(random());
        std::uint8_t separate[16];
        EncryptUnit(key.data(), unit, separate);
        std::uint8_t inPlace[16];
        std::memcpy(inPlace, unit, 16);
        cipher.Encrypt(inPlace, inPlace);
        ASSERT_EQ(std::memcmp(inPlace, separate, 16), 0) << "cached schedule gives the fresh schedule's output";
        cipher.Decrypt(inPlace, inPlace);
        ASSERT_EQ(std::memcmp(inPlace, unit, 16), 0);
    }
}

TEST(UnitCipher, ZeroUnitGivesKeyDependentHeadAndZeroTail)
{
    const std::uint8_t zeros[16] = {};
    std::uint8_t first[16], second[16];
    const CipherKey keyA = MakeCipherKey("one"), keyB = MakeCipherKey("two");
    EncryptUnit(keyA.data(), zeros, first);
    EncryptUnit(keyB.data(), zeros, second);
    EXPECT_NE(std::memcmp(first, second, 8), 0);
    EXPECT_EQ(std::memcmp(first + 8, zeros, 8), 0);
    EXPECT_EQ(std::memcmp(second + 8, zeros, 8), 0);
}

} // namespace
