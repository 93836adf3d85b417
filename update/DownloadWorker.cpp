#include "update/DownloadWorker.h"

#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>

#include <curl/curl.h>

#include "update/UpdatePaths.h"

namespace {

using Clock = std::chrono::steady_clock;

// Reports of received data come at most this often; the end of the data is
// always reported.
constexpr auto kProgressReportInterval = std::chrono::milliseconds(100);

std::uint32_t ClampToReport(std::uint64_t value)
{
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, std::numeric_limits<std::uint32_t>::max()));
}

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

std::string TooLargeReason(std::uint64_t limit)
{
    return "The file is larger than " + std::to_string(limit) + " bytes";
}

std::string HostOfUrl(const std::string& url)
{
    std::string host;
    if (CURLU* handle = curl_url()) {
        char* text = nullptr;
        if (curl_url_set(handle, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK
            && curl_url_get(handle, CURLUPART_HOST, &text, 0) == CURLUE_OK) {
            host = text;
            curl_free(text);
        }
        curl_url_cleanup(handle);
    }
    return host;
}

// One download: the libcurl handle, the file being written and the state the
// callbacks share.
class CTransfer {
public:
    explicit CTransfer(DownloadRequest& request)
        : m_request(request)
    {
    }
    ~CTransfer() { DiscardTemporaryFile(); }
    CTransfer(const CTransfer&) = delete;
    CTransfer& operator=(const CTransfer&) = delete;

    // Returns the path of the complete copy, or empty with a reason.
    std::string Run(std::string& reason);

private:
    bool Report(std::uint32_t code, std::uint64_t progress, std::uint64_t progressMax, std::string text);
    bool CancelRequested();
    bool ConfigureHandle(CURL* curl, char* errorBuffer);
    bool OpenTemporaryFile(std::string& reason);
    void DiscardTemporaryFile();
    std::string FailureReason(CURLcode result, const char* errorBuffer) const;

    bool OnBody(const char* data, size_t length);
    bool OnHeaderLine(std::string_view line);
    bool OnTransferInfo(curl_off_t downloadTotal, curl_off_t downloadNow);
    bool OnOpenSocket(const curl_sockaddr& address);
    bool OnBeforeRequest();

    // libcurl calls these; no exception may cross back into it.
    template <typename Step> bool Guarded(Step step) noexcept
    {
        try {
            return step();
        } catch (const std::exception& exception) {
            m_abortReason = exception.what();
            return false;
        }
    }
    static size_t WriteBody(char* data, size_t size, size_t count, void* self);
    static size_t ReceiveHeader(char* data, size_t size, size_t count, void* self);
    static int TransferInfo(void* self, curl_off_t downloadTotal, curl_off_t downloadNow, curl_off_t, curl_off_t);
    static curl_socket_t OpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address);
    static int BeforeRequest(void* self, char*, char*, int, int);

    DownloadRequest& m_request;
    CURL* m_curl = nullptr;
    int m_file = -1;
    std::string m_temporaryPath;
    std::uint64_t m_received = 0;
    std::uint64_t m_lastReported = 0;
    Clock::time_point m_lastReportTime {};
    Clock::time_point m_lastArrivalTime {};
    std::string m_location;
    bool m_canceled = false;
    std::string m_abortReason;
};

// Tests the cancel event; when it is raised, announces the cancellation with
// an empty report. Once canceled, the transfer stays canceled.
bool CTransfer::CancelRequested()
{
    if (m_canceled)
        return true;
    if (!m_request.cancelEvent || !m_request.cancelEvent->Test())
        return false;
    m_canceled = true;
    if (m_request.notify)
        m_request.notify->OnDownloadStatus(nullptr);
    return true;
}

// Sends one report, then tests the cancel event. Returns false when the
// download must stop; after a cancellation nothing more is reported.
bool CTransfer::Report(std::uint32_t code, std::uint64_t progress, std::uint64_t progressMax, std::string text)
{
    if (m_canceled)
        return false;
    if (m_request.notify) {
        DownloadProgress record;
        record.progress = ClampToReport(progress);
        record.progressMax = ClampToReport(progressMax);
        record.statusCode = NormalizeStatusCode(code);
        record.statusText = std::move(text);
        m_request.notify->OnDownloadStatus(&record);
    }
    return !CancelRequested();
}

