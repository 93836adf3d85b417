#include "support/HttpTestServer.h"

namespace {
constexpr int kStartTimeLimitMs = 10000;
}

std::vector<std::string> CHttpTestServer::Command(
    const std::string& rootFolder, const std::string& certificate, const std::string& key)
{
    std::vector<std::string> command = { "python3", VEILMARK_UPDATE_TEST_SERVER, rootFolder };
    if (!certificate.empty()) {
        command.push_back(certificate);
        command.push_back(key);
    }
    return command;
}

CHttpTestServer::CHttpTestServer(const std::string& rootFolder, const std::string& certificate, const std::string& key)
    : m_https(!certificate.empty())
    , m_server(Command(rootFolder, certificate, key), kStartTimeLimitMs)
{
}

std::string CHttpTestServer::BaseUrl() const
{
    return (m_https ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(m_server.Port());
}
