#pragma once

#include <cstddef>
#include <string>

// Start of the marker that embeds the version text in every program file;
// the text follows the marker and ends with a zero byte.
inline constexpr char kFileVersionMarker[] = "VEILMARK-FILEVERSION:";

// The version text of a program file holds at most 63 characters.
inline constexpr std::size_t kVersionTextLimit = 64;

// Finds the version marker in the file and copies the text after it (up to its
// zero byte) into `versionText`. The marker text alone, as code that searches
// for it holds, and a marker followed by anything but printable text are
// passed over. Fails with a reason in `error` when the file cannot be read, is
// not a regular file, holds no marked text, or its text is longer than 63
// characters or not terminated. The file is read in pieces, so a large
// program costs little memory.
[[nodiscard]] bool ReadVersionText(const std::string& path, std::string& versionText, std::string& error);
