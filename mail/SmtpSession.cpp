#include "mail/SmtpSession.h"

#include "mail/MailItem.h"
#include "res/StringTable.h"

#include <algorithm>
#include <cstdlib>
#include <new>

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

// The name this host gives itself in HELO (RFC 5321 4.1.1.1).
std::string LocalHostName()
{
    char name[80] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

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

bool CSmtpSession::SendText(const std::string& text)
{
    const CTcpStream::Result result = m_stream.Send(text, ReplyDeadline());
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
            if (!IsContinuationLine(line))
                return true;
        }
        if (lines >= kReplyLineLimit || bytes + m_pendingReply.size() >= kReplyByteLimit) {
            Disconnect();
            m_errorText = "SMTP server reply too long";
            return false;
        }
        std::size_t received = 0;
        const CTcpStream::Result result = m_stream.Receive(m_replyBuffer.get(), kReplyBufferSize, received, deadline);
        if (result != CTcpStream::Result::Ok) {
            AbandonConnection(result);
            return false;
        }
        m_pendingReply.append(m_replyBuffer.get(), received);
    }
}

CSmtpSession::ReplyCheck CSmtpSession::CheckReplyDetailed(int row)
{
    std::string line;
    if (!ReadReplyLine(line))
        return ReplyCheck::Unreadable;
    m_lastReply = line;
    const int code = ReplyCode(line);
    if (code == kReplyTable[row].code)
        return ReplyCheck::Expected;
    m_errorText = FormatText("%d:%s", code, kReplyTable[row].errorText);
    return ReplyCheck::OtherCode;
}

void CSmtpSession::Disconnect()
{
    m_stream.Close();
    m_replyBuffer.reset();
    m_pendingReply.clear();
    m_connected = false;
}

bool CSmtpSession::OpenSession()
{
    if (m_connected)
        return true;

    m_replyBuffer.reset(new (std::nothrow) char[kReplyBufferSize]);
    if (!m_replyBuffer) {
        m_errorText = "Not enough memory";
        return false;
    }
    m_pendingReply.clear();

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

    if (!CheckReply(kGreetingRow)) {
        if (!IsCancelled())
            m_errorText = "Server didn't respond.";
        Disconnect();
        return false;
    }

    if (!SendText("HELO " + LocalHostName() + "\r\n") || !CheckReply(kOkRow)) {
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
    // The envelope carries the address alone; the From line keeps the name.
    if (!SendText("MAIL From: <" + item.SenderAddress() + ">\r\n") || !CheckReply(kOkRow))
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
    for (const std::string& text : { item.Header(), EscapeDots(item), std::string("\r\n.\r\n") }) {
        if (const auto result = m_stream.Send(text, m_sessionDeadline, m_replyLimit);
            result != CTcpStream::Result::Ok) {
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
