#pragma once

#include <string>

// Reads the file version embedded in a program file: the text after the
// version marker, up to its terminating zero byte. Returns false when the file
// cannot be read or holds no marker followed by a version text.
bool GetFileVersionString(const std::string& programPath, std::string& version);

// The version of the running program, read from its own file.
bool GetFileVersionString(std::string& version);
