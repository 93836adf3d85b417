#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "res/StringTable.h"
#include "support/HttpTestServer.h"
#include "support/UpdateTestSupport.h"
#include "update/DownloadWorker.h"
#include "update/UpdateSession.h"

namespace {

std::string Text(unsigned id) { return LoadResString(id); }

std::string StatusLine(unsigned code) { return LoadResString(155 + code) + "  "; }

// Each piece must occur in the text after the one before it.
::testing::AssertionResult InOrder(const std::string& text, const std::vector<std::string>& pieces)
{
    std::size_t at = 0;
    for (const std::string& piece : pieces) {
        const std::size_t found = text.find(piece, at);
        if (found == std::string::npos)
            return ::testing::AssertionFailure() << "missing in order: \"" << piece << "\"\nin:\n" << text;
        at = found + piece.size();
    }
    return ::testing::AssertionSuccess();
}

std::set<std::string> FilesIn(const std::string& folder)
{
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
        names.insert(entry.path().filename().string());
    return names;
}

DownloadLimits TestLimits()
{
    DownloadLimits limits;
    limits.connectTime = std::chrono::seconds(5);
    limits.totalTime = std::chrono::seconds(20);
    limits.stallTime = std::chrono::seconds(1);
    return limits;
}

class UpdateDownloadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        for (const char* name : { "http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY" })
            ::unsetenv(name);
        s_site = std::make_unique<CTempFolder>();
        const std::string english = *s_site / "Patch/English/";
        WriteText(english + "NewerVersion.nfo", "1, 0, 0, 2\r\n");
        WriteText(english + "UpdateInfo.nfo", "1, 0, 0, 0 ; veilmark-1000.sh\r\n1, 0, 0, 1 ; veilmark-1001.sh\r\n");
        WriteText(english + "veilmark-1001.sh", PatchContents());
        const std::string missing = *s_site / "Patch/Missing/";
        WriteText(missing + "NewerVersion.nfo", "1, 0, 0, 2\r\n");
        WriteText(missing + "UpdateInfo.nfo", "1, 0, 0, 1 ; gone.sh\r\n");
        s_server = std::make_unique<CHttpTestServer>(s_site->Path());
        // The https server serves the same site, with a certificate only the
        // tests trust; its files live outside the site.
        s_keys = std::make_unique<CTempFolder>();
        s_certificate = *s_keys / "certificate.pem";
        if (MakeTestCertificate(s_certificate, *s_keys / "key.pem"))
            s_tlsServer = std::make_unique<CHttpTestServer>(s_site->Path(), s_certificate, *s_keys / "key.pem");
    }

    static void TearDownTestSuite()
    {
        s_tlsServer.reset();
        s_server.reset();
        s_keys.reset();
        s_site.reset();
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_server->IsRunning()) << s_server->StartError();
        ASSERT_TRUE(s_tlsServer) << "the openssl command could not make a test certificate";
        ASSERT_TRUE(s_tlsServer->IsRunning()) << s_tlsServer->StartError();
        WriteProgramFile(m_folder / "veilmark", "1, 0, 0, 1");
        m_session.SetProgramFilePath(m_folder / "veilmark");
        m_session.SetCacheFolder(CacheFolder());
        m_session.SetDownloadLimits(TestLimits(), TestLimits());
        m_session.SetTrustedCertificates(s_certificate);
    }

    static std::string PatchContents() { return "#!/bin/sh\nexit 0\n#" + std::string(300 * 1024, 'p') + "\n"; }

    std::string CacheFolder() const { return m_folder / "cache/"; }

    void Run(const std::string& serverPath) { RunAt(s_server->BaseUrl() + serverPath); }

    void RunAt(const std::string& serverAddress)
    {
        m_session.SetServerAddress(serverAddress);
        m_session.OnStartUpdate();
        ASSERT_TRUE(m_loop.RunUntilIdle(m_session));
    }

    DownloadRequest Request(const std::string& path, DownloadLimits limits = TestLimits())
    {
        return RequestAt(s_server->BaseUrl() + path, limits);
    }

    DownloadRequest RequestAt(const std::string& url, DownloadLimits limits = TestLimits())
    {
        DownloadRequest request;
        request.notify = &m_listener;
        request.cancelEvent = &m_cancelEvent;
        request.url = url;
        request.trustedCertificates = s_certificate;
        request.cacheFolder = CacheFolder();
        request.limits = limits;
        return request;
    }

    static inline std::unique_ptr<CTempFolder> s_site;
    static inline std::unique_ptr<CHttpTestServer> s_server;
    static inline std::unique_ptr<CTempFolder> s_keys;
    static inline std::string s_certificate;
    static inline std::unique_ptr<CHttpTestServer> s_tlsServer;

    CTempFolder m_folder;
    CRecordingView m_view;
    CTestMessageLoop m_loop;
    CUpdateSession m_session { m_view, m_loop };
    CRecordingListener m_listener;
    CCancelEvent m_cancelEvent;
};

