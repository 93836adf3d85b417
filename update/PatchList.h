#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "VersionFile.h"

// A patch file name holds at most 255 characters.
inline constexpr std::size_t kPatchNameLimit = 255;

// True for a name that stays a single file name when appended to a folder or
// to a URL path: no separators, no query or fragment marks, no control
// characters, not "." or "..".
[[nodiscard]] bool IsPlainFileName(std::string_view name);

// Searches the patch list for the first record "a, b, c, d ; name" whose four
// numbers equal `installed` and returns its name. Records are separated by
// white space; a record that does not match that form, or whose name is not a
// plain file name, is skipped up to the end of its line, so the search always
// ends.
[[nodiscard]] std::optional<std::string> FindPatchRecord(std::string_view list, const FileVersion& installed);
