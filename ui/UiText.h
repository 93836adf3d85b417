#pragma once

#include <QString>

#include <string>
#include <string_view>

// Program texts are UTF-8 bytes whose line breaks are CR LF pairs; widgets
// take a QString with plain line feeds.
inline QString ToUiText(std::string_view text)
{
    QString converted = QString::fromUtf8(text.data(), qsizetype(text.size()));
    converted.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return converted;
}

// A hidden message stores its line breaks as CR LF pairs, as the pictures'
// other readers expect. Text typed into the message box has line feeds only.
inline std::string MessageFromUiText(const QString& text)
{
    QString lines = text;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    lines.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return lines.toStdString();
}

// A revealed message may come from any writer: CR LF, a lone CR and a lone LF
// each end a line in the message box.
inline QString MessageToUiText(std::string_view bytes)
{
    QString lines = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return lines;
}