TEST_F(UpdateDownloadTest, FullRunFindsDownloadsAndStartsThePatch)
{
    Run("/Patch/English");
    const std::string& log = m_view.log;
    EXPECT_TRUE(InOrder(log,
        { FormatResString(182, "1, 0, 0, 1"), Text(191), StatusLine(1), StatusLine(2), StatusLine(11), StatusLine(4),
            StatusLine(5), StatusLine(14), StatusLine(6), Text(191), Text(184), FormatResString(188, 1, 0, 0, 2),
            Text(189), Text(191), StatusLine(6), Text(191), Text(184), FormatResString(192, "veilmark-1001.sh"),
            Text(191), StatusLine(6), Text(191), Text(184) }));
    EXPECT_TRUE(log.rfind(Text(184)) + Text(184).size() == log.size()) << log;
    EXPECT_EQ(log.find(Text(185)), std::string::npos);
    EXPECT_EQ(m_view.bars[1], 100);
    EXPECT_EQ(m_view.bars[2], 100);
    EXPECT_EQ(m_view.bars[3], 100);

    ASSERT_EQ(m_view.startedPrograms.size(), 1u);
    const std::string patch = m_view.startedPrograms[0];
    EXPECT_EQ(patch, CacheFolder() + "veilmark-1001.sh");
    EXPECT_EQ(ReadText(patch), PatchContents());
    ASSERT_EQ(m_view.questions.size(), 1u);
    EXPECT_NE(m_view.questions[0].find(s_server->BaseUrl() + "/Patch/English/veilmark-1001.sh"), std::string::npos);
    EXPECT_EQ(m_view.endResult, 0);
    EXPECT_EQ(
        FilesIn(CacheFolder()), (std::set<std::string> { "NewerVersion.nfo", "UpdateInfo.nfo", "veilmark-1001.sh" }));
}

TEST_F(UpdateDownloadTest, MissingFilesFailTheirStage)
{
    Run("/Patch/Nowhere");
    EXPECT_TRUE(InOrder(m_view.log, { Text(191), StatusLine(1), Text(185), "404", Text(191) }));
    EXPECT_TRUE(m_view.log.ends_with(Text(191))) << m_view.log;
    EXPECT_TRUE(m_view.buttonsEnabled);
    EXPECT_TRUE(FilesIn(CacheFolder()).empty());

    m_view.log.clear();
    Run("/Patch/Missing");
    EXPECT_TRUE(InOrder(m_view.log, { FormatResString(192, "gone.sh"), Text(191), Text(185), "404", Text(191) }));
    EXPECT_TRUE(m_view.log.ends_with(Text(191))) << m_view.log;
    EXPECT_TRUE(m_view.startedPrograms.empty());
    EXPECT_FALSE(m_view.endResult);
    EXPECT_TRUE(m_view.buttonsEnabled);
}

