#include "picture/ReportPage.h"

#include "base/FileIO.h"
#include <cstdio>

#include <algorithm>
#include <vector>

namespace {

// The banner spacer of the pages is a blank paragraph; a non-breaking space
// keeps it from collapsing.
constexpr const char* kBlankParagraph = "<p>&nbsp;</p>";

// The built-in load page. The rows marked kBitmapOnly are left out of the JPEG
// page. Percent signs that are part of the HTML are written "%%".
struct PageLine {
    const char* text;
    bool bitmapOnly;
};

constexpr PageLine kLoadPageLines[] = {
    { "<html>", false },
    { "<head>", false },
    { "<title>%s</title>", false },
    { "</head>", false },
    { "<body>", false },
    { kBlankParagraph, false },
    { "<table border=\"0\" width=\"100%%\" cellspacing=\"0\" cellpadding=\"0\">", false },
    { "<tr>", false },
    { "<td width=\"100%%\" bgcolor=\"#3399FF\"><b><font color=\"#FFFFFF\"><br>", false },
    { "&nbsp;<font face=\"Arial Black\" size=\"4\">Veilmark ver0.1<br>", false },
    { "</font></font></b></td>", false },
    { "</tr>", false },
    { "</table>", false },
    { "<p><b><font face=\"Arial Black\" color=\"#3399FF\">Loaded Picture</font></b></p>", false },
    { "<p><img border=\"0\" src=\"%s\"></p>", false },
    { "<table border=\"1\" width=\"100%%\" cellspacing=\"0\">", false },
    { "<tr>", false },
    { "<td width=\"100%%\" colspan=\"2\" bgcolor=\"#008080\"><font color=\"#FFFFFF\"", false },
    { "face=\"Arial Black\"><b>Picture Informaion</b></font></td>", false },
    { "</tr>", false },
    { "<tr>", false },
    { "<td width=\"28%%\">Bitmap Size (w/h in pixel)</td>", false },
    { "<td width=\"72%%\">%d/%d</td>", false },
    { "</tr>", false },
    { "<tr>", true },
    { "<td width=\"28%%\">Number of color</td>", true },
    { "<td width=\"72%%\">%lld</td>", true },
    { "</tr>", true },
    { "<tr>", true },
    { "<td width=\"28%%\">Bit per pixel</td>", true },
    { "<td width=\"72%%\">%d (1Pixel==%d %s)</td>", true },
    { "</tr>", true },
    { "<tr>", true },
    { "<td width=\"28%%\">Compressed?</td>", true },
    { "<td width=\"72%%\">%s</td>", true },
    { "</tr>", true },
    { "<tr>", false },
    { "<td width=\"28%%\">Available Data space</td>", false },
    { "<td width=\"72%%\">%u byte</td>", false },
    { "</tr>", false },
    { "<tr>", false },
    { "<td width=\"28%%\">Is this a Secret picture?</td>", false },
    { "<td width=\"72%%\">%s</td>", false },
    { "</tr>", false },
    { "</table>", false },
    { "</body>", false },
    { "</html>", false },
};

constexpr const char* kResultPageLines[] = {
    "<html>",
    "<head>",
    "<title>%s</title>",
    "</head>",
    "<body>",
    kBlankParagraph,
    "<table border=\"0\" width=\"100%%\" cellspacing=\"0\" cellpadding=\"0\">",
    "<tr>",
    "<td width=\"100%%\" bgcolor=\"#3399FF\"><b><font color=\"#FFFFFF\"><br>",
    "&nbsp;<font face=\"Arial Black\" size=\"4\">Veilmark ver0.1 - RESULT PICTURE<br>",
    "&nbsp;</font></font></b></td>",
    "</tr>",
    "</table>",
    "<p><img border=\"0\" src=\"%s\"></p>",
    "</body>",
    "</html>",
};

std::string JoinLines(bool bitmapPage)
{
    std::string format;
    for (const PageLine& line : kLoadPageLines) {
        if (line.bitmapOnly && !bitmapPage)
            continue;
        if (!format.empty())
            format += '\n';
        format += line.text;
    }
    return format;
}

// Formats without the 1024-byte cut of the string table: a page with a long
// path is longer than that.
template <typename... Arguments> std::string FormatPage(const std::string& format, Arguments... arguments)
{
    std::vector<char> buffer(format.size() + 256);
    for (;;) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        const int written = std::snprintf(buffer.data(), buffer.size(), format.c_str(), arguments...);
#pragma GCC diagnostic pop
        if (written < 0)
            return {};
        if (std::size_t(written) < buffer.size())
            return std::string(buffer.data(), std::size_t(written));
        buffer.resize(std::size_t(written) + 1);
    }
}

