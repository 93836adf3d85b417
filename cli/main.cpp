// veilmark-cli: hides a message in a picture, reveals it again, or describes a
// picture, for scripts and headless use.

#include "base/FileIO.h"
#include "carrier/PictureFactory.h"
#include "cli/ExitStatus.h"
#include "cli/SealedCommands.h"
#include "cli/StandardInput.h"
#include "crypto/PasswordKey.h"
#include "jpeg/JpegPicture.h"
#include "picture/BmpPicture.h"
#include "picture/PictureKind.h"
#include "picture/SecretContainer.h"
#include "res/Log.h"
#include "res/Version.h"
#include "sealed/SealedContainer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kUsage = "Usage:\n"
                               "  veilmark-cli info    PICTURE\n"
                               "  veilmark-cli hide    PICTURE OUTPUT [--message-file F] [--password-file F]\n"
                               "  veilmark-cli hide    PICTURE OUTPUT --sealed [--message-file F | --file F]\n"
                               "                       [--password-file F]\n"
                               "  veilmark-cli reveal  PICTURE [--password-file F] [--output F [--force]]\n"
                               "  veilmark-cli --help | --version\n"
                               "\n"
                               "Hides a message, enciphered under a password, in a BMP or JPEG picture, and\n"
                               "reveals it again. With --sealed the message or file is hidden in the sealed\n"
                               "format (BMP, PNG and JPEG pictures), which keeps it secret; without it, in the\n"
                               "format compatible with earlier versions.\n"
                               "\n"
                               "  info     print key: value lines about PICTURE\n"
                               "  hide     hide the message in PICTURE and write the result to OUTPUT, a file of\n"
                               "           the same kind (OUTPUT may be PICTURE itself)\n"
                               "  reveal   write the hidden message to standard output (or --output); the\n"
                               "           compatible format is tried first, then the sealed one\n"
                               "\n"
                               "Options:\n"
                               "  --message-file F   read the message from F (default: standard input);\n"
                               "                     a message must not contain a zero byte\n"
                               "  --password-file F  read the password from the first line of F; '-' reads that\n"
                               "                     line from standard input (the message then follows it).\n"
                               "                     Without this option the password is asked for on the\n"
                               "                     terminal.\n"
                               "  --sealed           hide in the sealed format; any bytes may be hidden\n"
                               "  --file F           hide the whole file F with its name (with --sealed)\n"
                               "  --output F         write the revealed message or file to F, never over an\n"
                               "                     existing file unless --force is given\n"
                               "  --force            let --output replace an existing file\n"
                               "  --verbose          write the program's log lines to standard error\n"
                               "  --help             show this text\n"
                               "  --version          show the program version\n"
                               "\n"
                               "Exit status: 0 done, 1 usage error, 2 the picture cannot be read or is not\n"
                               "supported, 3 wrong password, 4 the message does not fit, 5 the picture carries\n"
                               "no secret data, 6 the output cannot be written.\n";

struct Arguments {
    std::string command;
    std::vector<std::string> operands;
    std::optional<std::string> messageFile;
    std::optional<std::string> passwordFile;
    std::optional<std::string> file;
    std::optional<std::string> output;
    bool sealed = false;
    bool force = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
};

// Options may stand anywhere; "--name=value" and "--name value" both work and
// "--" ends the options.
bool ParseArguments(int argc, char** argv, Arguments& arguments, std::string& error)
{
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
            if (arguments.command.empty())
                arguments.command = argument;
            else
                arguments.operands.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "-h") {
            arguments.help = true;
            continue;
        }
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        std::optional<std::string> value;
        if (equals != std::string::npos)
            value = argument.substr(equals + 1);

        bool* flag = name == "--help" ? &arguments.help
            : name == "--version"     ? &arguments.version
            : name == "--verbose"     ? &arguments.verbose
            : name == "--sealed"      ? &arguments.sealed
            : name == "--force"       ? &arguments.force
                                      : nullptr;
        if (flag) {
            if (value) {
                error = "option '" + name + "' takes no value";
                return false;
            }
            *flag = true;
            continue;
        }
        std::optional<std::string>* target = name == "--message-file" ? &arguments.messageFile
            : name == "--password-file"                               ? &arguments.passwordFile
            : name == "--file"                                        ? &arguments.file
            : name == "--output"                                      ? &arguments.output
                                                                      : nullptr;
        if (!target) {
            error = "unknown option '" + argument + "' (see veilmark-cli --help)";
            return false;
        }
        if (!value) {
            if (i + 1 >= argc) {
                error = "option '" + name + "' needs a file name";
                return false;
            }
            value = argv[++i];
        }
        if (value->empty()) {
            error = "option '" + name + "' needs a file name";
            return false;
        }
        if (*target) {
            error = "option '" + name + "' is given twice";
            return false;
        }
        *target = *value;
    }
    return true;
}

