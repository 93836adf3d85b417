#include "mail/SmtpSession.h"

#include "mail/MimeMailItem.h"
#include "mail/PartHandler.h"
#include "support/ScriptedSmtpServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

std::string EhloLine(const CSmtpSession& session) { return "C: EHLO " + session.ClientDomain(); }

bool IsGreetingCommand(const std::string& line) { return line.starts_with("C: EHLO ") || line.starts_with("C: HELO "); }

// What the client said after EHLO.
Lines ClientLinesAfterHelo(CScriptedSmtpServer& server)
{
    Lines lines;
    for (const auto& line : server.Transcript())
        if (line.starts_with("C: ") && !IsGreetingCommand(line))
            lines.push_back(line);
    return lines;
}

void Connect(CSmtpSession& session, int port)
{
    session.SetServer("127.0.0.1", port);
    session.SetTimeLimits(2s, 500ms);
}

void FillMail(CMailItem& item)
{
    item.SetSender("user@example.com");
    item.SetSubject("Picture");
    item.SetBody("Hello");
}

TEST(SmtpSession, DeliversOneMailWithTheClassicCommandSequence)
{
    CScriptedSmtpServer server({ "220 mail.example.com ready", "250 mail.example.com", "250 sender ok", "250 to ok",
        "250 cc ok", "250 bcc ok", "354 go ahead", "250 queued", "221 bye" });
    CSmtpSession session;
    Connect(session, server.Port());
    CMimeMailItem item;
    FillMail(item);
    item.StoreRecipient("to@example.com", "Tom ", CMailItem::kTo);
    item.StoreRecipient("cc@example.com", "", CMailItem::kCc);
    item.StoreRecipient("bcc@example.com", "", CMailItem::kBcc);

    ASSERT_TRUE(session.OpenSession()) << session.GetErrorText();
    EXPECT_TRUE(session.SendItem(item)) << session.GetErrorText();
    EXPECT_TRUE(session.CloseSession());
    EXPECT_EQ(session.GetErrorText(), "OK");

    EXPECT_EQ(server.Transcript(),
        (Lines {
            "S: 220 mail.example.com ready",
            EhloLine(session),
            "S: 250 mail.example.com",
            "C: MAIL From: <user@example.com>",
            "S: 250 sender ok",
            "C: RCPT TO: <to@example.com>",
            "S: 250 to ok",
            "C: RCPT TO: <cc@example.com>",
            "S: 250 cc ok",
            "C: RCPT TO: <bcc@example.com>",
            "S: 250 bcc ok",
            "C: DATA",
            "S: 354 go ahead",
            "C: [mail data]",
            "S: 250 queued",
            "C: QUIT",
            "S: 221 bye",
        }));
    EXPECT_EQ(server.MailData(), item.Header() + item.Body() + "\r\n");
}

TEST(SmtpSession, GathersRepliesSplitIntoPiecesOrSpreadOverLines)
{
    CScriptedSmtpServer server({ "22|0 mail.example.com| ready", "250-mail.example.com\r\n250-8BITMIME\r\n250 HELP",
        "2|50 sender ok", "250 recipient ok", "354 go ahead", "250-queued as 12\r\n250 thank you", "221 bye" });
    CSmtpSession session;
    Connect(session, server.Port());
    CMimeMailItem item;
    FillMail(item);
    item.StoreRecipient("to@example.com", "", CMailItem::kTo);

    ASSERT_TRUE(session.OpenSession()) << session.GetErrorText();
    EXPECT_TRUE(session.SendItem(item)) << session.GetErrorText();
    EXPECT_TRUE(session.CloseSession()) << "every reply was matched with its own command";
    EXPECT_EQ(session.GetErrorText(), "OK");
    EXPECT_EQ(server.Transcript(),
        (Lines {
            "S: 220 mail.example.com ready",
            EhloLine(session),
            "S: 250-mail.example.com",
            "S: 250-8BITMIME",
            "S: 250 HELP",
            "C: MAIL From: <user@example.com>",
            "S: 250 sender ok",
            "C: RCPT TO: <to@example.com>",
            "S: 250 recipient ok",
            "C: DATA",
            "S: 354 go ahead",
            "C: [mail data]",
            "S: 250-queued as 12",
            "S: 250 thank you",
            "C: QUIT",
            "S: 221 bye",
        }));
}

