// Mail handed over TLS to a real SMTP server (aiosmtpd), with certificates
// from an authority the test makes and trusts explicitly.

#include "mail/SmtpSession.h"

#include "mail/MimeMailItem.h"
#include "mail/PartHandler.h"
#include "support/PythonSmtpServer.h"
#include "support/TestCertificates.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

class SmtpTlsDeliveryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_certificates = std::make_unique<CTestCertificates>(); }
    static void TearDownTestSuite() { s_certificates.reset(); }

    void SetUp() override
    {
        ASSERT_EQ(s_certificates->Error(), "");
        m_picture.resize(3000);
        for (std::size_t index = 0; index < m_picture.size(); ++index)
            m_picture[index] = static_cast<std::uint8_t>((index * 151 + index / 256) & 0xFF);
        m_picturePath = (m_folder / "picture.jpg").string();
        ASSERT_TRUE(WriteBytes(m_picturePath, m_picture));
    }

    // A server with the good certificate (or `certificate`), and the options.
    static std::vector<std::string> ServerOptions(
        std::vector<std::string> options, const std::string& certificate = {}, const std::string& key = {})
    {
        options.insert(options.end(),
            { "--cert", certificate.empty() ? s_certificates->ServerCertificate() : certificate, "--key",
                key.empty() ? s_certificates->ServerKey() : key });
        return options;
    }

    // Opens a session to `server` as configured and sends one mail with the
    // picture attached. Returns whether the mail was accepted.
    bool Send(
        CPythonSmtpServer& server, SmtpSecurity security, const std::string& password, bool trustTestAuthority = true)
    {
        CMimeMailItem item;
        item.SetSender("user@example.com");
        item.SetSubject("The picture");
        item.SetBody("Here it is.");
        item.StoreRecipient("friend@example.com", "", CMailItem::kTo);
        item.AttachPart(m_picturePath, kFilePartId, "");

        CSmtpSession session;
        session.SetServer("127.0.0.1", server.Port());
        session.SetTimeLimits(5s, 5s);
        session.SetSecurity(security);
        session.SetCredentials("alice", password);
        if (trustTestAuthority)
            session.SetCaFile(s_certificates->CaFile());
        bool sent = false;
        if (session.OpenSession()) {
            m_encrypted = session.IsEncrypted();
            sent = session.SendItem(item);
            m_errorText = session.GetErrorText();
            EXPECT_TRUE(session.CloseSession());
        } else {
            m_errorText = session.GetErrorText();
        }
        server.Stop();
        return sent;
    }

    static std::string AuthLog(const CPythonSmtpServer& server)
    {
        const std::filesystem::path path = server.Folder() + "/auth.txt";
        return std::filesystem::exists(path) ? ReadText(path) : std::string();
    }

    void ExpectPictureArrived(const CPythonSmtpServer& server)
    {
        EXPECT_EQ(ReadText(server.Folder() + "/mail-1/parts.txt"),
            "text/plain\t-\t7Bit\n"
            "application/octet-stream\tpicture.jpg\tbase64\n"
            "defects: 0\n");
        const std::string attachment = ReadText(server.Folder() + "/mail-1/part-1.bin");
        EXPECT_EQ(std::vector<std::uint8_t>(attachment.begin(), attachment.end()), m_picture);
    }

    static std::unique_ptr<CTestCertificates> s_certificates;
    CTempFolder m_folder;
    std::vector<std::uint8_t> m_picture;
    std::string m_picturePath;
    std::string m_errorText;
    bool m_encrypted = false;
};

std::unique_ptr<CTestCertificates> SmtpTlsDeliveryTest::s_certificates;

