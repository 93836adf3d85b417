#include "FileVersion.h"

#include "FileIO.h"
#include "Version.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Keeps the marker object linked into every program that can read it.
[[gnu::used]] const char* const kKeepEmbeddedVersion = kEmbeddedFileVersion;

constexpr std::size_t kMaxVersionLength = 63;

bool IsVersionCharacter(std::uint8_t byte) { return byte >= 0x20 && byte < 0x7F; }

} // namespace

bool GetFileVersionString(const std::string& programPath, std::string& version)
{
    std::vector<std::uint8_t> contents;
    std::string error;
    if (!ReadWholeFile(programPath, contents, error))
        return false;

    const std::size_t markerLength = std::strlen(kFileVersionMarker);
    const auto* marker = reinterpret_cast<const std::uint8_t*>(kFileVersionMarker);
    auto position = contents.begin();
    // The marker text itself is also in the file as the search key, followed
    // directly by its zero byte; only a marker followed by a printable text up
    // to a zero byte counts.
    while ((position = std::search(position, contents.end(), marker, marker + markerLength)) != contents.end()) {
        const auto textStart = position + markerLength;
        const auto textEnd = std::find(textStart, contents.end(), std::uint8_t(0));
        const auto length = std::size_t(textEnd - textStart);
        if (textEnd != contents.end() && length > 0 && length <= kMaxVersionLength
            && std::all_of(textStart, textEnd, IsVersionCharacter)) {
            version.assign(textStart, textEnd);
            return true;
        }
        position = textStart;
    }
    return false;
}

bool GetFileVersionString(std::string& version) { return GetFileVersionString("/proc/self/exe", version); }
