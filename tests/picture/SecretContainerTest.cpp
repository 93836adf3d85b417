#include "picture/SecretContainer.h"
#include "crypto/PasswordKey.h"
#include "crypto/UnitCipher.h"

#include "res/Log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A picture that is nothing but a container buffer of a given carrier capacity.
class CMemoryPicture : public CCarrierPicture {
public:
    explicit CMemoryPicture(std::uint32_t capacity)
        : m_buffer(capacity, 0xEE)
    {
        m_dataSpace = DataSpaceForCapacity(capacity);
    }
    bool IsLoaded() const override { return true; }
    std::uint8_t* GetDataBuffer() override { return m_buffer.data() + 16; }
    void MarkSecret() override
    {
        std::memcpy(m_buffer.data(), kContainerMagic, kContainerMagicLength);
        m_bHasSecret = 1;
    }
    void SetPasswordDigest(const std::uint8_t* digest) override { std::memcpy(m_buffer.data() + 6, digest, 10); }
    void GetPasswordDigest(std::uint8_t* digest) const override { std::memcpy(digest, m_buffer.data() + 6, 10); }

    std::vector<std::uint8_t> m_buffer;
};

std::uint32_t LengthWord(const CMemoryPicture& picture)
{
    const std::uint8_t* word = picture.m_buffer.data() + 16;
    return word[0] | (word[1] << 8) | (word[2] << 16) | (std::uint32_t(word[3]) << 24);
}

TEST(SecretContainer, DataSpaceFollowsCapacity)
{
    EXPECT_EQ(DataSpaceForCapacity(0), 0u);
    EXPECT_EQ(DataSpaceForCapacity(19), 0u);
    EXPECT_EQ(DataSpaceForCapacity(20), 0u);
    EXPECT_EQ(DataSpaceForCapacity(36), 16u);
    EXPECT_EQ(DataSpaceForCapacity(3750), 3728u);
    EXPECT_EQ(DataSpaceForCapacity(1200), 1168u);
}

TEST(SecretContainer, LayoutAndRoundTripForMessageLengths)
{
    const std::uint32_t capacity = 120; // data space 96
    for (std::size_t length : { 0u, 15u, 16u, 95u }) {
        CMemoryPicture picture(capacity);
        const std::string message(length, 'm');
        ASSERT_EQ(WriteContainer(picture, "pw", message), ContainerStatus::Ok) << length;
        EXPECT_EQ(std::memcmp(picture.m_buffer.data(), "VMHD01", 6), 0);
        const PasswordCheck check = MakePasswordCheck("pw");
        EXPECT_EQ(std::memcmp(picture.m_buffer.data() + 6, check.data(), 10), 0);
        EXPECT_EQ(LengthWord(picture), length + 1);
        // Units past the message stay zero; the tail past the data space is untouched.
        const std::size_t units = CipheredLength(length) / 16;
        EXPECT_EQ(units, length < 16 ? 1u : (length + 16) / 16);
        for (std::size_t i = 20 + 16 * units; i < 20 + 96; ++i)
            ASSERT_EQ(picture.m_buffer[i], 0) << "offset " << i;
        for (std::size_t i = 20 + 96; i < capacity; ++i)
            ASSERT_EQ(picture.m_buffer[i], 0xEE) << "tail offset " << i;

        std::string revealed = "old";
        ASSERT_EQ(ReadContainer(picture, "pw", revealed), ContainerStatus::Ok);
        EXPECT_EQ(revealed, message);
    }
}

