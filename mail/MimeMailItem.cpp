#include "mail/MimeMailItem.h"

#include "mail/PartHandlerRegistry.h"

namespace {

constexpr const char* kWhiteSpace = " \t\r\n\v\f";

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(kWhiteSpace);
    return text.substr(first, last - first + 1);
}

bool EndsWithLineBreak(const std::string& text)
{
    return text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0;
}

} // namespace

CMimeMailItem::CMimeMailItem() { PartHandlerRegistry().RegisterStandardHandlers(LineWidth()); }

void CMimeMailItem::AttachPart(const std::string& content, int handlerId, const std::string& parameters)
{
    PartRecord record { handlerId, parameters, Trim(content) };
    if (handlerId == kTextPartId)
        m_parts.push_front(std::move(record));
    else
        m_parts.push_back(std::move(record));
}

bool CMimeMailItem::WritePartsInto(std::string& text)
{
    for (const PartRecord& record : m_parts) {
        const CPartHandler* handler = PartHandlerRegistry().Find(record.handlerId);
        if (!handler)
            continue;
        OpenBoundary(text);
        std::string error;
        if (!handler->WritePart(record.content, record.parameters, text, error)) {
            SetFailureText(error);
            return false;
        }
    }
    return true;
}

void CMimeMailItem::OpenBoundary(std::string& text) const
{
    if (!EndsWithLineBreak(text))
        text += "\r\n";
    text += "--" + m_boundary + "\r\n";
}

void CMimeMailItem::CloseBoundary(std::string& text) const
{
    if (!EndsWithLineBreak(text))
        text += "\r\n";
    text += "--" + m_boundary + "--\r\n";
}

void CMimeMailItem::BuildHeader()
{
    CMailItem::BuildHeader();
    AddHeaderLine("MIME-Version: 1.0");
    AddHeaderLine("Content-Type: " + m_contentType + "; boundary=" + m_boundary);
}

bool CMimeMailItem::BuildBody()
{
    std::string& body = MutableBody();
    if (!body.empty())
        AttachPart(body, kTextPartId, std::string());
    body = m_preamble + "\r\n\r\n";
    if (!WritePartsInto(body))
        return false;
    CloseBoundary(body);
    return CMailItem::BuildBody();
}
