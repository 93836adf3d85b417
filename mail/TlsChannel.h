#pragma once

#include "mail/TcpStream.h"

#include <string>
#include <string_view>

struct ssl_ctx_st;
struct ssl_st;

// TLS over a connected CTcpStream, done by OpenSSL. The server's certificate
// must chain to a trusted authority - the system's store, or one CA file the
// caller names - and must be issued for the host name (or address) that was
// dialled. Reads and writes keep the stream's deadlines and its Cancel.
class CTlsChannel {
public:
    using Clock = CTcpStream::Clock;
    using Result = CTcpStream::Result;

    enum class Failure {
        None,
        Untrusted, // the certificate does not chain to a trusted authority, or has expired
        HostMismatch, // the certificate is for another name
        Handshake, // TLS could not be agreed (protocol, cipher, a peer that is no TLS server)
        Transport, // the stream timed out, was cancelled or closed
        Setup, // the CA file could not be read, or OpenSSL could not start
    };

    CTlsChannel() = default;
    ~CTlsChannel();
    CTlsChannel(const CTlsChannel&) = delete;
    CTlsChannel& operator=(const CTlsChannel&) = delete;

    // Runs the client handshake on `stream` before `deadline`. `caFile` empty
    // means the system's CA store. On failure FailureKind() and FailureText()
    // say why, and TransportResult() tells a timeout or cancel apart.
    bool Handshake(CTcpStream& stream, const std::string& host, const std::string& caFile, Clock::time_point deadline);

    Result Send(std::string_view data, Clock::time_point deadline, std::chrono::milliseconds stallLimit = {});
    Result Receive(char* buffer, std::size_t size, std::size_t& received, Clock::time_point deadline);

    // Sends the closing alert if it can go out at once, and frees the session.
    // The socket itself belongs to the stream.
    void Close();
    bool IsActive() const { return m_ssl != nullptr; }

    Failure FailureKind() const { return m_failure; }
    const std::string& FailureText() const { return m_failureText; }
    Result TransportResult() const { return m_transportResult; }

    // Called by OpenSSL's verification for each certificate of the chain.
    void NoteVerifyFailure(int error, const std::string& subject);

private:
    // Repeats an OpenSSL call while it waits for the socket.
    template <class Operation>
    Result Drive(Operation operation, Clock::time_point deadline, std::chrono::milliseconds stallLimit);

    CTcpStream* m_stream = nullptr;
    ssl_ctx_st* m_context = nullptr;
    ssl_st* m_ssl = nullptr;
    Failure m_failure = Failure::None;
    std::string m_failureText;
    Result m_transportResult = Result::Ok;
    int m_verifyError = 0;
    std::string m_verifySubject; // the certificate that failed verification
    std::string m_sslError; // OpenSSL's reason for the last failed call
};
