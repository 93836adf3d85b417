#include "mail/TlsChannel.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

namespace {

// OpenSSL writes records of at most 16 KiB; larger writes only wait longer
// before they report progress.
constexpr std::size_t kWriteChunk = 16 * 1024;

bool IsAddressLiteral(const std::string& host)
{
    unsigned char address[16];
    return ::inet_pton(AF_INET, host.c_str(), address) == 1 || ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::string NameText(const X509_NAME* name)
{
    if (name == nullptr)
        return "(none)";
    BIO* memory = BIO_new(BIO_s_mem());
    if (memory == nullptr)
        return "(unknown)";
    X509_NAME_print_ex(memory, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long length = BIO_get_mem_data(memory, &data);
    std::string text = length > 0 ? std::string(data, static_cast<std::size_t>(length)) : "(empty)";
    BIO_free(memory);
    return text;
}

// OpenSSL's reasons queued on this thread, oldest first; the queue is emptied.
std::string TakeSslErrors()
{
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        char reason[256];
        ERR_error_string_n(code, reason, sizeof reason);
        if (!text.empty())
            text += "; ";
        text += reason;
    }
    return text;
}

int VerifyCallback(int preverified, X509_STORE_CTX* store)
{
    if (preverified == 0) {
        auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        auto* channel = ssl != nullptr ? static_cast<CTlsChannel*>(SSL_get_app_data(ssl)) : nullptr;
        // The server's own certificate names the server, whichever link of
        // its chain failed.
        const X509* leaf = X509_STORE_CTX_get0_cert(store);
        if (channel != nullptr)
            channel->NoteVerifyFailure(
                X509_STORE_CTX_get_error(store), NameText(leaf ? X509_get_subject_name(leaf) : nullptr));
    }
    return preverified;
}

} // namespace

CTlsChannel::~CTlsChannel() { Close(); }

void CTlsChannel::NoteVerifyFailure(int error, const std::string& subject)
{
    // The first failure is the one to report.
    if (m_verifyError != 0)
        return;
    m_verifyError = error;
    m_verifySubject = subject;
}

void CTlsChannel::Close()
{
    if (m_ssl != nullptr) {
        // One try, without waiting: the connection is ending either way.
        if (m_failure == Failure::None)
            SSL_shutdown(m_ssl);
        SSL_free(m_ssl);
        m_ssl = nullptr;
    }
    if (m_context != nullptr) {
        SSL_CTX_free(m_context);
        m_context = nullptr;
    }
    ERR_clear_error();
    m_stream = nullptr;
}

template <class Operation>
CTlsChannel::Result CTlsChannel::Drive(
    Operation operation, Clock::time_point deadline, std::chrono::milliseconds stallLimit)
{
    for (;;) {
        if (m_stream->IsCancelled())
            return Result::Cancelled;
        ERR_clear_error();
        const int done = operation();
        if (done > 0)
            return Result::Ok;
        const int error = SSL_get_error(m_ssl, done);
        short events = 0;
        switch (error) {
        case SSL_ERROR_WANT_READ:
            events = POLLIN;
            break;
        case SSL_ERROR_WANT_WRITE:
            events = POLLOUT;
            break;
        case SSL_ERROR_ZERO_RETURN:
            return Result::Closed;
        case SSL_ERROR_SYSCALL: {
            const int systemError = errno;
            m_sslError = TakeSslErrors();
            if (m_sslError.empty())
                m_sslError
                    = done == 0 || systemError == 0 ? "the peer closed the connection" : std::strerror(systemError);
            // An end of stream in the middle of TLS is the peer hanging up.
            return done == 0 || systemError == 0 || systemError == ECONNRESET || systemError == EPIPE ? Result::Closed
                                                                                                      : Result::Failed;
        }
        default:
            m_sslError = TakeSslErrors();
            return Result::Failed;
        }
        auto waitUntil = deadline;
        if (stallLimit.count() > 0 && Clock::now() + stallLimit < deadline)
            waitUntil = Clock::now() + stallLimit;
        if (const Result waited = m_stream->WaitReady(events, waitUntil); waited != Result::Ok)
            return waited;
    }
}

bool CTlsChannel::Handshake(
    CTcpStream& stream, const std::string& host, const std::string& caFile, Clock::time_point deadline)
{
    Close();
    m_stream = &stream;
    m_failure = Failure::None;
    m_failureText.clear();
    m_transportResult = Result::Ok;
    m_verifyError = 0;
    m_verifySubject.clear();
    m_sslError.clear();

    const auto setupFailed = [this](std::string text) {
        m_failure = Failure::Setup;
        m_failureText = std::move(text);
        Close();
        return false;
    };

    m_context = SSL_CTX_new(TLS_client_method());
    if (m_context == nullptr)
        return setupFailed("TLS could not be started: " + TakeSslErrors());
    // TLS 1.0 and 1.1 are withdrawn (RFC 8996).
    SSL_CTX_set_min_proto_version(m_context, TLS1_2_VERSION);
    if (caFile.empty()) {
        if (SSL_CTX_set_default_verify_paths(m_context) != 1)
            return setupFailed("The system's certificate store cannot be read: " + TakeSslErrors());
    } else if (SSL_CTX_load_verify_locations(m_context, caFile.c_str(), nullptr) != 1) {
        return setupFailed("The certificate file " + caFile + " cannot be read: " + TakeSslErrors());
    }
    SSL_CTX_set_verify(m_context, SSL_VERIFY_PEER, VerifyCallback);

    m_ssl = SSL_new(m_context);
    if (m_ssl == nullptr || SSL_set_fd(m_ssl, stream.Handle()) != 1)
        return setupFailed("TLS could not be started: " + TakeSslErrors());
    SSL_set_app_data(m_ssl, this);
    // RFC 6125: a name is checked against the certificate's DNS names, an
    // address against its IP addresses; only a name is sent as SNI (RFC 6066 3).
    if (IsAddressLiteral(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), host.c_str());
    } else {
        SSL_set_tlsext_host_name(m_ssl, host.c_str());
        SSL_set1_host(m_ssl, host.c_str());
    }

