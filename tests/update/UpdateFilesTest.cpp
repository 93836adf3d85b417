#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/VersionMarker.h"
#include "res/Version.h"
#include "support/UpdateTestSupport.h"
#include "update/PatchList.h"
#include "update/UpdatePaths.h"
#include "update/VersionFile.h"

namespace {

TEST(UpdatePaths, JoinPathPutsExactlyOneSeparator)
{
    EXPECT_EQ(JoinPath("/opt/veilmark", "veilmark"), "/opt/veilmark/veilmark");
    EXPECT_EQ(JoinPath("/opt/veilmark/", "veilmark"), "/opt/veilmark/veilmark");
    EXPECT_EQ(JoinPath("/opt/veilmark", "/veilmark"), "/opt/veilmark/veilmark");
    EXPECT_EQ(JoinPath("/opt/veilmark/", "/veilmark"), "/opt/veilmark/veilmark");
}

TEST(UpdatePaths, OnlyHttpAndHttpsUrlsAreValid)
{
    for (const char* url : { "http://update.example.com/Patch/English/NewerVersion.nfo", "https://127.0.0.1:8080/a",
             "HTTP://update.example.com/" })
        EXPECT_TRUE(IsValidUrl(url)) << url;
    for (const char* url : { "", "ftp://update.example.com/a", "file:///etc/passwd", "update.example.com/Patch",
             "http://", "http://exa mple.com/a", "/NewerVersion.nfo" })
        EXPECT_FALSE(IsValidUrl(url)) << url;
}

TEST(UpdatePaths, RedirectsResolveAndMayNotLeaveHttps)
{
    struct Case {
        const char* from;
        const char* location;
        const char* to;
        bool downgrading;
    };
    const Case cases[] = {
        { "https://h/Patch/a.nfo", "/Other/a.nfo", "https://h/Other/a.nfo", false },
        { "https://h/Patch/a.nfo", "b.nfo", "https://h/Patch/b.nfo", false },
        { "https://h/Patch/a.nfo", "//mirror/a.nfo", "https://mirror/a.nfo", false },
        { "https://h/Patch/a.nfo", "https://mirror:8443/a.nfo", "https://mirror:8443/a.nfo", false },
        { "https://h/Patch/a.nfo", "http://h/Patch/a.nfo", "http://h/Patch/a.nfo", true },
        { "https://h/Patch/a.nfo", "HTTP://h/a.nfo", "http://h/a.nfo", true },
        { "https://h/Patch/a.nfo", "ftp://h/a.nfo", "ftp://h/a.nfo", true },
        { "http://h/Patch/a.nfo", "/Other/a.nfo", "http://h/Other/a.nfo", false },
        { "http://h/Patch/a.nfo", "//mirror/a.nfo", "http://mirror/a.nfo", false },
        { "http://h/Patch/a.nfo", "https://h/a.nfo", "https://h/a.nfo", false },
    };
    for (const Case& test : cases) {
        const std::string to = ResolveUrl(test.from, test.location);
        EXPECT_EQ(to, test.to) << test.from << " + " << test.location;
        EXPECT_EQ(IsDowngradingRedirect(test.from, to), test.downgrading) << test.from << " -> " << to;
    }
    // A target that cannot be made out is no https URL either.
    EXPECT_TRUE(IsDowngradingRedirect("https://h/a.nfo", ""));
    EXPECT_FALSE(IsDowngradingRedirect("http://h/a.nfo", ""));
}

TEST(UpdatePaths, CacheFileNameIsASafeLastSegment)
{
    EXPECT_EQ(CacheFileNameForUrl("http://h/Patch/English/NewerVersion.nfo"), "NewerVersion.nfo");
    EXPECT_EQ(CacheFileNameForUrl("http://h/Patch/English/patch%20one$.sh?x=1"), "patch_20one_.sh");
    EXPECT_EQ(CacheFileNameForUrl("http://h/Patch/English/.."), "download");
    EXPECT_EQ(CacheFileNameForUrl("http://h/"), "download");
    EXPECT_EQ(CacheFileNameForUrl("not a url"), "download");
}

TEST(UpdatePaths, CacheFolderFollowsXdgCacheHome)
{
    const char* savedCache = std::getenv("XDG_CACHE_HOME");
    const std::string saved = savedCache ? savedCache : "";
    ::setenv("XDG_CACHE_HOME", "/tmp/cache-home", 1);
    EXPECT_EQ(GetUpdateFolderPath(), "/tmp/cache-home/veilmark/");
    // A relative value is ignored, as the XDG base directory rules say.
    ::setenv("XDG_CACHE_HOME", "relative/cache", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(GetUpdateFolderPath(), "/home/someone/.cache/veilmark/");
    if (savedCache)
        ::setenv("XDG_CACHE_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CACHE_HOME");
}

TEST(VersionFile, ParsesFourNumbersLikeTheVersionFormat)
{
    struct Case {
        const char* text;
        std::optional<FileVersion> expected;
    };
    const Case cases[] = {
        { "1, 0, 0, 2", FileVersion { { 1, 0, 0, 2 } } },
        { "2,0,0,0\r\nrelease notes", FileVersion { { 2, 0, 0, 0 } } },
        { "  1,\t0,\n 3, -4 trailing", FileVersion { { 1, 0, 3, -4 } } },
        { "1 , 0, 0, 2", std::nullopt }, // the comma must follow the number directly
        { "1, 0, 0", std::nullopt },
        { "version 1, 0, 0, 2", std::nullopt },
        { "", std::nullopt },
        { "99999999999, 0, 0, 0", std::nullopt },
        { "2147483647, -2147483648, 0, 0", FileVersion { { 2147483647, -2147483647 - 1, 0, 0 } } },
    };
    for (const Case& test : cases)
        EXPECT_EQ(ParseFileVersion(test.text), test.expected) << test.text;
}

TEST(VersionFile, ComparesNumbersInOrder)
{
    const FileVersion installed { { 1, 0, 0, 1 } };
    EXPECT_GT((FileVersion { { 1, 0, 0, 2 } }), installed);
    EXPECT_GT((FileVersion { { 2, 0, 0, 0 } }), installed);
    EXPECT_LT((FileVersion { { 0, 9, 9, 9 } }), installed);
    EXPECT_LT((FileVersion { { 1, 0, 0, -1 } }), installed);
    EXPECT_EQ((FileVersion { { 1, 0, 0, 1 } }), installed);
}

TEST(VersionFile, TheTestProgramCarriesTheBuildVersion)
{
    std::string text;
    std::string error;
    ASSERT_TRUE(ReadVersionText(GetRunningProgramPath(), text, error)) << error;
    EXPECT_EQ(text, "1, 0, 0, 1");
}

TEST(PatchList, FindsTheFirstRecordOfTheInstalledVersion)
{
    const FileVersion installed { { 1, 0, 0, 1 } };
    struct Case {
        std::string list;
        bool readable;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        { "1, 0, 0, 0 ; patch-1000.sh\n1, 0, 0, 1 ; second.sh\n1,0,0,1;later.sh\n", true, "second.sh" },
        { "1,0,0,1;tight.sh", true, "tight.sh" },
        { "\xEF\xBB\xBF"
          "1, 0, 0, 1 ; after-mark.sh\r\n1, 0, 0, 1 ; later.sh\r\n",
            true, "after-mark.sh" },
        { "1, 0, 0, 0 ; a.sh 1, 0, 0, 1 ; same-line.sh", true, "same-line.sh" },
        { "garbage line\n1, 0, 0 ; short.sh\n1, 0, 0, 1 ; ../escape.sh\n1, 0, 0, 1 ; good.sh\n", true, "good.sh" },
        { "1, 0, 0, 1 ; " + std::string(256, 'n') + "\n1, 0, 0, 1 ; fits.sh", true, "fits.sh" },
        { "1, 0, 0, 0 ; old.sh\n2, 0, 0, 0 ; new.sh\n", true, std::nullopt },
        { "\xEF\xBB\xBF"
          "1, 0, 0, 0 ; old.sh\n",
            true, std::nullopt },
        // Nothing in these is a record: they are no patch list at all.
        { "1, 0, 0, 1 : wrong-separator.sh", false, std::nullopt },
        { "1, 0, 0, 1 ;", false, std::nullopt },
        { "1, 0, 0, 1 ; ../escape.sh", false, std::nullopt },
        { "", false, std::nullopt },
        { "\n\n   \n", false, std::nullopt },
        { "<html><head><title>404 Not Found</title></head>\n<body>1, 0, 0, 1</body></html>\n", false, std::nullopt },
        { std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\xff\x00\x01", 13), false, std::nullopt },
        { "\xEF\xBB\xBF", false, std::nullopt },
    };
    for (const Case& test : cases) {
        const PatchSearch search = FindPatchRecord(test.list, installed);
        EXPECT_EQ(search.readable, test.readable) << test.list;
        EXPECT_EQ(search.name, test.expected) << test.list;
    }
}

TEST(PatchList, PlainFileNames)
{
    for (const char* name : { "patch.sh", "Veilmark-1.0.0.2.run", "a" })
        EXPECT_TRUE(IsPlainFileName(name)) << name;
    for (const char* name : { "", ".", "..", "a/b", "a\\b", "a?b", "a#b", "a\tb" })
        EXPECT_FALSE(IsPlainFileName(name)) << name;
}

} // namespace
