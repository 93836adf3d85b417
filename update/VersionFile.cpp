#include "update/VersionFile.h"

#include <algorithm>
#include <limits>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void SkipSpace(std::string_view text, std::size_t& position)
{
    while (position < text.size() && IsSpace(text[position]))
        ++position;
}

// One decimal number as scanf's "%d" reads it: leading white space, an
// optional sign, at least one digit.
std::optional<int> ParseNumber(std::string_view text, std::size_t& position)
{
    std::size_t at = position;
    SkipSpace(text, at);
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    const std::size_t firstDigit = at;
    long long value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        value = value * 10 + (text[at] - '0');
        if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1)
            return std::nullopt;
        ++at;
    }
    if (at == firstDigit)
        return std::nullopt;
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max())
        return std::nullopt;
    position = at;
    return static_cast<int>(value);
}

} // namespace

std::optional<FileVersion> ParseFileVersion(std::string_view text, std::size_t& position)
{
    FileVersion version;
    std::size_t at = position;
    for (std::size_t index = 0; index < version.parts.size(); ++index) {
        if (index > 0) {
            if (at >= text.size() || text[at] != ',')
                return std::nullopt;
            ++at;
        }
        const std::optional<int> number = ParseNumber(text, at);
        if (!number)
            return std::nullopt;
        version.parts[index] = *number;
    }
    position = at;
    return version;
}

std::optional<FileVersion> ParseFileVersion(std::string_view text)
{
    std::size_t position = 0;
    return ParseFileVersion(text, position);
}

std::string_view StripByteOrderMark(std::string_view text)
{
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.starts_with(kByteOrderMark))
        text.remove_prefix(kByteOrderMark.size());
    return text;
}
