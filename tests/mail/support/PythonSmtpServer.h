#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Runs tests/mail/smtp_server.py (a real aiosmtpd server) in a child process
// for the lifetime of the object. Received mails land in Folder().
class CPythonSmtpServer {
public:
    // Extra arguments script failures, e.g. {"--refuse", "x@example.com"}.
    explicit CPythonSmtpServer(std::vector<std::string> arguments = {});
    ~CPythonSmtpServer();
    CPythonSmtpServer(const CPythonSmtpServer&) = delete;
    CPythonSmtpServer& operator=(const CPythonSmtpServer&) = delete;

    // 0 when the server did not start; StartError() then says why.
    int Port() const { return m_port; }
    const std::string& StartError() const { return m_startError; }
    const std::string& Folder() const { return m_folder; }

    // Stops the server and waits for it, so everything it received is on disk.
    void Stop();

private:
    pid_t m_child = -1;
    int m_input = -1;
    int m_port = 0;
    std::string m_folder;
    std::string m_startError;
};

// A fresh folder under the temporary directory, removed with its contents.
class CTemporaryFolder {
public:
    CTemporaryFolder();
    ~CTemporaryFolder();
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

std::string ReadFileText(const std::string& path);
