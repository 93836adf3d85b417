#include "base/FileIO.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string SystemError(int code) { return std::strerror(code); }

bool WriteAll(int descriptor, const std::uint8_t* data, std::size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(descriptor, data, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        length -= std::size_t(written);
    }
    return true;
}

constexpr std::size_t kTemporarySuffixLength = 6;
constexpr std::size_t kReadPieceLength = 65536;

bool IsTemporaryName(std::string_view name)
{
    const std::string_view prefix = kTemporaryFilePrefix;
    return name.size() == prefix.size() + kTemporarySuffixLength && name.starts_with(prefix)
        && std::all_of(name.begin() + std::ptrdiff_t(prefix.size()), name.end(),
            [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

std::string RandomTemporaryName()
{
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device source;
    std::string name = kTemporaryFilePrefix;
    for (std::size_t i = 0; i < kTemporarySuffixLength; ++i)
        name += kLetters[source() % (sizeof kLetters - 1)];
    return name;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Removes the temporary files in `folder` that writers killed between naming
// a file and putting it in place left behind. A live writer holds an exclusive
// lock on its temporary file for as long as the file has its temporary name,
// so a file whose lock can be taken is nobody's.
void SweepAbandonedTemporaries(const std::string& folder)
{
    const int directory = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return;
    DIR* listing = ::fdopendir(directory);
    if (listing == nullptr) {
        ::close(directory);
        return;
    }
    while (const dirent* entry = ::readdir(listing)) {
        const char* name = entry->d_name;
        if (!IsTemporaryName(name))
            continue;
        struct stat named { };
        if (::fstatat(directory, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode)
            || named.st_uid != ::geteuid())
            continue;
        int descriptor = ::openat(directory, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (descriptor < 0)
            descriptor = ::openat(directory, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (descriptor < 0)
            continue;
        struct stat opened { };
        if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0 && ::fstat(descriptor, &opened) == 0
            && ::fstatat(directory, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(opened, named))
            ::unlinkat(directory, name, 0);
        ::close(descriptor);
    }
    ::closedir(listing);
}

// A temporary file without a name in `folder`, locked; -1 where the file
// system has no such files.
int OpenUnnamedTemporary(const std::string& folder)
{
    const int descriptor = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (descriptor >= 0)
        ::flock(descriptor, LOCK_EX);
    return descriptor;
}

// Gives the unnamed file behind `descriptor` the name `path`; 0 or the
// system's error (EEXIST when the name is taken).
int LinkUnnamed(int descriptor, const std::string& path)
{
    const std::string self = "/proc/self/fd/" + std::to_string(descriptor);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno != ENOENT)
        return errno;
    // Without /proc the descriptor itself can be linked, by a privileged user.
    return ::linkat(descriptor, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
}

// A new, locked temporary file with a short name in `folder`; -1 with the
// system's error in `failure`.
int CreateNamedTemporary(const std::string& folder, std::string& temporary, int& failure)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = folder + kTemporaryFilePrefix + std::string(kTemporarySuffixLength, 'X');
        const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (descriptor < 0) {
            failure = errno;
            temporary.clear();
            return -1;
        }
        // A sweep may have taken the file in the moment before it was locked;
        // once the lock is held the name stays ours.
        ::flock(descriptor, LOCK_EX);
        struct stat opened {
        }, named {};
        if (::fstat(descriptor, &opened) == 0 && ::lstat(temporary.c_str(), &named) == 0 && SameFile(opened, named))
            return descriptor;
        ::close(descriptor);
    }
    failure = EEXIST;
    temporary.clear();
    return -1;
}

// What FillTemporary returns when the producer failed; its own text says why.
constexpr int kProducerFailed = -1;

// Writes what `produce` makes, sets the permissions and flushes; 0, the
// system's error, or kProducerFailed with the producer's reason in `reason`.
int FillTemporary(int descriptor, const FileProducer& produce, mode_t mode, std::string& reason)
{
    int failure = 0;
    // The disk starts on what is written while the rest is still being made,
    // so that the flush at the end waits for little more than the last part.
    constexpr std::size_t kWritebackStep = std::size_t(8) << 20;
    std::size_t written = 0;
    std::size_t handedToDisk = 0;
    const FilePieceSink write = [&](std::span<const std::uint8_t> piece) {
        if (!WriteAll(descriptor, piece.data(), piece.size())) {
            failure = errno ? errno : EIO;
            return false;
        }
        written += piece.size();
        if (written - handedToDisk >= kWritebackStep) {
            // Only a hint: a file system that cannot take it still gets the
            // fsync below.
            (void)::sync_file_range(
                descriptor, off_t(handedToDisk), off_t(written - handedToDisk), SYNC_FILE_RANGE_WRITE);
            handedToDisk = written;
        }
        return true;
    };
    if (!produce(write, reason))
        return failure != 0 ? failure : kProducerFailed;
    if (failure != 0)
        return failure; // a producer that went on after a refused write
    if (::fchmod(descriptor, mode) != 0)
        return errno;
    return ::fsync(descriptor) == 0 ? 0 : errno;
}

} // namespace

namespace {

// Opens a regular file for reading and tells its length; -1 with `error` set
// otherwise.
int OpenRegularFile(const std::string& path, std::size_t& length, std::string& error)
{
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        error = SystemError(errno);
        return -1;
    }
    struct stat status { };
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = S_ISDIR(status.st_mode) ? "Is a directory" : SystemError(errno ? errno : EINVAL);
        ::close(descriptor);
        return -1;
    }
    length = std::size_t(status.st_size);
    return descriptor;
}

// Reads up to `length` bytes into `target`; the count read (less when the
// file shrank meanwhile), or -1 with `error` set.
std::ptrdiff_t ReadUpTo(int descriptor, std::uint8_t* target, std::size_t length, std::string& error)
{
    std::size_t filled = 0;
    while (filled < length) {
        const ssize_t got = ::read(descriptor, target + filled, length - filled);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error = SystemError(errno);
            return -1;
        }
        if (got == 0)
            break; // the file shrank while we read it
        filled += std::size_t(got);
    }
    return std::ptrdiff_t(filled);
}

} // namespace

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& contents, std::string& error)
{
    contents.clear();
    std::size_t length = 0;
    const int descriptor = OpenRegularFile(path, length, error);
    if (descriptor < 0)
        return false;
    contents.resize(length);
    const std::ptrdiff_t filled = ReadUpTo(descriptor, contents.data(), length, error);
    ::close(descriptor);
    if (filled < 0) {
        contents.clear();
        return false;
    }
    contents.resize(std::size_t(filled));
    return true;
}