std::string Decimal(long long value) { return std::to_string(value); }

} // namespace

bool ReadPageTemplate(const std::string& path, std::string& text)
{
    if (path.empty())
        return false;
    std::vector<std::uint8_t> contents;
    std::string error;
    if (!ReadWholeFile(path, contents, error))
        return false;
    const auto end = std::find(contents.begin(), contents.end(), std::uint8_t(0));
    text.assign(contents.begin(), end);
    return true;
}

void ReplaceToken(std::string& text, std::string_view token, std::string_view value)
{
    if (token.empty())
        return;
    std::string result;
    std::size_t start = 0;
    for (std::size_t found; (found = text.find(token, start)) != std::string::npos; start = found + token.size()) {
        result.append(text, start, found - start);
        result.append(value);
    }
    if (start == 0)
        return;
    result.append(text, start, std::string::npos);
    text = std::move(result);
}

std::string BuildBmpReportPage(const std::string& templatePath, const BmpReportValues& values)
{
    const char* compressed = values.compressed ? "YES" : "NO";
    const char* secret = values.secret ? "SECRET BMP" : "Normal BMP";
    std::string page;
    if (ReadPageTemplate(templatePath, page)) {
        ReplaceToken(page, "%FILEPATH%", values.path);
        ReplaceToken(page, "%IMGWIDTH%", Decimal(values.width));
        ReplaceToken(page, "%IMGHEIGHT%", Decimal(values.height));
        ReplaceToken(page, "%NUMCOLOR%", Decimal(values.colorCount));
        ReplaceToken(page, "%BPP%", Decimal(values.bitsPerPixel));
        ReplaceToken(page, "%COMPRESSED%", compressed);
        ReplaceToken(page, "%DATASPACE%", Decimal(values.dataSpace));
        ReplaceToken(page, "%SECRETBMP%", secret);
        return page;
    }
    // A pixel is measured in bits below 8 bits per pixel, in whole bytes above.
    const bool inBits = values.bitsPerPixel < 8;
    const int pixelSize = inBits ? values.bitsPerPixel : values.bitsPerPixel / 8;
    return FormatPage(JoinLines(true), values.path.c_str(), values.path.c_str(), int(values.width), int(values.height),
        static_cast<long long>(values.colorCount), values.bitsPerPixel, pixelSize, inBits ? "Bit" : "Byte", compressed,
        unsigned(values.dataSpace), secret);
}

std::string BuildJpegReportPage(const std::string& templatePath, const JpegReportValues& values)
{
    const char* secret = values.secret ? "SECRET JPEG" : "Normal JPEG";
    std::string page;
    if (ReadPageTemplate(templatePath, page)) {
        ReplaceToken(page, "%FILEPATH%", values.path);
        ReplaceToken(page, "%IMGWIDTH%", Decimal(values.width));
        ReplaceToken(page, "%IMGHEIGHT%", Decimal(values.height));
        ReplaceToken(page, "%DATASPACE%", Decimal(values.dataSpace));
        ReplaceToken(page, "%SECRETJPG%", secret);
        return page;
    }
    return FormatPage(JoinLines(false), values.path.c_str(), values.path.c_str(), int(values.width), int(values.height),
        unsigned(values.dataSpace), secret);
}

std::string BuildResultPage(const std::string& templatePath, const std::string& savedPath)
{
    std::string page;
    if (ReadPageTemplate(templatePath, page)) {
        ReplaceToken(page, "%FILEPATH%", savedPath);
        return page;
    }
    std::string format;
    for (const char* line : kResultPageLines) {
        if (!format.empty())
            format += '\n';
        format += line;
    }
    return FormatPage(format, savedPath.c_str(), savedPath.c_str());
}