bool CTransfer::OnBody(const char* data, size_t length)
{
    if (m_canceled)
        return false;
    if (m_received + length > m_request.limits.maxBytes) {
        m_abortReason = TooLargeReason(m_request.limits.maxBytes);
        return false;
    }
    size_t written = 0;
    while (written < length) {
        const ssize_t result = ::write(m_file, data + written, length - written);
        if (result < 0) {
            if (errno == EINTR)
                continue;
            m_abortReason = m_temporaryPath + ": " + std::strerror(errno);
            return false;
        }
        written += static_cast<size_t>(result);
    }
    m_received += length;
    m_lastArrivalTime = Clock::now();
    return true;
}

bool CTransfer::OnHeaderLine(std::string_view line)
{
    if (m_canceled)
        return false;
    m_lastArrivalTime = Clock::now();
    // libcurl follows redirects itself and then does not tell where to; the
    // Location field of the response says it.
    constexpr std::string_view kLocationField = "location:";
    if (line.size() >= kLocationField.size()
        && std::equal(kLocationField.begin(), kLocationField.end(), line.begin(),
            [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b); })) {
        std::string_view value = line.substr(kLocationField.size());
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' '))
            value.remove_suffix(1);
        m_location = value;
        return true;
    }
    // Otherwise only the empty line that ends a response's header matters.
    if (line != "\r\n" && line != "\n")
        return true;

    long responseCode = 0;
    curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &responseCode);
    const std::string location = std::exchange(m_location, {});
    if (responseCode >= 300 && responseCode < 400) {
        if (location.empty())
            return true;
        char* currentUrl = nullptr;
        curl_easy_getinfo(m_curl, CURLINFO_EFFECTIVE_URL, &currentUrl);
        const std::string from = currentUrl ? currentUrl : m_request.url;
        const std::string to = ResolveUrl(from, location);
        if (IsDowngradingRedirect(from, to)) {
            m_abortReason = "The server redirected " + from + " to " + (to.empty() ? location : to)
                + ", which is not https; a file asked for over https is never taken over plain http";
            return false;
        }
        return Report(kStatusRedirecting, 0, 0, location);
    }
    // Interim responses come before the real one; error responses end the
    // transfer through CURLOPT_FAILONERROR.
    if (responseCode < 200 || responseCode >= 300)
        return true;

    curl_off_t contentLength = -1;
    curl_easy_getinfo(m_curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &contentLength);
    if (contentLength > 0 && static_cast<std::uint64_t>(contentLength) > m_request.limits.maxBytes) {
        m_abortReason = TooLargeReason(m_request.limits.maxBytes);
        return false;
    }
    const std::uint64_t expected = contentLength > 0 ? static_cast<std::uint64_t>(contentLength) : 0;
    char* contentType = nullptr;
    if (curl_easy_getinfo(m_curl, CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK && contentType
        && !Report(kStatusMimeTypeAvailable, 0, 0, contentType))
        return false;
    char* effectiveUrl = nullptr;
    curl_easy_getinfo(m_curl, CURLINFO_EFFECTIVE_URL, &effectiveUrl);
    return Report(kStatusBeginDownloadData, 0, expected, effectiveUrl ? effectiveUrl : "");
}

bool CTransfer::OnTransferInfo(curl_off_t downloadTotal, curl_off_t downloadNow)
{
    const auto now = Clock::now();
    // libcurl calls this about once a second even when nothing arrives.
    if (now - m_lastArrivalTime > m_request.limits.stallTime) {
        m_abortReason = "No data has arrived for " + std::to_string(m_request.limits.stallTime.count()) + " ms";
        return false;
    }
    const auto received = static_cast<std::uint64_t>(std::max<curl_off_t>(downloadNow, 0));
    const auto total = static_cast<std::uint64_t>(std::max<curl_off_t>(downloadTotal, 0));
    const bool complete = total > 0 && received >= total;
    if (received > m_lastReported && (complete || now - m_lastReportTime >= kProgressReportInterval)) {
        m_lastReported = received;
        m_lastReportTime = now;
        return Report(kStatusDownloadingData, received, total, {});
    }
    // Between reports the event is still watched, so a stalled transfer can
    // be canceled too.
    return !CancelRequested();
}

