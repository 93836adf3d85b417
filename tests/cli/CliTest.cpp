// Runs the built veilmark-cli as a separate process, the way scripts use it.

#include "support/BmpMaker.h"
#include "support/CliRunner.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// A message of `length` bytes using every byte value but zero.
std::string PatternedMessage(std::size_t length)
{
    std::string message(length, 'x');
    for (std::size_t i = 0; i < length; ++i)
        message[i] = char(1 + (i * 37) % 255);
    return message;
}

class CliTest : public testing::Test {
protected:
    // Runs veilmark-cli with `arguments`, feeding `input` on standard input.
    RunResult Run(const std::vector<std::string>& arguments, const std::string& input = {})
    {
        return RunCli(m_folder.Path(), arguments, input);
    }

    // Runs veilmark-cli with a standard input that never ends ("y\n" again
    // and again, as from yes(1)); a run that takes longer than `seconds` is
    // killed and reported with status -1.
    RunResult RunWithEndlessInput(const std::vector<std::string>& arguments, int seconds)
    {
        const std::string program = std::string(VEILMARK_BIN_DIR) + "/veilmark-cli";
        std::vector<char*> argv { const_cast<char*>(program.c_str()) };
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        int feed[2];
        if (::pipe2(feed, O_CLOEXEC) != 0)
            return {};
        const std::string out = m_folder / ".stdout", err = m_folder / ".stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, feed[0], 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addchdir_np(&actions, m_folder.Path().c_str());
        pid_t child = 0;
        const bool spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(feed[0]);
        RunResult result;
        if (spawned) {
            const auto previous = std::signal(SIGPIPE, SIG_IGN);
            ::fcntl(feed[1], F_SETFL, O_NONBLOCK);
            std::string chunk;
            while (chunk.size() < 65536)
                chunk += "y\n";
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
            int wait = 0;
            rusage usage {};
            for (;;) {
                if (::wait4(child, &wait, WNOHANG, &usage) == child) {
                    result.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait);
                    break;
                }
                if (std::chrono::steady_clock::now() > deadline) {
                    ::kill(child, SIGKILL);
                    ::wait4(child, &wait, 0, &usage);
                    break;
                }
                if (::write(feed[1], chunk.data(), chunk.size()) < 0) {
                    pollfd writable { feed[1], POLLOUT, 0 };
                    ::poll(&writable, 1, 10);
                }
            }
            std::signal(SIGPIPE, previous);
        }
        ::close(feed[1]);
        result.out = ReadText(out);
        result.err = ReadText(err);
        return result;
    }

    // A failure says so in exactly one line on standard error.
    static void ExpectOneErrorLine(const RunResult& result, const std::string& fragment)
    {
        EXPECT_EQ(result.err.rfind("veilmark-cli: ", 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_NE(result.err.find(fragment), std::string::npos) << result.err;
        EXPECT_TRUE(result.out.empty()) << result.out;
    }

    std::string Path(const std::string& name) const { return (m_folder / name).string(); }

    void Put(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        WriteBytes(m_folder / name, bytes);
    }
    void Put(const std::string& name, const std::string& text) const { WriteText(m_folder / name, text); }
    bool Exists(const std::string& name) const { return std::filesystem::exists(m_folder / name); }

    CTempFolder m_folder;
};

struct DepthCase {
    int bitCount;
    std::size_t dataSpace;
    const char* colors;
};

class CliDepth : public CliTest, public testing::WithParamInterface<DepthCase> { };

TEST_P(CliDepth, InfoShowsBitmap)
{
    const DepthCase& depth = GetParam();
    Put("in.bmp", MakeBmp({ .bitCount = std::uint16_t(depth.bitCount) }));
    const RunResult result = Run({ "info", "in.bmp" });
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string expected
        = "format: BMP\nwidth: 100\nheight: 100\nbits-per-pixel: " + std::to_string(depth.bitCount)
        + "\ncolors: " + depth.colors + "\ncompressed: no\ndata-space: " + std::to_string(depth.dataSpace) + "\n";
    EXPECT_NE(result.out.find(expected), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("secret: no\n"), std::string::npos);
}

// Hiding and revealing at the edges of the cipher units and of the data space.
TEST_P(CliDepth, HideThenRevealRoundTrips)
{
    const DepthCase& depth = GetParam();
    Put("in.bmp", MakeBmp({ .bitCount = std::uint16_t(depth.bitCount) }));
    Put("pw", "Open sesame\n");
    for (std::size_t length : { std::size_t(0), std::size_t(15), std::size_t(16), depth.dataSpace - 1 }) {
        const std::string message = PatternedMessage(length);
        Put("message", message);
        const RunResult hidden
            = Run({ "hide", "in.bmp", "out.bmp", "--message-file", "message", "--password-file", "pw" });
        ASSERT_EQ(hidden.status, 0) << length << ": " << hidden.err;
        EXPECT_TRUE(hidden.err.empty()) << hidden.err;
        const RunResult revealed = Run({ "reveal", "out.bmp", "--password-file=pw" });
        ASSERT_EQ(revealed.status, 0) << length << ": " << revealed.err;
        EXPECT_EQ(revealed.out, message) << length;
    }
    EXPECT_NE(Run({ "info", "out.bmp" }).out.find("secret: yes\n"), std::string::npos);
}

TEST_P(CliDepth, MessageOfDataSpaceDoesNotFit)
{
    Put("in.bmp", MakeBmp({ .bitCount = std::uint16_t(GetParam().bitCount) }));
    Put("pw", "pw\n");
    Put("message", std::string(GetParam().dataSpace, 'x'));
    const RunResult result = Run({ "hide", "in.bmp", "out.bmp", "--message-file", "message", "--password-file", "pw" });
    EXPECT_EQ(result.status, 4);
    ExpectOneErrorLine(result, "at most " + std::to_string(GetParam().dataSpace - 1) + " bytes");
    EXPECT_FALSE(Exists("out.bmp"));
}

INSTANTIATE_TEST_SUITE_P(Depths, CliDepth,
    testing::Values(DepthCase { 1, 768, "2" }, DepthCase { 4, 624, "16" }, DepthCase { 8, 592, "256" },
        DepthCase { 16, 1216, "65536" }, DepthCase { 24, 3728, "16777216" }, DepthCase { 32, 9968, "16777216" }),
    [](const auto& info) { return "Depth" + std::to_string(info.param.bitCount); });

TEST_F(CliTest, PasswordMustMatchExactly)
{
    Put("in.bmp", MakeBmp({}));
    Put("pw", "Secret\r\n");
    Put("PW", "secret\n");
    ASSERT_EQ(Run({ "hide", "in.bmp", "out.bmp", "--password-file", "pw" }, "hello").status, 0);
    const RunResult wrong = Run({ "reveal", "out.bmp", "--password-file", "PW" });
    EXPECT_EQ(wrong.status, 3);
    ExpectOneErrorLine(wrong, "Wrong password");
    // The password may also come from standard input.
    const RunResult right = Run({ "reveal", "out.bmp", "--password-file", "-" }, "Secret\nignored");
    EXPECT_EQ(right.status, 0) << right.err;
    EXPECT_EQ(right.out, "hello");
}

TEST_F(CliTest, PasswordAndMessageBothFromStandardInput)
{
    Put("in.bmp", MakeBmp({}));
    ASSERT_EQ(Run({ "hide", "in.bmp", "out.bmp", "--password-file", "-" }, "pw\nline one\nline two\n").status, 0);
    EXPECT_EQ(Run({ "reveal", "out.bmp", "--password-file", "-" }, "pw\n").out, "line one\nline two\n");
}

TEST_F(CliTest, HideOntoTheInputItself)
{
    Put("in.bmp", MakeBmp({ .bitCount = 8 }));
    Put("pw", "pw");
    ASSERT_EQ(Run({ "hide", "in.bmp", "in.bmp", "--password-file", "pw" }, "first").status, 0);
    ASSERT_EQ(Run({ "hide", "in.bmp", "in.bmp", "--password-file", "pw" }, "second").status, 0);
    EXPECT_EQ(Run({ "reveal", "in.bmp", "--password-file", "pw" }).out, "second");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_folder.Path()), {}), 5) << "stray temporary file";
}

