#include "mail/TextPartHandler.h"

#include "mail/Base64Coder.h"

#include <cstdint>

namespace {

// RFC 5322 2.1.1: no line may be longer than 998 characters.
constexpr std::size_t kLongestLine = 998;
constexpr std::size_t kBase64Chunk = 54; // bytes of one 72-character line

// Text that passes as "7bit" (RFC 2045 2.7): ASCII without NUL and no line
// longer than the limit. Anything else is sent in Base64.
bool IsSevenBitText(const std::string& text)
{
    std::size_t column = 0;
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte == 0 || byte > 0x7F)
            return false;
        column = byte == '\n' ? 0 : column + 1;
        if (column > kLongestLine + 1) // the CR of CR LF counts with the line
            return false;
    }
    return true;
}

constexpr const char* kWhiteSpace = " \t\r\n\v\f";

std::string TrimRight(std::string text)
{
    const auto last = text.find_last_not_of(kWhiteSpace);
    text.erase(last == std::string::npos ? 0 : last + 1);
    return text;
}

std::string TrimLeft(std::string text)
{
    const auto first = text.find_first_not_of(kWhiteSpace);
    text.erase(0, first == std::string::npos ? text.size() : first);
    return text;
}

} // namespace

bool CTextPartHandler::WritePart(
    const std::string& content, const std::string& parameters, std::string& body, std::string& /*error*/) const
{
    const std::string wrapped = WrapText(content);
    body += PartHeader(content, parameters, false);
    if (IsSevenBitText(wrapped)) {
        body += wrapped;
        return true;
    }
    CBase64Coder coder;
    for (std::size_t position = 0; position < wrapped.size(); position += kBase64Chunk) {
        const std::size_t length = std::min(kBase64Chunk, wrapped.size() - position);
        body += coder.ToBase64(
            reinterpret_cast<const std::uint8_t*>(wrapped.data() + position), static_cast<int>(length));
        body += "\r\n";
    }
    return true;
}

std::string CTextPartHandler::ContentType() const { return "text/plain"; }

std::string CTextPartHandler::PartHeader(
    const std::string& content, const std::string& parameters, bool /*withFileParameter*/) const
{
    // The text comes as UTF-8 from the dialog; without the charset receivers
    // guess, and guess wrong for every letter beyond ASCII.
    const char* encoding = IsSevenBitText(WrapText(content)) ? "7Bit" : "base64";
    return "Content-Type: " + ContentType() + "; charset=UTF-8" + parameters + "\r\n"
        + "Content-Transfer-Encoding: " + encoding + "\r\n\r\n";
}

std::string CTextPartHandler::WrapText(std::string text) const
{
    int column = 0;
    std::size_t lastSpace = 0;
    for (std::size_t index = 0; index < text.size(); ++index) {
        if (text[index] == ' ')
            lastSpace = index;
        if (text.compare(index, 2, "\r\n") == 0)
            column = 0;
        if (column <= m_wrapWidth) {
            ++column;
        } else {
            text = TrimRight(text.substr(0, lastSpace)) + "\r\n" + TrimLeft(text.substr(lastSpace));
            column = 0;
        }
    }
    return text;
}
