#include "update/UpdateSession.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "base/VersionMarker.h"
#include "res/StringIds.h"
#include "res/StringTable.h"
#include "res/Version.h"
#include "update/PatchList.h"
#include "update/UpdatePaths.h"

namespace {

constexpr char kVersionFileName[] = "NewerVersion.nfo";
constexpr char kPatchListName[] = "UpdateInfo.nfo";

// Only the start of the version file counts.
constexpr std::size_t kVersionFileReadLimit = 1024;
// A patch list larger than this is refused.
constexpr std::size_t kPatchListLimit = 1024 * 1024;

// Linking the update check keeps the version marker in the program file, so
// the running program can read its own version.
[[gnu::used]] const char* const kKeepVersionMarker = kEmbeddedFileVersion;

// Reads a regular file: its first `limit` bytes, or with `refuseLonger` the
// whole file when it holds no more than `limit` bytes. Fails with the reason.
bool ReadRegularFile(
    const std::string& path, std::size_t limit, bool refuseLonger, std::string& contents, std::string& error)
{
    struct stat status { };
    if (::stat(path.c_str(), &status) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    const std::string tooLarge = "the file is larger than " + std::to_string(limit) + " bytes";
    if (refuseLonger && static_cast<std::uint64_t>(status.st_size) > limit) {
        error = tooLarge;
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    contents.assign(limit, '\0');
    file.read(contents.data(), static_cast<std::streamsize>(limit));
    if (file.bad()) {
        error = path + ": the file cannot be read";
        return false;
    }
    contents.resize(static_cast<std::size_t>(file.gcount()));
    if (refuseLonger && file.peek() != std::char_traits<char>::eof()) {
        error = tooLarge;
        return false;
    }
    return true;
}

DownloadLimits PatchLimits()
{
    DownloadLimits limits;
    limits.maxBytes = 256ull * 1024 * 1024;
    limits.totalTime = std::chrono::minutes(30);
    limits.stallTime = std::chrono::seconds(60);
    return limits;
}

} // namespace

CUpdateSession::CUpdateSession(IUpdateView& view, IDownloadListener& listener)
    : m_view(view)
    , m_listener(listener)
    , m_programFilePath(GetRunningProgramPath())
    , m_cacheFolder(GetUpdateFolderPath())
    , m_patchLimits(PatchLimits())
    , m_workerFunction(DownloadWorker)
{
    InitDownloads();
}

CUpdateSession::~CUpdateSession()
{
    if (m_worker.joinable()) {
        m_cancelEvent.Set();
        m_worker.join();
    }
}

void CUpdateSession::SetDownloadLimits(const DownloadLimits& serverFiles, const DownloadLimits& patch)
{
    m_serverFileLimits = serverFiles;
    m_patchLimits = patch;
}

void CUpdateSession::LogText(unsigned id) { m_view.AppendLogText(LoadResString(id)); }

void CUpdateSession::FinishRun() { m_view.EnableUpdateButtons(true); }

void CUpdateSession::OnStartUpdate()
{
    m_view.EnableUpdateButtons(false);
    for (int stage = kStageVersionFile; stage <= kStagePatchFile; ++stage)
        m_view.SetStageProgress(stage, 0);
    m_updateStage = kStageIdle;

    std::string versionText;
    std::string error;
    if (!ReadVersionText(m_programFilePath, versionText, error)) {
        m_view.ShowSystemError(m_programFilePath + ": " + error);
        LogText(IDS_VERSION_UNREADABLE);
        FinishRun();
        return;
    }
    const std::optional<FileVersion> version = ParseFileVersion(versionText);
    if (!version) {
        LogText(IDS_VERSION_UNREADABLE);
        FinishRun();
        return;
    }
    m_currentVersionText = versionText;
    m_currentVersion = *version;
    m_view.AppendLogText(FormatResString(IDS_CURRENT_VERSION, m_currentVersionText.c_str()));

    const std::string url = JoinUrl(m_serverAddress, kVersionFileName);
    LogText(IDS_SEPARATOR);
    m_updateStage = kStageVersionFile;
    if (!BeginDownload(url))
        FinishRun();
}

void CUpdateSession::DownloadNext(int stage, const std::string& fileName)
{
    const std::string url = JoinUrl(m_serverAddress, fileName);
    m_updateStage = stage;
    LogText(IDS_SEPARATOR);
    if (!BeginDownload(url))
        FinishRun();
}

bool CUpdateSession::BeginDownload(const std::string& url)
{
    if (m_worker.joinable())
        return true;
    if (!IsValidUrl(url)) {
        m_view.ShowErrorMessage(IDS_WRONG_URL);
        return false;
    }
    m_request.notify = &m_listener;
    m_cancelEvent.Reset();
    m_request.cancelEvent = &m_cancelEvent;
    m_request.url = url;
    m_request.cacheFolder = m_cacheFolder;
    m_request.trustedCertificates = m_trustedCertificates;
    m_request.limits = m_updateStage == kStagePatchFile ? m_patchLimits : m_serverFileLimits;
    m_request.cachePath.clear();
    m_request.failureReason.clear();
    try {
        m_worker = std::thread([this] { m_workerFunction(m_request); });
    } catch (const std::system_error&) {
        m_view.ShowErrorMessage(IDS_NO_THREAD);
        return false;
    }
    return true;
}

void CUpdateSession::OnDownloadStatus(const DownloadProgress* progress)
{
    std::string line;
    if (progress) {
        const std::uint32_t code = NormalizeStatusCode(progress->statusCode);
        line = LoadResString(IDS_DOWNLOAD_STATUS_BASE + code) + "  " + progress->statusText + "\r\n";
        if (m_updateStage >= kStageVersionFile && m_updateStage <= kStagePatchFile && progress->progressMax > 0) {
            const double share = static_cast<double>(progress->progress) * 100.0 / progress->progressMax;
            m_view.SetStageProgress(m_updateStage, static_cast<int>(std::min(share, 100.0)));
        }
    } else {
        line = LoadResString(IDS_RECEIVE_CANCELED) + "\r\n";
    }
    m_view.AppendLogText(line);
}

void CUpdateSession::OnDownloadDone()
{
    if (m_worker.joinable())
        m_worker.join();
    if (m_abandoned)
        return;

    const std::string cachePath = m_request.cachePath;
    if (cachePath.empty()) {
        LogText(IDS_RECEIVE_FAILED);
        if (!m_request.failureReason.empty())
            m_view.AppendLogText(FormatResString(IDS_REASON, m_request.failureReason.c_str()));
        LogText(IDS_SEPARATOR);
        FinishRun();
        return;
    }
    LogText(IDS_SEPARATOR);
    LogText(IDS_RECEIVED);

    switch (m_updateStage) {
    case kStageVersionFile:
        switch (IsNewerVersion(cachePath)) {
        case FileCheck::kYes:
            LogText(IDS_STARTING_UPDATE);
            DownloadNext(kStagePatchList, kPatchListName);
            break;
        case FileCheck::kNo:
            LogText(IDS_UP_TO_DATE);
            FinishRun();
            break;
        case FileCheck::kUnreadable:
            FinishRun();
            break;
        }
        break;
    case kStagePatchList:
        switch (FindPatchEntry(cachePath)) {
        case FileCheck::kYes:
            DownloadNext(kStagePatchFile, m_patchFileName);
            break;
        case FileCheck::kNo:
            LogText(IDS_UP_TO_DATE);
            FinishRun();
            break;
        case FileCheck::kUnreadable:
            FinishRun();
            break;
        }
        break;
    case kStagePatchFile:
        StartPatch(cachePath);
        break;
    default:
        FinishRun();
        break;
    }
}

void CUpdateSession::StartPatch(const std::string& path)
{
    // The copy was made by the worker in the user's own folder; still, only a
    // non-empty regular file is ever started.
    struct stat status { };
    if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0) {
        m_view.AppendLogText(FormatResString(IDS_PATCH_REFUSED, path.c_str()));
        FinishRun();
        return;
    }
    // The user decides on what they are told: where the program really came
    // from and, when it came over plain http, that nothing vouches for it.
    const std::string& source = m_request.sourceUrl.empty() ? m_request.url : m_request.sourceUrl;
    std::string question = FormatResString(IDS_CONFIRM_PATCH, source.c_str(), path.c_str());
    if (source != m_request.url)
        question += FormatResString(IDS_PATCH_REDIRECTED, m_request.url.c_str());
    if (!IsHttpsUrl(source))
        question += LoadResString(IDS_PATCH_UNVOUCHED);
    question += LoadResString(IDS_ASK_START_PATCH);
    if (!m_view.AskYesNo(question)) {
        LogText(IDS_PATCH_NOT_STARTED);
        FinishRun();
        return;
    }
    std::string error;
    if (::chmod(path.c_str(), status.st_mode | S_IXUSR) != 0)
        error = std::strerror(errno);
    else if (m_view.StartProgram(path, error))
        error.clear();
    else if (error.empty())
        error = "unknown reason";
    if (!error.empty()) {
        m_view.AppendLogText(FormatResString(IDS_PATCH_START_FAILED, error.c_str()));
        FinishRun();
        return;
    }
    FinishRun();
    m_updateStage = kStageIdle;
    m_view.EndDialog(0);
}

CUpdateSession::FileCheck CUpdateSession::IsNewerVersion(const std::string& path)
{
    std::string contents;
    std::string error;
    if (!ReadRegularFile(path, kVersionFileReadLimit, false, contents, error)) {
        m_view.AppendLogText(FormatResString(IDS_VERSION_FILE_UNREADABLE, error.c_str()));
        return FileCheck::kUnreadable;
    }
    // An error page sent as if it were the file, or any other text that does
    // not begin with a version, says nothing about the latest version.
    const std::optional<FileVersion> latest = ParseFileVersion(StripByteOrderMark(contents));
    if (!latest) {
        m_view.AppendLogText(FormatResString(
            IDS_VERSION_FILE_UNREADABLE, "it does not begin with a version in the form \"1, 0, 0, 1\""));
        return FileCheck::kUnreadable;
    }
    const auto& parts = latest->parts;
    m_view.AppendLogText(FormatResString(IDS_LATEST_VERSION, parts[0], parts[1], parts[2], parts[3]));
    return *latest > m_currentVersion ? FileCheck::kYes : FileCheck::kNo;
}

CUpdateSession::FileCheck CUpdateSession::FindPatchEntry(const std::string& path)
{
    std::string contents;
    std::string error;
    if (!ReadRegularFile(path, kPatchListLimit, true, contents, error)) {
        m_view.AppendLogText(FormatResString(IDS_PATCH_LIST_UNREADABLE, error.c_str()));
        return FileCheck::kUnreadable;
    }
    const PatchSearch search = FindPatchRecord(contents, m_currentVersion);
    if (!search.readable) {
        m_view.AppendLogText(
            FormatResString(IDS_PATCH_LIST_UNREADABLE, "it holds no record in the form \"1, 0, 0, 1 ; file name\""));
        return FileCheck::kUnreadable;
    }
    if (!search.name) {
        LogText(IDS_PATCH_NOT_FOUND);
        return FileCheck::kNo;
    }
    m_patchFileName = *search.name;
    m_view.AppendLogText(FormatResString(IDS_PATCH_FOUND, m_patchFileName.c_str()));
    return FileCheck::kYes;
}

void CUpdateSession::Abandon()
{
    m_abandoned = true;
    m_cancelEvent.Set();
}
