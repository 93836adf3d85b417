#pragma once

#include "mail/TcpStream.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class CMailItem;

// The program's SMTP client (RFC 5321): one connection, HELO, one mail with
// MAIL / RCPT / DATA, then QUIT. Every operation returns whether it worked and
// keeps the text of the last failure; nothing throws.
class CSmtpSession {
public:
    static constexpr std::chrono::milliseconds kDefaultConnectLimit { 30'000 };
    static constexpr std::chrono::milliseconds kDefaultReplyLimit { 60'000 };
    static constexpr std::chrono::milliseconds kDefaultSessionLimit { 600'000 };

    // A recipient the server refused, with the last line of its reply.
    struct RefusedRecipient {
        std::string address;
        std::string reply;
    };

    CSmtpSession(const std::string& server = std::string(), int port = 25);
    ~CSmtpSession();
    CSmtpSession(const CSmtpSession&) = delete;
    CSmtpSession& operator=(const CSmtpSession&) = delete;

    // Stores host and port; a null host leaves both as they were.
    void SetServer(const char* host, int port);

    // How long to wait for the connection; for each whole reply, however
    // slowly it trickles in (and for the server to take each command); and
    // for everything from the connection to the end of QUIT.
    void SetTimeLimits(std::chrono::milliseconds connect, std::chrono::milliseconds reply,
        std::chrono::milliseconds session = kDefaultSessionLimit);

    // Ends the exchange at once, from any thread: the wait in progress and
    // every later one fail, and the connection is dropped without QUIT. A
    // cancelled session stays cancelled.
    void Cancel() { m_stream.Cancel(); }
    bool IsCancelled() const { return m_stream.IsCancelled(); }

    // Connects, reads the greeting and says HELO. True at once when connected.
    bool OpenSession();

    // Builds the item's header and body and hands it over with MAIL, one RCPT
    // per recipient (a refused recipient does not stop the mail) and DATA.
    bool SendItem(CMailItem& item);

    // Says QUIT and closes. True when not connected or when QUIT got 221.
    // A connection whose stream failed (the server went silent or hung up)
    // is already closed, without QUIT.
    bool CloseSession();

    std::string GetErrorText() const { return m_errorText; }
    bool IsConnected() const { return m_connected; }

    // The recipients the server refused during the last SendItem, in order.
    const std::vector<RefusedRecipient>& RefusedRecipients() const { return m_refused; }

    // The body as sent: every line that begins with a dot gets a second one
    // (RFC 5321 4.5.2), and a lone CR or LF becomes a CR LF line break, so
    // that no line the receiver sees can pass for the end of the data.
    static std::string EscapeDots(const CMailItem& item);

private:
    enum ReplyRow { kOkRow = 0, kGreetingRow = 1, kDataRow = 2, kQuitRow = 3 };
    enum class ReplyCheck { Expected, OtherCode, Unreadable };

    // Sends the text; a failure sets the error text.
    bool SendText(const std::string& text);

    // Reads one complete reply and compares its code with the row's.
    bool CheckReply(int row) { return CheckReplyDetailed(row) == ReplyCheck::Expected; }
    ReplyCheck CheckReplyDetailed(int row);

    // Reads until a reply's last line is complete (RFC 5321 4.2.1: the lines
    // before it carry a '-' after the code) and returns that line. One
    // deadline covers the whole reply, and its size is capped.
    bool ReadReplyLine(std::string& line);
    // Closes the connection after a failed send or read and says why.
    void AbandonConnection(CTcpStream::Result result);
    // The deadline for one command and its reply.
    CTcpStream::Clock::time_point ReplyDeadline() const;

    bool Deliver(CMailItem& item);
    void Disconnect();

    std::string m_errorText = "OK";
    bool m_connected = false;
    int m_port;
    std::string m_server;
    CTcpStream m_stream;
    std::unique_ptr<char[]> m_replyBuffer;
    std::string m_pendingReply; // received bytes not yet taken as reply lines
    std::string m_lastReply; // the last line of the last reply
    std::vector<RefusedRecipient> m_refused;
    std::chrono::milliseconds m_connectLimit = kDefaultConnectLimit;
    std::chrono::milliseconds m_replyLimit = kDefaultReplyLimit;
    std::chrono::milliseconds m_sessionLimit = kDefaultSessionLimit;
    CTcpStream::Clock::time_point m_sessionDeadline {};
};
