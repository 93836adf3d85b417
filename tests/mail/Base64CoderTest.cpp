#include "mail/Base64Coder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) { return { text.begin(), text.end() }; }

std::string Encode(const std::vector<std::uint8_t>& bytes)
{
    CBase64Coder coder;
    return coder.ToBase64(bytes.data(), static_cast<int>(bytes.size()));
}

std::vector<std::uint8_t> Decode(CBase64Coder& coder, const std::string& text)
{
    std::vector<std::uint8_t> buffer(text.size() + 1, 0xAA);
    const int count = coder.FromBase64(text.c_str(), buffer);
    buffer.resize(static_cast<std::size_t>(count));
    return buffer;
}

struct KnownAnswer {
    const char* bytes;
    const char* text;
};

// RFC 4648 section 10.
constexpr KnownAnswer kRfc4648[] = {
    { "", "" },
    { "f", "Zg==" },
    { "fo", "Zm8=" },
    { "foo", "Zm9v" },
    { "foob", "Zm9vYg==" },
    { "fooba", "Zm9vYmE=" },
    { "foobar", "Zm9vYmFy" },
};

TEST(Base64Coder, EncodesAndDecodesTheRfc4648Vectors)
{
    for (const auto& vector : kRfc4648) {
        SCOPED_TRACE(vector.bytes);
        EXPECT_EQ(Encode(Bytes(vector.bytes)), vector.text);
        CBase64Coder coder;
        EXPECT_EQ(Decode(coder, vector.text), Bytes(vector.bytes));
    }
}

TEST(Base64Coder, EncodesEveryByteValueAndAFullLineChunk)
{
    std::vector<std::uint8_t> all(256);
    for (int value = 0; value < 256; ++value)
        all[static_cast<std::size_t>(value)] = static_cast<std::uint8_t>(value);
    const std::string text = Encode(all);
    EXPECT_EQ(text.substr(0, 12), "AAECAwQFBgcI");
    EXPECT_EQ(text.substr(text.size() - 8), "/P3+/w==");
    CBase64Coder coder;
    EXPECT_EQ(Decode(coder, text), all);

    // 54 bytes are one mail line: 72 characters and no padding.
    const std::string line = Encode(std::vector<std::uint8_t>(54, 0xFF));
    EXPECT_EQ(line, std::string(72, '/'));
}

TEST(Base64Coder, RefusesTextOutsideTheAlphabet)
{
    for (const char* text : { "Zm9v\r\nYmFy", "Zm9v YmFy", "Zm9v*", "Zm9v\xC1" }) {
        SCOPED_TRACE(text);
        CBase64Coder coder;
        std::vector<std::uint8_t> buffer(32);
        EXPECT_EQ(coder.FromBase64(text, buffer), 0);
    }
}

TEST(Base64Coder, DecodesTheSameTextTwiceAlikeAndGuardsItsBuffer)
{
    CBase64Coder coder;
    EXPECT_EQ(Decode(coder, "Zm9vYg=="), Bytes("foob"));
    EXPECT_EQ(Decode(coder, "Zm9vYg=="), Bytes("foob"));

    std::vector<std::uint8_t> tooSmall(4);
    EXPECT_EQ(coder.FromBase64("Zm9v", tooSmall), 0) << "needs the text length plus one";
    EXPECT_EQ(coder.FromBase64(nullptr, tooSmall), 0);
    EXPECT_EQ(coder.ToBase64(nullptr, 3), "");
}

} // namespace
