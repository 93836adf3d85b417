#pragma once

#include "mail/SmtpSecurity.h"

#include <cstdint>
#include <string>

// The user's settings store: QSettings in user scope for organisation
// "Norvanta" and application "Veilmark" (on Linux a file under
// $XDG_CONFIG_HOME). A sub-key names a settings group.
//
// The file keeps no types, so a value counts as a 32-bit number (kRegDword)
// when it is stored as a number or as a text of decimal digits that fits
// 32 bits, and as a text (kRegSz) otherwise.

inline constexpr char kOptionSubKey[] = "Option";

inline constexpr unsigned kRegNone = 0;
inline constexpr unsigned kRegSz = 1;
inline constexpr unsigned kRegDword = 4;

// Reads a value. A text comes with its terminating zero (its size is its
// UTF-8 length + 1); a number as 4 bytes in host order. `type` may be null.
// Returns 0 when the value is in `buffer` and `size` holds its size; 1 when
// the buffer is too small (`size` then holds the size needed); 2 when `buffer`
// is null and `size` now holds the size needed; -1 when the sub-key is missing
// or the settings cannot be read; -2 when the value is missing.
int RegReadValue(const char* subKey, const char* valueName, unsigned* type, void* buffer, unsigned* size);

// Store a text or a 32-bit number. Return 0; -1 when the settings cannot be
// written at all; -2 when storing the value failed.
int RegWriteString(const char* subKey, const char* valueName, const std::string& text);
int RegWriteDword(const char* subKey, const char* valueName, std::uint32_t value);

inline constexpr int kDefaultSmtpPort = 25;

// The mail settings of the "Option" sub-key. The password is not among them:
// it lives in the secret service (CMailPasswordStore), never in this file.
struct MailSettings {
    std::string smtpServer; // "SMTPServerAddress"
    std::string userEmail; // "UserEmailAddress"
    bool sendAfterSave = false; // "SendAfterSave", stored as 0xFFFFFFFF or 0
    int smtpPort = kDefaultSmtpPort; // "SMTPPort", a number 1..65535
    SmtpSecurity smtpSecurity = SmtpSecurity::None; // "SMTPSecurity": "None", "STARTTLS" or "TLS"
    std::string smtpUserName {}; // "SMTPUserName"; empty: no sign-in
};

// Shown and used while nothing (readable) is stored.
inline constexpr char kPlaceholderSmtpServer[] = "mail.example.com";
inline constexpr char kPlaceholderUserEmail[] = "user@example.com";

// Texts are read into 512-byte buffers: a stored text longer than 511 bytes
// counts as missing, like any value that cannot be read, and the placeholder
// (or "off") applies.
inline constexpr unsigned kSettingTextBuffer = 512;

MailSettings ReadMailSettings();

// Writes server, address and flag in this order, then port, security and
// user name, and stops at the first failure; true when all were written.
[[nodiscard]] bool WriteMailSettings(const MailSettings& settings);

// The format a save hides the message in. The save asks every time; the
// stored default ("SaveFormat" in the "Option" sub-key, the text "Sealed" or
// "Compatible") is what it offers first. Anything else, or nothing, reads as
// Compatible, so a fresh configuration saves as earlier versions did.
enum class SaveFormat { Compatible, Sealed };

SaveFormat ReadDefaultSaveFormat();
[[nodiscard]] bool WriteDefaultSaveFormat(SaveFormat format);
