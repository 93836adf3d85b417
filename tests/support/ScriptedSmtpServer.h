#pragma once

#include <string>
#include <thread>
#include <vector>

// A one-connection SMTP server on 127.0.0.1 that answers from a script and
// writes down both sides of the exchange.
//
// The first reply is the greeting; each further one answers the next command
// line. After a reply starting with 354 the server reads the mail data up to
// its end mark and writes it down as one transcript line "C: [mail data]".
// Special replies:
//   "<close>"   closes the connection,
//   "<silent>"  answers nothing more and waits for the client to hang up,
//   "a|b|c"     sends the reply in three pieces with pauses between them.
// Every reply gets "\r\n" appended. When the script runs out the server keeps
// reading (and writing down) until the client hangs up.
class CScriptedSmtpServer {
public:
    explicit CScriptedSmtpServer(std::vector<std::string> replies);
    ~CScriptedSmtpServer();
    CScriptedSmtpServer(const CScriptedSmtpServer&) = delete;
    CScriptedSmtpServer& operator=(const CScriptedSmtpServer&) = delete;

    int Port() const { return m_port; }

    // Waits for the exchange to end and returns it, "S: " and "C: " lines.
    const std::vector<std::string>& Transcript();

    // The mail data as received, end mark removed; valid after Transcript().
    const std::string& MailData() const { return m_mailData; }

private:
    void Serve();
    // Appends what the client sends next to m_pending; false when it closed
    // the connection or stayed silent.
    bool ReceiveMore(int connection);
    bool ReadLine(int connection, std::string& line);
    bool ReadMailData(int connection);

    std::vector<std::string> m_replies;
    std::vector<std::string> m_transcript;
    std::string m_mailData;
    std::string m_pending;
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
};

// A port on 127.0.0.1 that refuses connections while the object lives.
class CRefusingPort {
public:
    CRefusingPort();
    ~CRefusingPort();
    int Port() const { return m_port; }

private:
    int m_socket = -1;
    int m_port = 0;
};
