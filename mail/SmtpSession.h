#pragma once

#include "mail/SmtpSecurity.h"
#include "mail/TcpStream.h"
#include "mail/TlsChannel.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

class CMailItem;

// The program's SMTP client (RFC 5321): one connection, EHLO (HELO where the
// server refuses EHLO), optionally TLS (implicit, or after STARTTLS, RFC 3207)
// and AUTH (RFC 4954), one mail with MAIL / RCPT / DATA, then QUIT. Every
// operation returns whether it worked and keeps the text of the last failure,
// with the server's own reply where there was one; nothing throws.
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

    // How the connection is protected. With StartTls the mail is sent only
    // once TLS is running; a server that does not offer STARTTLS is left.
    void SetSecurity(SmtpSecurity security) { m_security = security; }
    // Credentials for AUTH; an empty user name sends none. They are only ever
    // sent over TLS: with SmtpSecurity::None and a user name, OpenSession
    // refuses to connect.
    void SetCredentials(const std::string& userName, const std::string& password);
    // The authorities the server's certificate must chain to: one PEM file,
    // or the system's store when empty (the default).
    void SetCaFile(const std::string& path) { m_caFile = path; }

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

    // Connects, reads the greeting, says EHLO, starts TLS and signs in as
    // configured. True at once when connected.
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

    // The name the client gives itself in EHLO or HELO: this host's fully
    // qualified name, or the connection's local address as a literal
    // ("[192.0.2.1]", RFC 5321 4.1.3) when the host has none.
    const std::string& ClientDomain() const { return m_clientDomain; }

    // What the server offered in its EHLO reply (empty after HELO).
    bool Offers(const std::string& keyword) const { return m_extensions.count(keyword) != 0; }
    // The SIZE the server announced (RFC 1870); 0 when none or no limit.
    std::uint64_t SizeLimit() const { return m_sizeLimit; }
    bool IsEncrypted() const { return m_tls.IsActive(); }

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
    CTcpStream::Result Transmit(
        std::string_view data, CTcpStream::Clock::time_point deadline, std::chrono::milliseconds stallLimit = {});

    // Reads one complete reply and compares its code with the row's.
    bool CheckReply(int row) { return CheckReplyDetailed(row) == ReplyCheck::Expected; }
    ReplyCheck CheckReplyDetailed(int row);
    // The same for a code of no row; a reply with another code sets the
    // error text to `failure` followed by the reply.
    ReplyCheck ExpectReply(int code, const std::string& failure);

    // Reads until a reply's last line is complete (RFC 5321 4.2.1: the lines
    // before it carry a '-' after the code) and returns that line; every line
    // is kept in m_replyLines. One deadline covers the whole reply, and its
    // size is capped.
    bool ReadReplyLine(std::string& line);
    // The whole last reply on one line, for messages.
    std::string ReplyText() const;
    // `text` followed by the server's reply, and for a 4xx reply the advice
    // that the failure is temporary.
    std::string WithReply(const std::string& text, int code) const;

    // EHLO, or HELO where EHLO is refused; records the extensions.
    bool Greet();
    bool StartTls();
    bool Authenticate();
    // Says QUIT after a refusal and waits briefly for the answer, keeping the
    // error text; the caller then drops the connection.
    void QuitQuietly();
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
    std::vector<std::string> m_replyLines; // every line of the last reply
    SmtpSecurity m_security = SmtpSecurity::None;
    std::string m_userName;
    std::string m_password;
    std::string m_caFile;
    std::string m_clientDomain;
    std::set<std::string> m_extensions; // EHLO keywords, upper case
    std::set<std::string> m_authMechanisms; // upper case
    std::uint64_t m_sizeLimit = 0;
    CTlsChannel m_tls;
    std::vector<RefusedRecipient> m_refused;
    std::chrono::milliseconds m_connectLimit = kDefaultConnectLimit;
    std::chrono::milliseconds m_replyLimit = kDefaultReplyLimit;
    std::chrono::milliseconds m_sessionLimit = kDefaultSessionLimit;
    CTcpStream::Clock::time_point m_sessionDeadline {};
};
