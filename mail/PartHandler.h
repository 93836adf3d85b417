#pragma once

#include <string>

// Writes one kind of MIME part (RFC 2046 5.1) into a mail body. Handlers are
// found by their id in the process-wide CPartHandlerRegistry.
class CPartHandler {
public:
    explicit CPartHandler(int id)
        : m_id(id)
    {
    }
    virtual ~CPartHandler() = default;

    bool Handles(int id) const { return id == m_id; }
    int Id() const { return m_id; }

    // Appends the part's header and content to `body`. On failure appends
    // nothing, sets `error` to a sentence saying why and returns false.
    virtual bool WritePart(
        const std::string& content, const std::string& parameters, std::string& body, std::string& error) const = 0;

    virtual std::string ContentType() const = 0;

    // The part's header lines, ending with the empty line that separates them
    // from the content.
    virtual std::string PartHeader(
        const std::string& content, const std::string& parameters, bool withFileParameter) const = 0;

private:
    int m_id;
};

// Handler ids of the part records.
constexpr int kTextPartId = 0;
constexpr int kFilePartId = 1;
