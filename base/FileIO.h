#pragma once

#include "base/LargeBuffer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

// Reads the whole file. On failure returns false and sets `error` to the
// system's text for the reason.
[[nodiscard]] bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& contents, std::string& error);
// The same into a buffer that is not cleared first, so every byte of the file
// is written to memory once.
[[nodiscard]] bool ReadWholeFile(const std::string& path, CLargeBuffer& contents, std::string& error);

// Reads at most `limit` bytes from the start of the file, which may also be a
// pipe or a terminal: a caller that only needs to know whether the contents
// exceed a size never holds more than that. On failure returns false and sets
// `error` to the system's reason.
[[nodiscard]] bool ReadFilePrefix(
    const std::string& path, std::size_t limit, std::vector<std::uint8_t>& contents, std::string& error);

// Whether `path` may be written: true when it does not exist yet or exists and
// may be written by this user. A file whose permissions grant writing to
// nobody counts as protected even for the superuser, whom the access check
// itself lets through. On false, `error` holds the system's reason.
[[nodiscard]] bool CheckFileReplaceable(const std::string& path, std::string& error);

// Writes the pieces, in order, to a temporary file in the folder of `path` and
// puts it in place of `path`, so the target is either the old file or the
// complete new one, never a half-written file. Writing onto the file that was
// read works; a replaced file keeps its permissions. A target that may not be
// written (CheckFileReplaceable) is refused and left as it is.
//
// The temporary file has no name while it is written where the file system
// allows that, so a write that is killed leaves nothing behind. Elsewhere it
// has a short hidden name; such names that no live writer holds are removed
// by the next write into the same folder. On failure returns false and sets
// `error` to the system's reason.
[[nodiscard]] bool WriteFileAtomically(
    const std::string& path, std::initializer_list<std::span<const std::uint8_t>> pieces, std::string& error);

// Passes the next piece of a file being written on to it; false when the
// system refuses the write, whose reason the writer then reports.
using FilePieceSink = std::function<bool(std::span<const std::uint8_t> piece)>;
// Makes the contents of a file, in order, through `write`. Returns false to
// stop: after a refused write, or with `error` set when the contents cannot
// be had. It may be asked again for a fresh file, and must then make the same
// contents again.
using FileProducer = std::function<bool(const FilePieceSink& write, std::string& error)>;

// WriteFileAtomically for contents made while they are written, so that a
// large file need not be held in memory. When the producer fails, the target
// stays as it was and its reason is the error.
[[nodiscard]] bool WriteFileAtomicallyFrom(const std::string& path, const FileProducer& produce, std::string& error);

// The names temporary files get while they are put in place: this prefix and
// six letters or digits.
inline constexpr char kTemporaryFilePrefix[] = ".veilmark-";
