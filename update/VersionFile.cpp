#include "VersionFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>

#include "Version.h"

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

bool ReadVersionText(const std::string& path, std::string& versionText, std::string& error)
{
    struct stat status { };
    if (::stat(path.c_str(), &status) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        error = "The program file is not a regular file";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = std::strerror(errno);
        return false;
    }

    const std::string_view marker = kFileVersionMarker;
    std::string buffer;
    std::size_t searchFrom = 0;
    bool atEnd = false;
    constexpr std::size_t kChunkSize = 64 * 1024;
    while (true) {
        if (!atEnd) {
            const std::size_t oldSize = buffer.size();
            buffer.resize(oldSize + kChunkSize);
            file.read(buffer.data() + oldSize, kChunkSize);
            buffer.resize(oldSize + static_cast<std::size_t>(file.gcount()));
            if (file.bad()) {
                error = "The program file cannot be read";
                return false;
            }
            atEnd = file.eof();
        }
        while (true) {
            const std::size_t found = buffer.find(marker, searchFrom);
            if (found == std::string::npos) {
                if (atEnd) {
                    error = "The program file holds no version information";
                    return false;
                }
                // Keep a tail that may hold the start of a marker.
                const std::size_t keep = std::min(buffer.size(), marker.size() - 1);
                buffer.erase(0, buffer.size() - keep);
                searchFrom = 0;
                break;
            }
            const std::size_t textStart = found + marker.size();
            const std::size_t window = std::min(buffer.size() - textStart, kVersionTextLimit);
            const std::size_t terminator = std::string_view(buffer).substr(textStart, window).find('\0');
            if (terminator == 0) {
                // The bare marker, as code that searches for it keeps it.
                searchFrom = found + 1;
                continue;
            }
            if (terminator != std::string_view::npos) {
                versionText = buffer.substr(textStart, terminator);
                return true;
            }
            if (window >= kVersionTextLimit) {
                error = "The program's version text is too long";
                return false;
            }
            if (atEnd) {
                error = "The program's version text is not terminated";
                return false;
            }
            buffer.erase(0, found);
            searchFrom = 0;
            break;
        }
    }
}
