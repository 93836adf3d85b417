#include "mail/TcpStream.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = CTcpStream::Clock;

// Without a wake-up descriptor a cancel is noticed within this time.
constexpr int kCancelTickMs = 50;

// Rounded up, so that a wait never ends just before its deadline and spins.
int RemainingMilliseconds(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > 24 * 3600 * 1000 ? 24 * 3600 * 1000 : static_cast<int>(left);
}

} // namespace

CTcpStream::CTcpStream()
    : m_wakeUp(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

CTcpStream::~CTcpStream()
{
    Close();
    if (m_wakeUp >= 0)
        ::close(m_wakeUp);
}

void CTcpStream::Close()
{
    if (m_socket >= 0) {
        ::close(m_socket);
        m_socket = -1;
    }
}

void CTcpStream::Cancel()
{
    m_cancelled.store(true);
    // The counter is never read back, so the descriptor stays readable and
    // every later wait ends at once too.
    if (m_wakeUp >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wakeUp, &one, sizeof one);
    }
}

CTcpStream::Result CTcpStream::Fail(int error)
{
    m_lastError = std::strerror(error);
    if (error == ECONNRESET || error == EPIPE || error == ENOTCONN)
        return Result::Closed;
    return Result::Failed;
}

CTcpStream::Result CTcpStream::PollFor(int descriptor, short events, Clock::time_point deadline)
{
    for (;;) {
        if (m_cancelled.load()) {
            m_lastError = "cancelled";
            return Result::Cancelled;
        }
        int timeout = RemainingMilliseconds(deadline);
        if (m_wakeUp < 0 && timeout > kCancelTickMs)
            timeout = kCancelTickMs;
        pollfd entries[2] = { { descriptor, events, 0 }, { m_wakeUp, POLLIN, 0 } };
        const int ready = ::poll(entries, m_wakeUp >= 0 ? 2 : 1, timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return Fail(errno);
        }
        if (entries[1].revents != 0)
            continue; // reported as cancelled above
        if (entries[0].revents != 0)
            return Result::Ok; // errors and hang-ups show in the following call
        if (Clock::now() >= deadline) {
            m_lastError = std::strerror(ETIMEDOUT);
            return Result::TimedOut;
        }
    }
}

CTcpStream::Result CTcpStream::WaitReady(short events, Clock::time_point deadline)
{
    if (m_socket < 0)
        return Fail(ENOTCONN);
    return PollFor(m_socket, events, deadline);
}

CTcpStream::Result CTcpStream::Connect(const std::string& host, int port, Clock::time_point deadline)
{
    Close();
    if (m_cancelled.load()) {
        m_lastError = "cancelled";
        return Result::Cancelled;
    }

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
                result = PollFor(candidate, POLLOUT, deadline);
                socklen_t length = sizeof error;
                if (result == Result::Cancelled || result == Result::Failed) {
                    ::close(candidate);
                    break;
                }
                if (result == Result::TimedOut)
                    error = ETIMEDOUT;
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
        if (Clock::now() >= deadline)
            break;
    }
    ::freeaddrinfo(addresses);
    return result;
}

CTcpStream::Result CTcpStream::Send(
    std::string_view data, Clock::time_point deadline, std::chrono::milliseconds stallLimit)
{
    if (m_socket < 0)
        return Fail(ENOTCONN);
    while (!data.empty()) {
        if (m_cancelled.load()) {
            m_lastError = "cancelled";
            return Result::Cancelled;
        }
        const ssize_t sent = ::send(m_socket, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            auto waitUntil = deadline;
            if (stallLimit.count() > 0 && Clock::now() + stallLimit < deadline)
                waitUntil = Clock::now() + stallLimit;
            if (const Result waited = PollFor(m_socket, POLLOUT, waitUntil); waited != Result::Ok)
                return waited;
            continue;
        }
        return Fail(sent < 0 ? errno : EPIPE);
    }
    return Result::Ok;
}

CTcpStream::Result CTcpStream::Receive(
    char* buffer, std::size_t size, std::size_t& received, Clock::time_point deadline)
{
    received = 0;
    if (m_socket < 0)
        return Fail(ENOTCONN);
    for (;;) {
        if (const Result waited = PollFor(m_socket, POLLIN, deadline); waited != Result::Ok)
            return waited;
        const ssize_t count = ::recv(m_socket, buffer, size, 0);
        if (count > 0) {
            received = static_cast<std::size_t>(count);
            return Result::Ok;
        }
        if (count == 0) {
            m_lastError = "end of stream";
            return Result::Closed;
        }
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
            continue;
        return Fail(errno);
    }
}
