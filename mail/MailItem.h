#pragma once

#include <ctime>
#include <string>
#include <utility>
#include <vector>

// One plain mail (RFC 5322): sender, three recipient lists, subject and body,
// and the header text built from them just before sending.
class CMailItem {
public:
    enum RecipientList { kTo = 0, kCc = 1, kBcc = 2 };

    CMailItem() = default;
    virtual ~CMailItem() = default;
    CMailItem(const CMailItem&) = delete;
    CMailItem& operator=(const CMailItem&) = delete;

    // Splits `text` at each ';' into entries "address" or "name<address>" and
    // appends them to the list. Addresses lose the white space around them;
    // names are kept as typed. A token without an address (an empty or blank
    // one, or "<>") adds no entry. A token with a '<' but no '>' after it
    // stops parsing and gives false; earlier entries stay stored.
    bool ParseRecipientList(const std::string& text, int list);

    // Appends one entry; a list number other than kTo, kCc, kBcc is ignored.
    bool StoreRecipient(const std::string& address, const std::string& name, int list);

    // 0 for a list number other than kTo, kCc, kBcc.
    int RecipientCount(int list) const;

    // False, with the outputs untouched, for an index outside the list.
    bool RecipientAt(int index, int list, std::string& address, std::string& name) const;

    // Builds the header (ending with its empty line) and the final body text.
    // Returns false when a part of the body could not be written, for example
    // an attachment that cannot be read; FailureText says why.
    [[nodiscard]] bool Finalize();

    // The address alone for the envelope (RFC 5321 4.1.2): the text between
    // '<' and '>' when the sender reads "Name <address>", else the whole
    // sender, without the white space around it. Empty when a '<' has no '>'
    // after it.
    std::string SenderAddress() const;

    // Why the sender, subject or a recipient cannot go into a header line or
    // a command: a line break or NUL in it would end the line early and let
    // the rest pass as further lines. Empty when all of them can.
    std::string HeaderFieldFault() const;

    // Appends "line\r\n" to the header.
    void AddHeaderLine(const std::string& line);

    void SetSender(std::string sender) { m_sender = std::move(sender); }
    void SetSubject(std::string subject) { m_subject = std::move(subject); }
    void SetBody(std::string body) { m_body = std::move(body); }
    void SetMailer(std::string mailer) { m_mailer = std::move(mailer); }

    const std::string& Sender() const { return m_sender; }
    const std::string& Subject() const { return m_subject; }
    const std::string& Body() const { return m_body; }
    const std::string& Mailer() const { return m_mailer; }
    const std::string& Header() const { return m_header; }
    std::time_t Date() const { return m_date; }
    // The Message-ID of the last BuildHeader, angle brackets included.
    const std::string& MessageId() const { return m_messageId; }
    int LineWidth() const { return m_lineWidth; }
    const std::string& FailureText() const { return m_failureText; }

protected:
    virtual void BuildHeader();
    virtual bool BuildBody();

    std::string& MutableBody() { return m_body; }
    void SetFailureText(std::string text) { m_failureText = std::move(text); }

private:
    using Recipient = std::pair<std::string, std::string>; // address, display name

    const std::vector<Recipient>* ListAt(int list) const;
    std::vector<Recipient>* ListAt(int list);
    std::string FormatList(int list) const;
    // The From text: as typed, unless its display name must be encoded.
    std::string FormatSender() const;

    std::string m_sender;
    std::string m_subject;
    std::string m_mailer = "QZ Mail";
    std::string m_header;
    std::time_t m_date = 0;
    std::string m_messageId;
    std::string m_body;
    int m_lineWidth = 76;
    std::vector<Recipient> m_to;
    std::vector<Recipient> m_cc;
    std::vector<Recipient> m_bcc;
    std::string m_failureText;
};
