#include "mail/SmtpSession.h"

#include "mail/Base64Coder.h"
#include "mail/MailItem.h"
#include "res/StringTable.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <new>
#include <sstream>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = CTcpStream::Clock;

constexpr std::size_t kReplyBufferSize = 1024;
// The most a reply may hold. RFC 5321 4.5.3.1.5 limits a reply line to 512
// bytes, and the longest replies we meet (EHLO) run to a few dozen lines, so
// these leave ample room and stop a server that never ends a reply.
constexpr std::size_t kReplyByteLimit = 64 * 1024;
constexpr std::size_t kReplyLineLimit = 128;

struct ReplyExpectation {
    int code;
    const char* errorText;
};

constexpr ReplyExpectation kReplyTable[] = {
    { 250, "SMTP server error" },
    { 220, "SMTP server not available" },
    { 354, "SMTP server not ready for data" },
    { 221, "SMTP server didn't terminate session" },
};

// A name of letters, digits, hyphens and dots with at least one dot inside,
// the form a receiving server accepts as fully qualified.
bool IsQualifiedName(const std::string& name)
{
    if (name.empty() || name.size() > 253 || name.front() == '.' || name.back() == '.' || name.front() == '-'
        || name.find('.') == std::string::npos || name.find("..") != std::string::npos)
        return false;
    return std::all_of(name.begin(), name.end(),
        [](unsigned char character) { return std::isalnum(character) != 0 || character == '-' || character == '.'; });
}

// The domain for EHLO and HELO (RFC 5321 4.1.1.1, 4.1.3): this host's fully
// qualified name, else the address of our end of the connection as a literal.
// Servers refuse a bare host name (Postfix: reject_non_fqdn_helo_hostname).
std::string ClientDomainFor(int socket)
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') {
        if (IsQualifiedName(name))
            return name;
        addrinfo hints {};
        hints.ai_flags = AI_CANONNAME;
        addrinfo* found = nullptr;
        if (::getaddrinfo(name, nullptr, &hints, &found) == 0 && found != nullptr) {
            const std::string canonical = found->ai_canonname ? found->ai_canonname : "";
            ::freeaddrinfo(found);
            if (IsQualifiedName(canonical) && canonical != "localhost.localdomain")
                return canonical;
        }
    }
    sockaddr_storage local {};
    socklen_t length = sizeof local;
    char text[INET6_ADDRSTRLEN] = {};
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
        if (local.ss_family == AF_INET
            && ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&local)->sin_addr, text, sizeof text))
            return std::string("[") + text + "]";
        if (local.ss_family == AF_INET6
            && ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr, text, sizeof text))
            return std::string("[IPv6:") + text + "]";
    }
    return "[127.0.0.1]";
}

std::string UpperCase(std::string text)
{
    for (char& character : text)
        character = static_cast<char>(std::toupper(static_cast<unsigned char>(character)));
    return text;
}

std::string ToBase64(const std::string& text)
{
    CBase64Coder coder;
    return coder.ToBase64(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<int>(text.size()));
}

// How long QUIT may take after a refusal; the user is waiting for the message.
constexpr std::chrono::milliseconds kQuitLimit { 2'000 };

// The number formed by the first three characters, read as decimal digits up
// to the first character that is not one.
int ReplyCode(const std::string& line)
{
    int code = 0;
    for (std::size_t index = 0; index < 3 && index < line.size(); ++index) {
        if (line[index] < '0' || line[index] > '9')
            break;
        code = code * 10 + (line[index] - '0');
    }
    return code;
}

bool IsContinuationLine(const std::string& line) { return line.size() >= 4 && line[3] == '-'; }

} // namespace

CSmtpSession::CSmtpSession(const std::string& server, int port)
    : m_port(port)
    , m_server(server)
{
}

CSmtpSession::~CSmtpSession() { CloseSession(); }

void CSmtpSession::SetServer(const char* host, int port)
{
    if (host == nullptr)
        return;
    m_server = host;
    m_port = port;
}

void CSmtpSession::SetCredentials(const std::string& userName, const std::string& password)
{
    m_userName = userName;
    m_password = password;
}

void CSmtpSession::SetTimeLimits(
    std::chrono::milliseconds connect, std::chrono::milliseconds reply, std::chrono::milliseconds session)
{
    m_connectLimit = connect;
    m_replyLimit = reply;
    m_sessionLimit = session;
}

