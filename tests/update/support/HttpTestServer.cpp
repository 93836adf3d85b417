#include "HttpTestServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

extern char** environ;

namespace {
constexpr int kStartTimeLimitMs = 10000;
}

CHttpTestServer::CHttpTestServer(const std::string& rootFolder, const std::string& certificate, const std::string& key)
    : m_https(!certificate.empty())
{
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) {
        m_error = std::strerror(errno);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    std::string script = VEILMARK_UPDATE_TEST_SERVER;
    std::string interpreter = "python3";
    std::string root = rootFolder;
    std::string certificateArgument = certificate;
    std::string keyArgument = key;
    char* arguments[] = { interpreter.data(), script.data(), root.data(),
        m_https ? certificateArgument.data() : nullptr, keyArgument.data(), nullptr };
    const int spawned = ::posix_spawnp(&m_process, "python3", &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    m_input = input[1];
    if (spawned != 0) {
        m_process = -1;
        m_error = std::string("python3: ") + std::strerror(spawned);
        ::close(output[0]);
        return;
    }

    // The first line is the port.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeLimitMs);
    while (line.find('\n') == std::string::npos) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd wait { output[0], POLLIN, 0 };
        if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buffer[64];
        const ssize_t count = ::read(output[0], buffer, sizeof buffer);
        if (count <= 0)
            break;
        line.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(output[0]);
    const int port = std::atoi(line.c_str());
    if (port <= 0 || port > 65535) {
        m_error = "the test server did not tell its port";
        return;
    }
    m_port = port;
}

CHttpTestServer::~CHttpTestServer()
{
    if (m_input >= 0)
        ::close(m_input);
    if (m_process > 0) {
        ::kill(m_process, SIGTERM);
        int status = 0;
        ::waitpid(m_process, &status, 0);
    }
}

std::string CHttpTestServer::BaseUrl() const
{
    return (m_https ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(m_port);
}
