#include "mail/TextPartHandler.h"

namespace {

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
    body += PartHeader(content, parameters, false);
    body += WrapText(content);
    return true;
}

std::string CTextPartHandler::ContentType() const { return "text/plain"; }

std::string CTextPartHandler::PartHeader(
    const std::string& /*content*/, const std::string& parameters, bool /*withFileParameter*/) const
{
    return "Content-Type: " + ContentType() + parameters + "\r\n" + "Content-Transfer-Encoding: 7Bit\r\n\r\n";
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
