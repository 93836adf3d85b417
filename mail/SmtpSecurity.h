#pragma once

#include <optional>
#include <string_view>

// How the connection to the mail server is protected.
enum class SmtpSecurity {
    None, // plain SMTP, as on port 25 between servers
    StartTls, // plain at first, then TLS after STARTTLS (RFC 3207), usually port 587
    Tls, // TLS from the first byte (RFC 8314 3.3), usually port 465
};

// The names shown in the option dialog and kept in the settings.
constexpr std::string_view SmtpSecurityName(SmtpSecurity security)
{
    switch (security) {
    case SmtpSecurity::StartTls:
        return "STARTTLS";
    case SmtpSecurity::Tls:
        return "TLS";
    case SmtpSecurity::None:
        break;
    }
    return "None";
}

constexpr std::optional<SmtpSecurity> SmtpSecurityFromName(std::string_view name)
{
    for (const SmtpSecurity security : { SmtpSecurity::None, SmtpSecurity::StartTls, SmtpSecurity::Tls }) {
        if (SmtpSecurityName(security) == name)
            return security;
    }
    return std::nullopt;
}
