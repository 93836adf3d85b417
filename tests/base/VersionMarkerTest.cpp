#include "base/VersionMarker.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A program file that embeds the given version text after the marker.
void WriteProgramFile(const std::filesystem::path& path, const std::string& versionText)
{
    WriteText(path,
        std::string("\x7f"
                    "ELF some code")
            + kFileVersionMarker + versionText + '\0' + "more data");
}

} // namespace

TEST(VersionMarker, ReadsTheTextAfterTheMarker)
{
    CTempFolder folder;
    WriteProgramFile(folder / "program", "1, 0, 0, 1");
    std::string text;
    std::string error;
    ASSERT_TRUE(ReadVersionText(folder / "program", text, error)) << error;
    EXPECT_EQ(text, "1, 0, 0, 1");

    // A bare marker (as code that searches for it holds) is passed over, and a
    // marker that straddles two reads is still found. The marked texts are put
    // together at run time, so this test program holds only its own version.
    const std::string marker = kFileVersionMarker;
    std::string contents(64 * 1024 - 7, 'a');
    contents += marker + '\0' + marker + "3, 2, 1, 0" + '\0';
    WriteText(folder / "straddled", std::string(64 * 1024 - 30, 'b') + marker + "3, 2, 1, 0" + '\0');
    WriteText(folder / "bare", contents);
    WriteText(folder / "binary", marker + "\x01\x02" + '\0' + marker + "3, 2, 1, 0" + '\0');
    for (const char* name : { "straddled", "bare", "binary" }) {
        ASSERT_TRUE(ReadVersionText(folder / name, text, error)) << name << ": " << error;
        EXPECT_EQ(text, "3, 2, 1, 0") << name;
    }
}

TEST(VersionMarker, RefusesFilesWithoutAReadableVersion)
{
    CTempFolder folder;
    WriteText(folder / "plain", "no marker in here");
    WriteProgramFile(folder / "longest", std::string(63, '9'));
    WriteProgramFile(folder / "overlong", std::string(64, '9'));
    WriteText(folder / "unterminated", kFileVersionMarker + std::string("1, 0, 0, 1"));
    std::string text;
    std::string error;
    EXPECT_TRUE(ReadVersionText(folder / "longest", text, error));
    for (const std::filesystem::path& path :
        { folder / "plain", folder / "overlong", folder / "unterminated", folder / "missing", folder.Path() }) {
        error.clear();
        EXPECT_FALSE(ReadVersionText(path, text, error)) << path;
        EXPECT_FALSE(error.empty()) << path;
    }
}
