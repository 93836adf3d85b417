#include "PythonSmtpServer.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kStartLimitMs = 20'000;

} // namespace

CTemporaryFolder::CTemporaryFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "veilmark-mail-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr)
        m_path = pattern;
}

CTemporaryFolder::~CTemporaryFolder()
{
    if (!m_path.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
}

std::string ReadFileText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

CPythonSmtpServer::CPythonSmtpServer(std::vector<std::string> arguments)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "veilmark-smtpd-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        m_startError = std::string("cannot make a folder: ") + std::strerror(errno);
        return;
    }
    m_folder = pattern;

    std::vector<std::string> command
        = { VEILMARK_PYTHON3, VEILMARK_MAIL_TEST_DIR "/smtp_server.py", "--out", m_folder };
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : command)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) {
        m_startError = "cannot make pipes";
        return;
    }
    m_child = ::fork();
    if (m_child == 0) {
        ::dup2(toChild[0], STDIN_FILENO);
        ::dup2(fromChild[1], STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    m_input = toChild[1];

    // The server prints "port N" once it accepts connections.
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartLimitMs);
    while (output.find('\n') == std::string::npos) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd entry { fromChild[0], POLLIN, 0 };
        if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[256];
        const ssize_t count = ::read(fromChild[0], buffer, sizeof buffer);
        if (count <= 0)
            break;
        output.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(fromChild[0]);
    if (output.rfind("port ", 0) == 0)
        m_port = std::atoi(output.c_str() + 5);
    if (m_port == 0)
        m_startError = "the SMTP server did not start (" + command[0] + " with aiosmtpd); output: " + output;
}

void CPythonSmtpServer::Stop()
{
    if (m_input >= 0) {
        ::close(m_input);
        m_input = -1;
    }
    if (m_child <= 0)
        return;
    // Closing its input asks the server to stop; give it a few seconds.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::waitpid(m_child, nullptr, WNOHANG) == m_child) {
            m_child = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(m_child, SIGKILL);
    ::waitpid(m_child, nullptr, 0);
    m_child = -1;
}

CPythonSmtpServer::~CPythonSmtpServer()
{
    Stop();
    if (!m_folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
}
