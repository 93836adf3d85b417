#include "mail/MimeMailItem.h"

#include "mail/FilePartHandler.h"
#include "mail/PartHandlerRegistry.h"
#include "mail/SendProgress.h"
#include "mail/TextPartHandler.h"
#include "support/PythonSmtpServer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string kBoundaryLine = "--QZ_MAIL_PaRt_BoUnDaRy_05151998\r\n";
const std::string kClosingLine = "--QZ_MAIL_PaRt_BoUnDaRy_05151998--\r\n";
const std::string kTextPartHeader
    = "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 7Bit\r\n\r\n";

std::string FilePartHeader(const std::string& name)
{
    return "Content-Type: application/octet-stream; file=" + name
        + "\r\n"
          "Content-Transfer-Encoding: base64\r\n"
          "Content-Disposition: attachment; filename="
        + name
        + "\r\n"
          "\r\n";
}

// Records what the attachment encoder reports while it works.
class CProgressRecorder {
public:
    CProgressRecorder()
        : m_previous(SetSendProgressSink({ [this](const std::string& text) { texts.push_back(text); },
            [this](int percent) { positions.push_back(percent); } }))
    {
    }
    ~CProgressRecorder() { SetSendProgressSink(m_previous); }

    std::vector<std::string> texts;
    std::vector<int> positions;

private:
    SendProgressSink m_previous;
};

class MimeMailItemTest : public ::testing::Test {
protected:
    std::string WriteAttachment(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        const std::string path = (m_folder / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    CTempFolder m_folder;
};

TEST_F(MimeMailItemTest, ComposesTheTextPartAndA55ByteAttachment)
{
    std::vector<std::uint8_t> bytes(55);
    for (std::size_t index = 0; index < bytes.size(); ++index)
        bytes[index] = static_cast<std::uint8_t>(index);
    const std::string path = WriteAttachment("picture.bmp", bytes);

    CMimeMailItem item;
    item.SetSender("user@example.com");
    item.SetBody("  Hello there\r\n\r\n");
    item.AttachPart("  " + path + " ", kFilePartId, "");
    CProgressRecorder progress;
    ASSERT_TRUE(item.Finalize()) << item.FailureText();

    EXPECT_TRUE(item.Header().ends_with("X-Mailer: QZ Mail\r\n"
                                        "MIME-Version: 1.0\r\n"
                                        "Content-Type: multipart/mixed; boundary=QZ_MAIL_PaRt_BoUnDaRy_05151998\r\n"
                                        "\r\n"))
        << item.Header();
    EXPECT_EQ(item.Body(),
        "This is a multi-part message in MIME format.\r\n"
        "\r\n"
            + kBoundaryLine + kTextPartHeader + "Hello there\r\n" + kBoundaryLine + FilePartHeader("picture.bmp")
            + "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1\r\n"
              "Ng==\r\n"
              "\r\n"
            + kClosingLine);
    EXPECT_EQ(progress.texts, std::vector<std::string> { "Encoding attachment file....." });
    EXPECT_EQ(progress.positions, (std::vector<int> { 98, 100, 100 }));
}

TEST_F(MimeMailItemTest, Encodes108BytesAsTwoFullLinesAndAnEmptyFileAsNone)
{
    std::vector<std::uint8_t> bytes(108);
    for (std::size_t index = 0; index < bytes.size(); ++index)
        bytes[index] = static_cast<std::uint8_t>(index * 7 + 3);
    const std::string full = WriteAttachment("full.jpg", bytes);
    const std::string empty = WriteAttachment("empty.jpg", {});

    CMimeMailItem item;
    item.AttachPart(full, kFilePartId, "");
    item.AttachPart(empty, kFilePartId, "");
    CProgressRecorder progress;
    ASSERT_TRUE(item.Finalize()) << item.FailureText();

    EXPECT_EQ(item.Body(),
        "This is a multi-part message in MIME format.\r\n"
        "\r\n"
            + kBoundaryLine + FilePartHeader("full.jpg")
            + "AwoRGB8mLTQ7QklQV15lbHN6gYiPlp2kq7K5wMfO1dzj6vH4/wYNFBsiKTA3PkVMU1phaG92\r\n"
              "fYSLkpmgp661vMPK0djf5u30+wIJEBceJSwzOkFIT1ZdZGtyeYCHjpWco6qxuL/GzdTb4unw\r\n"
              "\r\n"
            + kBoundaryLine + FilePartHeader("empty.jpg") + "\r\n\r\n" + kClosingLine);
    // The empty file is complete as soon as it is opened.
    EXPECT_EQ(progress.positions, (std::vector<int> { 50, 100, 100, 100, 100 }));
}

TEST_F(MimeMailItemTest, ATextOnlyMailReportsNoProgress)
{
    CMimeMailItem item;
    item.SetBody("Just text");
    CProgressRecorder progress;
    ASSERT_TRUE(item.Finalize());
    EXPECT_EQ(item.Body(),
        "This is a multi-part message in MIME format.\r\n\r\n" + kBoundaryLine + kTextPartHeader + "Just text\r\n"
            + kClosingLine);
    EXPECT_TRUE(progress.texts.empty());
    EXPECT_TRUE(progress.positions.empty());
}

TEST_F(MimeMailItemTest, AnAttachmentThatCannotBeOpenedFailsTheMail)
{
    for (const std::string& path : { (m_folder / "missing.bmp").string(), m_folder.Path().string() }) {
        SCOPED_TRACE(path);
        CMimeMailItem item;
        item.SetBody("Here it is");
        item.AttachPart(path, kFilePartId, "");
        EXPECT_FALSE(item.Finalize());
        EXPECT_NE(item.FailureText().find("Cannot open the attachment file " + path), std::string::npos)
            << item.FailureText();
    }
}

TEST(FilePartHandler, WritesEveryFileNameAsAParameterThatKeepsItWhole)
{
    const struct {
        const char* path;
        const char* parameter; // the value after "file" and "filename"
    } cases[] = {
        { "/pictures/picture.bmp", "=picture.bmp" },
        { "/pictures/holiday photo.jpg", "=\"holiday photo.jpg\"" },
        { "photo (1);2=x.jpg", "=\"photo (1);2=x.jpg\"" },
        { "/a/say \"cheese\" \\o.jpg", "=\"say \\\"cheese\\\" \\\\o.jpg\"" },
        { "/a/\xC3\x9C"
          "bersicht 100%.jpg",
            "*=UTF-8''%C3%9Cbersicht%20100%25.jpg" },
        { "/a/x\r\nBcc: y.jpg", "*=UTF-8''x%0D%0ABcc%3A%20y.jpg" },
    };
    const CFilePartHandler handler;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.path);
        // Long lines are folded before a space; a reader drops the CR LF.
        std::string header = handler.PartHeader(test.path, "", true);
        for (std::size_t at; (at = header.find("\r\n ")) != std::string::npos;)
            header.erase(at, 2);
        EXPECT_EQ(header,
            std::string("Content-Type: application/octet-stream; file") + test.parameter
                + "\r\n"
                  "Content-Transfer-Encoding: base64\r\n"
                  "Content-Disposition: attachment; filename"
                + test.parameter + "\r\n\r\n");
    }
}