Clock::time_point CSmtpSession::ReplyDeadline() const
{
    return std::min(Clock::now() + m_replyLimit, m_sessionDeadline);
}

void CSmtpSession::AbandonConnection(CTcpStream::Result result)
{
    // Once a command or reply has gone astray the two sides no longer agree on
    // where they are, so the connection is given up without QUIT.
    Disconnect();
    switch (result) {
    case CTcpStream::Result::TimedOut:
        m_errorText
            = Clock::now() >= m_sessionDeadline ? "SMTP session took too long" : "SMTP server did not answer in time";
        break;
    case CTcpStream::Result::Cancelled:
        m_errorText = "Sending was cancelled";
        break;
    case CTcpStream::Result::Closed:
        m_errorText = "SMTP server closed the connection";
        break;
    default:
        m_errorText = "Socket Error";
        break;
    }
}

CTcpStream::Result CSmtpSession::Transmit(
    std::string_view data, Clock::time_point deadline, std::chrono::milliseconds stallLimit)
{
    if (m_tls.IsActive())
        return m_tls.Send(data, deadline, stallLimit);
    return m_stream.Send(data, deadline, stallLimit);
}

bool CSmtpSession::SendText(const std::string& text)
{
    const CTcpStream::Result result = Transmit(text, ReplyDeadline());
    if (result == CTcpStream::Result::Ok)
        return true;
    AbandonConnection(result);
    return false;
}

bool CSmtpSession::ReadReplyLine(std::string& line)
{
    // A server that sends a byte at a time, or continuation lines without
    // end, must not keep the session waiting past one limit per reply.
    const Clock::time_point deadline = ReplyDeadline();
    std::size_t lines = 0;
    std::size_t bytes = 0;
    m_replyLines.clear();
    for (;;) {
        // Take complete lines off the front until the last line of the reply.
        std::size_t end;
        while ((end = m_pendingReply.find('\n')) != std::string::npos) {
            line = m_pendingReply.substr(0, end);
            m_pendingReply.erase(0, end + 1);
            ++lines;
            bytes += end + 1;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            m_replyLines.push_back(line);
            if (!IsContinuationLine(line))
                return true;
        }
        if (lines >= kReplyLineLimit || bytes + m_pendingReply.size() >= kReplyByteLimit) {
            Disconnect();
            m_errorText = "SMTP server reply too long";
            return false;
        }
        std::size_t received = 0;
        const CTcpStream::Result result = m_tls.IsActive()
            ? m_tls.Receive(m_replyBuffer.get(), kReplyBufferSize, received, deadline)
            : m_stream.Receive(m_replyBuffer.get(), kReplyBufferSize, received, deadline);
        if (result != CTcpStream::Result::Ok) {
            AbandonConnection(result);
            return false;
        }
        m_pendingReply.append(m_replyBuffer.get(), received);
    }
}

std::string CSmtpSession::ReplyText() const
{
    // "550-5.7.1 first\r\n550 5.7.1 second" reads "550 5.7.1 first 5.7.1 second".
    std::string text;
    for (const std::string& line : m_replyLines) {
        if (text.empty())
            text = line.size() >= 4 ? line.substr(0, 3) + " " + line.substr(4) : line;
        else if (line.size() > 4)
            text += " " + line.substr(4);
    }
    // Printable characters only: the text goes into a message box.
    for (char& character : text) {
        if (static_cast<unsigned char>(character) < 0x20 || character == 0x7F)
            character = ' ';
    }
    return text;
}

std::string CSmtpSession::WithReply(const std::string& text, int code) const
{
    std::string described = text + " (the server said: " + ReplyText() + ")";
    // RFC 5321 4.2.1: a 4yz reply is a transient failure, greylisting for one.
    if (code >= 400 && code < 500)
        described += " This is a temporary refusal: try again later.";
    return described;
}

CSmtpSession::ReplyCheck CSmtpSession::CheckReplyDetailed(int row)
{
    return ExpectReply(kReplyTable[row].code, std::string());
}

