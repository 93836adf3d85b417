#include "base/FileIO.h"

#include "support/TestFiles.h"

#include "support/BmpMaker.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::span<const std::uint8_t> Bytes(const std::string& text)
{
    return { reinterpret_cast<const std::uint8_t*>(text.data()), text.size() };
}

std::set<std::string> Names(const std::filesystem::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

mode_t ModeOf(const std::filesystem::path& path)
{
    struct stat status { };
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

struct ReplaceCase {
    const char* name;
    mode_t mode;
    bool replaced;
};

void PrintTo(const ReplaceCase& value, std::ostream* stream) { *stream << value.name; }

class FileIOReplace : public testing::TestWithParam<ReplaceCase> { };

// A writable file is replaced and keeps its permissions; a read-only one is
// refused with the system's reason and keeps its contents, whoever runs this.
TEST_P(FileIOReplace, HonoursTheTargetsPermissions)
{
    CTempFolder folder;
    const auto target = folder / "out.bmp";
    WriteBytes(target, { 'o', 'l', 'd' });
    ASSERT_EQ(::chmod(target.c_str(), GetParam().mode), 0);

    std::string error;
    const bool written = WriteFileAtomically(target, { Bytes("new") }, error);
    EXPECT_EQ(written, GetParam().replaced) << error;
    EXPECT_EQ(ReadText(target), GetParam().replaced ? "new" : "old");
    EXPECT_EQ(ModeOf(target), GetParam().mode);
    if (!GetParam().replaced) {
        EXPECT_EQ(error, "Permission denied");
        std::string checked;
        EXPECT_FALSE(CheckFileReplaceable(target, checked));
        EXPECT_EQ(checked, "Permission denied");
    }
    EXPECT_EQ(Names(folder.Path()), std::set<std::string> { "out.bmp" });
}

INSTANTIATE_TEST_SUITE_P(Modes, FileIOReplace,
    testing::Values(ReplaceCase { "Writable", 0640, true }, ReplaceCase { "OwnerWritableOnly", 0200, true },
        ReplaceCase { "ReadOnly", 0444, false }, ReplaceCase { "NoPermissions", 0000, false }),
    [](const auto& info) { return std::string(info.param.name); });

// The longest name a folder entry may have is written, both as a new file and
// over an existing one.
TEST(FileIO, LongestFileNameIsWritten)
{
    CTempFolder folder;
    const auto target = folder / (std::string(NAME_MAX - 4, 'n') + ".bmp");
    for (const char* contents : { "first", "second" }) {
        std::string error;
        ASSERT_TRUE(WriteFileAtomically(target, { Bytes(contents) }, error)) << error;
        EXPECT_EQ(ReadText(target), contents);
    }
    EXPECT_EQ(Names(folder.Path()).size(), 1u);
}

// A write killed half-way (here by exceeding the file size limit, whose signal
// ends the process) leaves the target as it was and no temporary file behind.
TEST(FileIO, KilledWritesLeaveNothingBehind)
{
    CTempFolder folder;
    const auto target = folder / "picture.bmp";
    WriteBytes(target, { 'o', 'l', 'd' });
    const std::string large(4 << 20, 'x');
    for (int round = 0; round < 3; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit limit { 1 << 20, 1 << 20 };
            ::setrlimit(RLIMIT_FSIZE, &limit);
            std::string error;
            (void)WriteFileAtomically(target, { Bytes(large) }, error);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    }
    EXPECT_EQ(ReadText(target), "old");
    EXPECT_EQ(Names(folder.Path()), std::set<std::string> { "picture.bmp" });
}

// A temporary file left by a writer that died after naming it is removed by
// the next write into its folder; one that a live writer holds stays, and so
// does every other file.
TEST(FileIO, AbandonedTemporaryFilesAreSwept)
{
    CTempFolder folder;
    const std::string abandoned = std::string(kTemporaryFilePrefix) + "Ab12Cd";
    const std::string held = std::string(kTemporaryFilePrefix) + "Live01";
    const std::string notOurs = std::string(kTemporaryFilePrefix) + "notes.txt";
    for (const std::string& name : { abandoned, held, notOurs })
        WriteBytes(folder / name, { 'p', 'a', 'r', 't' });
    // Locks taken through separate opens of a file exclude each other even
    // within one process, so this lock stands for a live writer.
    const int holder = ::open((folder / held).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    std::string error;
    ASSERT_TRUE(WriteFileAtomically(folder / "out.bmp", { Bytes("new") }, error)) << error;
    ::close(holder);
    EXPECT_EQ(Names(folder.Path()), (std::set<std::string> { held, notOurs, "out.bmp" }));
}

TEST(FileIO, ReadFilePrefixStopsAtTheLimit)
{
    CTempFolder folder;
    WriteBytes(folder / "short", { 'a', 'b', 'c' });
    std::vector<std::uint8_t> contents;
    std::string error;
    ASSERT_TRUE(ReadFilePrefix(folder / "short", 10, contents, error)) << error;
    EXPECT_EQ(contents, (std::vector<std::uint8_t> { 'a', 'b', 'c' }));
    // A source that never ends.
    ASSERT_TRUE(ReadFilePrefix("/dev/zero", 100001, contents, error)) << error;
    EXPECT_EQ(contents.size(), 100001u);
    EXPECT_FALSE(ReadFilePrefix(folder.Path(), 10, contents, error));
    EXPECT_EQ(error, "Is a directory");
}

// Contents made while they are written: a producer that fails after some
// pieces leaves a new target missing and an old one as it was, with nothing
// else behind and the producer's reason; one that succeeds writes its pieces
// in order.
TEST(FileIO, ProducedFileIsWholeOrNothing)
{
    CTempFolder folder;
    const auto fresh = folder / "fresh.bmp";
    const auto existing = folder / "existing.bmp";
    WriteText(existing, "old");
    const FileProducer failing = [](const FilePieceSink& write, std::string& error) {
        if (!write(Bytes("a first piece")))
            return false;
        error = "the rest is missing";
        return false;
    };
    for (const auto& target : { fresh, existing }) {
        std::string error;
        EXPECT_FALSE(WriteFileAtomicallyFrom(target, failing, error));
        EXPECT_EQ(error, "the rest is missing");
    }
    EXPECT_EQ(Names(folder.Path()), std::set<std::string> { "existing.bmp" });
    EXPECT_EQ(ReadText(existing), "old");

    // Pieces of a file large enough that the disk is started on its first
    // part while the rest is written.
    const std::string first(9 << 20, 'a');
    const std::string second(5 << 20, 'b');
    std::string error;
    ASSERT_TRUE(WriteFileAtomicallyFrom(
        existing,
        [&](const FilePieceSink& write, std::string&) {
            return write(Bytes(first)) && write(Bytes(second)) && write(Bytes("end"));
        },
        error))
        << error;
    EXPECT_EQ(ReadText(existing), first + second + "end");
}

} // namespace
