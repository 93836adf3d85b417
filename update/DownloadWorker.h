#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "update/CancelEvent.h"

// Status codes of a download report. Codes 1 to 24 name a phase; 25 stands for
// any other code.
enum DownloadStatus : std::uint32_t {
    kStatusFindingResource = 1,
    kStatusConnecting = 2,
    kStatusRedirecting = 3,
    kStatusBeginDownloadData = 4,
    kStatusDownloadingData = 5,
    kStatusEndDownloadData = 6,
    kStatusBeginDownloadComponents = 7,
    kStatusInstallingComponents = 8,
    kStatusEndDownloadComponents = 9,
    kStatusUsingCachedCopy = 10,
    kStatusSendingRequest = 11,
    kStatusClassIdAvailable = 12,
    kStatusMimeTypeAvailable = 13,
    kStatusCacheFileNameAvailable = 14,
    kStatusBeginSyncOperation = 15,
    kStatusEndSyncOperation = 16,
    kStatusBeginUploadData = 17,
    kStatusUploadingData = 18,
    kStatusEndUploadData = 19,
    kStatusProtocolClassId = 20,
    kStatusEncoding = 21,
    kStatusVerifiedMimeTypeAvailable = 22,
    kStatusClassInstallLocation = 23,
    kStatusDecoding = 24,
    kStatusOther = 25,
};

// Maps 0 and every code above 24 to kStatusOther.
[[nodiscard]] constexpr std::uint32_t NormalizeStatusCode(std::uint32_t code)
{
    return code == 0 || code > kStatusDecoding ? kStatusOther : code;
}

// One status report. Progress and maximum count bytes where the phase has a
// measure, both 0 where it has none (or the size is unknown).
struct DownloadProgress {
    std::uint32_t progress = 0;
    std::uint32_t progressMax = 0;
    std::uint32_t statusCode = kStatusOther;
    std::string statusText;
};

// Receives the worker's reports. Both are called on the worker thread.
class IDownloadListener {
public:
    virtual ~IDownloadListener() = default;
    // Returns after the report has been handled; `progress` is null to
    // announce that the download was canceled.
    virtual void OnDownloadStatus(const DownloadProgress* progress) = 0;
    // The worker's last action; the listener must not wait for anything.
    virtual void OnDownloadDone() = 0;
};

// Bounds that keep a broken or hostile server from hanging a download or
// filling the disk.
struct DownloadLimits {
    std::uint64_t maxBytes = 1024 * 1024;
    std::chrono::milliseconds connectTime { std::chrono::seconds(30) };
    // The whole transfer, from the first report to the last byte.
    std::chrono::milliseconds totalTime { std::chrono::minutes(2) };
    // How long the transfer may go without receiving anything.
    std::chrono::milliseconds stallTime { std::chrono::seconds(30) };
};

// What the dialog and the worker share. The dialog fills everything above
// the results before the worker starts and reads the results after the
// worker has ended.
struct DownloadRequest {
    IDownloadListener* notify = nullptr;
    CCancelEvent* cancelEvent = nullptr;
    std::string url;
    std::string cacheFolder;
    DownloadLimits limits;
    // A PEM file of the certificates that may vouch for an https server, in
    // place of the system's; the system's when empty.
    std::string trustedCertificates;

    // Results: the path of the downloaded copy (empty on failure), the URL it
    // came from after every redirect and, on failure, why.
    std::string cachePath;
    std::string sourceUrl;
    std::string failureReason;
};

// Downloads request.url into request.cacheFolder on the calling thread,
// reporting each phase to request.notify and testing request.cancelEvent at
// every report. Fills the results, calls notify->OnDownloadDone() last and
// returns 0. The copy is written under a temporary name and renamed into place
// only when complete; an empty download counts as a failure. A redirect from
// https to anything else is refused.
int DownloadWorker(DownloadRequest& request);

// Prepares libcurl for use by any thread; safe to call more than once.
void InitDownloads();
