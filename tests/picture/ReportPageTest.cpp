#include "picture/ReportPage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

std::string TemporaryTemplate(const std::string& contents)
{
    const auto path = std::filesystem::temp_directory_path()
        / ("veilmark-template-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-"
            + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".htm");
    std::ofstream(path, std::ios::binary) << contents;
    return path.string();
}

TEST(ReportPage, BuiltInBitmapPageShowsPixelSizeInBitsOrBytes)
{
    struct Case {
        int bits;
        const char* row;
    };
    const Case cases[] = {
        { 1, "<td width=\"72%\">1 (1Pixel==1 Bit)</td>" },
        { 4, "<td width=\"72%\">4 (1Pixel==4 Bit)</td>" },
        { 8, "<td width=\"72%\">8 (1Pixel==1 Byte)</td>" },
        { 24, "<td width=\"72%\">24 (1Pixel==3 Byte)</td>" },
    };
    for (const Case& testCase : cases) {
        BmpReportValues values;
        values.path = "/tmp/a%d.bmp";
        values.width = 100;
        values.height = -50;
        values.colorCount = 1ll << testCase.bits;
        values.bitsPerPixel = testCase.bits;
        values.dataSpace = 3728;
        const std::string page = BuildBmpReportPage("/nonexistent/ltemplateBMP.htm", values);
        EXPECT_NE(page.find(testCase.row), std::string::npos) << testCase.bits;
        EXPECT_NE(page.find("<title>/tmp/a%d.bmp</title>"), std::string::npos);
        EXPECT_NE(page.find("<td width=\"72%\">100/-50</td>"), std::string::npos);
        EXPECT_NE(page.find("<td width=\"72%\">3728 byte</td>"), std::string::npos);
        EXPECT_NE(page.find("<td width=\"72%\">Normal BMP</td>"), std::string::npos);
        EXPECT_EQ(page.substr(0, 7), "<html>\n");
        EXPECT_EQ(page.substr(page.size() - 8), "\n</html>") << "no line feed after the last line";
    }
}

TEST(ReportPage, BuiltInJpegPageLeavesOutTheBitmapRows)
{
    const std::string page = BuildJpegReportPage("", { "/p/x.jpg", 640, 480, 1168, true });
    EXPECT_EQ(page.find("Number of color"), std::string::npos);
    EXPECT_EQ(page.find("Compressed?"), std::string::npos);
    EXPECT_NE(page.find("Bitmap Size (w/h in pixel)</td>\n<td width=\"72%\">640/480</td>"), std::string::npos);
    EXPECT_NE(page.find("1168 byte"), std::string::npos);
    EXPECT_NE(page.find("SECRET JPEG"), std::string::npos);
    EXPECT_NE(page.find("<font color=\"#FFFFFF\"\nface=\"Arial Black\">"), std::string::npos);
}

TEST(ReportPage, TemplatesReplaceEveryExactTokenOfTheirKind)
{
    const std::string path = TemporaryTemplate(
        "%IMGWIDTH% and %IMGWIDTH% %imgwidth% %SECRETJPG% %SECRETBMP% %NUMCOLOR% %COMPRESSED% %FILEPATH%\0tail");
    BmpReportValues values;
    values.path = "/pics/%BPP%.bmp";
    values.width = 17;
    values.colorCount = 256;
    values.bitsPerPixel = 8;
    values.compressed = true;
    values.secret = true;
    const std::string page = BuildBmpReportPage(path, values);
    // The path's own "%BPP%" is replaced too: tokens are replaced one after the other.
    EXPECT_EQ(page, "17 and 17 %imgwidth% %SECRETJPG% SECRET BMP 256 YES /pics/8.bmp");
    std::filesystem::remove(path);
}

TEST(ReportPage, ResultPageFromTemplateOrBuiltIn)
{
    const std::string path = TemporaryTemplate("<img src=\"%FILEPATH%\"> %FILEPATH%");
    EXPECT_EQ(BuildResultPage(path, "/o.bmp"), "<img src=\"/o.bmp\"> /o.bmp");
    std::filesystem::remove(path);
    const std::string builtIn = BuildResultPage(path, "/o.bmp");
    EXPECT_NE(builtIn.find("Veilmark ver0.1 - RESULT PICTURE"), std::string::npos);
    EXPECT_NE(builtIn.find("<p><img border=\"0\" src=\"/o.bmp\"></p>"), std::string::npos);
    const std::string empty = TemporaryTemplate("");
    EXPECT_EQ(BuildResultPage(empty, "/o.bmp"), "") << "an empty template yields an empty page";
    std::filesystem::remove(empty);
}

} // namespace