TEST_F(UpdateDownloadTest, CancelDuringADownloadFailsIt)
{
    m_view.onLog = [&](const std::string& text) {
        if (text.starts_with(Text(160)))
            m_session.CancelDownload();
    };
    Run("/slow/400000/Patch");
    const std::string canceled = Text(181) + "\r\n";
    EXPECT_TRUE(InOrder(m_view.log, { StatusLine(5), canceled, Text(185), Text(191) }));
    EXPECT_EQ(m_view.log.find(canceled), m_view.log.rfind(canceled)) << m_view.log;
    EXPECT_TRUE(m_view.log.ends_with(Text(191)));
    EXPECT_TRUE(m_view.buttonsEnabled);
    EXPECT_TRUE(FilesIn(CacheFolder()).empty());
}

TEST_F(UpdateDownloadTest, CompressedAnswersAreSavedDecoded)
{
    Run("/encoded/gzip/Patch/English");
    EXPECT_NE(m_view.log.find(FormatResString(188, 1, 0, 0, 2)), std::string::npos) << m_view.log;
    ASSERT_EQ(m_view.startedPrograms.size(), 1u) << m_view.log;
    EXPECT_EQ(ReadText(m_view.startedPrograms[0]), PatchContents());

    struct Case {
        const char* path;
        std::string expected; // empty: the download must fail
    };
    const Case cases[] = {
        { "/encoded/deflate/Patch/English/UpdateInfo.nfo", ReadText(*s_site / "Patch/English/UpdateInfo.nfo") },
        { "/encoded/identity/Patch/English/NewerVersion.nfo", "1, 0, 0, 2\r\n" },
        // An encoding nobody asked for cannot be undone, so it is refused.
        { "/encoded/x-squeeze/Patch/English/NewerVersion.nfo", "" },
        // Decoded, it would exceed the limit of the server files.
        { "/encoded/gzip/zeros/1048577", "" },
    };
    for (const Case& test : cases) {
        DownloadRequest request = Request(test.path, DownloadLimits {});
        DownloadWorker(request);
        if (test.expected.empty()) {
            EXPECT_TRUE(request.cachePath.empty()) << test.path;
            EXPECT_FALSE(request.failureReason.empty()) << test.path;
        } else {
            EXPECT_EQ(ReadText(request.cachePath), test.expected) << test.path << ": " << request.failureReason;
        }
    }
}

