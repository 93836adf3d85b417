#include "cli/SealedCommands.h"

#include "base/FileIO.h"
#include "cli/ExitStatus.h"
#include "sealed/MasterKeyDerivation.h"
#include "sealed/SealedContainer.h"
#include "sealed/SealedPicture.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

CSealedPicture::Format SealedFormatOf(PictureKind kind)
{
    switch (kind) {
    case PictureKind::Bmp:
        return CSealedPicture::Format::Bmp;
    case PictureKind::Png:
        return CSealedPicture::Format::Png;
    case PictureKind::Jpeg:
        return CSealedPicture::Format::Jpeg;
    case PictureKind::Unknown:
        break;
    }
    return CSealedPicture::Format::None;
}

// Loads `path` as a sealed cover of the kind its name gives; prints why not.
int LoadSealedPicture(const std::string& path, CSealedPicture& picture, bool willSave = false)
{
    const PictureKind kind = PictureKindFromPath(path);
    std::string reason;
    if (!CanHoldSealed(path, reason))
        return Fail(kExitBadPicture, path + ": " + reason);
    if (!picture.Load(path, willSave))
        return Fail(kExitBadPicture, path + ": " + picture.GetReason());
    if (picture.GetFormat() != SealedFormatOf(kind))
        return Fail(kExitBadPicture,
            path + ": "
                + (kind == PictureKind::Png         ? "This is not a PNG file"
                        : kind == PictureKind::Jpeg ? "This is not a JPEG file"
                                                    : "This is not a BMP file"));
    return kExitOk;
}

// The names a picture of `kind` may have, for messages.
const char* ExtensionsOf(PictureKind kind)
{
    switch (kind) {
    case PictureKind::Png:
        return ".png";
    case PictureKind::Jpeg:
        return ".jpg or .jpeg";
    case PictureKind::Bmp:
    case PictureKind::Unknown:
        break;
    }
    return ".bmp";
}

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A stored file name as it may be shown on a terminal.
std::string Printable(const std::string& name)
{
    std::string shown = name;
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return shown;
}

} // namespace

bool CanHoldSealed(const std::string& path, std::string& reason)
{
    switch (PictureKindFromPath(path)) {
    case PictureKind::Bmp:
    case PictureKind::Png:
    case PictureKind::Jpeg:
        return true;
    case PictureKind::Unknown:
        break;
    }
    reason = "Unknown picture type: the file name must end in .bmp, .png, .jpg or .jpeg";
    return false;
}

bool OffersSealedSamples(const std::string& path)
{
    std::string reason;
    CSealedPicture picture;
    return CanHoldSealed(path, reason) && picture.Load(path) && picture.HasElements();
}

int RunSealedHide(const SealedHideRequest& request, CStandardInput& input, const PasswordReader& readPassword)
{
    if (PictureKindFromPath(request.output) != PictureKindFromPath(request.picture)
        && PictureKindFromPath(request.picture) != PictureKind::Unknown)
        return Fail(kExitUsage,
            std::string("OUTPUT must be a picture of the same kind as PICTURE (a name ending in ")
                + ExtensionsOf(PictureKindFromPath(request.picture)) + ")");
    // A password that needs no prompt is read first, so that its Argon2id
    // evaluation runs while the picture is decoded.
    std::string password;
    bool havePassword = false;
    CMasterKeyDerivation derivation;
    if (request.passwordFirst || request.passwordFromFile) {
        if (const int status = readPassword(password); status != kExitOk)
            return status;
        havePassword = true;
        derivation.Start(password);
    }

    CSealedPicture picture;
    if (const int status = LoadSealedPicture(request.picture, picture, true); status != kExitOk)
        return status;
    if (!picture.HasElements())
        return Fail(kExitBadPicture, request.picture + ": " + picture.GetReason());

    SealedPayload payload;
    std::string error;
    if (request.file) {
        payload.kind = SealedKind::File;
        payload.name = BaseName(*request.file);
        if (!IsValidSealedName(payload.name))
            return Fail(kExitUsage, DescribeSealedStatus(SealedStatus::NameInvalid));
    }
    // One byte past the capacity tells a payload that does not fit, so no
    // more than that is ever read.
    const std::uint64_t count = picture.GetElementCount();
    const std::size_t readLimit
        = CanCarrySealed(count, payload.name.size()) ? std::size_t(SealedCapacity(count, payload.name.size())) + 1 : 1;
    if (request.file) {
        if (!ReadFilePrefix(*request.file, readLimit, payload.bytes, error))
            return Fail(kExitUsage, "cannot read the file " + *request.file + ": " + error);
    } else if (request.messageFile && *request.messageFile != "-") {
        if (!ReadFilePrefix(*request.messageFile, readLimit, payload.bytes, error))
            return Fail(kExitUsage, "cannot read the message file " + *request.messageFile + ": " + error);
    } else {
        if (!request.passwordFirst && ::isatty(STDIN_FILENO))
            std::fputs("Type the message, then press Ctrl-D on a line of its own.\n", stderr);
        std::string message;
        if (!input.TakeRest(message, error, readLimit))
            return Fail(kExitUsage, "cannot read the message from standard input: " + error);
        payload.bytes.assign(message.begin(), message.end());
    }

    if (!CanCarrySealed(count, payload.name.size())
        || payload.bytes.size() > SealedCapacity(count, payload.name.size()))
        return Fail(kExitMessageTooLong,
            "The " + std::string(request.file ? "file" : "message")
                + " is longer than the picture's sealed capacity of "
                + std::to_string(
                    CanCarrySealed(count, payload.name.size()) ? SealedCapacity(count, payload.name.size()) : 0)
                + " bytes");

    if (!havePassword) {
        if (const int status = readPassword(password); status != kExitOk)
            return status;
    }
    SealOptions options;
    options.derived = &derivation;
    switch (const SealedStatus status = SealPayload(picture.GetElements(), password, payload, options)) {
    case SealedStatus::Ok:
        break;
    case SealedStatus::DoesNotFit:
        return Fail(kExitMessageTooLong, DescribeSealedStatus(status));
    case SealedStatus::NameInvalid:
        return Fail(kExitUsage, DescribeSealedStatus(status));
    default:
        return Fail(kExitBadPicture, request.picture + ": " + DescribeSealedStatus(status));
    }
    if (!picture.Save(request.output))
        return Fail(kExitCannotWrite, "cannot write " + request.output + ": " + picture.GetReason());
    return kExitOk;
}

