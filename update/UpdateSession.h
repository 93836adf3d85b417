#pragma once

#include <functional>
#include <string>
#include <thread>

#include "update/CancelEvent.h"
#include "update/DownloadWorker.h"
#include "update/VersionFile.h"

// The update server the dialog offers until the user types another.
inline constexpr char kDefaultServerAddress[] = "http://update.example.com/Patch/English";

// What the update check shows and asks; the dialog implements it.
class IUpdateView {
public:
    virtual ~IUpdateView() = default;
    // Adds text at the end of the log.
    virtual void AppendLogText(const std::string& text) = 0;
    // Moves the bar of a stage (1 version file, 2 patch list, 3 patch) to a
    // position from 0 to 100.
    virtual void SetStageProgress(int stage, int position) = 0;
    // Enables or disables "Start" and "Exit" together.
    virtual void EnableUpdateButtons(bool enable) = 0;
    // An error message box with the text of the given number.
    virtual void ShowErrorMessage(unsigned stringId) = 0;
    // An error message box with the system's reason for a failure.
    virtual void ShowSystemError(const std::string& text) = 0;
    // Asks the user a yes/no question; true for yes.
    virtual bool AskYesNo(const std::string& question) = 0;
    // Starts the program detached from this one. On failure returns false with
    // the reason in `error`.
    virtual bool StartProgram(const std::string& path, std::string& error) = 0;
    // Closes the dialog with the result.
    virtual void EndDialog(int result) = 0;
};

// The update check behind the dialog: fetches the version file, the patch
// list and the patch one after another on a worker thread and decides, after
// each download, what to log and what comes next.
//
// Everything here runs on the thread that owns the view, except the worker.
// The listener given at construction is handed to the worker: it must bring
// each report back to the owning thread (OnDownloadStatus), waiting until it is
// handled, and announce the end (OnDownloadDone) without waiting.
class CUpdateSession {
public:
    enum Stage { kStageIdle = 0, kStageVersionFile = 1, kStagePatchList = 2, kStagePatchFile = 3 };
    using WorkerFunction = std::function<int(DownloadRequest&)>;

    CUpdateSession(IUpdateView& view, IDownloadListener& listener);
    // Cancels a running download and waits for the worker. The owner should
    // have let the worker end first (Abandon, then keep handling reports until
    // IsDownloading is false): a listener that waits for the owning thread
    // would otherwise never return.
    ~CUpdateSession();
    CUpdateSession(const CUpdateSession&) = delete;
    CUpdateSession& operator=(const CUpdateSession&) = delete;

    void SetServerAddress(std::string address) { m_serverAddress = std::move(address); }
    const std::string& GetServerAddress() const { return m_serverAddress; }
    // The program file whose embedded version counts as installed; the
    // running program by default.
    void SetProgramFilePath(std::string path) { m_programFilePath = std::move(path); }
    // The folder that receives downloads; the per-user cache folder by default.
    void SetCacheFolder(std::string folder) { m_cacheFolder = std::move(folder); }
    // A PEM file of the certificates that vouch for an https update server in
    // place of the system's (a server with its own certificate authority).
    void SetTrustedCertificates(std::string path) { m_trustedCertificates = std::move(path); }
    // Limits for the two small server files and for the patch.
    void SetDownloadLimits(const DownloadLimits& serverFiles, const DownloadLimits& patch);
    // What the worker thread runs; DownloadWorker by default.
    void SetWorkerFunction(WorkerFunction function) { m_workerFunction = std::move(function); }

    // "Start": reads the installed version and fetches the version file.
    void OnStartUpdate();
    // A report of the worker; null announces a cancellation.
    void OnDownloadStatus(const DownloadProgress* progress);
    // The worker has finished: waits for it and takes the next step.
    void OnDownloadDone();

    // Starts the worker for `url` unless one is running.
    bool BeginDownload(const std::string& url);
    // Enters the next stage and downloads its file from the server; a
    // download that cannot start ends the run.
    void DownloadNext(int stage, const std::string& fileName);
    // The answer of a downloaded server file; kUnreadable when the file is not
    // what it should be (and the log says why), so it answers nothing.
    enum class FileCheck { kYes, kNo, kUnreadable };
    // kYes when the downloaded version file names a version above the
    // installed one.
    FileCheck IsNewerVersion(const std::string& path);
    // Looks up the installed version in the downloaded patch list; kYes when
    // it has a record for it.
    FileCheck FindPatchEntry(const std::string& path);

    // True from the start of a worker until OnDownloadDone has waited for it.
    bool IsDownloading() const { return m_worker.joinable(); }
    // Raises the cancel event; the worker tests it at its next report.
    void CancelDownload() { m_cancelEvent.Set(); }
    // Cancels the download and takes no further step: the dialog is closing.
    void Abandon();

    int GetUpdateStage() const { return m_updateStage; }
    const std::string& GetCurrentVersionText() const { return m_currentVersionText; }
    const std::string& GetPatchFileName() const { return m_patchFileName; }

private:
    void LogText(unsigned id);
    void FinishRun();
    void StartPatch(const std::string& path);

    IUpdateView& m_view;
    IDownloadListener& m_listener;
    std::string m_serverAddress = kDefaultServerAddress;
    std::string m_programFilePath;
    std::string m_cacheFolder;
    std::string m_trustedCertificates;
    DownloadLimits m_serverFileLimits;
    DownloadLimits m_patchLimits;
    WorkerFunction m_workerFunction;

    std::thread m_worker;
    DownloadRequest m_request;
    CCancelEvent m_cancelEvent;
    std::string m_currentVersionText;
    FileVersion m_currentVersion;
    int m_updateStage = kStageIdle;
    std::string m_patchFileName;
    bool m_abandoned = false;
};
