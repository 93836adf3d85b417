#pragma once

#include "mail/PartHandler.h"

// A text/plain part in UTF-8, its lines wrapped near the width: sent as it is
// ("7Bit") when it is ASCII with no line too long, else in Base64.
class CTextPartHandler : public CPartHandler {
public:
    explicit CTextPartHandler(int wrapWidth = 76)
        : CPartHandler(kTextPartId)
        , m_wrapWidth(wrapWidth)
    {
    }

    bool WritePart(const std::string& content, const std::string& parameters, std::string& body,
        std::string& error) const override;
    std::string ContentType() const override;
    std::string PartHeader(
        const std::string& content, const std::string& parameters, bool withFileParameter) const override;

    // Breaks lines that run past the wrap width at the last space seen so far
    // in the text. That space may lie on an earlier line, in which case the
    // earlier line is split and the long one is left as it is.
    std::string WrapText(std::string text) const;

private:
    int m_wrapWidth;
};
