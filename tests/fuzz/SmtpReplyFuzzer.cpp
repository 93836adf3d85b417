// libFuzzer target: the SMTP client reading whatever a server answers. A
// server thread on 127.0.0.1 sends the input as its whole side of the
// conversation and closes; the client runs a complete session against it.
// Whatever the bytes, the session must end within its time limits, without an
// access outside a buffer, and a failure must carry a reason.

#include "mail/MailItem.h"
#include "mail/SmtpSession.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace {

// One listening socket for the whole run, on a port the system picks.
int Listener(int& port)
{
    static int listener = -1;
    static int listenerPort = 0;
    if (listener < 0) {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::listen(listener, 4) != 0
            || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            __builtin_trap();
        listenerPort = ntohs(address.sin_port);
    }
    port = listenerPort;
    return listener;
}

void Serve(int listener, const std::uint8_t* data, std::size_t size)
{
    const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0)
        return;
    std::size_t sent = 0;
    while (sent < size) {
        const ssize_t count = ::send(connection, data + sent, size - sent, MSG_NOSIGNAL);
        if (count <= 0)
            break;
        sent += std::size_t(count);
    }
    ::shutdown(connection, SHUT_WR);
    // Take what the client sends until it closes, so it never blocks on a
    // full buffer.
    char buffer[4096];
    while (::recv(connection, buffer, sizeof buffer, 0) > 0) { }
    ::close(connection);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    int port = 0;
    const int listener = Listener(port);
    std::thread server(Serve, listener, data, size);

    CSmtpSession session("127.0.0.1", port);
    session.SetTimeLimits(
        std::chrono::milliseconds(2000), std::chrono::milliseconds(500), std::chrono::milliseconds(3000));
    const auto started = std::chrono::steady_clock::now();
    if (session.OpenSession()) {
        CMailItem item;
        item.SetSender("Alice <alice@example.org>");
        item.SetSubject("fuzz");
        item.SetBody("line one\r\n.line two\r\n");
        item.ParseRecipientList("bob@example.org; carol@example.org", CMailItem::kTo);
        if (!session.SendItem(item) && session.GetErrorText().empty())
            __builtin_trap();
        session.CloseSession();
    } else if (session.GetErrorText().empty()) {
        __builtin_trap();
    }
    server.join();
    if (std::chrono::steady_clock::now() - started > std::chrono::seconds(10))
        __builtin_trap();
    return 0;
}