struct FailureCase {
    const char* name;
    Lines replies;
    bool opened;
    bool sent;
    const char* errorText;
    Lines clientLines; // what the client said, in order, after HELO
};

TEST(SmtpSession, ReportsEachProtocolFailureWithItsText)
{
    const FailureCase cases[] = {
        { "greeting refused", { "554 no service", "221 bye" }, false, false,
            "Server didn't respond. (the server said: 554 no service)", { "C: QUIT" } },
        { "greeting never comes", { "<silent>" }, false, false, "Server didn't respond.", {} },
        { "EHLO and HELO refused", { "220 ready", "502 no EHLO", "501 bad name", "221 bye" }, false, false,
            "501:SMTP server error (the server said: 501 bad name)", { "C: QUIT" } },
        { "EHLO refused for now", { "220 ready", "421-busy\r\n421 come back later", "221 bye" }, false, false,
            "421:SMTP server error (the server said: 421 busy come back later) This is a temporary refusal: try again "
            "later.",
            { "C: QUIT" } },
        { "server hangs up after the greeting", { "220 ready", "<close>" }, false, false,
            "SMTP server closed the connection", {} },
        { "sender refused", { "220 ready", "250 hi", "553 not you", "221 bye" }, true, false,
            "553:SMTP server error (the server said: 553 not you)", { "C: MAIL From: <user@example.com>", "C: QUIT" } },
        { "recipient refused, mail goes on",
            { "220 ready", "250 hi", "250 ok", "550 no such user", "354 go", "250 queued", "221 bye" }, true, true,
            "550:SMTP server error (the server said: 550 no such user)",
            { "C: MAIL From: <user@example.com>", "C: RCPT TO: <to@example.com>", "C: DATA", "C: [mail data]",
                "C: QUIT" } },
        { "DATA refused", { "220 ready", "250 hi", "250 ok", "250 ok", "451 try later", "221 bye" }, true, false,
            "451:SMTP server not ready for data (the server said: 451 try later) This is a temporary refusal: try "
            "again later.",
            { "C: MAIL From: <user@example.com>", "C: RCPT TO: <to@example.com>", "C: DATA", "C: QUIT" } },
        { "mail refused at its end", { "220 ready", "250 hi", "250 ok", "250 ok", "354 go", "554 spam", "221 bye" },
            true, false, "554:SMTP server error (the server said: 554 spam)",
            { "C: MAIL From: <user@example.com>", "C: RCPT TO: <to@example.com>", "C: DATA", "C: [mail data]",
                "C: QUIT" } },
        { "server goes silent after MAIL", { "220 ready", "250 hi", "<silent>" }, true, false,
            "SMTP server did not answer in time", { "C: MAIL From: <user@example.com>" } },
        { "server hangs up after MAIL", { "220 ready", "250 hi", "<close>" }, true, false,
            "SMTP server closed the connection", { "C: MAIL From: <user@example.com>" } },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        CScriptedSmtpServer server(test.replies);
        CSmtpSession session;
        Connect(session, server.Port());
        CMimeMailItem item;
        FillMail(item);
        item.StoreRecipient("to@example.com", "", CMailItem::kTo);

        const auto started = std::chrono::steady_clock::now();
        const bool opened = session.OpenSession();
        EXPECT_EQ(opened, test.opened);
        if (opened) {
            EXPECT_EQ(session.SendItem(item), test.sent);
            session.CloseSession();
        }
        EXPECT_EQ(session.GetErrorText(), test.errorText);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 3s) << "a silent server costs one reply limit";

        Lines clientLines;
        for (const auto& line : server.Transcript())
            if (line.starts_with("C: ") && !IsGreetingCommand(line))
                clientLines.push_back(line);
        EXPECT_EQ(clientLines, test.clientLines);
    }
}