TEST_F(CliTest, PictureWithoutSecret)
{
    // A bitmap with samples may hold a sealed message that only a password
    // finds; one without samples plainly carries nothing.
    Put("in.bmp", MakeBmp({}));
    Put("four.bmp", MakeBmp({ .bitCount = 4 }));
    Put("pw", "pw\n");
    const RunResult result = Run({ "reveal", "in.bmp", "--password-file", "pw" });
    EXPECT_EQ(result.status, 5);
    ExpectOneErrorLine(result, "No hidden message opens with this password");
    const RunResult four = Run({ "reveal", "four.bmp", "--password-file", "pw" });
    EXPECT_EQ(four.status, 5);
    ExpectOneErrorLine(four, "carries no secret data");
}

struct BadPictureCase {
    const char* name;
    const char* fileName;
    std::vector<std::uint8_t> bytes;
    const char* reason;
};

void PrintTo(const BadPictureCase& value, std::ostream* stream) { *stream << value.name; }

class CliBadPicture : public CliTest, public testing::WithParamInterface<BadPictureCase> { };

TEST_P(CliBadPicture, EveryCommandRefusesIt)
{
    const BadPictureCase& bad = GetParam();
    if (!bad.bytes.empty())
        Put(bad.fileName, bad.bytes);
    Put("pw", "pw\n");
    const std::string out = std::string("out.") + (std::string(bad.fileName).ends_with(".bmp") ? "bmp" : "x");
    for (const std::vector<std::string>& command : { std::vector<std::string> { "info", bad.fileName },
             std::vector<std::string> { "hide", bad.fileName, out, "--password-file", "pw" },
             std::vector<std::string> { "reveal", bad.fileName, "--password-file", "pw" } }) {
        const RunResult result = Run(command, "message");
        EXPECT_EQ(result.status, 2) << command[0];
        ExpectOneErrorLine(result, bad.reason);
    }
    EXPECT_FALSE(Exists(out));
}