TEST(TextPartHandler, WrapsAtTheLastSpaceSeenSoFar)
{
    std::string twentyWords;
    for (int word = 0; word < 20; ++word)
        twentyWords += word == 0 ? "word" : " word";
    const std::string fifteenWords = twentyWords.substr(0, 74);
    const std::string fiveWords = twentyWords.substr(75);
    const std::string longLine(100, 'a');

    const struct {
        std::string text;
        std::string wrapped;
    } cases[] = {
        { "", "" },
        { "short line\r\nand another", "short line\r\nand another" },
        { twentyWords, fifteenWords + "\r\n" + fiveWords },
        // The long line has no space of its own, so the earlier line is split
        // and the long one stays whole.
        { "x y\r\n" + longLine, "x\r\ny\r\n" + longLine },
    };
    const CTextPartHandler handler(76);
    for (const auto& test : cases) {
        SCOPED_TRACE(test.text);
        EXPECT_EQ(handler.WrapText(test.text), test.wrapped);
    }
}

TEST(PartHandlerRegistry, FindsTheFirstHandlerForAnIdAndIgnoresNull)
{
    CPartHandlerRegistry registry;
    registry.Register(nullptr);
    registry.Register(std::make_unique<CTextPartHandler>(40));
    registry.Register(std::make_unique<CTextPartHandler>(76));
    registry.Register(std::make_unique<CFilePartHandler>());
    EXPECT_EQ(registry.Count(), 3);
    const auto* text = dynamic_cast<const CTextPartHandler*>(registry.Find(kTextPartId));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->WrapText(std::string(30, 'a') + " " + std::string(30, 'b')),
        std::string(30, 'a') + "\r\n" + std::string(30, 'b'))
        << "the first handler, with width 40, is the one found";
    EXPECT_EQ(registry.Find(kFilePartId)->ContentType(), "application/octet-stream");
    EXPECT_EQ(registry.Find(7), nullptr);
}

TEST(PartHandlerRegistry, ManyMailItemsShareOneHandlerPair)
{
    for (int count = 0; count < 3; ++count)
        CMimeMailItem item;
    EXPECT_EQ(PartHandlerRegistry().Count(), 2);
}

} // namespace