TEST(SmtpSession, RefusesToSendWithoutConnectionOrDirectRecipients)
{
    CSmtpSession idle;
    CMimeMailItem item;
    FillMail(item);
    EXPECT_FALSE(idle.SendItem(item));
    EXPECT_EQ(idle.GetErrorText(), "Must be connected");
    EXPECT_TRUE(idle.CloseSession()) << "nothing to close";

    CScriptedSmtpServer server({ "220 ready", "250 hi", "221 bye" });
    CSmtpSession session;
    Connect(session, server.Port());
    item.StoreRecipient("cc@example.com", "", CMailItem::kCc);
    item.StoreRecipient("bcc@example.com", "", CMailItem::kBcc);
    ASSERT_TRUE(session.OpenSession());
    EXPECT_FALSE(session.SendItem(item));
    EXPECT_EQ(session.GetErrorText(), "No Recipients");
    EXPECT_TRUE(session.IsConnected());
    EXPECT_TRUE(session.CloseSession());
    EXPECT_EQ(server.Transcript(), (Lines { "S: 220 ready", EhloLine(session), "S: 250 hi", "C: QUIT", "S: 221 bye" }));
}

TEST(SmtpSession, AnUnreadableAttachmentStopsTheMailBeforeMail)
{
    CScriptedSmtpServer server({ "220 ready", "250 hi", "221 bye" });
    CSmtpSession session;
    Connect(session, server.Port());
    CMimeMailItem item;
    FillMail(item);
    item.StoreRecipient("to@example.com", "", CMailItem::kTo);
    item.AttachPart("/nonexistent/picture.jpg", kFilePartId, "");

    ASSERT_TRUE(session.OpenSession());
    EXPECT_FALSE(session.SendItem(item));
    EXPECT_EQ(
        session.GetErrorText(), "Cannot open the attachment file /nonexistent/picture.jpg: No such file or directory");
    EXPECT_TRUE(session.CloseSession());
    EXPECT_EQ(server.Transcript(), (Lines { "S: 220 ready", EhloLine(session), "S: 250 hi", "C: QUIT", "S: 221 bye" }));
}

TEST(SmtpSession, GreetsWithAQualifiedNameAndFallsBackToHelo)
{
    CScriptedSmtpServer server({ "220 ready", "500 5.5.1 command unrecognized", "250 hi", "221 bye" });
    CSmtpSession session;
    Connect(session, server.Port());
    ASSERT_TRUE(session.OpenSession()) << session.GetErrorText();
    EXPECT_TRUE(session.CloseSession());
    EXPECT_EQ(server.Transcript(),
        (Lines { "S: 220 ready", EhloLine(session), "S: 500 5.5.1 command unrecognized",
            "C: HELO " + session.ClientDomain(), "S: 250 hi", "C: QUIT", "S: 221 bye" }));
    // A bare host name is refused by many servers: the name has a dot in it,
    // or the client names itself by its address.
    const std::string& domain = session.ClientDomain();
    EXPECT_TRUE(
        domain == "[127.0.0.1]" || (domain.find('.') != std::string::npos && domain.find('[') == std::string::npos))
        << domain;
    EXPECT_FALSE(session.Offers("SIZE")) << "HELO announces no extensions";
}

TEST(SmtpSession, HonoursTheSizeTheServerAnnounces)
{
    const Lines delivery = { "250 sender ok", "250 to ok", "354 go", "250 queued", "221 bye" };
    const struct {
        const char* name;
        const char* ehloReply;
        bool sent;
    } cases[] = {
        { "mail within the limit", "250-mail.example.com\r\n250 SIZE 1000000", true },
        { "mail over the limit", "250-mail.example.com\r\n250-SIZE 300\r\n250 8BITMIME", false },
        { "no limit", "250-mail.example.com\r\n250 SIZE 0", true },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        Lines replies = { "220 ready", test.ehloReply };
        if (test.sent)
            replies.insert(replies.end(), delivery.begin(), delivery.end());
        else
            replies.push_back("221 bye");
        CScriptedSmtpServer server(replies);
        CSmtpSession session;
        Connect(session, server.Port());
        CMimeMailItem item;
        FillMail(item);
        item.StoreRecipient("to@example.com", "", CMailItem::kTo);
        ASSERT_TRUE(session.OpenSession()) << session.GetErrorText();
        EXPECT_EQ(session.SendItem(item), test.sent);
        EXPECT_TRUE(session.CloseSession());
        const Lines lines = ClientLinesAfterHelo(server);
        if (test.sent) {
            ASSERT_FALSE(lines.empty());
            // RFC 1870: the size announced is the size of the data as sent.
            EXPECT_EQ(lines[0], "C: MAIL From: <user@example.com> SIZE=" + std::to_string(server.MailData().size()));
        } else {
            EXPECT_EQ(lines, (Lines { "C: QUIT" })) << "nothing of the mail goes out";
            EXPECT_TRUE(session.GetErrorText().starts_with("The mail is ")) << session.GetErrorText();
            EXPECT_NE(session.GetErrorText().find("at most 300 bytes"), std::string::npos) << session.GetErrorText();
        }
    }
}