std::vector<std::uint8_t> WithWord(std::vector<std::uint8_t> file, std::size_t at, std::uint32_t value)
{
    PutLittleEndian(file, at, value);
    return file;
}

std::vector<std::uint8_t> Truncated(std::vector<std::uint8_t> file, std::size_t length)
{
    file.resize(length);
    return file;
}

INSTANTIATE_TEST_SUITE_P(Files, CliBadPicture,
    testing::Values(BadPictureCase { "NotBitmap", "text.bmp", { 'h', 'e', 'l', 'l', 'o' }, "This is not a BMP file" },
        BadPictureCase { "Truncated", "short.bmp", Truncated(MakeBmp({}), 40), "too short" },
        BadPictureCase { "HugeInfoHeader", "lying.bmp", WithWord(MakeBmp({}), 14, 0x7FFFFFFF),
            "claim more bytes than the file holds" },
        BadPictureCase { "ColourTableBeyondEnd", "table.bmp",
            MakeBmp({ .bitCount = 8, .colorTableLength = 16, .pixelLength = 16 }),
            "claim more bytes than the file holds" },
        BadPictureCase { "Depth2", "two.bmp", MakeBmp({ .bitCount = 2 }), "Bit depth 2 is not supported" },
        BadPictureCase {
            "RowsCutShort", "cut.bmp", MakeBmp({ .pixelLength = 6 }), "The bitmap's pixel data is cut short" },
        BadPictureCase { "Missing", "missing.bmp", {}, "No such file or directory" },
        BadPictureCase { "UnknownKind", "picture.gif", MakeBmp({}), "Unknown picture type" }),
    [](const auto& info) { return std::string(info.param.name); });

class CliCompressed : public CliTest, public testing::WithParamInterface<std::uint32_t> { };

// A compressed bitmap that carries a secret (here an uncompressed one hidden
// into by this tool, then marked compressed) reveals it, but takes no message.
TEST_P(CliCompressed, RevealsButRefusesHiding)
{
    Put("plain.bmp", MakeBmp({ .width = 64, .height = 48, .bitCount = 8 }));
    Put("pw", "pw\n");
    ASSERT_EQ(Run({ "hide", "plain.bmp", "secret.bmp", "--password-file", "pw" }, "rle secret").status, 0);
    std::vector<std::uint8_t> file = ReadBytes(m_folder / "secret.bmp");
    PutLittleEndian(file, 30, GetParam());
    Put("c.bmp", file);

    const RunResult info = Run({ "info", "c.bmp" });
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find(std::string("compressed: ") + (GetParam() <= 2 ? "yes" : "no") + "\ndata-space: 160\n"),
        std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("secret: yes\n"), std::string::npos) << info.out;
    const RunResult reveal = Run({ "reveal", "c.bmp", "--password-file", "pw" });
    EXPECT_EQ(reveal.status, 0) << reveal.err;
    EXPECT_EQ(reveal.out, "rle secret");

    const RunResult hide = Run({ "hide", "c.bmp", "out.bmp", "--password-file", "pw" }, "hi");
    EXPECT_EQ(hide.status, 2);
    ExpectOneErrorLine(hide, "Hiding data in a");
    EXPECT_FALSE(Exists("out.bmp"));
}

