#include "support/ScriptedSmtpServer.h"

#include <chrono>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// No exchange in these tests takes anywhere near this long; it only bounds a
// test that has gone wrong.
constexpr int kIdleLimitMs = 10'000;

int BindLoopback(int& port)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        throw std::runtime_error("socket");
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(socket);
        throw std::runtime_error("bind");
    }
    port = ntohs(address.sin_port);
    return socket;
}

bool WaitReadable(int socket)
{
    pollfd entry { socket, POLLIN, 0 };
    return ::poll(&entry, 1, kIdleLimitMs) > 0;
}

void SendAll(int connection, const std::string& text)
{
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t count = ::send(connection, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (count <= 0)
            return;
        sent += static_cast<std::size_t>(count);
    }
}

std::vector<std::string> SplitPieces(const std::string& reply)
{
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t bar; (bar = reply.find('|', start)) != std::string::npos; start = bar + 1)
        pieces.push_back(reply.substr(start, bar - start));
    pieces.push_back(reply.substr(start));
    return pieces;
}

} // namespace

CScriptedSmtpServer::CScriptedSmtpServer(std::vector<std::string> replies)
    : m_replies(std::move(replies))
{
    m_listener = BindLoopback(m_port);
    if (::listen(m_listener, 1) != 0) {
        ::close(m_listener);
        throw std::runtime_error("listen");
    }
    m_thread = std::thread([this] { Serve(); });
}

CScriptedSmtpServer::~CScriptedSmtpServer()
{
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listener);
}

const std::vector<std::string>& CScriptedSmtpServer::Transcript()
{
    if (m_thread.joinable())
        m_thread.join();
    return m_transcript;
}

bool CScriptedSmtpServer::ReceiveMore(int connection)
{
    char buffer[4096];
    if (!WaitReadable(connection))
        return false;
    const ssize_t count = ::recv(connection, buffer, sizeof buffer, 0);
    if (count <= 0)
        return false;
    m_pending.append(buffer, static_cast<std::size_t>(count));
    return true;
}

bool CScriptedSmtpServer::ReadLine(int connection, std::string& line)
{
    for (;;) {
        if (const auto end = m_pending.find("\r\n"); end != std::string::npos) {
            line = m_pending.substr(0, end);
            m_pending.erase(0, end + 2);
            return true;
        }
        if (!ReceiveMore(connection))
            return false;
    }
}

bool CScriptedSmtpServer::ReadMailData(int connection)
{
    // RFC 5321 4.1.1.4: the data ends with a line holding a single dot. Lone
    // dots inside the mail have been doubled by the client.
    const std::string endMark = "\r\n.\r\n";
    for (;;) {
        if (const auto end = m_pending.find(endMark); end != std::string::npos) {
            m_mailData = m_pending.substr(0, end + 2);
            m_pending.erase(0, end + endMark.size());
            return true;
        }
        if (!ReceiveMore(connection))
            return false;
    }
}

void CScriptedSmtpServer::Serve()
{
    if (!WaitReadable(m_listener))
        return;
    const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0)
        return;

    bool silent = false;
    std::size_t next = 0;
    std::string command;
    for (;;) {
        if (!silent && next < m_replies.size()) {
            const std::string reply = m_replies[next++];
            if (reply == "<close>")
                break;
            if (reply == "<silent>") {
                silent = true;
            } else {
                const auto pieces = SplitPieces(reply);
                for (std::size_t index = 0; index < pieces.size(); ++index) {
                    if (index > 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(30));
                    SendAll(connection, pieces[index] + (index + 1 == pieces.size() ? "\r\n" : ""));
                }
                std::string shown;
                for (const auto& piece : pieces)
                    shown += piece;
                // A multi-line reply is written down line by line.
                for (std::size_t start = 0;;) {
                    const auto end = shown.find("\r\n", start);
                    m_transcript.push_back("S: " + shown.substr(start, end - start));
                    if (end == std::string::npos)
                        break;
                    start = end + 2;
                }
                if (command == "DATA" && reply.starts_with("354")) {
                    if (!ReadMailData(connection))
                        break;
                    m_transcript.push_back("C: [mail data]");
                    command.clear();
                    continue;
                }
            }
        }
        if (!ReadLine(connection, command))
            break;
        m_transcript.push_back("C: " + command);
    }
    ::close(connection);
}

CRefusingPort::CRefusingPort()
{
    // Bound but not listening: a connection attempt is answered with a reset.
    m_socket = BindLoopback(m_port);
}

CRefusingPort::~CRefusingPort() { ::close(m_socket); }
