#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A test server written in Python, run as a child process on 127.0.0.1 for the
// lifetime of the object. The script tells the port it listens on in its first
// line of output ("N" or "port N") and stops when its standard input closes.
class CPythonServer {
public:
    // `command` is the interpreter, the script and its arguments.
    CPythonServer(std::vector<std::string> command, int startLimitMs);
    ~CPythonServer();
    CPythonServer(const CPythonServer&) = delete;
    CPythonServer& operator=(const CPythonServer&) = delete;

    // 0 when the server did not start; StartError() then says why.
    int Port() const { return m_port; }
    const std::string& StartError() const { return m_startError; }

    // Closes the server's input and waits a few seconds for it to finish what
    // it received, then ends it.
    void Stop();

private:
    pid_t m_child = -1;
    int m_input = -1;
    int m_port = 0;
    std::string m_startError;
};
