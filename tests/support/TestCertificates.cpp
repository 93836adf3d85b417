#include "support/TestCertificates.h"

#include <cstdlib>
#include <fstream>

namespace {

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Elliptic-curve keys: made in milliseconds, unlike RSA.
constexpr const char* kNewKey = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

} // namespace

CTestCertificates::CTestCertificates()
{
    const bool made = Run(std::string("openssl req -x509 ") + kNewKey + " -keyout " + Quoted(Path("ca.key")) + " -out "
                          + Quoted(CaFile()) + " -days 2 -subj '/CN=Veilmark Test CA'"
                          + " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign")
        && MakeServerCertificate("server", "localhost", "DNS:localhost,IP:127.0.0.1")
        && MakeServerCertificate("wrong", "wrong.example.com", "DNS:wrong.example.com");
    if (!made && m_error.empty())
        m_error = "the test certificates could not be made";
}

bool CTestCertificates::Run(const std::string& command)
{
    const std::string logged = command + " >" + Quoted(Path("openssl.log")) + " 2>&1";
    if (std::system(logged.c_str()) == 0)
        return true;
    m_error = "failed: " + command + "\n" + ReadText(Path("openssl.log"));
    return false;
}

bool CTestCertificates::MakeServerCertificate(
    const std::string& name, const std::string& commonName, const std::string& altNames)
{
    const std::string extensions = Path(name + ".ext");
    std::ofstream(extensions) << "subjectAltName=" << altNames
                              << "\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                                 "extendedKeyUsage=serverAuth\n";
    return Run(std::string("openssl req -new ") + kNewKey + " -keyout " + Quoted(Path(name + ".key")) + " -out "
               + Quoted(Path(name + ".csr")) + " -subj " + Quoted("/CN=" + commonName))
        && Run("openssl x509 -req -in " + Quoted(Path(name + ".csr")) + " -CA " + Quoted(CaFile()) + " -CAkey "
            + Quoted(Path("ca.key")) + " -CAcreateserial -days 2 -out " + Quoted(Path(name + ".pem")) + " -extfile "
            + Quoted(extensions));
}
