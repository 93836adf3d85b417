#pragma once

#include <string>

// Standard input is read at most once, with read(2) only, so a password line
// and a message can both come from it: the password takes the first line and
// the message the rest.
class CStandardInput {
public:
    // The first line, without its line break, and removes it from what
    // TakeRest returns.
    [[nodiscard]] bool TakeFirstLine(std::string& line, std::string& error);
    // Everything not yet taken.
    [[nodiscard]] bool TakeRest(std::string& rest, std::string& error);

private:
    bool ReadAll(std::string& error);

    bool m_bRead = false;
    std::string m_strData;
};

// Cuts `text` after its first line; returns that line without "\n" or "\r\n".
std::string FirstLine(const std::string& text, std::size_t* restStart = nullptr);

// Asks on the terminal behind standard input without echoing what is typed.
// False when standard input is no terminal, or reading failed or hit end of
// input before a line break; `error` then says why.
[[nodiscard]] bool PromptHidden(const char* prompt, std::string& answer, std::string& error);