// Loads the picture at `path`; on failure prints the reason and returns the
// exit status. A picture that is only read (reveal, info) need not keep what
// only saving needs.
int LoadPicture(const std::string& path, std::unique_ptr<CCarrierPicture>& picture, bool forSaving = false)
{
    const PictureKind kind = PictureKindFromPath(path);
    picture = CreatePicture(kind);
    if (!picture)
        return Fail(kExitBadPicture, path + ": " + UnsupportedPictureReason(kind));
    // Empty template paths select the built-in pages.
    picture->SetReportTemplate({});
    picture->SetResultTemplate({});
    if ((forSaving ? picture->LoadForHiding(path) : picture->LoadForReading(path)) != kPictureOk)
        return Fail(kExitBadPicture, path + ": " + picture->GetFailureReason());
    return kExitOk;
}

int RunInfo(const std::string& path)
{
    if (PictureKindFromPath(path) == PictureKind::Png)
        return RunPngInfo(path);
    std::unique_ptr<CCarrierPicture> picture;
    if (const int status = LoadPicture(path, picture); status != kExitOk)
        return status;
    const std::uint32_t dataSpace = picture->GetDataSpace();
    std::printf("file: %s\n", path.c_str());
    if (const auto* bitmap = dynamic_cast<const CBmpPicture*>(picture.get())) {
        std::printf("format: BMP\n");
        std::printf("width: %d\n", int(bitmap->GetWidth()));
        std::printf("height: %d\n", int(bitmap->GetHeight()));
        std::printf("bits-per-pixel: %d\n", bitmap->GetBitsPerPixel());
        std::printf("colors: %lld\n", static_cast<long long>(bitmap->GetColorCount()));
        std::printf("compressed: %s\n", bitmap->IsCompressed() ? "yes" : "no");
    } else if (const auto* jpeg = dynamic_cast<const CJpegPicture*>(picture.get())) {
        std::printf("format: JPEG\n");
        std::printf("width: %d\n", int(jpeg->GetWidth()));
        std::printf("height: %d\n", int(jpeg->GetHeight()));
    }
    std::printf("data-space: %u\n", unsigned(dataSpace));
    std::printf("max-message-length: %zu\n", MaxMessageLength(dataSpace));
    std::printf("secret: %s\n", picture->HasSecretData() ? "yes" : "no");
    PrintSealedInfo(path, PictureKindFromPath(path));
    return std::fflush(stdout) == 0 ? kExitOk : Fail(kExitCannotWrite, "cannot write to standard output");
}

// Gets the password from --password-file, or from a prompt on the terminal.
// A new password (for hide) is asked for twice.
int ReadPassword(const Arguments& arguments, CStandardInput& input, bool newPassword, std::string& password)
{
    std::string error;
    if (arguments.passwordFile) {
        const std::string& file = *arguments.passwordFile;
        // A line of the longest password and its "\r\n" fits in this many
        // bytes; what has no line break within them is too long anyway.
        const std::size_t lineLimit = kMaxPasswordLength + 2;
        if (file == "-") {
            if (!input.TakeFirstLine(password, error, lineLimit))
                return Fail(kExitUsage, "cannot read the password from standard input: " + error);
        } else {
            std::vector<std::uint8_t> contents;
            if (!ReadFilePrefix(file, lineLimit, contents, error))
                return Fail(kExitUsage, "cannot read the password file " + file + ": " + error);
            password = FirstLine(std::string(contents.begin(), contents.end()));
        }
    } else {
        if (!::isatty(STDIN_FILENO))
            return Fail(kExitUsage, "no password: give --password-file or run on a terminal");
        if (!PromptHidden("Password: ", password, error))
            return Fail(kExitUsage, "cannot read the password: " + error);
        if (newPassword) {
            std::string repeated;
            if (!PromptHidden("Repeat the password: ", repeated, error))
                return Fail(kExitUsage, "cannot read the password: " + error);
            if (repeated != password)
                return Fail(kExitUsage, "the two passwords differ");
        }
    }
    if (password.size() > kMaxPasswordLength)
        return Fail(kExitUsage, DescribeContainerStatus(ContainerStatus::PasswordTooLong, 0));
    return kExitOk;
}

