#include "mail/MailItem.h"

#include "mail/HeaderEncoding.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <locale>
#include <sstream>

#include <openssl/rand.h>

namespace {

// The Date field in the form "Mon, 05 May 2025 14:03:07 -0300", local time
// with its offset from UTC (RFC 5322 3.3). A zone abbreviation is obsolete
// there and read as UTC by receivers that do not know it; a two-digit year is
// obsolete too. Day and month names are English whatever the user's locale.
std::string FormatDate(std::time_t time)
{
    std::tm local {};
    localtime_r(&time, &local);
    std::ostringstream stream;
    stream.imbue(std::locale::classic());
    stream << std::put_time(&local, "%a, %d %b %Y %H:%M:%S %z");
    return stream.str();
}

// A Message-ID (RFC 5322 3.6.4) unique in the world: 128 random bits at the
// sender's domain, or at a reserved name when the sender has none.
std::string MakeMessageId(const std::string& senderAddress)
{
    unsigned char random[16] = {};
    if (RAND_bytes(random, sizeof random) != 1) {
        // Without the generator the time and the address of a local still
        // tell this mail from the others of this run.
        const auto now = static_cast<unsigned long long>(std::time(nullptr));
        std::memcpy(random, &now, sizeof now);
        const auto here = reinterpret_cast<std::uintptr_t>(&random);
        std::memcpy(random + 8, &here, std::min(sizeof here, std::size_t(8)));
    }
    constexpr char kHexDigits[] = "0123456789abcdef";
    std::string local;
    for (const unsigned char byte : random) {
        local += kHexDigits[byte >> 4];
        local += kHexDigits[byte & 0x0F];
    }
    std::string domain;
    if (const auto at = senderAddress.rfind('@'); at != std::string::npos)
        domain = senderAddress.substr(at + 1);
    const bool usable = !domain.empty() && std::all_of(domain.begin(), domain.end(), [](unsigned char character) {
        return std::isalnum(character) != 0 || character == '-' || character == '.';
    });
    return "<" + local + "@" + (usable ? domain : std::string("veilmark.invalid")) + ">";
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
        // A plain name goes as it was typed; any other is written so that
        // receivers read it back whole.
        if (DisplayNameNeedsEncoding(name))
            text += EncodeDisplayName(name) + " <" + address + ">";
        else
            text += name + "<" + address + ">";
    }
    return text;
}

std::string CMailItem::FormatSender() const
{
    const auto open = m_sender.find('<');
    if (open == std::string::npos || !DisplayNameNeedsEncoding(m_sender.substr(0, open)))
        return m_sender;
    return EncodeDisplayName(m_sender.substr(0, open)) + " <" + SenderAddress() + ">";
}

void CMailItem::BuildHeader()
{
    AddHeaderLine(FoldHeaderLine("From: " + FormatSender(), true));
    AddHeaderLine(FoldHeaderLine("To: " + FormatList(kTo), true));
    AddHeaderLine(FoldHeaderLine("Cc: " + FormatList(kCc), true));
    m_date = std::time(nullptr);
    AddHeaderLine("Date: " + FormatDate(m_date));
    m_messageId = MakeMessageId(SenderAddress());
    AddHeaderLine("Message-ID: " + m_messageId);
    AddHeaderLine(FoldHeaderLine("Subject: " + EncodeUnstructured(m_subject)));
    AddHeaderLine(FoldHeaderLine("X-Mailer: " + EncodeUnstructured(m_mailer)));
    // Blind copies are never written into the header.
}

bool CMailItem::BuildBody()
{
    if (m_body.size() < 2 || m_body.compare(m_body.size() - 2, 2, "\r\n") != 0)
        m_body += "\r\n";
    return true;
}
