#pragma once

#include <cstdio>
#include <string>

inline constexpr const char* kProgramName = "veilmark-cli";

enum ExitStatus {
    kExitOk = 0,
    kExitUsage = 1,
    kExitBadPicture = 2,
    kExitWrongPassword = 3,
    kExitMessageTooLong = 4,
    kExitNoSecret = 5,
    kExitCannotWrite = 6,
};

// Prints the one line that says why the command failed; returns `status`.
inline int Fail(int status, const std::string& line)
{
    std::fprintf(stderr, "%s: %s\n", kProgramName, line.c_str());
    return status;
}
