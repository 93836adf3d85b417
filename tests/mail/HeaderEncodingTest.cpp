#include "mail/HeaderEncoding.h"

#include "mail/Base64Coder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

namespace {

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

// Removes the folding: RFC 5322 2.2.3 unfolding drops each CR LF.
std::string Unfold(std::string text)
{
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;)
        text.erase(at, 2);
    return text;
}

TEST(HeaderEncoding, KeepsPlainTextAndEncodesTheRest)
{
    const struct {
        std::string text;
        std::string encoded;
    } cases[] = {
        { "Holiday pictures", "Holiday pictures" },
        { "", "" },
        { "Gr\xC3\xBC\xC3\x9F"
          "e aus K\xC3\xB6ln",
            "=?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?=" },
        // Text that a reader would take for an encoded word is encoded itself.
        { "a =?x?= b", "=?UTF-8?B?YSA9P3g/PSBi?=" },
        { "tab\there", "=?UTF-8?B?dGFiCWhlcmU=?=" },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.text);
        EXPECT_EQ(EncodeUnstructured(test.text), test.encoded);
    }
}

TEST(HeaderEncoding, SplitsLongTextIntoWordsOfWholeCharacters)
{
    // 40 three-byte characters: a word boundary at a fixed byte count would
    // cut one of them in two.
    std::string text;
    for (int count = 0; count < 40; ++count)
        text += "\xE6\x9D\xB1";
    const std::string encoded = EncodeUnstructured(text);
    const std::regex word(R"(=\?UTF-8\?B\?([A-Za-z0-9+/=]+)\?=)");
    std::string decoded;
    std::size_t words = 0;
    for (auto match = std::sregex_iterator(encoded.begin(), encoded.end(), word); match != std::sregex_iterator();
         ++match, ++words) {
        EXPECT_LE(match->length(0), 75) << "RFC 2047 2";
        const std::string base64 = (*match)[1];
        std::vector<std::uint8_t> bytes(base64.size() + 1);
        CBase64Coder coder;
        const int count = coder.FromBase64(base64.c_str(), bytes);
        ASSERT_GT(count, 0);
        ASSERT_EQ(count % 3, 0) << "each word holds whole characters";
        decoded.append(bytes.begin(), bytes.begin() + count);
    }
    EXPECT_GT(words, 1u);
    EXPECT_EQ(decoded, text);
}

TEST(HeaderEncoding, WritesDisplayNamesSoThatTheyReadBackWhole)
{
    const struct {
        std::string name;
        std::string written;
    } cases[] = {
        { "Bob ", "Bob" },
        { "Smith, John", "\"Smith, John\"" },
        { "J. R. \"Bob\" Dobbs", "\"J. R. \\\"Bob\\\" Dobbs\"" },
        { " J\xC3\xB6rg M\xC3\xBCller", "=?UTF-8?B?SsO2cmcgTcO8bGxlcg==?=" },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(EncodeDisplayName(test.name), test.written);
    }
    EXPECT_FALSE(DisplayNameNeedsEncoding(" Plain Name "));
}

TEST(HeaderEncoding, FoldsLongLinesAtSpacesAndBetweenListEntries)
{
    std::string words = "Subject:";
    for (int count = 0; count < 30; ++count)
        words += " word" + std::to_string(count);
    std::string list = "To: ";
    for (int count = 0; count < 8; ++count)
        list += (count ? "," : "") + std::string("<receiver") + std::to_string(count) + "@example.com>";
    list += ",\"Smith,John\" <js@example.com>";

    const struct {
        std::string line;
        bool commas;
        std::string unfolded; // what a reader gets back
    } cases[] = {
        { "Subject: short", false, "Subject: short" },
        { words, false, words },
        { list, true, "" },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.line);
        const std::string folded = FoldHeaderLine(test.line, test.commas);
        const auto lines = SplitLines(folded);
        for (std::size_t index = 0; index < lines.size(); ++index) {
            EXPECT_LE(lines[index].size(), 78u) << lines[index];
            if (index > 0) {
                EXPECT_TRUE(lines[index].starts_with(" ")) << "a continuation line starts with white space";
            }
        }
        if (!test.unfolded.empty()) {
            EXPECT_EQ(Unfold(folded), test.unfolded);
        } else {
            // Between entries a space was put in; inside the quoted name none.
            std::string expected = test.line;
            EXPECT_GT(lines.size(), 1u);
            EXPECT_NE(folded.find("\"Smith,John\""), std::string::npos);
            std::string unfolded = Unfold(folded);
            for (std::size_t at; (at = unfolded.find(", <")) != std::string::npos;)
                unfolded.erase(at + 1, 1);
            for (std::size_t at; (at = unfolded.find(", \"")) != std::string::npos;)
                unfolded.erase(at + 1, 1);
            EXPECT_EQ(unfolded, expected);
        }
    }
}

} // namespace
