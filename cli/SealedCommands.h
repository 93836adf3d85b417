#pragma once

#include "cli/StandardInput.h"
#include "picture/PictureKind.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

// The command-line tool's sealed-format commands: hide --sealed, the sealed
// half of reveal, and the sealed lines of info. Each returns an exit status
// (ExitStatus.h) and prints one line on standard error when it fails.

// Where a revealed message or file goes: standard output, or a file that is
// never overwritten unless `force` is set.
struct RevealTarget {
    std::optional<std::string> output;
    bool force = false;
};

struct SealedHideRequest {
    std::string picture;
    std::string output;
    std::optional<std::string> messageFile;
    std::optional<std::string> file; // hide this whole file, with its name
    bool passwordFirst = false; // the password is the first line of standard input
    bool passwordFromFile = false; // --password-file: no prompt on the terminal
};

// Gets the password (asking twice for a new one); returns an exit status.
using PasswordReader = std::function<int(std::string& password)>;

int RunSealedHide(const SealedHideRequest& request, CStandardInput& input, const PasswordReader& readPassword);

// Whether the picture at `path` can hold a sealed message at all; `reason`
// says why not. Pictures of unknown kind cannot.
bool CanHoldSealed(const std::string& path, std::string& reason);
// Whether the picture at `path` loads and has samples for a sealed message.
bool OffersSealedSamples(const std::string& path);

// Opens a sealed message with `password` and writes it to `target`. When no
// sealed message opens, prints `failureLine` and returns `failureStatus`.
int RevealSealed(const std::string& path, const std::string& password, const RevealTarget& target, int failureStatus,
    const std::string& failureLine);

// Refuses an --output file that exists without --force, before any work.
int CheckRevealTarget(const RevealTarget& target);
// Writes revealed bytes to the target; returns an exit status.
int WriteRevealed(std::span<const std::uint8_t> bytes, const RevealTarget& target);

// The sealed lines of info for a BMP or JPEG picture, and the whole of info
// for a PNG picture.
void PrintSealedInfo(const std::string& path, PictureKind kind);
int RunPngInfo(const std::string& path);