TEST(SmtpSession, NeverSendsCredentialsOverAPlainConnection)
{
    // With no encryption asked for, a user name stops the session before it
    // connects at all.
    CRefusingPort refusing;
    CSmtpSession plain;
    Connect(plain, refusing.Port());
    plain.SetCredentials("user", "secret");
    EXPECT_FALSE(plain.OpenSession());
    EXPECT_NE(plain.GetErrorText().find("not encrypted"), std::string::npos) << plain.GetErrorText();

    // With STARTTLS required, a server that does not offer it, or refuses it,
    // is left with QUIT and never sees AUTH.
    const struct {
        const char* name;
        Lines replies;
        const char* errorStart;
        Lines clientLines;
    } cases[] = {
        { "STARTTLS not offered", { "220 ready", "250-mail.example.com\r\n250 AUTH PLAIN LOGIN", "221 bye" },
            "The server does not offer STARTTLS", { "C: QUIT" } },
        { "STARTTLS refused",
            { "220 ready", "250-mail.example.com\r\n250-STARTTLS\r\n250 AUTH PLAIN", "454 4.7.0 TLS not available",
                "221 bye" },
            "The server refused STARTTLS (the server said: 454 4.7.0 TLS not available) This is a temporary",
            { "C: STARTTLS", "C: QUIT" } },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        CScriptedSmtpServer server(test.replies);
        CSmtpSession session;
        Connect(session, server.Port());
        session.SetSecurity(SmtpSecurity::StartTls);
        session.SetCredentials("user", "secret");
        EXPECT_FALSE(session.OpenSession());
        EXPECT_TRUE(session.GetErrorText().starts_with(test.errorStart)) << session.GetErrorText();
        EXPECT_FALSE(session.IsConnected());
        EXPECT_EQ(ClientLinesAfterHelo(server), test.clientLines);
    }
}

TEST(SmtpSession, FailsToConnectToARefusingPortAndMayTryAgain)
{
    CRefusingPort refusing;
    CSmtpSession session;
    Connect(session, refusing.Port());
    EXPECT_FALSE(session.OpenSession());
    EXPECT_EQ(session.GetErrorText(), "Unable to connect to server");
    EXPECT_FALSE(session.IsConnected());

    CScriptedSmtpServer server({ "220 ready", "250 hi", "221 bye" });
    session.SetServer("127.0.0.1", server.Port());
    EXPECT_TRUE(session.OpenSession());
    EXPECT_TRUE(session.OpenSession()) << "already open, no second greeting";
    EXPECT_TRUE(session.CloseSession());
}

TEST(SmtpSession, DoublesEveryDotThatBeginsALine)
{
    const struct {
        const char* body;
        const char* sent;
    } cases[] = {
        { "a\r\n.\r\nb\r\n", "a\r\n..\r\nb\r\n" },
        { ".\r\nfirst", "..\r\nfirst" },
        { "a\r\n.\r\n.\r\n.\r\nb", "a\r\n..\r\n..\r\n..\r\nb" },
        { "a\r\n.hidden\r\n..\r\n", "a\r\n..hidden\r\n...\r\n" },
        { ".", ".." },
        { "no. dots. inside.\r\n", "no. dots. inside.\r\n" },
        // A lone LF or CR is a line break to some servers, so it goes out as
        // one, and the dot after it is doubled like any other.
        { "a\n.\nb\r.c\r\n\r\n.d", "a\r\n..\r\nb\r\n..c\r\n\r\n..d" },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.body);
        CMailItem item;
        item.SetBody(test.body);
        EXPECT_EQ(CSmtpSession::EscapeDots(item), test.sent);
    }
}

