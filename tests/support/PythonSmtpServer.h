#pragma once

#include "support/PythonServer.h"
#include "support/TestFiles.h"

#include <memory>
#include <string>
#include <vector>

// Runs smtp_server.py (a real aiosmtpd server) in a child process for the
// lifetime of the object. Received mails land in Folder().
class CPythonSmtpServer {
public:
    // Extra arguments script failures, e.g. {"--refuse", "x@example.com"}.
    explicit CPythonSmtpServer(std::vector<std::string> arguments = {});

    // 0 when the server did not start; StartError() then says why.
    int Port() const { return m_server->Port(); }
    const std::string& StartError() const { return m_server->StartError(); }
    std::string Folder() const { return m_folder.Path().string(); }

    // Stops the server and waits for it, so everything it received is on disk.
    void Stop() { m_server->Stop(); }

private:
    CTempFolder m_folder { "veilmark-smtpd" };
    std::unique_ptr<CPythonServer> m_server;
};
