#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

// A blocking TCP client stream over POSIX sockets. Every wait has a deadline,
// so a peer that goes silent is noticed instead of waited for, and every wait
// also watches a wake-up descriptor, so another thread can end a stuck
// exchange at once with Cancel().
//
// Layers that drive the socket themselves (a TLS session, for instance) use
// Handle() for their reads and writes and WaitReady() for their waits, and so
// keep the same deadlines and the same cancellation.
class CTcpStream {
public:
    using Clock = std::chrono::steady_clock;

    enum class Result {
        Ok,
        CreateFailed, // no socket could be created
        ConnectFailed, // the name did not resolve, or no address accepted in time
        TimedOut, // the peer did not send or accept data in time
        Closed, // the peer closed or reset the connection
        Cancelled, // Cancel() was called
        Failed, // any other socket error
    };

    CTcpStream();
    ~CTcpStream();
    CTcpStream(const CTcpStream&) = delete;
    CTcpStream& operator=(const CTcpStream&) = delete;

    // Resolves `host` and tries its addresses in turn until one accepts,
    // before `deadline` (name resolution itself is neither bounded nor
    // cancellable).
    Result Connect(const std::string& host, int port, Clock::time_point deadline);

    // Sends all of `data` before `deadline`; besides, when `stallLimit` is
    // not zero, no single wait for buffer space may last longer than that.
    Result Send(std::string_view data, Clock::time_point deadline, std::chrono::milliseconds stallLimit = {});

    // Waits until `deadline` for data and reads what is there, at most `size`
    // bytes; `received` is at least 1 when the result is Ok.
    Result Receive(char* buffer, std::size_t size, std::size_t& received, Clock::time_point deadline);

    // Waits until the socket is ready for `events` (POLLIN, POLLOUT), the
    // deadline passes or the stream is cancelled.
    Result WaitReady(short events, Clock::time_point deadline);

    // Makes the wait in progress, and every later one, end with Cancelled.
    // The only member that may be called from another thread.
    void Cancel();
    bool IsCancelled() const { return m_cancelled.load(); }

    void Close();
    bool IsOpen() const { return m_socket >= 0; }
    int Handle() const { return m_socket; }

    // The system's text for the last failure, for logs.
    const std::string& LastError() const { return m_lastError; }

private:
    // Polls `descriptor` together with the wake-up descriptor.
    Result PollFor(int descriptor, short events, Clock::time_point deadline);
    Result Fail(int error);

    int m_socket = -1;
    int m_wakeUp = -1; // an eventfd that becomes readable on Cancel()
    std::atomic<bool> m_cancelled { false };
    std::string m_lastError;
};
