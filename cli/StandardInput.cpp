#include "cli/StandardInput.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <termios.h>
#include <unistd.h>

namespace {

// The terminal settings to put back if a signal ends the program while echo
// is off.
struct termios g_savedTerminal;
volatile std::sig_atomic_t g_bEchoOff = 0;

void RestoreTerminalAndDie(int signalNumber)
{
    if (g_bEchoOff)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

constexpr int kTerminatingSignals[] = { SIGINT, SIGTERM, SIGHUP, SIGQUIT };

} // namespace

std::string FirstLine(const std::string& text, std::size_t* restStart)
{
    const std::size_t newline = text.find('\n');
    std::size_t end = newline == std::string::npos ? text.size() : newline;
    if (restStart)
        *restStart = newline == std::string::npos ? text.size() : newline + 1;
    if (newline != std::string::npos && end > 0 && text[end - 1] == '\r')
        --end;
    return text.substr(0, end);
}

bool CStandardInput::ReadMore(std::string& error, std::size_t most)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, std::min(sizeof buffer, most));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (got == 0)
            m_bEnd = true;
        m_strData.append(buffer, std::size_t(got));
        return true;
    }
}

bool CStandardInput::TakeFirstLine(std::string& line, std::string& error, std::size_t limit)
{
    while (!m_bEnd && m_strData.size() <= limit && m_strData.find('\n') == std::string::npos)
        if (!ReadMore(error, limit + 1 - m_strData.size()))
            return false;
    std::size_t restStart = 0;
    line = FirstLine(m_strData, &restStart);
    m_strData.erase(0, restStart);
    return true;
}

bool CStandardInput::TakeRest(std::string& rest, std::string& error, std::size_t limit)
{
    while (!m_bEnd && m_strData.size() < limit)
        if (!ReadMore(error, limit - m_strData.size()))
            return false;
    if (m_strData.size() > limit)
        m_strData.resize(limit);
    rest = std::move(m_strData);
    m_strData.clear();
    return true;
}

bool PromptHidden(const char* prompt, std::string& answer, std::string& error)
{
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &g_savedTerminal) != 0) {
        error = "standard input is not a terminal";
        return false;
    }
    struct sigaction action { };
    action.sa_handler = RestoreTerminalAndDie;
    sigemptyset(&action.sa_mask);
    struct sigaction previous[std::size(kTerminatingSignals)];
    for (std::size_t i = 0; i < std::size(kTerminatingSignals); ++i)
        ::sigaction(kTerminatingSignals[i], &action, &previous[i]);

    struct termios silent = g_savedTerminal;
    silent.c_lflag &= ~tcflag_t(ECHO);
    silent.c_lflag |= ECHONL;
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    g_bEchoOff = 1;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);

    answer.clear();
    bool gotLine = false;
    int failure = 0;
    for (;;) {
        char c;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            failure = errno;
        if (got <= 0)
            break;
        if (c == '\n') {
            gotLine = true;
            break;
        }
        answer += c;
    }

    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
    g_bEchoOff = 0;
    for (std::size_t i = 0; i < std::size(kTerminatingSignals); ++i)
        ::sigaction(kTerminatingSignals[i], &previous[i], nullptr);
    if (!gotLine) {
        std::fputc('\n', stderr);
        error = failure ? std::strerror(failure) : "no password was entered";
        return false;
    }
    return true;
}
