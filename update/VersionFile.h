#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// A program version: four numbers, compared in order as signed integers.
struct FileVersion {
    std::array<int, 4> parts {};
    auto operator<=>(const FileVersion&) const = default;
};

// Reads four numbers in the form "1, 0, 0, 1" starting at `position`: each of
// the first three is followed directly by a comma, white space may follow a
// comma and precede a number. On success advances `position` past the fourth
// number. A number out of the range of int does not parse.
[[nodiscard]] std::optional<FileVersion> ParseFileVersion(std::string_view text, std::size_t& position);
[[nodiscard]] std::optional<FileVersion> ParseFileVersion(std::string_view text);

// The text without a UTF-8 byte order mark at its start; editors on some
// systems put one before the first line of the server's files.
[[nodiscard]] std::string_view StripByteOrderMark(std::string_view text);
