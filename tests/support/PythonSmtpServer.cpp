#include "support/PythonSmtpServer.h"

namespace {

constexpr int kStartLimitMs = 20'000;

} // namespace

CPythonSmtpServer::CPythonSmtpServer(std::vector<std::string> arguments)
{
    std::vector<std::string> command
        = { VEILMARK_PYTHON3, VEILMARK_SUPPORT_DIR "/smtp_server.py", "--out", m_folder.Path().string() };
    command.insert(command.end(), arguments.begin(), arguments.end());
    m_server = std::make_unique<CPythonServer>(std::move(command), kStartLimitMs);
}
