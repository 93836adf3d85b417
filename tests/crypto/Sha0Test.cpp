#include "crypto/Sha0.h"
#include "crypto/PasswordKey.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string Hex(const std::uint8_t* bytes, std::size_t length)
{
    std::string text;
    char pair[3];
    for (std::size_t i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

struct DigestCase {
    std::string input;
    const char* expected;
};

// FIPS 180 (1993) SHA-0 answers: "abc" and the two-block message from the
// standard's appendix, and a million 'a's, which exercises many blocks.
const DigestCase kSha0Cases[] = {
    { "abc", "0164b8a914cd2a5e74c4f7ff082c4d97f1edf880" },
    { "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "d2516ee1acfa5baf33dfc1c471e438449ef134c8" },
    { std::string(1000000, 'a'), "3232affa48628a26653b5aaa44541fd90d690603" },
    { "", "f96cea198ad1dd5617ac084a3d92c6107708c0ef" },
};

TEST(Sha0, KnownAnswers)
{
    for (const auto& testCase : kSha0Cases) {
        const Sha0Digest digest = Sha0(testCase.input.data(), testCase.input.size());
        EXPECT_EQ(Hex(digest.data(), digest.size()), testCase.expected) << "input length " << testCase.input.size();
    }
}

TEST(Sha0, PiecewiseUpdatesGiveTheOneShotDigest)
{
    const std::string message(200, 'x');
    for (std::size_t split : { 0u, 1u, 55u, 56u, 63u, 64u, 65u, 128u, 199u }) {
        CSha0 hash;
        hash.Update(message.data(), split);
        hash.Update(message.data() + split, message.size() - split);
        EXPECT_EQ(hash.Finish(), Sha0(message.data(), message.size())) << "split at " << split;
    }
}

TEST(PasswordKey, CheckIsSha0PrefixAndDiffersFromSha1)
{
    for (const char* password : { "", "secret", "Secret", "a much longer password with spaces" }) {
        const PasswordCheck check = MakePasswordCheck(password);
        const Sha0Digest full = Sha0(password, std::strlen(password));
        EXPECT_TRUE(std::equal(check.begin(), check.end(), full.begin())) << password;

        unsigned char sha1[20];
        unsigned int length = 0;
        ASSERT_EQ(EVP_Digest(password, std::strlen(password), sha1, &length, EVP_sha1(), nullptr), 1);
        EXPECT_FALSE(std::equal(check.begin(), check.end(), sha1)) << password;
    }
    EXPECT_NE(MakePasswordCheck("secret"), MakePasswordCheck("Secret"));
}

TEST(PasswordKey, CipherKeyIsMd5)
{
    // RFC 1321 test suite.
    const CipherKey empty = MakeCipherKey("");
    const CipherKey abc = MakeCipherKey("abc");
    EXPECT_EQ(Hex(empty.data(), empty.size()), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Hex(abc.data(), abc.size()), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(PasswordKey, DigestsStopAtTheFirstZeroByte)
{
    const std::string withZero("abc\0def", 7);
    EXPECT_EQ(MakePasswordCheck(withZero), MakePasswordCheck("abc"));
    EXPECT_EQ(MakeCipherKey(withZero), MakeCipherKey("abc"));
}

} // namespace
