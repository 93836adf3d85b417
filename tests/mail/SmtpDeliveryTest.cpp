// Mail handed to a real SMTP server (aiosmtpd), which parses what it gets.

#include "mail/SmtpSession.h"

#include "mail/MimeMailItem.h"
#include "mail/PartHandler.h"
#include "support/PythonSmtpServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

class SmtpDeliveryTest : public ::testing::Test {
protected:
    // Sends one mail with a text part and the picture attached under each of
    // `attachments` (the first path by default) to `server`.
    bool Send(CPythonSmtpServer& server, const std::string& receiver, std::string& errorText,
        const std::string& sender = "user@example.com", std::vector<std::string> attachments = {})
    {
        CMimeMailItem item;
        item.SetSender(sender);
        item.SetSubject("The picture");
        item.SetBody(kBody);
        EXPECT_TRUE(item.ParseRecipientList(receiver, CMailItem::kTo));
        if (attachments.empty())
            attachments.push_back(m_picturePath);
        for (const auto& path : attachments)
            item.AttachPart(path, kFilePartId, "");

        CSmtpSession session;
        session.SetServer("127.0.0.1", server.Port());
        session.SetTimeLimits(5s, 5s);
        bool sent = false;
        if (session.OpenSession()) {
            sent = session.SendItem(item);
            errorText = session.GetErrorText();
            m_refused = session.RefusedRecipients();
            EXPECT_TRUE(session.CloseSession());
        } else {
            errorText = session.GetErrorText();
        }
        server.Stop();
        return sent;
    }

    void SetUp() override
    {
        // A picture-sized file with every byte value, including the ones that
        // would matter to a text channel (CR, LF, '.', NUL).
        m_picture.resize(5000);
        for (std::size_t index = 0; index < m_picture.size(); ++index)
            m_picture[index] = static_cast<std::uint8_t>((index * 131 + index / 256) & 0xFF);
        m_picturePath = WritePicture("holiday.jpg");
    }

    std::string WritePicture(const std::string& name)
    {
        const std::string path = (m_folder / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(m_picture.data()), static_cast<std::streamsize>(m_picture.size()));
        return path;
    }

    std::string MailFile(const CPythonSmtpServer& server, const std::string& name)
    {
        return ReadText(server.Folder() + "/mail-1/" + name);
    }

    // Lines that begin with dots, which the receiver strips one dot from.
    static constexpr const char* kBody = "Here is the picture.\r\n.\r\n.hidden line\r\n..two dots\r\nThe end.";

    CTempFolder m_folder;
    std::vector<CSmtpSession::RefusedRecipient> m_refused;
    std::vector<std::uint8_t> m_picture;
    std::string m_picturePath;
};

TEST_F(SmtpDeliveryTest, DeliversAMailWhoseAttachmentArrivesByteForByte)
{
    CPythonSmtpServer server;
    ASSERT_NE(server.Port(), 0) << server.StartError();
    std::string errorText;
    ASSERT_TRUE(Send(server, "friend@example.com;Other <other@example.com>", errorText)) << errorText;
    EXPECT_EQ(errorText, "OK");

    EXPECT_EQ(MailFile(server, "envelope.txt"),
        "from: user@example.com\n"
        "to: friend@example.com\n"
        "to: other@example.com\n");
    EXPECT_EQ(MailFile(server, "parts.txt"),
        "text/plain\t-\t7Bit\n"
        "application/octet-stream\tholiday.jpg\tbase64\n"
        "defects: 0\n");
    // The line break before a boundary line belongs to the boundary (RFC 2046 5.1.1).
    EXPECT_EQ(MailFile(server, "part-0.bin"), kBody);
    const std::string attachment = MailFile(server, "part-1.bin");
    EXPECT_EQ(std::vector<std::uint8_t>(attachment.begin(), attachment.end()), m_picture);

    const std::string message = MailFile(server, "message.eml");
    EXPECT_NE(message.find("\r\nTo: <friend@example.com>,Other <other@example.com>\r\n"), std::string::npos);
    EXPECT_NE(message.find("\r\nSubject: The picture\r\n"), std::string::npos);
}

TEST_F(SmtpDeliveryTest, ARefusedRecipientDoesNotStopTheOthers)
{
    CPythonSmtpServer server({ "--refuse", "gone@example.com" });
    ASSERT_NE(server.Port(), 0) << server.StartError();
    std::string errorText;
    EXPECT_TRUE(Send(server, "gone@example.com;friend@example.com", errorText));
    EXPECT_EQ(
        errorText, "550:SMTP server error (the server said: 550 5.1.1 <gone@example.com>: Recipient address rejected)");
    EXPECT_EQ(MailFile(server, "envelope.txt"), "from: user@example.com\nto: friend@example.com\n");
    ASSERT_EQ(m_refused.size(), 1u);
    EXPECT_EQ(m_refused[0].address, "gone@example.com");
    EXPECT_EQ(m_refused[0].reply, "550 5.1.1 <gone@example.com>: Recipient address rejected");
}

