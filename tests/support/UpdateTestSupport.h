#pragma once

#include "support/TestFiles.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "res/Version.h"
#include "update/DownloadWorker.h"
#include "update/UpdateSession.h"

// Makes a self-signed certificate for 127.0.0.1 and its key with the openssl
// command; returns false when that fails.
inline bool MakeTestCertificate(const std::string& certificate, const std::string& key)
{
    const std::string command = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
                                " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '"
        + key + "' -out '" + certificate + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// A program file that embeds the given version text after the marker.
inline void WriteProgramFile(const std::string& path, const std::string& versionText)
{
    std::string contents = "\x7f"
                           "ELF some code";
    contents += kFileVersionMarker + versionText;
    contents += '\0';
    contents += "more data";
    WriteText(path, contents);
}

// Records everything the session shows and answers its questions.
class CRecordingView : public IUpdateView {
public:
    std::string log;
    std::array<int, 4> bars {};
    bool buttonsEnabled = true;
    std::vector<unsigned> errorMessages;
    std::vector<std::string> systemErrors;
    std::vector<std::string> questions;
    bool answer = true;
    std::vector<std::string> startedPrograms;
    bool startSucceeds = true;
    std::optional<int> endResult;
    // Called after each log text is added.
    std::function<void(const std::string&)> onLog;

    void AppendLogText(const std::string& text) override
    {
        log += text;
        if (onLog)
            onLog(text);
    }
    void SetStageProgress(int stage, int position) override { bars.at(static_cast<std::size_t>(stage)) = position; }
    void EnableUpdateButtons(bool enable) override { buttonsEnabled = enable; }
    void ShowErrorMessage(unsigned stringId) override { errorMessages.push_back(stringId); }
    void ShowSystemError(const std::string& text) override { systemErrors.push_back(text); }
    bool AskYesNo(const std::string& question) override
    {
        questions.push_back(question);
        return answer;
    }
    bool StartProgram(const std::string& path, std::string& error) override
    {
        startedPrograms.push_back(path);
        if (!startSucceeds)
            error = "no such program";
        return startSucceeds;
    }
    void EndDialog(int result) override { endResult = result; }
};

// Carries the worker's reports to the test's thread the way the dialog's
// message loop does: a status report waits until it has been handled, the
// end is only posted.
class CTestMessageLoop : public IDownloadListener {
public:
    void OnDownloadStatus(const DownloadProgress* progress) override
    {
        std::unique_lock lock(m_mutex);
        const std::uint64_t ticket = ++m_posted;
        m_queue.push_back({ false, progress != nullptr, progress ? *progress : DownloadProgress {}, ticket });
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_handled >= ticket; });
    }

    void OnDownloadDone() override
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back({ true, false, {}, 0 });
        m_changed.notify_all();
    }

    // Handles messages for the session until it has no worker left, or the
    // time is up. Returns false on time-out.
    bool RunUntilIdle(CUpdateSession& session, std::chrono::milliseconds timeLimit = std::chrono::seconds(20))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeLimit;
        while (session.IsDownloading()) {
            std::unique_lock lock(m_mutex);
            if (!m_changed.wait_until(lock, deadline, [&] { return !m_queue.empty(); }))
                return false;
            Message message = m_queue.front();
            m_queue.pop_front();
            lock.unlock();
            if (message.done) {
                session.OnDownloadDone();
                continue;
            }
            session.OnDownloadStatus(message.hasRecord ? &message.record : nullptr);
            lock.lock();
            m_handled = message.ticket;
            m_changed.notify_all();
        }
        return true;
    }

private:
    struct Message {
        bool done;
        bool hasRecord;
        DownloadProgress record;
        std::uint64_t ticket;
    };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Message> m_queue;
    std::uint64_t m_posted = 0;
    std::uint64_t m_handled = 0;
};

// Records reports of a worker run on the test's own thread.
class CRecordingListener : public IDownloadListener {
public:
    std::vector<std::optional<DownloadProgress>> reports;
    bool done = false;
    std::function<void(const DownloadProgress*)> onStatus;

    void OnDownloadStatus(const DownloadProgress* progress) override
    {
        reports.push_back(progress ? std::optional<DownloadProgress>(*progress) : std::nullopt);
        if (onStatus)
            onStatus(progress);
    }
    void OnDownloadDone() override { done = true; }
};