INSTANTIATE_TEST_SUITE_P(Compressions, CliCompressed, testing::Values(1u, 4u, 5u),
    [](const auto& info) { return "Compression" + std::to_string(info.param); });

// A protected output is refused, before any password is asked for (none is
// given here), and kept as it was.
TEST_F(CliTest, ReadOnlyOutputIsRefused)
{
    Put("in.bmp", MakeBmp({}));
    Put("ro.bmp", std::string("keep me"));
    ASSERT_EQ(::chmod(Path("ro.bmp").c_str(), 0444), 0);
    const RunResult result = Run({ "hide", "in.bmp", "ro.bmp" }, "hi");
    EXPECT_EQ(result.status, 6);
    ExpectOneErrorLine(result, "cannot write ro.bmp: Permission denied");
    EXPECT_EQ(ReadText(m_folder / "ro.bmp"), "keep me");
}

// A message is read no further than needed to tell that it does not fit.
TEST_F(CliTest, EndlessMessageIsRefusedAtOnce)
{
    Put("in.bmp", MakeBmp({}));
    Put("pw", "pw\n");
    // The password from a file, or from the endless input's first line.
    for (const char* passwordFile : { "pw", "-" }) {
        const RunResult endless
            = RunWithEndlessInput({ "hide", "in.bmp", "out.bmp", "--password-file", passwordFile }, 10);
        EXPECT_EQ(endless.status, 4) << passwordFile;
        ExpectOneErrorLine(endless, "at most 3727 bytes");
        EXPECT_FALSE(Exists("out.bmp"));
    }

    // A huge message file is not read whole either.
    {
        std::ofstream(m_folder / "huge", std::ios::binary) << std::string(65536, 'x');
    }
    std::filesystem::resize_file(m_folder / "huge", std::uintmax_t(512) << 20);
    const RunResult huge = Run({ "hide", "in.bmp", "out.bmp", "--message-file", "huge", "--password-file", "pw" });
    EXPECT_EQ(huge.status, 4);
    ExpectOneErrorLine(huge, "at most 3727 bytes");
    EXPECT_LT(huge.peakMemoryKiB, 128 * 1024);
}

struct RefusalCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string input;
    int status;
    const char* reason;
};

void PrintTo(const RefusalCase& value, std::ostream* stream) { *stream << value.name; }

class CliRefusal : public CliTest, public testing::WithParamInterface<RefusalCase> { };

TEST_P(CliRefusal, RefusesAndWritesNothing)
{
    Put("in.bmp", MakeBmp({}));
    Put("pw", "pw\n");
    Put("long-pw", std::string(512, 'p') + "\n");
    Put("zero", std::string("a\0b", 3));
    const RunResult result = Run(GetParam().arguments, GetParam().input);
    EXPECT_EQ(result.status, GetParam().status);
    ExpectOneErrorLine(result, GetParam().reason);
    EXPECT_FALSE(Exists("out.bmp"));
}