bool ReadWholeFile(const std::string& path, CLargeBuffer& contents, std::string& error)
{
    contents.Reset();
    std::size_t length = 0;
    const int descriptor = OpenRegularFile(path, length, error);
    if (descriptor < 0)
        return false;
    if (!contents.Allocate(length)) {
        error = SystemError(ENOMEM);
        ::close(descriptor);
        return false;
    }
    const std::ptrdiff_t filled = ReadUpTo(descriptor, contents.data(), length, error);
    ::close(descriptor);
    if (filled < 0) {
        contents.Reset();
        return false;
    }
    contents.Shorten(std::size_t(filled));
    return true;
}

bool ReadFilePrefix(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& contents, std::string& error)
{
    contents.clear();
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        error = SystemError(errno);
        return false;
    }
    std::size_t filled = 0;
    while (filled < limit) {
        if (filled == contents.size())
            contents.resize(std::min(limit, filled + kReadPieceLength));
        const ssize_t got = ::read(descriptor, contents.data() + filled, contents.size() - filled);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error = SystemError(errno);
            ::close(descriptor);
            contents.clear();
            return false;
        }
        if (got == 0)
            break;
        filled += std::size_t(got);
    }
    contents.resize(filled);
    ::close(descriptor);
    return true;
}

bool CheckFileReplaceable(const std::string& path, std::string& error)
{
    struct stat status { };
    if (::stat(path.c_str(), &status) != 0)
        return true; // nothing to protect; the write itself reports any other problem
    if (S_ISDIR(status.st_mode)) {
        error = SystemError(EISDIR);
        return false;
    }
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
        error = SystemError(errno);
        return false;
    }
    if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        error = SystemError(EACCES);
        return false;
    }
    return true;
}

bool WriteFileAtomically(
    const std::string& path, std::initializer_list<std::span<const std::uint8_t>> pieces, std::string& error)
{
    return WriteFileAtomicallyFrom(
        path,
        [pieces](const FilePieceSink& write, std::string&) {
            for (const auto& piece : pieces) {
                if (!write(piece))
                    return false;
            }
            return true;
        },
        error);
}

bool WriteFileAtomicallyFrom(const std::string& path, const FileProducer& produce, std::string& error)
{
    if (!CheckFileReplaceable(path, error))
        return false;
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    SweepAbandonedTemporaries(folder);

    // A replaced file keeps the permissions of the file it replaces; a new one
    // gets the ordinary permissions for new files.
    struct stat existing { };
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    mode_t mode = existing.st_mode & 07777;
    if (!exists) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    // The file is locked from before it has a name until it has the target's
    // name (see SweepAbandonedTemporaries).
    std::string temporary;
    std::string reason;
    int failure = 0;
    int descriptor = OpenUnnamedTemporary(folder);
    if (descriptor >= 0) {
        failure = FillTemporary(descriptor, produce, mode, reason);
        if (failure == 0) {
            // A new file is linked in place at once; a file that is replaced
            // needs a name to rename from.
            int linked = exists ? EEXIST : LinkUnnamed(descriptor, path);
            for (int attempt = 0; linked == EEXIST && attempt < 100; ++attempt) {
                temporary = folder + RandomTemporaryName();
                linked = LinkUnnamed(descriptor, temporary);
            }
            if (linked != 0)
                temporary.clear();
            if (linked == 0 && temporary.empty()) {
                ::close(descriptor);
                return true;
            }
            if (linked != 0) {
                // The file system makes unnamed files but cannot name them
                // here: write a named one instead.
                ::close(descriptor);
                descriptor = -1;
            }
        }
    }
    if (descriptor < 0) {
        descriptor = CreateNamedTemporary(folder, temporary, failure);
        if (descriptor < 0) {
            error = SystemError(failure);
            return false;
        }
        failure = FillTemporary(descriptor, produce, mode, reason);
    }
    if (failure == 0 && ::rename(temporary.c_str(), path.c_str()) != 0)
        failure = errno;
    if (failure != 0 && !temporary.empty())
        ::unlink(temporary.c_str());
    ::close(descriptor);
    if (failure != 0)
        error = failure == kProducerFailed ? reason : SystemError(failure);
    return failure == 0;
}
