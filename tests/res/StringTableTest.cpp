#include "res/StringTable.h"
#include "res/Log.h"

#include <gtest/gtest.h>

#include <string>

TEST(StringTable, LooksUpNumbersAndFormats)
{
    EXPECT_EQ(LoadResString(139), "Wrong password");
    EXPECT_EQ(LoadResString(120), "Convert RGB color model to YUV model.") << "120 continues on the same log line";
    EXPECT_EQ(LoadResString(121), "Level shifting.\r\n");
    EXPECT_EQ(LoadResString(9999), "");
    EXPECT_EQ(FormatText("%d/%s", 7, "x"), "7/x");
    EXPECT_EQ(FormatText("%s", std::string(3000, 'a').c_str()).size(), 1023u);
}

TEST(Log, WritesOnlyWithASinkAndSkipsUnknownNumbers)
{
    WriteLog(127); // no sink: nothing happens
    std::string log;
    {
        CScopedLogSink sink([&log](std::string_view text) { log += text; });
        WriteLog(120);
        WriteLog(121);
        WriteLog(9999);
    }
    WriteLog(127);
    EXPECT_EQ(log, "Convert RGB color model to YUV model.Level shifting.\r\n");
}
