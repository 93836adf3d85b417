#include "mail/HeaderEncoding.h"

#include "mail/Base64Coder.h"

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// RFC 5322 2.1.1 recommends 78 characters a line.
constexpr std::size_t kFoldWidth = 78;
// A word longer than this cannot be folded into a line of at most 998
// characters (RFC 5322 2.1.1) with a field name in front of it.
constexpr std::size_t kLongestWord = 900;
// 39 bytes give 52 Base64 characters; with "=?UTF-8?B?" and "?=" an encoded
// word is 64 characters, within RFC 2047's 75, and fits after "Subject: ".
constexpr std::size_t kEncodedWordBytes = 39;

constexpr const char* kBlank = " \t";

std::string_view TrimBlanks(std::string_view text)
{
    const auto first = text.find_first_not_of(kBlank);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

bool HasLongWord(std::string_view text)
{
    std::size_t run = 0;
    for (const char character : text) {
        run = character == ' ' ? 0 : run + 1;
        if (run > kLongestWord)
            return true;
    }
    return false;
}

// UTF-8 continuation bytes are 10xxxxxx.
bool IsContinuationByte(char character) { return (static_cast<unsigned char>(character) & 0xC0) == 0x80; }

// RFC 2047 4.1 "B" words, each holding whole UTF-8 characters.
std::string EncodedWords(std::string_view text)
{
    CBase64Coder coder;
    std::string words;
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t length = std::min(kEncodedWordBytes, text.size() - position);
        while (length > 1 && position + length < text.size() && IsContinuationByte(text[position + length]))
            --length;
        if (!words.empty())
            words += ' ';
        words += "=?UTF-8?B?";
        words
            += coder.ToBase64(reinterpret_cast<const std::uint8_t*>(text.data() + position), static_cast<int>(length));
        words += "?=";
        position += length;
    }
    return words;
}

// RFC 5322 3.2.3 specials, which a plain word may not hold.
bool HasSpecials(std::string_view text) { return text.find_first_of("()<>[]:;@\\,.\"") != std::string_view::npos; }

} // namespace

bool IsPrintableAscii(std::string_view text)
{
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte < 0x20 || byte > 0x7E)
            return false;
    }
    return true;
}

std::string EncodeUnstructured(std::string_view text)
{
    // "=?" in plain text could be read back as the start of an encoded word.
    if (IsPrintableAscii(text) && text.find("=?") == std::string_view::npos && !HasLongWord(text))
        return std::string(text);
    return EncodedWords(text);
}

bool DisplayNameNeedsEncoding(std::string_view name)
{
    const std::string_view trimmed = TrimBlanks(name);
    return !IsPrintableAscii(trimmed) || HasSpecials(trimmed) || trimmed.find("=?") != std::string_view::npos
        || HasLongWord(trimmed);
}

std::string EncodeDisplayName(std::string_view name)
{
    const std::string_view trimmed = TrimBlanks(name);
    if (!DisplayNameNeedsEncoding(trimmed))
        return std::string(trimmed);
    if (IsPrintableAscii(trimmed) && trimmed.find("=?") == std::string_view::npos && !HasLongWord(trimmed)) {
        std::string quoted = "\"";
        for (const char character : trimmed) {
            if (character == '"' || character == '\\')
                quoted += '\\';
            quoted += character;
        }
        return quoted + "\"";
    }
    return EncodedWords(trimmed);
}

std::string FoldHeaderLine(std::string_view line, bool breakAfterCommas)
{
    if (line.size() <= kFoldWidth)
        return std::string(line);

    // Where a continuation line may begin: at a space, which then starts it,
    // or after a comma between list entries, where a space is put in.
    const std::size_t colon = line.find(':');
    const std::size_t valueStart = colon == std::string_view::npos ? 0 : colon + 2;
    std::vector<std::pair<std::size_t, bool>> starts { { 0, false } };
    bool quoted = false;
    for (std::size_t index = valueStart; index < line.size(); ++index) {
        const char character = line[index];
        if (quoted && character == '\\') {
            ++index;
            continue;
        }
        if (character == '"')
            quoted = !quoted;
        if (character == ' ' && index > valueStart)
            starts.emplace_back(index, false);
        else if (breakAfterCommas && !quoted && character == ',' && index + 1 < line.size() && line[index + 1] != ' ')
            starts.emplace_back(index + 1, true);
    }

    std::string folded;
    std::size_t lineLength = 0;
    for (std::size_t piece = 0; piece < starts.size(); ++piece) {
        const std::size_t begin = starts[piece].first;
        const std::size_t end = piece + 1 < starts.size() ? starts[piece + 1].first : line.size();
        const std::string_view text = line.substr(begin, end - begin);
        const std::size_t inserted = starts[piece].second ? 1 : 0;
        if (piece > 0 && lineLength + text.size() > kFoldWidth) {
            folded += "\r\n";
            if (inserted != 0)
                folded += ' ';
            lineLength = inserted;
        }
        folded += text;
        lineLength += text.size();
    }
    return folded;
}