TEST_F(UpdateDownloadTest, AServerThatStopsAnsweringIsGivenUp)
{
    DownloadRequest request = Request("/stall/200000");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(DownloadWorker(request), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
    EXPECT_TRUE(request.cachePath.empty());
    EXPECT_FALSE(request.failureReason.empty());
    EXPECT_TRUE(m_listener.done);
    EXPECT_TRUE(FilesIn(CacheFolder()).empty());
}

TEST_F(UpdateDownloadTest, ServerFilesOutsideTheSizeLimitsAreRefused)
{
    const DownloadLimits limits; // the limits of the version file and patch list
    ASSERT_EQ(limits.maxBytes, 1024u * 1024u);
    for (const char* path : { "/big/1048577", "/unsized/1048577", "/big/0" }) {
        DownloadRequest request = Request(path, limits);
        DownloadWorker(request);
        EXPECT_TRUE(request.cachePath.empty()) << path;
        EXPECT_FALSE(request.failureReason.empty()) << path;
    }
    EXPECT_TRUE(FilesIn(CacheFolder()).empty());
    for (const char* path : { "/big/1048576", "/unsized/1048576" }) {
        DownloadRequest request = Request(path, limits);
        DownloadWorker(request);
        EXPECT_EQ(ReadText(request.cachePath).size(), 1048576u) << path << ": " << request.failureReason;
    }
}

TEST_F(UpdateDownloadTest, RedirectsAndPhasesAreReportedInOrder)
{
    DownloadRequest request = Request("/redirect/Patch/English/NewerVersion.nfo");
    DownloadWorker(request);
    ASSERT_FALSE(request.cachePath.empty()) << request.failureReason;
    EXPECT_EQ(ReadText(request.cachePath), "1, 0, 0, 2\r\n");
    EXPECT_EQ(request.sourceUrl, s_server->BaseUrl() + "/Patch/English/NewerVersion.nfo");

    std::vector<std::uint32_t> codes;
    for (const auto& report : m_listener.reports) {
        ASSERT_TRUE(report.has_value());
        if (codes.empty() || codes.back() != report->statusCode)
            codes.push_back(report->statusCode);
    }
    const std::vector<std::uint32_t> expected { kStatusFindingResource, kStatusConnecting, kStatusSendingRequest,
        kStatusRedirecting, kStatusSendingRequest, kStatusMimeTypeAvailable, kStatusBeginDownloadData,
        kStatusDownloadingData, kStatusCacheFileNameAvailable, kStatusEndDownloadData };
    EXPECT_EQ(codes, expected);
    EXPECT_EQ(m_listener.reports[2]->statusText, request.url);
    EXPECT_EQ(m_listener.reports.back()->progress, m_listener.reports.back()->progressMax);
}

TEST_F(UpdateDownloadTest, RedirectsNeverLeaveHttps)
{
    const std::string http = s_server->BaseUrl();
    const std::string https = s_tlsServer->BaseUrl();
    const std::string file = "/Patch/English/NewerVersion.nfo";
    struct Case {
        std::string url;
        bool followed;
    };
    const Case cases[] = {
        { https + "/redirect" + file, true },
        { http + "/redirect/" + https + file, true },
        { https + "/redirect/" + http + file, false },
        { http + "/redirect/" + https + "/redirect/" + http + file, false },
    };
    for (const Case& test : cases) {
        DownloadRequest request = RequestAt(test.url);
        DownloadWorker(request);
        if (test.followed) {
            EXPECT_EQ(ReadText(request.cachePath), "1, 0, 0, 2\r\n") << test.url << ": " << request.failureReason;
            EXPECT_EQ(request.sourceUrl, https + file) << test.url;
        } else {
            EXPECT_TRUE(request.cachePath.empty()) << test.url;
            EXPECT_NE(request.failureReason.find(http + file), std::string::npos) << request.failureReason;
        }
    }
    EXPECT_TRUE(FilesIn(CacheFolder()) == std::set<std::string> { "NewerVersion.nfo" });
}

TEST_F(UpdateDownloadTest, TheQuestionSaysWhereThePatchCameFrom)
{
    const std::string patch = "/Patch/English/veilmark-1001.sh";
    struct Case {
        std::string serverAddress;
        std::string source;
        bool redirected;
    };
    const Case cases[] = {
        { s_tlsServer->BaseUrl() + "/Patch/English", s_tlsServer->BaseUrl() + patch, false },
        { s_server->BaseUrl() + "/Patch/English", s_server->BaseUrl() + patch, false },
        { s_server->BaseUrl() + "/redirect/Patch/English", s_server->BaseUrl() + patch, true },
    };
    for (const Case& test : cases) {
        m_view.questions.clear();
        m_view.startedPrograms.clear();
        RunAt(test.serverAddress);
        ASSERT_EQ(m_view.questions.size(), 1u) << m_view.log;
        const std::string& question = m_view.questions[0];
        EXPECT_TRUE(
            question.starts_with(FormatResString(195, test.source.c_str(), m_view.startedPrograms.at(0).c_str())))
            << question;
        const std::string redirectNote = FormatResString(201, (test.serverAddress + "/veilmark-1001.sh").c_str());
        EXPECT_EQ(question.find(redirectNote) != std::string::npos, test.redirected) << question;
        EXPECT_EQ(question.find(Text(202)) != std::string::npos, test.source.starts_with("http:")) << question;
        EXPECT_TRUE(question.ends_with(Text(203))) << question;
    }
}

} // namespace
