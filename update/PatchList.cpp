#include "update/PatchList.h"

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void SkipSpace(std::string_view text, std::size_t& position)
{
    while (position < text.size() && IsSpace(text[position]))
        ++position;
}

struct PatchRecord {
    FileVersion version;
    std::string_view name;
};

// "%d, %d, %d, %d ; %s" at `position`; on success advances past the name.
std::optional<PatchRecord> ParseRecord(std::string_view text, std::size_t& position)
{
    std::size_t at = position;
    const std::optional<FileVersion> version = ParseFileVersion(text, at);
    if (!version)
        return std::nullopt;
    SkipSpace(text, at);
    if (at >= text.size() || text[at] != ';')
        return std::nullopt;
    ++at;
    SkipSpace(text, at);
    const std::size_t nameStart = at;
    while (at < text.size() && !IsSpace(text[at]))
        ++at;
    if (at == nameStart || at - nameStart > kPatchNameLimit)
        return std::nullopt;
    position = at;
    return PatchRecord { *version, text.substr(nameStart, at - nameStart) };
}

} // namespace

bool IsPlainFileName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '/' || c == '\\' || c == '?' || c == '#')
            return false;
    }
    return true;
}

PatchSearch FindPatchRecord(std::string_view list, const FileVersion& installed)
{
    list = StripByteOrderMark(list);
    PatchSearch search;
    std::size_t position = 0;
    while (true) {
        SkipSpace(list, position);
        if (position >= list.size())
            return search;
        const std::size_t recordStart = position;
        const std::optional<PatchRecord> record = ParseRecord(list, position);
        if (!record || !IsPlainFileName(record->name)) {
            const std::size_t lineEnd = list.find('\n', recordStart);
            if (lineEnd == std::string_view::npos)
                return search;
            position = lineEnd + 1;
            continue;
        }
        search.readable = true;
        if (record->version == installed) {
            search.name = std::string(record->name);
            return search;
        }
    }
}
