#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

// A blocking TCP client stream over POSIX sockets where every operation has a
// time limit, so a peer that goes silent is noticed instead of waited for.
class CTcpStream {
public:
    enum class Result {
        Ok,
        CreateFailed, // no socket could be created
        ConnectFailed, // the name did not resolve, or no address accepted in time
        TimedOut, // the peer did not send or accept data in time
        Closed, // the peer closed or reset the connection
        Failed, // any other socket error
    };

    CTcpStream() = default;
    ~CTcpStream();
    CTcpStream(const CTcpStream&) = delete;
    CTcpStream& operator=(const CTcpStream&) = delete;

    // Resolves `host` and tries its addresses in turn until one accepts,
    // within `limit` overall (name resolution itself is not bounded).
    Result Connect(const std::string& host, int port, std::chrono::milliseconds limit);

    // Sends all of `data`; the limit applies to each wait for buffer space.
    Result Send(std::string_view data, std::chrono::milliseconds limit);

    // Waits up to `limit` for data and reads what is there, at most `size`
    // bytes; `received` is at least 1 when the result is Ok.
    Result Receive(char* buffer, std::size_t size, std::size_t& received, std::chrono::milliseconds limit);

    void Close();
    bool IsOpen() const { return m_socket >= 0; }

    // The system's text for the last failure, for logs.
    const std::string& LastError() const { return m_lastError; }

private:
    Result Wait(short events, std::chrono::milliseconds limit);
    Result Fail(int error);

    int m_socket = -1;
    std::string m_lastError;
};
