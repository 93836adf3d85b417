#pragma once

#include "support/PythonServer.h"

#include <string>

// Runs the update tests' HTTP server (python3) over a folder on 127.0.0.1 at a
// port the system chooses, for the lifetime of the object. Given a certificate
// and its key (PEM files), it speaks https.
class CHttpTestServer {
public:
    explicit CHttpTestServer(
        const std::string& rootFolder, const std::string& certificate = {}, const std::string& key = {});

    bool IsRunning() const { return m_server.Port() > 0; }
    // "http://127.0.0.1:PORT", or "https://..."
    std::string BaseUrl() const;
    const std::string& StartError() const { return m_server.StartError(); }

private:
    static std::vector<std::string> Command(
        const std::string& rootFolder, const std::string& certificate, const std::string& key);

    bool m_https = false;
    CPythonServer m_server;
};