    const Result result = Drive([this] { return SSL_connect(m_ssl); }, deadline, {});
    if (result == Result::Ok)
        return true;

    m_transportResult = result;
    if (m_verifyError == X509_V_ERR_HOSTNAME_MISMATCH || m_verifyError == X509_V_ERR_IP_ADDRESS_MISMATCH) {
        m_failure = Failure::HostMismatch;
        m_failureText
            = "The server's certificate is not issued for " + host + " (certificate subject: " + m_verifySubject + ").";
    } else if (m_verifyError != 0) {
        m_failure = Failure::Untrusted;
        m_failureText = std::string("The server's certificate is not trusted: ")
            + X509_verify_cert_error_string(m_verifyError) + " (certificate subject: " + m_verifySubject + ").";
    } else if (result == Result::Failed) {
        m_failure = Failure::Handshake;
        m_failureText = "TLS could not be agreed with the server: " + m_sslError;
    } else {
        m_failure = Failure::Transport;
    }
    Close();
    return false;
}

CTlsChannel::Result CTlsChannel::Send(
    std::string_view data, Clock::time_point deadline, std::chrono::milliseconds stallLimit)
{
    if (m_ssl == nullptr)
        return Result::Failed;
    while (!data.empty()) {
        const int length = static_cast<int>(std::min(data.size(), kWriteChunk));
        // A write that has to wait is repeated with the same bytes, as
        // OpenSSL requires.
        if (const Result result = Drive([&] { return SSL_write(m_ssl, data.data(), length); }, deadline, stallLimit);
            result != Result::Ok)
            return result;
        data.remove_prefix(static_cast<std::size_t>(length));
    }
    return Result::Ok;
}

CTlsChannel::Result CTlsChannel::Receive(
    char* buffer, std::size_t size, std::size_t& received, Clock::time_point deadline)
{
    received = 0;
    if (m_ssl == nullptr)
        return Result::Failed;
    const int length = static_cast<int>(std::min<std::size_t>(size, 1 << 30));
    int count = 0;
    const Result result = Drive(
        [&] {
            count = SSL_read(m_ssl, buffer, length);
            return count;
        },
        deadline, {});
    if (result == Result::Ok)
        received = static_cast<std::size_t>(count);
    return result;
}