bool CTransfer::OnOpenSocket(const curl_sockaddr& address)
{
    char host[NI_MAXHOST] = "";
    char service[NI_MAXSERV] = "";
    std::string text;
    if (::getnameinfo(
            &address.addr, address.addrlen, host, sizeof host, service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV)
        == 0)
        text = std::string(host) + " port " + service;
    return Report(kStatusConnecting, 0, 0, std::move(text));
}

bool CTransfer::OnBeforeRequest()
{
    char* effectiveUrl = nullptr;
    curl_easy_getinfo(m_curl, CURLINFO_EFFECTIVE_URL, &effectiveUrl);
    return Report(kStatusSendingRequest, 0, 0, effectiveUrl ? effectiveUrl : "");
}

size_t CTransfer::WriteBody(char* data, size_t size, size_t count, void* self)
{
    auto& transfer = *static_cast<CTransfer*>(self);
    const size_t length = size * count;
    return transfer.Guarded([&] { return transfer.OnBody(data, length); }) ? length : 0;
}

size_t CTransfer::ReceiveHeader(char* data, size_t size, size_t count, void* self)
{
    auto& transfer = *static_cast<CTransfer*>(self);
    const size_t length = size * count;
    return transfer.Guarded([&] { return transfer.OnHeaderLine(std::string_view(data, length)); }) ? length : 0;
}

int CTransfer::TransferInfo(void* self, curl_off_t downloadTotal, curl_off_t downloadNow, curl_off_t, curl_off_t)
{
    auto& transfer = *static_cast<CTransfer*>(self);
    return transfer.Guarded([&] { return transfer.OnTransferInfo(downloadTotal, downloadNow); }) ? 0 : 1;
}

curl_socket_t CTransfer::OpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address)
{
    auto& transfer = *static_cast<CTransfer*>(self);
    if (purpose != CURLSOCKTYPE_IPCXN || !transfer.Guarded([&] { return transfer.OnOpenSocket(*address); }))
        return CURL_SOCKET_BAD;
    const int socket = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    return socket < 0 ? CURL_SOCKET_BAD : socket;
}

int CTransfer::BeforeRequest(void* self, char*, char*, int, int)
{
    auto& transfer = *static_cast<CTransfer*>(self);
    return transfer.Guarded([&] { return transfer.OnBeforeRequest(); }) ? CURL_PREREQFUNC_OK : CURL_PREREQFUNC_ABORT;
}

bool CTransfer::ConfigureHandle(CURL* curl, char* errorBuffer)
{
    const DownloadLimits& limits = m_request.limits;
    bool ok = true;
    auto set = [&](CURLoption option, auto value) { ok = ok && curl_easy_setopt(curl, option, value) == CURLE_OK; };
    set(CURLOPT_URL, m_request.url.c_str());
    set(CURLOPT_ERRORBUFFER, errorBuffer);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are checked as they arrive (OnHeaderLine); this keeps libcurl
    // itself from leaving https as well.
    set(CURLOPT_REDIR_PROTOCOLS_STR, IsHttpsUrl(m_request.url) ? "https" : "http,https");
    if (!m_request.trustedCertificates.empty())
        set(CURLOPT_CAINFO, m_request.trustedCertificates.c_str());
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, 5L);
    set(CURLOPT_FAILONERROR, 1L);
    // Offer every content encoding libcurl can undo and let it undo them, so
    // the copy holds the file itself even from a server that compresses
    // without being asked; an encoding it cannot undo fails the download.
    // The size limit counts the decoded bytes (OnBody).
    set(CURLOPT_ACCEPT_ENCODING, "");
    set(CURLOPT_USERAGENT, "Veilmark/1.0.0.1");
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTime.count()));
    set(CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalTime.count()));
    set(CURLOPT_MAXFILESIZE_LARGE,
        static_cast<curl_off_t>(std::min<std::uint64_t>(limits.maxBytes, std::numeric_limits<curl_off_t>::max())));
    set(CURLOPT_WRITEFUNCTION, &CTransfer::WriteBody);
    set(CURLOPT_WRITEDATA, this);
    set(CURLOPT_HEADERFUNCTION, &CTransfer::ReceiveHeader);
    set(CURLOPT_HEADERDATA, this);
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &CTransfer::TransferInfo);
    set(CURLOPT_XFERINFODATA, this);
    set(CURLOPT_OPENSOCKETFUNCTION, &CTransfer::OpenSocket);
    set(CURLOPT_OPENSOCKETDATA, this);
    set(CURLOPT_PREREQFUNCTION, &CTransfer::BeforeRequest);
    set(CURLOPT_PREREQDATA, this);
    return ok;
}