TEST_F(SmtpDeliveryTest, TheEnvelopeCarriesTheAddressesAlone)
{
    CPythonSmtpServer server;
    ASSERT_NE(server.Port(), 0) << server.StartError();
    std::string errorText;
    ASSERT_TRUE(Send(server, " friend@example.com ; Other <other@example.com>;", errorText, "Alice <user@example.com>"))
        << errorText;
    EXPECT_EQ(MailFile(server, "envelope.txt"),
        "from: user@example.com\n"
        "to: friend@example.com\n"
        "to: other@example.com\n");
    const std::string message = MailFile(server, "message.eml");
    EXPECT_TRUE(message.starts_with("From: Alice <user@example.com>\r\n")) << message.substr(0, 80);
    // Names keep the blanks they were typed with.
    EXPECT_NE(message.find("\r\nTo: <friend@example.com>, Other <other@example.com>\r\n"), std::string::npos);
}

TEST_F(SmtpDeliveryTest, AttachmentNamesArriveWhole)
{
    const std::vector<std::string> names = { "holiday photo.jpg", "photo (1).jpg",
        "\xC3\x9C"
        "bersicht 2024.jpg",
        "say \"cheese\".jpg", "a;b=c.jpg" };
    std::vector<std::string> paths;
    for (const auto& name : names)
        paths.push_back(WritePicture(name));

    CPythonSmtpServer server;
    ASSERT_NE(server.Port(), 0) << server.StartError();
    std::string errorText;
    ASSERT_TRUE(Send(server, "friend@example.com", errorText, "user@example.com", paths)) << errorText;

    std::string expected = "text/plain\t-\t7Bit\n";
    for (const auto& name : names)
        expected += "application/octet-stream\t" + name + "\tbase64\n";
    EXPECT_EQ(MailFile(server, "parts.txt"), expected + "defects: 0\n");
    const std::string attachment = MailFile(server, "part-3.bin");
    EXPECT_EQ(std::vector<std::uint8_t>(attachment.begin(), attachment.end()), m_picture);
}

TEST_F(SmtpDeliveryTest, TextsBeyondAsciiReadBackAsWritten)
{
    // Python's email package (policy default) is the independent reader.
    const std::string subject = "Gr\xC3\xBC\xC3\x9F"
                                "e aus K\xC3\xB6ln \xE2\x80\x93 \xE6\x9D\xB1\xE4\xBA\xAC, "
                                "a subject long enough to need more than one encoded word";
    const std::string senderName = "J\xC3\xB6rg M\xC3\xBCller";
    const std::string receiverName = "Zo\xC3\xAB \xC3\x85ngstr\xC3\xB6m";
    const std::string body = "Liebe Zo\xC3\xAB,\r\nhier ist das Bild.\r\n\r\nGr\xC3\xBC\xC3\x9F"
                             "e, J\xC3\xB6rg";
    const std::string attachmentName = "\xC3\x9C"
                                       "bersicht \xE6\x9D\xB1.jpg";

    CPythonSmtpServer server;
    ASSERT_NE(server.Port(), 0) << server.StartError();
    CMimeMailItem item;
    item.SetSender(senderName + " <user@example.com>");
    item.SetSubject(subject);
    item.SetBody(body);
    ASSERT_TRUE(
        item.ParseRecipientList(receiverName + " <friend@example.com>;Smith, John <js@example.com>", CMailItem::kTo));
    item.AttachPart(WritePicture(attachmentName), kFilePartId, "");
    CSmtpSession session;
    session.SetServer("127.0.0.1", server.Port());
    session.SetTimeLimits(5s, 5s);
    ASSERT_TRUE(session.OpenSession()) << session.GetErrorText();
    ASSERT_TRUE(session.SendItem(item)) << session.GetErrorText();
    EXPECT_TRUE(session.CloseSession());
    server.Stop();

    EXPECT_EQ(MailFile(server, "parts.txt"),
        "text/plain\t-\tbase64\n"
        "application/octet-stream\t"
            + attachmentName
            + "\tbase64\n"
              "defects: 0\n");
    EXPECT_EQ(MailFile(server, "part-0.bin"), body);
    const std::string headers = MailFile(server, "headers.txt");
    for (const std::string& line : std::vector<std::string> {
             "from-address: " + senderName + "|user@example.com",
             "to-address: " + receiverName + "|friend@example.com",
             "to-address: Smith, John|js@example.com",
             "subject: " + subject,
             "message-id: " + item.MessageId(),
             "text-charset: utf-8",
         })
        EXPECT_NE(headers.find(line + "\n"), std::string::npos) << line << "\n" << headers;
    // The date reads back as the moment it was written, whatever the zone.
    EXPECT_NE(headers.find("date-utc: " + std::to_string(item.Date()) + ".0\n"), std::string::npos) << headers;
    // Every line of the mail keeps within the limit.
    const std::string message = MailFile(server, "message.eml");
    std::size_t start = 0;
    for (std::size_t end; (end = message.find("\r\n", start)) != std::string::npos; start = end + 2)
        EXPECT_LE(end - start, 78u) << message.substr(start, end - start);
}

TEST_F(SmtpDeliveryTest, AMailRefusedAtItsEndIsAFailure)
{
    CPythonSmtpServer server({ "--reject-data" });
    ASSERT_NE(server.Port(), 0) << server.StartError();
    std::string errorText;
    EXPECT_FALSE(Send(server, "friend@example.com", errorText));
    EXPECT_EQ(errorText, "554:SMTP server error (the server said: 554 5.6.0 Message refused)");
}

} // namespace
