#pragma once

#include <cstddef>
#include <string>

// Standard input is read at most once, with read(2) only, so a password line
// and a message can both come from it: the password takes the first line and
// the message the rest.
class CStandardInput {
public:
    // The first line, without its line break; reads no further than needed,
    // so a line typed on a terminal is taken at once. A line longer than
    // `limit` bytes is not read to its end: what came is returned, more than
    // `limit` bytes of it, for the caller to refuse.
    [[nodiscard]] bool TakeFirstLine(std::string& line, std::string& error, std::size_t limit);
    // Everything not yet taken, up to the end of the input, but never more
    // than `limit` bytes: input that goes on is cut there, so a caller that
    // asks for one byte more than it accepts can tell that too much came.
    [[nodiscard]] bool TakeRest(std::string& rest, std::string& error, std::size_t limit);

private:
    // Reads one more piece of at most `most` bytes; false on a read error.
    // Sets m_bEnd at the end.
    bool ReadMore(std::string& error, std::size_t most);

    bool m_bEnd = false;
    std::string m_strData;
};

// Cuts `text` after its first line; returns that line without "\n" or "\r\n".
std::string FirstLine(const std::string& text, std::size_t* restStart = nullptr);

// Asks on the terminal behind standard input without echoing what is typed.
// False when standard input is no terminal, or reading failed or hit end of
// input before a line break; `error` then says why.
[[nodiscard]] bool PromptHidden(const char* prompt, std::string& answer, std::string& error);
