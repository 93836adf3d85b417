#pragma once

#include <string>

// The mail password in the desktop's secret service (through QtKeychain),
// one entry per user name and server. It is never written anywhere else:
// without a secret service nothing is kept and the password is asked for at
// each send.
class CMailPasswordStore {
public:
    enum class Result {
        Ok,
        NotFound, // the service runs but holds no password for this account
        Unavailable, // no secret service, or it refused
    };

    // Each call waits for the service, keeping the UI painting meanwhile.
    Result Read(const std::string& server, const std::string& userName, std::string& password);
    Result Write(const std::string& server, const std::string& userName, const std::string& password);
    Result Remove(const std::string& server, const std::string& userName);

    // The service's own words about the last failure.
    const std::string& ErrorText() const { return m_errorText; }

private:
    std::string m_errorText;
};
