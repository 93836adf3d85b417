#pragma once

#include <QString>

#include <string_view>

// Program texts are UTF-8 bytes whose line breaks are CR LF pairs; widgets
// take a QString with plain line feeds.
inline QString ToUiText(std::string_view text)
{
    QString converted = QString::fromUtf8(text.data(), qsizetype(text.size()));
    converted.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return converted;
}