TEST(SmtpSession, RefusesLineBreaksInHeaderFieldsBeforeSendingAnything)
{
    const struct {
        const char* name;
        void (*fill)(CMailItem&);
        const char* errorText;
    } cases[] = {
        { "sender", [](CMailItem& item) { item.SetSender("user@example.com>\r\nRCPT TO: <extra@example.com"); },
            "The sender holds a line break or NUL character." },
        { "subject", [](CMailItem& item) { item.SetSubject("Hi\r\nBcc: extra@example.com\r\nX-Injected: yes"); },
            "The subject holds a line break or NUL character." },
        { "subject with NUL", [](CMailItem& item) { item.SetSubject(std::string("Hi\0there", 8)); },
            "The subject holds a line break or NUL character." },
        { "receiver address",
            [](CMailItem& item) {
                item.StoreRecipient("to@example.com>\nRCPT TO: <extra@example.com", "", CMailItem::kTo);
            },
            "A receiver holds a line break or NUL character." },
        { "receiver name",
            [](CMailItem& item) { item.StoreRecipient("to@example.com", "Tom\rBcc: x ", CMailItem::kTo); },
            "A receiver holds a line break or NUL character." },
        { "blind copy address",
            [](CMailItem& item) { item.StoreRecipient("bcc@example.com\r\nDATA", "", CMailItem::kBcc); },
            "A receiver holds a line break or NUL character." },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        CScriptedSmtpServer server({ "220 ready", "250 hi", "221 bye" });
        CSmtpSession session;
        Connect(session, server.Port());
        CMimeMailItem item;
        FillMail(item);
        item.StoreRecipient("to@example.com", "", CMailItem::kTo);
        test.fill(item);

        ASSERT_TRUE(session.OpenSession());
        EXPECT_FALSE(session.SendItem(item));
        EXPECT_EQ(session.GetErrorText(), test.errorText);
        EXPECT_TRUE(session.CloseSession());
        EXPECT_EQ(ClientLinesAfterHelo(server), (Lines { "C: QUIT" }));
    }
}

TEST(SmtpSession, SendsTheSenderAddressAloneAndNamesRefusedRecipients)
{
    CScriptedSmtpServer server({ "220 ready", "250 hi", "250 ok", "550 5.1.1 no such user", "250 ok",
        "553 5.1.3 bad address", "354 go", "250 queued", "221 bye" });
    CSmtpSession session;
    Connect(session, server.Port());
    CMimeMailItem item;
    FillMail(item);
    item.SetSender(" Alice <alice@example.org> ");
    ASSERT_TRUE(item.ParseRecipientList("gone@example.com; friend@example.com;", CMailItem::kTo));
    item.StoreRecipient("bad@", "", CMailItem::kCc);

    ASSERT_TRUE(session.OpenSession());
    EXPECT_TRUE(session.SendItem(item)) << session.GetErrorText();
    EXPECT_TRUE(session.CloseSession());
    EXPECT_EQ(ClientLinesAfterHelo(server),
        (Lines { "C: MAIL From: <alice@example.org>", "C: RCPT TO: <gone@example.com>",
            "C: RCPT TO: <friend@example.com>", "C: RCPT TO: <bad@>", "C: DATA", "C: [mail data]", "C: QUIT" }));
    EXPECT_TRUE(server.MailData().starts_with("From:  Alice <alice@example.org> \r\n"))
        << "the From line keeps the sender as typed";
    ASSERT_EQ(session.RefusedRecipients().size(), 2u);
    EXPECT_EQ(session.RefusedRecipients()[0].address, "gone@example.com");
    EXPECT_EQ(session.RefusedRecipients()[0].reply, "550 5.1.1 no such user");
    EXPECT_EQ(session.RefusedRecipients()[1].address, "bad@");
    EXPECT_EQ(session.RefusedRecipients()[1].reply, "553 5.1.3 bad address");
}

TEST(SmtpSession, RefusesASenderWithAnUnclosedAngleBracket)
{
    CScriptedSmtpServer server({ "220 ready", "250 hi", "221 bye" });
    CSmtpSession session;
    Connect(session, server.Port());
    CMimeMailItem item;
    FillMail(item);
    item.SetSender("Alice <alice@example.org");
    item.StoreRecipient("to@example.com", "", CMailItem::kTo);
    ASSERT_TRUE(session.OpenSession());
    EXPECT_FALSE(session.SendItem(item));
    EXPECT_EQ(session.GetErrorText(), "The sender address has a '<' without a '>' after it.");
    EXPECT_TRUE(session.CloseSession());
    EXPECT_EQ(ClientLinesAfterHelo(server), (Lines { "C: QUIT" }));
}