INSTANTIATE_TEST_SUITE_P(Inputs, CliRefusal,
    testing::Values(RefusalCase { "NoCommand", {}, "", 1, "no command" },
        RefusalCase { "UnknownCommand", { "show", "in.bmp" }, "", 1, "unknown command 'show'" },
        RefusalCase { "UnknownOption", { "info", "in.bmp", "--colour" }, "", 1, "unknown option '--colour'" },
        RefusalCase { "MissingOutput", { "hide", "in.bmp", "--password-file", "pw" }, "", 1, "PICTURE OUTPUT" },
        RefusalCase { "OptionWithoutFile", { "reveal", "in.bmp", "--password-file" }, "", 1, "needs a file name" },
        RefusalCase { "OutputOfOtherKind", { "hide", "in.bmp", "out.jpg", "--password-file", "pw" }, "hi", 1, ".bmp" },
        RefusalCase { "MessageWithZeroByte",
            { "hide", "in.bmp", "out.bmp", "--message-file", "zero", "--password-file", "pw" }, "", 1, "zero byte" },
        RefusalCase { "MissingMessageFile",
            { "hide", "in.bmp", "out.bmp", "--message-file", "nope", "--password-file", "pw" }, "", 1, "nope" },
        RefusalCase { "PasswordTooLong", { "hide", "in.bmp", "out.bmp", "--password-file", "long-pw" }, "hi", 1,
            "at most 511 bytes" },
        RefusalCase { "NoPasswordWithoutTerminal", { "hide", "in.bmp", "out.bmp" }, "hi", 1, "--password-file" },
        RefusalCase { "OutputFolderMissing", { "hide", "in.bmp", "no/out.bmp", "--password-file", "pw" }, "hi", 6,
            "No such file or directory" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, LongestPasswordIsAccepted)
{
    Put("in.bmp", MakeBmp({}));
    Put("pw", std::string(511, 'p'));
    ASSERT_EQ(Run({ "hide", "in.bmp", "out.bmp", "--password-file", "pw" }, "m").status, 0);
    EXPECT_EQ(Run({ "reveal", "out.bmp", "--password-file", "pw" }).out, "m");
}

TEST_F(CliTest, VerboseSendsLogLinesToStandardError)
{
    Put("in.bmp", MakeBmp({}));
    Put("pw", "pw\n");
    const RunResult result = Run({ "--verbose", "hide", "in.bmp", "out.bmp", "--password-file", "pw" }, "m");
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.err,
        "Reading 'Secrect Data' from picture.\nGenerate the 'Key'.\nEncryption Start.\n"
        "Ecryption End.\nSaving 'Secret Data' into picture.\n");
}

TEST_F(CliTest, HelpAndVersion)
{
    const RunResult help = Run({ "--help" });
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("veilmark-cli hide    PICTURE OUTPUT"), std::string::npos);
    const RunResult version = Run({ "--version" });
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "veilmark-cli 1, 0, 0, 1\n");
}

// JPEG pictures, made by libjpeg-turbo's cjpeg from a generated picture.
class CliJpeg : public CliTest {
protected:
    // Writes a textured width x height picture as `name`, 4:2:0 unless other
    // cjpeg options are given.
    void MakeJpeg(const std::string& name, int width, int height, const std::string& options = "-sample 2x2")
    {
        std::string ppm = "P6 " + std::to_string(width) + " " + std::to_string(height) + " 255\n";
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                ppm += char((x * 7 + y * 3) & 255);
                ppm += char((x + y) & 255);
                ppm += char((x * y) & 255);
            }
        Put("source.ppm", ppm);
        const std::string command = "cjpeg " + options + " -outfile '" + Path(name) + "' '" + Path("source.ppm") + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
};

TEST_F(CliJpeg, CameraStyleFileThenOwnFile)
{
    MakeJpeg("in.JPEG", 640, 480);
    const RunResult camera = Run({ "info", "in.JPEG" });
    ASSERT_EQ(camera.status, 0) << camera.err;
    EXPECT_NE(camera.out.find("format: JPEG\nwidth: 640\nheight: 480\ndata-space: 272\n"), std::string::npos)
        << camera.out;

    Put("pw", "Jpeg pass\n");
    Put("PW", "jpeg pass\n");
    // A picture saved by this program carries one bit in every chroma block of
    // its 4:4:4 encoding, so its data space grows to 1168 bytes.
    for (std::size_t length : { std::size_t(0), std::size_t(15), std::size_t(16), std::size_t(271) }) {
        const std::string message = PatternedMessage(length);
        Put("message", message);
        const RunResult hidden
            = Run({ "hide", "in.JPEG", "out.jpg", "--message-file", "message", "--password-file", "pw" });
        ASSERT_EQ(hidden.status, 0) << length << ": " << hidden.err;
        const RunResult revealed = Run({ "reveal", "out.jpg", "--password-file", "pw" });
        ASSERT_EQ(revealed.status, 0) << length << ": " << revealed.err;
        EXPECT_EQ(revealed.out, message) << length;
    }
    const RunResult own = Run({ "info", "out.jpg" });
    EXPECT_NE(own.out.find("data-space: 1168\n"), std::string::npos) << own.out;
    EXPECT_NE(own.out.find("secret: yes\n"), std::string::npos) << own.out;
    const RunResult wrong = Run({ "reveal", "out.jpg", "--password-file", "PW" });
    EXPECT_EQ(wrong.status, 3);
    ExpectOneErrorLine(wrong, "Wrong password");

    Put("message", std::string(272, 'x'));
    const RunResult tooLong
        = Run({ "hide", "in.JPEG", "big.jpg", "--message-file", "message", "--password-file", "pw" });
    EXPECT_EQ(tooLong.status, 4);
    ExpectOneErrorLine(tooLong, "at most 271 bytes");
    EXPECT_FALSE(Exists("big.jpg"));
}

