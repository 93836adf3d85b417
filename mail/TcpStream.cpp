#include "mail/TcpStream.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMilliseconds(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

} // namespace

CTcpStream::~CTcpStream() { Close(); }

void CTcpStream::Close()
{
    if (m_socket >= 0) {
        ::close(m_socket);
        m_socket = -1;
    }
}

CTcpStream::Result CTcpStream::Fail(int error)
{
    m_lastError = std::strerror(error);
    if (error == ECONNRESET || error == EPIPE || error == ENOTCONN)
        return Result::Closed;
    return Result::Failed;
}

CTcpStream::Result CTcpStream::Connect(const std::string& host, int port, std::chrono::milliseconds limit)
{
    Close();
    const auto deadline = Clock::now() + limit;

    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* addresses = nullptr;
    const std::string service = std::to_string(port);
    const int resolved = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses);
    if (resolved != 0 || addresses == nullptr) {
        m_lastError = ::gai_strerror(resolved);
        return Result::ConnectFailed;
    }

    Result result = Result::ConnectFailed;
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        const int candidate
            = ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, address->ai_protocol);
        if (candidate < 0) {
            m_lastError = std::strerror(errno);
            result = Result::CreateFailed;
            continue;
        }
        int error = 0;
        if (::connect(candidate, address->ai_addr, address->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                pollfd entry { candidate, POLLOUT, 0 };
                int ready;
                do {
                    ready = ::poll(&entry, 1, RemainingMilliseconds(deadline));
                } while (ready < 0 && errno == EINTR);
                socklen_t length = sizeof error;
                if (ready <= 0)
                    error = ready == 0 ? ETIMEDOUT : errno;
                else if (::getsockopt(candidate, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                    error = errno;
            }
        }
        if (error == 0) {
            m_socket = candidate;
            result = Result::Ok;
            break;
        }
        m_lastError = std::strerror(error);
        result = Result::ConnectFailed;
        ::close(candidate);
        if (RemainingMilliseconds(deadline) == 0)
            break;
    }
    ::freeaddrinfo(addresses);
    return result;
}

CTcpStream::Result CTcpStream::Wait(short events, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    for (;;) {
        pollfd entry { m_socket, events, 0 };
        const int ready = ::poll(&entry, 1, RemainingMilliseconds(deadline));
        if (ready > 0)
            return Result::Ok; // errors and hang-ups show in the following call
        if (ready == 0) {
            m_lastError = std::strerror(ETIMEDOUT);
            return Result::TimedOut;
        }
        if (errno != EINTR)
            return Fail(errno);
    }
}

CTcpStream::Result CTcpStream::Send(std::string_view data, std::chrono::milliseconds limit)
{
    if (m_socket < 0)
        return Fail(ENOTCONN);
    while (!data.empty()) {
        const ssize_t sent = ::send(m_socket, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (const Result waited = Wait(POLLOUT, limit); waited != Result::Ok)
                return waited;
            continue;
        }
        return Fail(sent < 0 ? errno : EPIPE);
    }
    return Result::Ok;
}

CTcpStream::Result CTcpStream::Receive(
    char* buffer, std::size_t size, std::size_t& received, std::chrono::milliseconds limit)
{
    received = 0;
    if (m_socket < 0)
        return Fail(ENOTCONN);
    if (const Result waited = Wait(POLLIN, limit); waited != Result::Ok)
        return waited;
    for (;;) {
        const ssize_t count = ::recv(m_socket, buffer, size, 0);
        if (count > 0) {
            received = static_cast<std::size_t>(count);
            return Result::Ok;
        }
        if (count == 0) {
            m_lastError = "end of stream";
            return Result::Closed;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (const Result waited = Wait(POLLIN, limit); waited != Result::Ok)
                return waited;
            continue;
        }
        return Fail(errno);
    }
}
