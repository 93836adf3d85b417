#include "mail/MailItem.h"

#include <cstring>
#include <iomanip>
#include <locale>
#include <sstream>

namespace {

// The Date field in the form "Mon, 05 May 98 14:03:07 CEST", local time, with
// English day and month names whatever the user's locale (RFC 5322 3.3 names
// them in English).
std::string FormatDate(std::time_t time)
{
    std::tm local {};
    localtime_r(&time, &local);
    std::ostringstream stream;
    stream.imbue(std::locale::classic());
    stream << std::put_time(&local, "%a, %d %b %y %H:%M:%S %Z");
    return stream.str();
}

constexpr const char* kBlank = " \t";

std::string TrimBlanks(const std::string& text)
{
    const auto first = text.find_first_not_of(kBlank);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

bool BreaksLine(const std::string& text) { return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

} // namespace

const std::vector<CMailItem::Recipient>* CMailItem::ListAt(int list) const
{
    switch (list) {
    case kTo:
        return &m_to;
    case kCc:
        return &m_cc;
    case kBcc:
        return &m_bcc;
    default:
        return nullptr;
    }
}

std::vector<CMailItem::Recipient>* CMailItem::ListAt(int list)
{
    return const_cast<std::vector<Recipient>*>(std::as_const(*this).ListAt(list));
}

bool CMailItem::ParseRecipientList(const std::string& text, int list)
{
    // The text ends at its first NUL, as a typed text does.
    const std::string copy(text.c_str());
    std::size_t tokenStart = 0;
    for (std::size_t index = 0; index <= copy.size(); ++index) {
        if (index < copy.size() && copy[index] != ';')
            continue;
        const std::string token = copy.substr(tokenStart, index - tokenStart);
        tokenStart = index + 1;

        std::string address;
        std::string name;
        const auto open = token.find('<');
        if (open == std::string::npos) {
            address = TrimBlanks(token);
        } else {
            const auto close = token.find('>');
            if (close == std::string::npos || close < open)
                return false;
            address = TrimBlanks(token.substr(open + 1, close - open - 1));
            name = token.substr(0, open);
        }
        // "a@example.org; b@example.org;" names two receivers, not four.
        if (!address.empty())
            StoreRecipient(address, name, list);
    }
    return true;
}

std::string CMailItem::SenderAddress() const
{
    const auto open = m_sender.find('<');
    if (open == std::string::npos)
        return TrimBlanks(m_sender);
    const auto close = m_sender.find('>', open);
    if (close == std::string::npos)
        return {};
    return TrimBlanks(m_sender.substr(open + 1, close - open - 1));
}

std::string CMailItem::HeaderFieldFault() const
{
    if (BreaksLine(m_sender))
        return "The sender holds a line break or NUL character.";
    if (BreaksLine(m_subject))
        return "The subject holds a line break or NUL character.";
    for (const auto* recipients : { &m_to, &m_cc, &m_bcc }) {
        for (const auto& [address, name] : *recipients) {
            if (BreaksLine(address) || BreaksLine(name))
                return "A receiver holds a line break or NUL character.";
        }
    }
    return {};
}

bool CMailItem::StoreRecipient(const std::string& address, const std::string& name, int list)
{
    if (auto* recipients = ListAt(list))
        recipients->emplace_back(address, name);
    return true;
}

int CMailItem::RecipientCount(int list) const
{
    const auto* recipients = ListAt(list);
    return recipients ? static_cast<int>(recipients->size()) : 0;
}

bool CMailItem::RecipientAt(int index, int list, std::string& address, std::string& name) const
{
    const auto* recipients = ListAt(list);
    if (!recipients || index < 0 || index >= static_cast<int>(recipients->size()))
        return false;
    address = (*recipients)[static_cast<std::size_t>(index)].first;
    name = (*recipients)[static_cast<std::size_t>(index)].second;
    return true;
}

bool CMailItem::Finalize()
{
    m_failureText.clear();
    m_header.clear();
    BuildHeader();
    m_header += "\r\n";
    return BuildBody();
}

void CMailItem::AddHeaderLine(const std::string& line)
{
    m_header += line;
    m_header += "\r\n";
}

std::string CMailItem::FormatList(int list) const
{
    std::string text;
    for (const auto& [address, name] : *ListAt(list)) {
        if (!text.empty())
            text += ',';
        text += name + "<" + address + ">";
    }
    return text;
}

void CMailItem::BuildHeader()
{
    AddHeaderLine("From: " + m_sender);
    AddHeaderLine("To: " + FormatList(kTo));
    AddHeaderLine("Cc: " + FormatList(kCc));
    m_date = std::time(nullptr);
    AddHeaderLine("Date: " + FormatDate(m_date));
    AddHeaderLine("Subject: " + m_subject);
    AddHeaderLine("X-Mailer: " + m_mailer);
    // Blind copies are never written into the header.
}

bool CMailItem::BuildBody()
{
    if (m_body.size() < 2 || m_body.compare(m_body.size() - 2, 2, "\r\n") != 0)
        m_body += "\r\n";
    return true;
}
