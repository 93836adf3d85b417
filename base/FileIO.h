#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

// Reads the whole file. On failure returns false and sets `error` to the
// system's text for the reason.
[[nodiscard]] bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& contents, std::string& error);

// Writes the pieces, in order, to a temporary file beside `path` and renames it
// over `path`, so the target is either the old file or the complete new one,
// never a half-written file. Writing onto the file that was read works. On
// failure returns false, removes the temporary file and sets `error`.
[[nodiscard]] bool WriteFileAtomically(
    const std::string& path, std::initializer_list<std::span<const std::uint8_t>> pieces, std::string& error);
