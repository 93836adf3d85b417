#pragma once

#include "mail/PartHandler.h"

// An attachment read from a file and sent in Base64 (RFC 2045 6.8), one line
// of 72 characters for every 54 bytes.
class CFilePartHandler : public CPartHandler {
public:
    CFilePartHandler()
        : CPartHandler(kFilePartId)
    {
    }

    // `content` is the file's path; the parameter text is not used. A file that
    // cannot be opened or read is a failure, and nothing is appended.
    bool WritePart(const std::string& content, const std::string& parameters, std::string& body,
        std::string& error) const override;
    std::string ContentType() const override;
    std::string PartHeader(
        const std::string& content, const std::string& parameters, bool withFileParameter) const override;
};
