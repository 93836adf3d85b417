#include "mail/SmtpSession.h"

#include "mail/MailItem.h"
#include "res/StringTable.h"

#include <cstdlib>
#include <new>

#include <unistd.h>

namespace {

constexpr std::size_t kReplyBufferSize = 1024;
// Longest reply we gather; RFC 5321 4.5.3.1.5 limits a reply line to 512
// bytes, so this leaves room for a long multi-line reply and stops a server
// that never ends one.
constexpr std::size_t kReplyLimit = 64 * 1024;

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

void CSmtpSession::SetTimeLimits(std::chrono::milliseconds connect, std::chrono::milliseconds reply)
{
    m_connectLimit = connect;
    m_replyLimit = reply;
}

void CSmtpSession::AbandonConnection(CTcpStream::Result result)
{
    // Once a command or reply has gone astray the two sides no longer agree on
    // where they are, so the connection is given up without QUIT.
    Disconnect();
    switch (result) {
    case CTcpStream::Result::TimedOut:
        m_errorText = "SMTP server did not answer in time";
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
    const CTcpStream::Result result = m_stream.Send(text, m_replyLimit);
    if (result == CTcpStream::Result::Ok)
        return true;
    AbandonConnection(result);
    return false;
}

bool CSmtpSession::ReadReplyLine(std::string& line)
{
    for (;;) {
        // Take complete lines off the front until the last line of the reply.
        std::size_t end;
        while ((end = m_pendingReply.find('\n')) != std::string::npos) {
            line = m_pendingReply.substr(0, end);
            m_pendingReply.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!IsContinuationLine(line))
                return true;
        }
        if (m_pendingReply.size() >= kReplyLimit) {
            Disconnect();
            m_errorText = "SMTP server reply too long";
            return false;
        }
        std::size_t received = 0;
        const CTcpStream::Result result
            = m_stream.Receive(m_replyBuffer.get(), kReplyBufferSize, received, m_replyLimit);
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

    switch (m_stream.Connect(m_server, m_port, m_connectLimit)) {
    case CTcpStream::Result::Ok:
        break;
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

    if (!SendText("MAIL From: <" + item.Sender() + ">\r\n") || !CheckReply(kOkRow))
        return false;

    // A refused recipient leaves its text in the error text and the mail goes
    // on to the others; only a reply that cannot be read at all stops it.
    for (const int list : { CMailItem::kTo, CMailItem::kCc, CMailItem::kBcc }) {
        for (int index = 0; index < item.RecipientCount(list); ++index) {
            std::string address;
            std::string name;
            item.RecipientAt(index, list, address, name);
            if (!SendText("RCPT TO: <" + address + ">\r\n") || CheckReplyDetailed(kOkRow) == ReplyCheck::Unreadable)
                return false;
        }
    }

    if (!SendText("DATA\r\n") || !CheckReply(kDataRow))
        return false;
    if (!SendText(item.Header()) || !SendText(EscapeDots(item)) || !SendText("\r\n.\r\n"))
        return false;
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
    std::string text = item.Body();
    if (text.starts_with(".\r\n"))
        text.insert(0, 1, '.');
    // The search goes on from the changed line, not past it: lone-dot lines
    // in a row share their line breaks, and each one is doubled.
    std::size_t found = 0;
    while ((found = text.find("\r\n.\r\n", found)) != std::string::npos)
        text.replace(found, 5, "\r\n..\r\n");
    return text;
}