int RevealSealed(const std::string& path, const std::string& password, const RevealTarget& target, int failureStatus,
    const std::string& failureLine)
{
    CSealedPicture picture;
    if (const int status = LoadSealedPicture(path, picture); status != kExitOk)
        return status;
    if (!picture.HasElements())
        return Fail(failureStatus, failureLine);
    SealedPayload payload;
    switch (const SealedStatus status = OpenPayload(picture.GetElements(), password, payload)) {
    case SealedStatus::Ok:
        break;
    case SealedStatus::NotFound:
        return Fail(failureStatus, failureLine);
    default:
        return Fail(kExitBadPicture, path + ": " + DescribeSealedStatus(status));
    }
    const int written = WriteRevealed(payload.bytes, target);
    if (written == kExitOk && payload.kind == SealedKind::File)
        std::fprintf(stderr, "%s: the hidden file is named '%s'\n", kProgramName, Printable(payload.name).c_str());
    return written;
}

int CheckRevealTarget(const RevealTarget& target)
{
    struct stat existing { };
    if (target.output && !target.force && ::lstat(target.output->c_str(), &existing) == 0)
        return Fail(kExitCannotWrite, *target.output + " already exists; give --force to overwrite it");
    return kExitOk;
}

int WriteRevealed(std::span<const std::uint8_t> bytes, const RevealTarget& target)
{
    if (!target.output) {
        // An empty message has no buffer at all, which fwrite must not see.
        if ((!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size())
            || std::fflush(stdout) != 0)
            return Fail(kExitCannotWrite, std::string("cannot write to standard output: ") + std::strerror(errno));
        return kExitOk;
    }
    const std::string& path = *target.output;
    std::string error;
    if (target.force) {
        if (!WriteFileAtomically(path, { bytes }, error))
            return Fail(kExitCannotWrite, "cannot write " + path + ": " + error);
        return kExitOk;
    }
    if (const int status = CheckRevealTarget(target); status != kExitOk)
        return status;
    // The whole file is written under a fresh name beside the target and then
    // linked to it: link(2) refuses a name that appeared in the meantime, so
    // nothing is ever overwritten and the target is never half-written.
    const std::size_t slash = path.rfind('/');
    std::string staging = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + ".reveal.XXXXXX";
    const int descriptor = ::mkstemp(staging.data());
    if (descriptor < 0)
        return Fail(kExitCannotWrite, "cannot write " + path + ": " + std::strerror(errno));
    ::close(descriptor);
    if (!WriteFileAtomically(staging, { bytes }, error)) {
        ::unlink(staging.c_str());
        return Fail(kExitCannotWrite, "cannot write " + path + ": " + error);
    }
    const int linked = ::link(staging.c_str(), path.c_str());
    const int linkError = errno;
    ::unlink(staging.c_str());
    if (linked != 0)
        return Fail(kExitCannotWrite,
            linkError == EEXIST ? path + " already exists; give --force to overwrite it"
                                : "cannot write " + path + ": " + std::strerror(linkError));
    return kExitOk;
}

void PrintSealedInfo(const std::string& path, PictureKind kind)
{
    std::string reason;
    CSealedPicture picture;
    if (!CanHoldSealed(path, reason) || kind == PictureKind::Unknown) {
        // keeps the reason from CanHoldSealed
    } else if (!picture.Load(path)) {
        reason = picture.GetReason();
    } else if (!picture.HasElements()) {
        reason = picture.GetReason();
    }
    const std::uint64_t count = picture.GetElementCount();
    std::printf("sealed-capacity: %llu\n", static_cast<unsigned long long>(SealedCapacity(count)));
    if (reason.empty() && !CanCarrySealed(count))
        reason = "The picture is too small for a sealed message";
    if (reason.empty())
        std::printf("sealed-capacity-file: %llu less the file name's length\n",
            static_cast<unsigned long long>(SealedCapacity(count)));
    else
        std::printf("sealed-unavailable: %s\n", reason.c_str());
}

int RunPngInfo(const std::string& path)
{
    CPngPicture png;
    if (!png.Load(path))
        return Fail(kExitBadPicture, path + ": " + png.GetFailureReason());
    std::printf("file: %s\n", path.c_str());
    std::printf("format: PNG\n");
    std::printf("width: %u\n", unsigned(png.GetWidth()));
    std::printf("height: %u\n", unsigned(png.GetHeight()));
    std::printf("bit-depth: %d\n", png.GetBitDepth());
    std::printf("color-type: %s\n", png.GetColorTypeName().c_str());
    std::printf("interlaced: %s\n", png.IsInterlaced() ? "yes" : "no");
    // The compatible format has no place in a PNG picture.
    std::printf("data-space: 0\n");
    std::printf("secret: no\n");
    PrintSealedInfo(path, PictureKind::Png);
    return std::fflush(stdout) == 0 ? kExitOk : Fail(kExitCannotWrite, "cannot write to standard output");
}
