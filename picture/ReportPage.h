#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The HTML pages a picture builds: the report page after a load and the result
// page after a save. Each comes from a template file whose %TOKENS% are
// replaced, or, when that file cannot be opened, from a built-in page.

// Reads the template whole, up to its first zero byte. False when the file
// cannot be opened or read; the caller then uses the built-in page.
bool ReadPageTemplate(const std::string& path, std::string& text);

// Replaces every occurrence of `token`, left to right, matched exactly.
void ReplaceToken(std::string& text, std::string_view token, std::string_view value);

struct BmpReportValues {
    std::string path;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int64_t colorCount = 0;
    int bitsPerPixel = 0;
    bool compressed = false;
    std::uint32_t dataSpace = 0;
    bool secret = false;
};

struct JpegReportValues {
    std::string path;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t dataSpace = 0;
    bool secret = false;
};

std::string BuildBmpReportPage(const std::string& templatePath, const BmpReportValues& values);
std::string BuildJpegReportPage(const std::string& templatePath, const JpegReportValues& values);
// The same for both kinds of picture: the saved picture under a banner.
std::string BuildResultPage(const std::string& templatePath, const std::string& savedPath);
