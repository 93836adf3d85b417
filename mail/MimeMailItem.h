#pragma once

#include "mail/MailItem.h"

#include <list>
#include <string>

// A multipart/mixed mail (RFC 2046 5.1.3): the typed text becomes the first
// part, and each attached file a Base64 part after it.
class CMimeMailItem : public CMailItem {
public:
    CMimeMailItem();

    // Trims white space at both ends of `content` and records a part: a text
    // part (kTextPartId) goes to the front, every other part to the end.
    void AttachPart(const std::string& content, int handlerId, const std::string& parameters);

    // Appends every part, each after an opening boundary line. A part whose id
    // has no handler is skipped; a part that cannot be written stops the build.
    bool WritePartsInto(std::string& text);
    void OpenBoundary(std::string& text) const;
    void CloseBoundary(std::string& text) const;

    const std::string& Boundary() const { return m_boundary; }

protected:
    void BuildHeader() override;
    bool BuildBody() override;

private:
    struct PartRecord {
        int handlerId;
        std::string parameters;
        std::string content; // the text itself, or the path of the file
    };

    std::string m_preamble = "This is a multi-part message in MIME format.";
    std::string m_boundary = "QZ_MAIL_PaRt_BoUnDaRy_05151998";
    std::string m_contentType = "multipart/mixed";
    std::list<PartRecord> m_parts;
};