TEST(SecretContainer, RefusalsChangeNothing)
{
    CMemoryPicture picture(120);
    const std::vector<std::uint8_t> before = picture.m_buffer;
    EXPECT_EQ(WriteContainer(picture, "pw", std::string(96, 'x')), ContainerStatus::MessageTooLong);
    EXPECT_EQ(WriteContainer(picture, std::string(512, 'p'), "hi"), ContainerStatus::PasswordTooLong);
    EXPECT_EQ(WriteContainer(picture, "pw", std::string("a\0b", 3)), ContainerStatus::MessageHasZeroByte);
    EXPECT_EQ(picture.m_buffer, before);

    CMemoryPicture tiny(35); // below one unit of data space
    EXPECT_EQ(tiny.GetDataSpace(), 0u);
    EXPECT_EQ(WriteContainer(tiny, "pw", ""), ContainerStatus::MessageTooLong);
    EXPECT_NE(DescribeContainerStatus(ContainerStatus::MessageTooLong, 96).find("95 bytes"), std::string::npos);
}

TEST(SecretContainer, PasswordCheckAndLogOrder)
{
    CMemoryPicture picture(120);
    std::string log;
    CScopedLogSink sink([&log](std::string_view text) { log += text; });
    ASSERT_EQ(WriteContainer(picture, "Secret", "hello"), ContainerStatus::Ok);
    EXPECT_EQ(log, "Generate the 'Key'.\r\nEncryption Start.\r\nEcryption End.\r\n");

    log.clear();
    std::string message = "kept";
    EXPECT_EQ(ReadContainer(picture, "secret", message), ContainerStatus::WrongPassword);
    EXPECT_EQ(message, "kept");
    EXPECT_EQ(log, "") << "nothing is deciphered for a wrong password";
    ASSERT_EQ(ReadContainer(picture, "Secret", message), ContainerStatus::Ok);
    EXPECT_EQ(message, "hello");
    EXPECT_EQ(log, "Generate the 'Key'.\r\nDecryption Start.\r\nDecryption End.\r\n");
}

TEST(SecretContainer, RevealIgnoresTheLengthWordAndNeedsTheMagic)
{
    CMemoryPicture picture(120);
    ASSERT_EQ(WriteContainer(picture, "pw", "message intact"), ContainerStatus::Ok);
    picture.m_buffer[16] = 3;
    std::string message;
    ASSERT_EQ(ReadContainer(picture, "pw", message), ContainerStatus::Ok);
    EXPECT_EQ(message, "message intact");

    CMemoryPicture normal(120);
    EXPECT_EQ(ReadContainer(normal, "pw", message), ContainerStatus::NoSecretData);
    const std::uint8_t magicOnlyThree[] = { 'V', 'M', 'H', 'X', 'Y', 'Z' };
    EXPECT_TRUE(StartsWithContainerMagic(magicOnlyThree, 6));
    EXPECT_FALSE(StartsWithContainerMagic(magicOnlyThree, 2));
    const std::uint8_t lowerCase[] = { 'v', 'M', 'H' };
    EXPECT_FALSE(StartsWithContainerMagic(lowerCase, 3));
}

} // namespace

TEST(SecretContainer, RevealStopsAtTheFirstZeroByteOrTheEndOfTheDataSpace)
{
    // Areas written by another program: a zero byte in the middle of a unit
    // with units of text after it, and text in every byte of the data space.
    struct Case {
        const char* name;
        std::string area; // the plain data space
        std::string expected;
    };
    const std::string full(96, 'z');
    std::string stopped = std::string(21, 'a') + '\0' + std::string(74, 'b');
    const Case cases[] = {
        { "zero inside the second unit", stopped, std::string(21, 'a') },
        { "no zero at all", full, full },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        CMemoryPicture picture(120);
        ASSERT_EQ(WriteContainer(picture, "pw", ""), ContainerStatus::Ok);
        const CUnitCipher cipher(MakeCipherKey("pw"));
        for (std::size_t unit = 0; unit < 96; unit += kCipherUnitLength)
            cipher.Encrypt(
                reinterpret_cast<const std::uint8_t*>(test.area.data()) + unit, picture.m_buffer.data() + 20 + unit);
        std::string message;
        ASSERT_EQ(ReadContainer(picture, "pw", message), ContainerStatus::Ok);
        EXPECT_EQ(test.expected, message);
    }
}