CSmtpSession::ReplyCheck CSmtpSession::ExpectReply(int expected, const std::string& failure)
{
    std::string line;
    if (!ReadReplyLine(line))
        return ReplyCheck::Unreadable;
    m_lastReply = line;
    const int code = ReplyCode(line);
    if (code == expected)
        return ReplyCheck::Expected;
    std::string text = failure;
    if (text.empty()) {
        const auto* row = std::find_if(
            std::begin(kReplyTable), std::end(kReplyTable), [&](const auto& entry) { return entry.code == expected; });
        text = FormatText("%d:%s", code, row != std::end(kReplyTable) ? row->errorText : "SMTP server error");
    }
    m_errorText = WithReply(text, code);
    return ReplyCheck::OtherCode;
}

void CSmtpSession::QuitQuietly()
{
    if (!m_stream.IsOpen() || m_stream.IsCancelled())
        return;
    const std::string kept = m_errorText;
    const auto replyLimit = m_replyLimit;
    m_replyLimit = std::min(m_replyLimit, kQuitLimit);
    if (SendText("QUIT\r\n")) {
        std::string line;
        ReadReplyLine(line);
    }
    m_replyLimit = replyLimit;
    m_errorText = kept;
}

bool CSmtpSession::Greet()
{
    m_extensions.clear();
    m_authMechanisms.clear();
    m_sizeLimit = 0;
    if (!SendText("EHLO " + m_clientDomain + "\r\n"))
        return false;
    std::string line;
    if (!ReadReplyLine(line))
        return false;
    m_lastReply = line;
    const int code = ReplyCode(line);
    if (code == 250) {
        // RFC 5321 4.1.1.1: the lines after the first name one extension
        // each, a keyword and its parameters.
        for (std::size_t index = 1; index < m_replyLines.size(); ++index) {
            std::istringstream words(m_replyLines[index].size() > 4 ? m_replyLines[index].substr(4) : std::string());
            std::string keyword;
            words >> keyword;
            keyword = UpperCase(keyword);
            // "AUTH=PLAIN LOGIN" is the form of servers older than RFC 4954.
            if (keyword.starts_with("AUTH=")) {
                m_authMechanisms.insert(keyword.substr(5));
                keyword = "AUTH";
            }
            m_extensions.insert(keyword);
            for (std::string parameter; words >> parameter;) {
                if (keyword == "AUTH")
                    m_authMechanisms.insert(UpperCase(parameter));
                else if (keyword == "SIZE")
                    m_sizeLimit = std::strtoull(parameter.c_str(), nullptr, 10);
            }
        }
        return true;
    }
    // A server that does not know EHLO refuses it with 500, 502 or 504
    // (RFC 5321 4.1.4); it is greeted the old way. A 4xx refusal is not about
    // EHLO and stands.
    if (code >= 500) {
        if (SendText("HELO " + m_clientDomain + "\r\n") && CheckReply(kOkRow))
            return true;
        if (!m_stream.IsOpen())
            return false;
    } else {
        m_errorText = WithReply(FormatText("%d:%s", code, kReplyTable[kOkRow].errorText), code);
    }
    QuitQuietly();
    return false;
}

bool CSmtpSession::StartTls()
{
    m_pendingReply.clear();
    if (m_tls.Handshake(m_stream, m_server, m_caFile, ReplyDeadline()))
        return true;
    if (m_tls.FailureKind() == CTlsChannel::Failure::Transport) {
        AbandonConnection(m_tls.TransportResult());
        return false;
    }
    m_errorText = m_tls.FailureText();
    Disconnect();
    return false;
}

