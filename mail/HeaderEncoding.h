#pragma once

#include <string>
#include <string_view>

// Header texts in the forms receivers read without loss: RFC 2047 encoded
// words for text beyond ASCII, RFC 5322 quoted strings for names with special
// characters, and folding so that header lines stay short.

// Printable ASCII and spaces only.
bool IsPrintableAscii(std::string_view text);

// An unstructured field body (Subject): the text itself when it is printable
// ASCII that folding can keep within the line limit, else the UTF-8 text as
// "=?UTF-8?B?...?=" encoded words separated by spaces, none splitting a
// character.
std::string EncodeUnstructured(std::string_view text);

// A display name (RFC 5322 3.4 phrase), white space at its ends removed: as
// it is when it is made of plain words, as a quoted string when it holds a
// special character such as ',' or '.', as encoded words when it holds text
// beyond ASCII.
std::string EncodeDisplayName(std::string_view name);

// True when EncodeDisplayName would change more than the white space at the
// ends of `name`.
bool DisplayNameNeedsEncoding(std::string_view name);

// Folds "Name: value" (RFC 5322 2.2.3) before white space so that each line
// keeps within 78 characters where the text allows it; with
// `breakAfterCommas`, an address list may also break after the comma between
// two entries. A line that already fits is returned unchanged.
std::string FoldHeaderLine(std::string_view line, bool breakAfterCommas = false);
