#include "mail/FilePartHandler.h"

#include "mail/Base64Coder.h"
#include "mail/HeaderEncoding.h"
#include "mail/SendProgress.h"
#include "res/StringIds.h"
#include "res/StringTable.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kChunkSize = 54; // 54 bytes make one 72-character Base64 line

std::string FileNameOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A MIME parameter "attribute=value" that carries any file name intact: a
// plain token as it is (RFC 2045 5.1), printable ASCII with spaces or
// specials as a quoted string (RFC 5322 3.2.4), and anything else - letters
// beyond ASCII, control characters - as an RFC 2231 extended value in UTF-8,
// the encoding of Linux file names.
std::string FileParameter(const std::string& attribute, const std::string& value)
{
    const auto isSpecial
        = [](unsigned char character) { return std::strchr("()<>@,;:\\\"/[]?=", character) != nullptr; };
    bool token = !value.empty();
    bool printable = true;
    for (const unsigned char character : value) {
        if (character < 0x20 || character > 0x7E)
            printable = false;
        if (character <= 0x20 || character > 0x7E || isSpecial(character))
            token = false;
    }
    if (token)
        return attribute + "=" + value;
    if (printable) {
        std::string quoted = attribute + "=\"";
        for (const char character : value) {
            if (character == '"' || character == '\\')
                quoted += '\\';
            quoted += character;
        }
        return quoted + "\"";
    }
    // RFC 2231 7: attribute-char is any token character except '*', '\''
    // and '%'; every other byte is written as '%' and two hex digits.
    constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string encoded = attribute + "*=UTF-8''";
    for (const unsigned char character : value) {
        if (character > 0x20 && character <= 0x7E && !isSpecial(character) && character != '*' && character != '\''
            && character != '%') {
            encoded += static_cast<char>(character);
        } else {
            encoded += '%';
            encoded += kHexDigits[character >> 4];
            encoded += kHexDigits[character & 0x0F];
        }
    }
    return encoded;
}

// Reads until `size` bytes are in or the file ends; returns the count read or
// -1 with errno set.
ssize_t ReadChunk(int descriptor, std::uint8_t* buffer, std::size_t size)
{
    std::size_t total = 0;
    while (total < size) {
        const ssize_t count = ::read(descriptor, buffer + total, size - total);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (count == 0)
            break;
        total += static_cast<std::size_t>(count);
    }
    return static_cast<ssize_t>(total);
}

class CFileDescriptor {
public:
    explicit CFileDescriptor(int descriptor)
        : m_descriptor(descriptor)
    {
    }
    ~CFileDescriptor()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;
    int Get() const { return m_descriptor; }

private:
    int m_descriptor;
};

} // namespace

bool CFilePartHandler::WritePart(
    const std::string& content, const std::string& parameters, std::string& body, std::string& error) const
{
    if (content.empty()) {
        error = "No attachment file was named.";
        return false;
    }
    const CFileDescriptor file(::open(content.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status { };
    if (file.Get() < 0 || ::fstat(file.Get(), &status) != 0) {
        error = "Cannot open the attachment file " + content + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        error = "Cannot open the attachment file " + content + ": it is not a regular file.";
        return false;
    }

    // Encode into a separate text so that a failed read appends nothing.
    std::string part = PartHeader(content, parameters, true);
    SetSendProgressText(LoadResString(IDS_ENCODING_ATTACHMENT));

    CBase64Coder coder;
    const auto length = static_cast<std::uint64_t>(status.st_size);
    std::uint64_t total = 0;
    std::uint8_t chunk[kChunkSize];
    part.reserve(part.size() + static_cast<std::size_t>(length / kChunkSize + 1) * 74 + 2);
    for (;;) {
        const ssize_t count = ReadChunk(file.Get(), chunk, kChunkSize);
        if (count < 0) {
            error = "Cannot read the attachment file " + content + ": " + std::strerror(errno);
            return false;
        }
        part += coder.ToBase64(chunk, static_cast<int>(count));
        part += "\r\n";
        total += static_cast<std::uint64_t>(count);
        // An empty file has nothing left to encode, so it is complete at once.
        SetSendProgressPos(length == 0 ? 100 : static_cast<int>(std::min<std::uint64_t>(total * 100 / length, 100)));
        if (static_cast<std::size_t>(count) != kChunkSize || total >= length)
            break;
    }
    part += "\r\n";
    SetSendProgressPos(100);

    body += part;
    return true;
}

std::string CFilePartHandler::ContentType() const { return "application/octet-stream"; }

std::string CFilePartHandler::PartHeader(
    const std::string& content, const std::string& /*parameters*/, bool withFileParameter) const
{
    const std::string fileName = FileNameOf(content);
    const std::string suffix = withFileParameter ? "; " + FileParameter("file", fileName) : std::string();
    // A long name folds after the ';' before its parameter.
    return FoldHeaderLine("Content-Type: " + ContentType() + suffix) + "\r\n" + "Content-Transfer-Encoding: base64\r\n"
        + FoldHeaderLine("Content-Disposition: attachment; " + FileParameter("filename", fileName)) + "\r\n" + "\r\n";
}