TEST_F(SmtpTlsDeliveryTest, StartTlsThenSignsInWithWhicheverMechanismIsOffered)
{
    const struct {
        const char* name;
        std::vector<std::string> extra;
        const char* authLog;
    } cases[] = {
        { "PLAIN and LOGIN offered", {}, "PLAIN alice accepted\n" },
        { "LOGIN alone offered", { "--no-plain" }, "LOGIN alice accepted\n" },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        std::vector<std::string> options
            = { "--starttls", "--require-tls", "--user", "alice", "--password", "s3cret p\xC3\xA4ss" };
        options.insert(options.end(), test.extra.begin(), test.extra.end());
        CPythonSmtpServer server(ServerOptions(options));
        ASSERT_NE(server.Port(), 0) << server.StartError();
        EXPECT_TRUE(Send(server, SmtpSecurity::StartTls, "s3cret p\xC3\xA4ss")) << m_errorText;
        EXPECT_TRUE(m_encrypted);
        EXPECT_EQ(AuthLog(server), test.authLog);
        ExpectPictureArrived(server);
    }
}

TEST_F(SmtpTlsDeliveryTest, ImplicitTlsFromTheFirstByte)
{
    CPythonSmtpServer server(ServerOptions({ "--implicit-tls", "--user", "alice", "--password", "secret" }));
    ASSERT_NE(server.Port(), 0) << server.StartError();
    EXPECT_TRUE(Send(server, SmtpSecurity::Tls, "secret")) << m_errorText;
    EXPECT_TRUE(m_encrypted);
    EXPECT_EQ(AuthLog(server), "PLAIN alice accepted\n");
    ExpectPictureArrived(server);
}

TEST_F(SmtpTlsDeliveryTest, ARefusedPasswordIsReportedWithTheServersReply)
{
    CPythonSmtpServer server(
        ServerOptions({ "--starttls", "--require-tls", "--user", "alice", "--password", "right" }));
    ASSERT_NE(server.Port(), 0) << server.StartError();
    EXPECT_FALSE(Send(server, SmtpSecurity::StartTls, "wrong"));
    EXPECT_TRUE(m_errorText.starts_with("The server refused the user name or password (the server said: 535 "))
        << m_errorText;
    EXPECT_EQ(m_errorText.find("wrong"), std::string::npos) << "the password is never shown";
    EXPECT_EQ(AuthLog(server), "PLAIN alice refused\n");
    EXPECT_FALSE(std::filesystem::exists(server.Folder() + "/mail-1"));
}

TEST_F(SmtpTlsDeliveryTest, RefusesEveryConnectionItCannotTrustBeforeSendingCredentials)
{
    const struct {
        const char* name;
        std::vector<std::string> options;
        SmtpSecurity security;
        bool trustTestAuthority;
        const char* errorStart;
        const char* errorPart;
    } cases[] = {
        { "STARTTLS not offered", { "--user", "alice", "--password", "secret" }, SmtpSecurity::StartTls, true,
            "The server does not offer STARTTLS", "nothing was sent" },
        // The system's store does not know the test authority.
        { "untrusted certificate", ServerOptions({ "--starttls", "--user", "alice", "--password", "secret" }),
            SmtpSecurity::StartTls, false,
            "The server's certificate is not trusted: ", "(certificate subject: CN=localhost)" },
        { "wrong host name",
            ServerOptions({ "--implicit-tls", "--user", "alice", "--password", "secret" },
                s_certificates->WrongNameCertificate(), s_certificates->WrongNameKey()),
            SmtpSecurity::Tls, true, "The server's certificate is not issued for 127.0.0.1",
            "(certificate subject: CN=wrong.example.com)" },
        { "plain server on a TLS port", { "--user", "alice", "--password", "secret" }, SmtpSecurity::Tls, true,
            "TLS could not be agreed with the server", "" },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        CPythonSmtpServer server(test.options);
        ASSERT_NE(server.Port(), 0) << server.StartError();
        EXPECT_FALSE(Send(server, test.security, "secret", test.trustTestAuthority));
        EXPECT_TRUE(m_errorText.starts_with(test.errorStart)) << m_errorText;
        EXPECT_NE(m_errorText.find(test.errorPart), std::string::npos) << m_errorText;
        EXPECT_EQ(AuthLog(server), "") << "no credentials were sent";
        EXPECT_FALSE(std::filesystem::exists(server.Folder() + "/mail-1"));
    }
}

} // namespace
