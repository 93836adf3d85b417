#include "support/PythonServer.h"

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
#include <thread>

extern char** environ;

CPythonServer::CPythonServer(std::vector<std::string> command, int startLimitMs)
{
    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) {
        m_startError = std::string("cannot make pipes: ") + std::strerror(errno);
        return;
    }
    std::vector<char*> argv;
    for (std::string& argument : command)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    const int spawned = ::posix_spawnp(&m_child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    m_input = toChild[1];
    if (spawned != 0) {
        m_child = -1;
        m_startError = command[0] + ": " + std::strerror(spawned);
        ::close(fromChild[0]);
        return;
    }

    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(startLimitMs);
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
    const char* number = output.c_str();
    if (output.rfind("port ", 0) == 0)
        number += 5;
    const int port = std::atoi(number);
    if (port > 0 && port <= 65535)
        m_port = port;
    else
        m_startError = "the test server did not start (" + command[0] + " " + command[1] + "); output: " + output;
}

void CPythonServer::Stop()
{
    if (m_input >= 0) {
        ::close(m_input);
        m_input = -1;
    }
    if (m_child <= 0)
        return;
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

CPythonServer::~CPythonServer() { Stop(); }
