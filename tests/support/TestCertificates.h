#pragma once

#include "support/TestFiles.h"

#include <string>

// A certificate authority made for one test run, and server certificates it
// signed, written as PEM files by the openssl command. Nothing outside the
// test trusts them.
class CTestCertificates {
public:
    CTestCertificates();

    // Empty when every file was made; else what failed.
    const std::string& Error() const { return m_error; }

    std::string CaFile() const { return Path("ca.pem"); }
    // Issued for 127.0.0.1 and localhost.
    std::string ServerCertificate() const { return Path("server.pem"); }
    std::string ServerKey() const { return Path("server.key"); }
    // Signed by the same authority, for wrong.example.com only.
    std::string WrongNameCertificate() const { return Path("wrong.pem"); }
    std::string WrongNameKey() const { return Path("wrong.key"); }

private:
    std::string Path(const std::string& name) const { return (m_folder / name).string(); }
    bool Run(const std::string& command);
    bool MakeServerCertificate(const std::string& name, const std::string& commonName, const std::string& altNames);

    CTempFolder m_folder { "veilmark-certificates" };
    std::string m_error;
};