bool CSmtpSession::Authenticate()
{
    // RFC 4954 4: a refused AUTH leaves the session as it was, so the failure
    // comes with the server's reply.
    const std::string refused = "The server refused the user name or password";
    if (m_authMechanisms.count("PLAIN") != 0) {
        // RFC 4616 2: authorisation identity (empty), user name, password.
        if (!SendText("AUTH PLAIN " + ToBase64(std::string(1, '\0') + m_userName + '\0' + m_password) + "\r\n"))
            return false;
        return ExpectReply(235, refused) == ReplyCheck::Expected;
    }
    if (m_authMechanisms.count("LOGIN") != 0) {
        // The server asks for the user name and then for the password, each
        // with a 334 reply; both answers go in Base64.
        for (const std::string& answer : { std::string(), m_userName }) {
            if (!SendText(answer.empty() ? std::string("AUTH LOGIN\r\n") : ToBase64(answer) + "\r\n"))
                return false;
            if (ExpectReply(334, refused) != ReplyCheck::Expected)
                return false;
        }
        if (!SendText(ToBase64(m_password) + "\r\n"))
            return false;
        return ExpectReply(235, refused) == ReplyCheck::Expected;
    }
    if (m_authMechanisms.empty()) {
        m_errorText = "The server does not offer to sign in (no AUTH in its EHLO reply); "
                      "clear the user name to send without signing in.";
    } else {
        std::string offered;
        for (const std::string& mechanism : m_authMechanisms)
            offered += (offered.empty() ? "" : " ") + mechanism;
        m_errorText = "The server offers no sign-in method this program knows (it offers " + offered
            + "; this program knows PLAIN and LOGIN).";
    }
    return false;
}

void CSmtpSession::Disconnect()
{
    m_tls.Close();
    m_stream.Close();
    m_replyBuffer.reset();
    m_pendingReply.clear();
    m_connected = false;
}

bool CSmtpSession::OpenSession()
{
    if (m_connected)
        return true;

    // Checked before anything goes out: a password is never sent in clear.
    if (!m_userName.empty() && m_security == SmtpSecurity::None) {
        m_errorText = "A user name is set, but the connection is not encrypted, so the password would travel in "
                      "clear: choose STARTTLS or TLS as the security, or clear the user name.";
        return false;
    }

    m_replyBuffer.reset(new (std::nothrow) char[kReplyBufferSize]);
    if (!m_replyBuffer) {
        m_errorText = "Not enough memory";
        return false;
    }
    m_pendingReply.clear();
    m_extensions.clear();
    m_authMechanisms.clear();
    m_sizeLimit = 0;

    m_sessionDeadline = Clock::now() + m_sessionLimit;
    switch (m_stream.Connect(m_server, m_port, std::min(Clock::now() + m_connectLimit, m_sessionDeadline))) {
    case CTcpStream::Result::Ok:
        break;
    case CTcpStream::Result::Cancelled:
        AbandonConnection(CTcpStream::Result::Cancelled);
        return false;
    case CTcpStream::Result::CreateFailed:
        m_errorText = "Unable to create the socket.";
        Disconnect();
        return false;
    default:
        m_errorText = "Unable to connect to server";
        Disconnect();
        return false;
    }
    m_clientDomain = ClientDomainFor(m_stream.Handle());

    // RFC 8314 3.3: on a TLS port the server greets only inside TLS.
    if (m_security == SmtpSecurity::Tls && !StartTls())
        return false;

    switch (CheckReplyDetailed(kGreetingRow)) {
    case ReplyCheck::Expected:
        break;
    case ReplyCheck::OtherCode:
        // RFC 5321 3.1: after a refused greeting the client says QUIT.
        m_errorText = WithReply("Server didn't respond.", ReplyCode(m_lastReply));
        QuitQuietly();
        Disconnect();
        return false;
    case ReplyCheck::Unreadable:
        if (!IsCancelled())
            m_errorText = "Server didn't respond.";
        Disconnect();
        return false;
    }

    if (!Greet()) {
        Disconnect();
        return false;
    }

    if (m_security == SmtpSecurity::StartTls) {
        // Without STARTTLS the mail, and any password, would go in clear.
        if (!Offers("STARTTLS")) {
            m_errorText = "The server does not offer STARTTLS, so the connection cannot be encrypted; nothing was "
                          "sent. Choose TLS (usually port 465) or ask the mail provider for the right port.";
            QuitQuietly();
            Disconnect();
            return false;
        }
        if (!SendText("STARTTLS\r\n"))
            return false;
        if (const ReplyCheck check = ExpectReply(220, "The server refused STARTTLS"); check != ReplyCheck::Expected) {
            if (check == ReplyCheck::OtherCode)
                QuitQuietly();
            Disconnect();
            return false;
        }
        // RFC 3207 4.2: what the server said before TLS no longer counts, and
        // anything it sent after its 220 is dropped unread.
        if (!StartTls() || !Greet()) {
            Disconnect();
            return false;
        }
    }

    if (!m_userName.empty() && !Authenticate()) {
        QuitQuietly();
        Disconnect();
        return false;
    }

    m_connected = true;
    return true;
}