// A reply of `count` lines, all but the last with a '-' after the code.
std::string ReplyOfLines(std::size_t count, std::size_t width)
{
    std::string reply;
    for (std::size_t line = 1; line < count; ++line)
        reply += "250-" + std::string(width, 'x') + "\r\n";
    return reply + "250 end";
}

TEST(SmtpSession, BoundsEachReplyInTimeAndSize)
{
    // The dripped reply arrives a piece every 30 ms, so no single wait comes
    // near the limit, but the whole reply takes about 400 ms.
    std::string dripped = "2|5|0| |h|e|l|l|o| |t|h|e|r|e";
    const struct {
        const char* name;
        std::string reply;
        const char* errorText;
    } cases[] = {
        { "reply dripped byte by byte", dripped, "SMTP server did not answer in time" },
        { "continuation lines without end", ReplyOfLines(1000, 4), "SMTP server reply too long" },
        { "long continuation lines", ReplyOfLines(100, 1000), "SMTP server reply too long" },
        { "many lines within the caps", ReplyOfLines(100, 20), "OK" },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        CScriptedSmtpServer server({ "220 ready", test.reply, "221 bye" });
        CSmtpSession session;
        session.SetServer("127.0.0.1", server.Port());
        session.SetTimeLimits(2s, 250ms);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(session.OpenSession(), test.errorText == std::string("OK"));
        EXPECT_EQ(session.GetErrorText(), test.errorText);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
        session.CloseSession();
    }
}

TEST(SmtpSession, EndsASessionThatRunsPastItsLimit)
{
    // Every reply comes within the reply limit, but together they take far
    // longer than the session may.
    const std::string slow = "2|5|0| |o|k";
    CScriptedSmtpServer server({ "2|2|0| |h|i", slow, slow, slow, "3|5|4| |g|o", slow, "2|2|1| |b|y|e" });
    CSmtpSession session;
    session.SetServer("127.0.0.1", server.Port());
    session.SetTimeLimits(2s, 1s, 500ms);
    CMimeMailItem item;
    FillMail(item);
    item.StoreRecipient("to@example.com", "", CMailItem::kTo);

    const auto started = std::chrono::steady_clock::now();
    if (session.OpenSession()) {
        EXPECT_FALSE(session.SendItem(item));
    }
    EXPECT_EQ(session.GetErrorText(), "SMTP session took too long");
    EXPECT_FALSE(session.IsConnected());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
}

TEST(SmtpSession, CancelEndsAStuckWaitAtOnce)
{
    const struct {
        const char* name;
        Lines replies;
        SmtpSecurity security;
    } cases[] = {
        { "waiting for the greeting", { "<silent>" }, SmtpSecurity::None },
        { "waiting for the reply to MAIL", { "220 ready", "250 hi", "<silent>" }, SmtpSecurity::None },
        // The server takes the connection but never answers the TLS hello.
        { "waiting for the TLS handshake", { "<silent>" }, SmtpSecurity::Tls },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        CScriptedSmtpServer server(test.replies);
        CSmtpSession session;
        session.SetSecurity(test.security);
        session.SetServer("127.0.0.1", server.Port());
        session.SetTimeLimits(5s, 5s);
        CMimeMailItem item;
        FillMail(item);
        item.StoreRecipient("to@example.com", "", CMailItem::kTo);

        const auto started = std::chrono::steady_clock::now();
        std::thread canceller([&] {
            std::this_thread::sleep_for(200ms);
            session.Cancel();
        });
        const bool sent = session.OpenSession() && session.SendItem(item);
        canceller.join();
        EXPECT_FALSE(sent);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
        EXPECT_TRUE(session.IsCancelled());
        EXPECT_EQ(session.GetErrorText(), "Sending was cancelled");
        EXPECT_FALSE(session.IsConnected());
        EXPECT_TRUE(session.CloseSession()) << "nothing left to close";
        for (const auto& line : server.Transcript())
            EXPECT_NE(line, "C: QUIT") << "a cancelled session is dropped, not ended";
    }
}

} // namespace