int RunHide(const Arguments& arguments)
{
    const std::string& inputPath = arguments.operands[0];
    const std::string& outputPath = arguments.operands[1];
    if (arguments.sealed) {
        CStandardInput input;
        SealedHideRequest request { inputPath, outputPath, arguments.messageFile, arguments.file,
            arguments.passwordFile && *arguments.passwordFile == "-", arguments.passwordFile.has_value() };
        return RunSealedHide(
            request, input, [&](std::string& password) { return ReadPassword(arguments, input, true, password); });
    }
    const PictureKind kind = PictureKindFromPath(inputPath);
    if (kind != PictureKind::Unknown && PictureKindFromPath(outputPath) != kind)
        return Fail(kExitUsage,
            "OUTPUT must be a picture of the same kind as PICTURE (a name ending in "
                + std::string(kind == PictureKind::Bmp ? ".bmp"
                        : kind == PictureKind::Png     ? ".png"
                                                       : ".jpg or .jpeg")
                + ")");

    std::unique_ptr<CCarrierPicture> picture;
    if (const int status = LoadPicture(inputPath, picture, true); status != kExitOk)
        return status;
    if (const std::string refusal = picture->WhyCannotHide(); !refusal.empty())
        return Fail(kExitBadPicture, inputPath + ": " + refusal);
    // A protected output is refused before a message or a password is read.
    if (std::string error; !CheckFileReplaceable(outputPath, error))
        return Fail(kExitCannotWrite, "cannot write " + outputPath + ": " + error);
    // One byte more than the longest message that fits tells a message that
    // is too long, however much more would come.
    const std::uint32_t dataSpace = picture->GetDataSpace();
    const std::size_t messageLimit = MaxMessageLength(dataSpace) + 1;

    CStandardInput input;
    std::string password;
    bool havePassword = false;
    // With the password on standard input, its first line comes first.
    if (arguments.passwordFile && *arguments.passwordFile == "-") {
        if (const int status = ReadPassword(arguments, input, true, password); status != kExitOk)
            return status;
        havePassword = true;
    }

    std::string message;
    std::string error;
    if (arguments.messageFile && *arguments.messageFile != "-") {
        std::vector<std::uint8_t> contents;
        if (!ReadFilePrefix(*arguments.messageFile, messageLimit, contents, error))
            return Fail(kExitUsage, "cannot read the message file " + *arguments.messageFile + ": " + error);
        message.assign(contents.begin(), contents.end());
    } else {
        if (!havePassword && !arguments.passwordFile && ::isatty(STDIN_FILENO))
            std::fputs("Type the message, then press Ctrl-D on a line of its own.\n", stderr);
        if (!input.TakeRest(message, error, messageLimit))
            return Fail(kExitUsage, "cannot read the message from standard input: " + error);
    }
    if (const ContainerStatus status = CheckMessage(*picture, message); status != ContainerStatus::Ok)
        return Fail(status == ContainerStatus::MessageHasZeroByte ? kExitUsage : kExitMessageTooLong,
            DescribeContainerStatus(status, *picture));

    if (!havePassword) {
        if (const int status = ReadPassword(arguments, input, true, password); status != kExitOk)
            return status;
    }

    const ContainerStatus written = WriteContainer(*picture, password, message);
    switch (written) {
    case ContainerStatus::Ok:
        break;
    case ContainerStatus::MessageTooLong:
        return Fail(kExitMessageTooLong, DescribeContainerStatus(written, *picture));
    case ContainerStatus::PasswordTooLong:
    case ContainerStatus::MessageHasZeroByte:
        return Fail(kExitUsage, DescribeContainerStatus(written, dataSpace));
    case ContainerStatus::NotLoaded:
    case ContainerStatus::NoSecretData:
    case ContainerStatus::WrongPassword:
        return Fail(kExitBadPicture, inputPath + ": the picture cannot take a message");
    }

    switch (picture->Save(outputPath)) {
    case kPictureOk:
        return kExitOk;
    case kPictureWriteFailed:
        return Fail(kExitCannotWrite, "cannot write " + outputPath + ": " + picture->GetFailureReason());
    default:
        return Fail(kExitBadPicture, inputPath + ": " + picture->GetFailureReason());
    }
}