bool CTransfer::OpenTemporaryFile(std::string& reason)
{
    std::string pattern = JoinPath(m_request.cacheFolder, CacheFileNameForUrl(m_request.url) + ".XXXXXX");
    m_file = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (m_file < 0) {
        reason = m_request.cacheFolder + ": " + std::strerror(errno);
        return false;
    }
    m_temporaryPath = pattern;
    return true;
}

void CTransfer::DiscardTemporaryFile()
{
    if (m_file >= 0) {
        ::close(m_file);
        m_file = -1;
    }
    if (!m_temporaryPath.empty()) {
        ::unlink(m_temporaryPath.c_str());
        m_temporaryPath.clear();
    }
}

std::string CTransfer::FailureReason(CURLcode result, const char* errorBuffer) const
{
    if (m_canceled)
        return "The download has been canceled";
    if (!m_abortReason.empty())
        return m_abortReason;
    if (errorBuffer[0] != '\0')
        return errorBuffer;
    return curl_easy_strerror(result);
}

std::string CTransfer::Run(std::string& reason)
{
    std::string folderError;
    if (!CreateUpdateFolder(m_request.cacheFolder, folderError)) {
        reason = folderError;
        return {};
    }
    if (!Report(kStatusFindingResource, 0, 0, HostOfUrl(m_request.url))) {
        reason = FailureReason(CURLE_OK, "");
        return {};
    }
    if (!OpenTemporaryFile(reason))
        return {};

    // The buffer outlives the handle, which may write into it until cleanup.
    char errorBuffer[CURL_ERROR_SIZE] = "";
    const std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) {
        reason = "The download cannot be prepared";
        return {};
    }
    m_curl = curl.get();
    if (!ConfigureHandle(curl.get(), errorBuffer)) {
        reason = "The download cannot be prepared";
        return {};
    }
    m_lastReportTime = m_lastArrivalTime = Clock::now();
    const CURLcode result = curl_easy_perform(curl.get());
    m_curl = nullptr;
    if (result != CURLE_OK) {
        reason = FailureReason(result, errorBuffer);
        return {};
    }
    if (m_received == 0) {
        reason = "The server sent an empty file";
        return {};
    }
    char* effectiveUrl = nullptr;
    curl_easy_getinfo(curl.get(), CURLINFO_EFFECTIVE_URL, &effectiveUrl);
    m_request.sourceUrl = effectiveUrl && effectiveUrl[0] ? effectiveUrl : m_request.url;
    const int file = std::exchange(m_file, -1);
    if (::close(file) != 0) {
        reason = m_temporaryPath + ": " + std::strerror(errno);
        return {};
    }
    const std::string cachePath = JoinPath(m_request.cacheFolder, CacheFileNameForUrl(m_request.url));
    if (::rename(m_temporaryPath.c_str(), cachePath.c_str()) != 0) {
        reason = cachePath + ": " + std::strerror(errno);
        return {};
    }
    m_temporaryPath.clear();
    if (!Report(kStatusCacheFileNameAvailable, 0, 0, cachePath)
        || !Report(kStatusEndDownloadData, m_received, m_received, m_request.url)) {
        ::unlink(cachePath.c_str());
        reason = FailureReason(CURLE_OK, "");
        return {};
    }
    return cachePath;
}

} // namespace

void InitDownloads()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

int DownloadWorker(DownloadRequest& request)
{
    request.cachePath.clear();
    request.sourceUrl.clear();
    request.failureReason.clear();
    try {
        InitDownloads();
        CTransfer transfer(request);
        std::string reason;
        request.cachePath = transfer.Run(reason);
        if (request.cachePath.empty())
            request.failureReason = reason.empty() ? "The download failed" : reason;
    } catch (const std::exception& exception) {
        request.cachePath.clear();
        request.sourceUrl.clear();
        request.failureReason = exception.what();
    }
    if (request.notify)
        request.notify->OnDownloadDone();
    return 0;
}
