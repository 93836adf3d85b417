#pragma once

#include <sys/types.h>

#include <string>

// Runs the update tests' HTTP server (python3) over a folder on 127.0.0.1 at a
// port the system chooses, for the lifetime of the object. Given a certificate
// and its key (PEM files), it speaks https.
class CHttpTestServer {
public:
    explicit CHttpTestServer(
        const std::string& rootFolder, const std::string& certificate = {}, const std::string& key = {});
    ~CHttpTestServer();
    CHttpTestServer(const CHttpTestServer&) = delete;
    CHttpTestServer& operator=(const CHttpTestServer&) = delete;

    bool IsRunning() const { return m_port > 0; }
    // "http://127.0.0.1:PORT", or "https://..."
    std::string BaseUrl() const;
    const std::string& StartError() const { return m_error; }

private:
    pid_t m_process = -1;
    int m_input = -1;
    int m_port = 0;
    bool m_https = false;
    std::string m_error;
};