// The compatible format first: its magic says whether it is there. A bitmap
// without it, or whose check refuses the password, may still hold a sealed
// message, which only the password can find.
int RunReveal(const Arguments& arguments)
{
    const std::string& path = arguments.operands[0];
    const RevealTarget target { arguments.output, arguments.force };
    if (const int status = CheckRevealTarget(target); status != kExitOk)
        return status;
    const std::string noSealedMessage = path + ": " + DescribeSealedStatus(SealedStatus::NotFound);
    CStandardInput input;
    std::string password;
    if (PictureKindFromPath(path) == PictureKind::Png) {
        if (const int status = ReadPassword(arguments, input, false, password); status != kExitOk)
            return status;
        return RevealSealed(path, password, target, kExitNoSecret, noSealedMessage);
    }

    std::unique_ptr<CCarrierPicture> picture;
    if (const int status = LoadPicture(path, picture); status != kExitOk)
        return status;
    if (!picture->HasSecretData()) {
        if (!OffersSealedSamples(path))
            return Fail(kExitNoSecret, path + ": " + DescribeContainerStatus(ContainerStatus::NoSecretData, 0));
        if (const int status = ReadPassword(arguments, input, false, password); status != kExitOk)
            return status;
        return RevealSealed(path, password, target, kExitNoSecret, noSealedMessage);
    }

    if (const int status = ReadPassword(arguments, input, false, password); status != kExitOk)
        return status;
    std::string message;
    const ContainerStatus status = ReadContainer(*picture, password, message);
    switch (status) {
    case ContainerStatus::Ok:
        break;
    case ContainerStatus::WrongPassword:
        if (OffersSealedSamples(path))
            return RevealSealed(path, password, target, kExitWrongPassword, DescribeContainerStatus(status, 0));
        return Fail(kExitWrongPassword, DescribeContainerStatus(status, 0));
    case ContainerStatus::PasswordTooLong:
        return Fail(kExitUsage, DescribeContainerStatus(status, 0));
    default:
        return Fail(kExitBadPicture, path + ": " + DescribeContainerStatus(status, 0));
    }
    return WriteRevealed({ reinterpret_cast<const std::uint8_t*>(message.data()), message.size() }, target);
}

// The log lines end in "\r\n"; a terminal wants "\n".
void WriteLogLineToStandardError(std::string_view text)
{
    std::string line(text);
    for (std::size_t at; (at = line.find("\r\n")) != std::string::npos;)
        line.erase(at, 1);
    std::fputs(line.c_str(), stderr);
}

} // namespace

int main(int argc, char** argv)
{
    Arguments arguments;
    std::string error;
    if (!ParseArguments(argc, argv, arguments, error))
        return Fail(kExitUsage, error);
    if (arguments.help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (arguments.version) {
        // The embedded marker text, so the printed version is the one that a
        // version reader finds in this file.
        std::printf("%s %s\n", kProgramName, kEmbeddedFileVersion + std::strlen(kFileVersionMarker));
        return kExitOk;
    }
    if (arguments.command.empty())
        return Fail(kExitUsage, "no command given (see veilmark-cli --help)");

    struct CommandShape {
        const char* name;
        std::size_t operands;
        bool takesMessage;
        bool takesPassword;
    };
    static constexpr CommandShape kCommands[] = {
        { "info", 1, false, false },
        { "hide", 2, true, true },
        { "reveal", 1, false, true },
    };
    const CommandShape* shape = nullptr;
    for (const CommandShape& candidate : kCommands)
        if (arguments.command == candidate.name)
            shape = &candidate;
    if (!shape)
        return Fail(kExitUsage, "unknown command '" + arguments.command + "' (see veilmark-cli --help)");
    if (arguments.operands.size() != shape->operands)
        return Fail(kExitUsage,
            std::string(shape->name) + " takes " + (shape->operands == 1 ? "PICTURE" : "PICTURE OUTPUT")
                + " (see veilmark-cli --help)");
    if (arguments.messageFile && !shape->takesMessage)
        return Fail(kExitUsage, std::string(shape->name) + " takes no --message-file");
    if (arguments.passwordFile && !shape->takesPassword)
        return Fail(kExitUsage, std::string(shape->name) + " takes no --password-file");
    const bool hide = arguments.command == "hide";
    const bool reveal = arguments.command == "reveal";
    if ((arguments.sealed && !hide) || (arguments.file && !arguments.sealed))
        return Fail(
            kExitUsage, arguments.sealed ? std::string(shape->name) + " takes no --sealed" : "--file needs --sealed");
    if (arguments.file && arguments.messageFile)
        return Fail(kExitUsage, "give either --message-file or --file, not both");
    if ((arguments.output || arguments.force) && !reveal)
        return Fail(kExitUsage, std::string(shape->name) + " takes no " + (arguments.output ? "--output" : "--force"));
    if (arguments.force && !arguments.output)
        return Fail(kExitUsage, "--force needs --output");
    std::optional<CScopedLogSink> logSink;
    if (arguments.verbose)
        logSink.emplace(WriteLogLineToStandardError);

    if (arguments.command == "info")
        return RunInfo(arguments.operands[0]);
    if (arguments.command == "hide")
        return RunHide(arguments);
    return RunReveal(arguments);
}