TEST_F(CliJpeg, GreyPictureHasNoRoom)
{
    MakeJpeg("grey.jpg", 640, 480, "-grayscale");
    Put("pw", "pw\n");
    const RunResult result = Run({ "hide", "grey.jpg", "out.jpg", "--password-file", "pw" }, "message");
    EXPECT_EQ(result.status, 4);
    ExpectOneErrorLine(result, "Grey JPEG pictures have no room for a message.");
    EXPECT_FALSE(Exists("out.jpg"));
}

TEST_F(CliJpeg, ProgressiveCoverRevealsItsMessage)
{
    // A progressive 4:2:0 file counts its chroma blocks like a baseline one:
    // 20 x 15 MCUs, 600 bits, 75 bytes, 48 of message.
    MakeJpeg("web.jpg", 320, 240, "-progressive -sample 2x2");
    const RunResult cover = Run({ "info", "web.jpg" });
    ASSERT_EQ(cover.status, 0) << cover.err;
    EXPECT_NE(cover.out.find("format: JPEG\nwidth: 320\nheight: 240\ndata-space: 48\n"), std::string::npos)
        << cover.out;
    EXPECT_NE(cover.out.find("secret: no\n"), std::string::npos) << cover.out;

    Put("pw", "web pass\n");
    const std::string message = PatternedMessage(47);
    Put("message", message);
    const RunResult hidden
        = Run({ "hide", "web.jpg", "out.jpg", "--message-file", "message", "--password-file", "pw" });
    ASSERT_EQ(hidden.status, 0) << hidden.err;
    const RunResult revealed = Run({ "reveal", "out.jpg", "--password-file", "pw" });
    ASSERT_EQ(revealed.status, 0) << revealed.err;
    EXPECT_EQ(revealed.out, message);
    const RunResult nothing = Run({ "reveal", "web.jpg", "--password-file", "pw" });
    EXPECT_EQ(nothing.status, 5) << nothing.err;
}

TEST_F(CliJpeg, BrokenAndUnsupportedFilesAreRefused)
{
    MakeJpeg("good.jpg", 64, 48, "-sample 1x1");
    MakeJpeg("progressive.jpg", 64, 48, "-progressive");
    MakeJpeg("rgb.jpg", 64, 48, "-rgb");
    std::vector<std::uint8_t> truncated = ReadBytes(m_folder / "good.jpg");
    truncated.resize(truncated.size() / 2);
    Put("truncated.jpg", truncated);
    truncated = ReadBytes(m_folder / "progressive.jpg");
    truncated.resize(truncated.size() * 2 / 3);
    Put("progressive.jpg", truncated);
    Put("text.jpg", std::string("not a picture at all"));
    Put("pw", "pw\n");
    const std::pair<const char*, const char*> cases[] = {
        { "progressive.jpg", "Premature end of JPEG file" },
        { "truncated.jpg", "ends too early" },
        { "text.jpg", "" },
    };
    for (const auto& [name, reason] : cases) {
        for (const std::vector<std::string>& command : { std::vector<std::string> { "info", name },
                 std::vector<std::string> { "hide", name, "out.jpg", "--password-file", "pw" },
                 std::vector<std::string> { "reveal", name, "--password-file", "pw" } }) {
            const RunResult result = Run(command, "message");
            EXPECT_EQ(result.status, 2) << name << " " << command[0];
            ExpectOneErrorLine(result, reason);
        }
    }
    EXPECT_FALSE(Exists("out.jpg"));
}

} // namespace
