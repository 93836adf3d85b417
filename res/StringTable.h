#pragma once

#include <string>

// The program's numbered texts. Every user-visible message and every log line
// is addressed by its number; a number without an entry yields an empty text.

// Returns the text with the given number, cut to 1023 bytes.
std::string LoadResString(unsigned id);

// Formats the text with the given number printf-style; the result is cut to
// 1023 bytes.
std::string FormatResString(unsigned id, ...);

// Formats an arbitrary printf-style text into at most 1023 bytes.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