bool CSmtpSession::SendItem(CMailItem& item)
{
    if (!m_connected) {
        m_errorText = "Must be connected";
        return false;
    }
    if (item.RecipientCount(CMailItem::kTo) == 0) {
        m_errorText = "No Recipients";
        return false;
    }
    // Checked before anything is built or sent, so a refused mail leaves no
    // trace on the wire.
    if (const std::string fault = item.HeaderFieldFault(); !fault.empty()) {
        m_errorText = fault;
        return false;
    }
    if (!item.Sender().empty() && item.SenderAddress().empty()) {
        m_errorText = "The sender address has a '<' without a '>' after it.";
        return false;
    }
    if (!item.Finalize()) {
        m_errorText = item.FailureText();
        return false;
    }
    return Deliver(item);
}

bool CSmtpSession::Deliver(CMailItem& item)
{
    if (!m_connected) {
        m_errorText = "Must be connected";
        return false;
    }

    m_refused.clear();
    const std::string body = EscapeDots(item);
    // RFC 1870: the size of the message as transmitted, checked before MAIL
    // so that a mail the server would refuse at its end is not sent first.
    const std::uint64_t size = item.Header().size() + body.size() + 2;
    if (m_sizeLimit != 0 && size > m_sizeLimit) {
        m_errorText = FormatText("The mail is %llu bytes, but the server takes at most %llu bytes; nothing was sent.",
            static_cast<unsigned long long>(size), static_cast<unsigned long long>(m_sizeLimit));
        return false;
    }
    std::string mailCommand = "MAIL From: <" + item.SenderAddress() + ">";
    if (Offers("SIZE"))
        mailCommand += " SIZE=" + std::to_string(size);
    // The envelope carries the address alone; the From line keeps the name.
    if (!SendText(mailCommand + "\r\n") || !CheckReply(kOkRow))
        return false;

    // A refused recipient leaves its text in the error text and the mail goes
    // on to the others; only a reply that cannot be read at all stops it.
    for (const int list : { CMailItem::kTo, CMailItem::kCc, CMailItem::kBcc }) {
        for (int index = 0; index < item.RecipientCount(list); ++index) {
            std::string address;
            std::string name;
            item.RecipientAt(index, list, address, name);
            if (!SendText("RCPT TO: <" + address + ">\r\n"))
                return false;
            switch (CheckReplyDetailed(kOkRow)) {
            case ReplyCheck::Expected:
                break;
            case ReplyCheck::OtherCode:
                m_refused.push_back({ address, m_lastReply });
                break;
            case ReplyCheck::Unreadable:
                return false;
            }
        }
    }

    if (!SendText("DATA\r\n") || !CheckReply(kDataRow))
        return false;
    // The mail data may be large: it has until the end of the session, as
    // long as the server keeps taking it.
    for (const std::string& text : { item.Header(), body, std::string("\r\n.\r\n") }) {
        if (const auto result = Transmit(text, m_sessionDeadline, m_replyLimit); result != CTcpStream::Result::Ok) {
            AbandonConnection(result);
            return false;
        }
    }
    return CheckReply(kOkRow);
}

bool CSmtpSession::CloseSession()
{
    if (!m_connected)
        return true;
    const bool closed = SendText("QUIT\r\n") && CheckReply(kQuitRow);
    Disconnect();
    return closed;
}

std::string CSmtpSession::EscapeDots(const CMailItem& item)
{
    // RFC 5321 4.5.2: the receiver drops the first character of every line
    // that begins with a dot. A lone CR or LF is no line break to the
    // standard but is one to some servers, which would then see a dot line
    // the client never doubled; so every line break goes out as CR LF.
    const std::string& body = item.Body();
    std::string text;
    text.reserve(body.size() + body.size() / 64 + 1);
    bool lineStart = true;
    for (std::size_t index = 0; index < body.size(); ++index) {
        const char character = body[index];
        if (character == '\r' || character == '\n') {
            text += "\r\n";
            if (character == '\r' && index + 1 < body.size() && body[index + 1] == '\n')
                ++index;
            lineStart = true;
            continue;
        }
        if (lineStart && character == '.')
            text += '.';
        text += character;
        lineStart = false;
    }
    return text;
}
