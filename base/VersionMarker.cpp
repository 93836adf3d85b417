#include "base/VersionMarker.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

bool IsVersionCharacter(char c) { return c >= 0x20 && c < 0x7F; }

} // namespace

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
                const std::string_view text = std::string_view(buffer).substr(textStart, terminator);
                if (!std::all_of(text.begin(), text.end(), IsVersionCharacter)) {
                    // Bytes that merely happen to follow the marker text.
                    searchFrom = found + 1;
                    continue;
                }
                versionText = text;
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
