#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "update/VersionFile.h"

// A patch file name holds at most 255 characters.
inline constexpr std::size_t kPatchNameLimit = 255;

// True for a name that stays a single file name when appended to a folder or
// to a URL path: no separators, no query or fragment marks, no control
// characters, not "." or "..".
[[nodiscard]] bool IsPlainFileName(std::string_view name);

// What a search of the patch list found.
struct PatchSearch {
    // False when the list holds no record at all: an error page or other
    // text that is no patch list.
    bool readable = false;
    // The patch name of the first record for the installed version.
    std::optional<std::string> name;
};

// Searches the patch list for the first record "a, b, c, d ; name" whose four
// numbers equal `installed`. Records are separated by white space; a UTF-8
// byte order mark before the first is passed over. A record that does not
// match that form, or whose name is not a plain file name, is no record: it
// is skipped up to the end of its line, so the search always ends.
[[nodiscard]] PatchSearch FindPatchRecord(std::string_view list, const FileVersion& installed);
