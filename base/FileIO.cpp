#include "base/FileIO.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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

} // namespace

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& contents, std::string& error)
{
    contents.clear();
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        error = SystemError(errno);
        return false;
    }
    struct stat status { };
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = S_ISDIR(status.st_mode) ? "Is a directory" : SystemError(errno ? errno : EINVAL);
        ::close(descriptor);
        return false;
    }
    contents.resize(std::size_t(status.st_size));
    std::size_t filled = 0;
    while (filled < contents.size()) {
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
            break; // the file shrank while we read it
        filled += std::size_t(got);
    }
    contents.resize(filled);
    ::close(descriptor);
    return true;
}

bool WriteFileAtomically(
    const std::string& path, std::initializer_list<std::span<const std::uint8_t>> pieces, std::string& error)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary = folder + "." + name + ".XXXXXX";
    const int descriptor = ::mkstemp(temporary.data());
    if (descriptor < 0) {
        error = SystemError(errno);
        return false;
    }
    bool written = true;
    for (const auto& piece : pieces)
        written = written && WriteAll(descriptor, piece.data(), piece.size());
    int failure = written ? 0 : errno;
    // A replaced file keeps the permissions of the file it replaces; a new one
    // gets the ordinary permissions for new files.
    struct stat existing { };
    if (written) {
        mode_t mode;
        if (::stat(path.c_str(), &existing) == 0) {
            mode = existing.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        ::fchmod(descriptor, mode);
    }
    if (written && ::fsync(descriptor) != 0) {
        written = false;
        failure = errno;
    }
    if (::close(descriptor) != 0 && written) {
        written = false;
        failure = errno;
    }
    if (written && ::rename(temporary.c_str(), path.c_str()) != 0) {
        written = false;
        failure = errno;
    }
    if (!written) {
        ::unlink(temporary.c_str());
        error = SystemError(failure ? failure : EIO);
    }
    return written;
}
