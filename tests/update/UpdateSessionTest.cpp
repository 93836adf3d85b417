#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "res/StringTable.h"
#include "support/UpdateTestSupport.h"
#include "update/UpdateSession.h"

namespace {

constexpr char kServer[] = "http://update.example.com/Patch/English";

// Stands in for the download worker: "downloads" a URL by copying the
// contents kept for it into the cache folder, after sending scripted reports.
class CFakeServer {
public:
    std::map<std::string, std::string> files;
    std::vector<std::optional<DownloadProgress>> script { DownloadProgress { 10, 10, kStatusEndDownloadData, "" } };
    // Keeps reporting until the cancel event is raised.
    bool reportUntilCanceled = false;
    std::vector<std::string> requested;

    int Serve(DownloadRequest& request)
    {
        requested.push_back(request.url);
        for (const auto& report : script)
            request.notify->OnDownloadStatus(report ? &*report : nullptr);
        if (reportUntilCanceled) {
            const DownloadProgress tick { 1, 100, kStatusDownloadingData, "" };
            do
                request.notify->OnDownloadStatus(&tick);
            while (!request.cancelEvent->Test());
            request.notify->OnDownloadStatus(nullptr);
            request.failureReason = "canceled";
        } else if (const auto file = files.find(request.url); file != files.end()) {
            request.cachePath = request.cacheFolder + "copy-" + std::to_string(requested.size());
            WriteText(request.cachePath, file->second);
        } else {
            request.failureReason = "The requested URL returned error: 404";
        }
        request.notify->OnDownloadDone();
        return 0;
    }
};

// One update dialog without the dialog: the session, a view that records, a
// message loop and the fake server.
struct CHarness {
    CTempFolder folder;
    CFakeServer server;
    CRecordingView view;
    CTestMessageLoop loop;
    CUpdateSession session { view, loop };

    explicit CHarness(const std::string& serverAddress = kServer, const std::string& installed = "1, 0, 0, 1")
    {
        WriteProgramFile(folder / "veilmark", installed);
        session.SetProgramFilePath(folder / "veilmark");
        session.SetCacheFolder(folder / "cache/");
        session.SetServerAddress(serverAddress);
        session.SetWorkerFunction([this](DownloadRequest& request) { return server.Serve(request); });
    }

    void Run()
    {
        session.OnStartUpdate();
        ASSERT_TRUE(loop.RunUntilIdle(session));
    }
};

std::string Text(unsigned id) { return LoadResString(id); }

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(UpdateSession, ServerAddressGetsExactlyOneSlashBeforeTheFileName)
{
    for (const std::string& address : { std::string(kServer), std::string(kServer) + "/" }) {
        CHarness harness(address);
        harness.server.files[std::string(kServer) + "/NewerVersion.nfo"] = "1, 0, 0, 2";
        harness.server.files[std::string(kServer) + "/UpdateInfo.nfo"] = "0, 9, 9, 9 ; old.sh\n";
        harness.Run();
        const std::vector<std::string> expected { std::string(kServer) + "/NewerVersion.nfo",
            std::string(kServer) + "/UpdateInfo.nfo" };
        EXPECT_EQ(harness.server.requested, expected) << address;
        // A list without a record for the installed version ends the run.
        EXPECT_TRUE(EndsWith(harness.view.log, Text(193) + Text(190))) << harness.view.log;
    }
}

TEST(UpdateSession, OnlyANewerVersionStartsTheSecondStage)
{
    struct Case {
        const char* versionFile;
        bool newer;
        std::string latestLine;
    };
    const Case cases[] = {
        { "1, 0, 0, 2", true, FormatResString(188, 1, 0, 0, 2) },
        { "2, 0, 0, 0\r\n", true, FormatResString(188, 2, 0, 0, 0) },
        { "1, 0, 0, 1", false, FormatResString(188, 1, 0, 0, 1) },
        { "0, 9, 9, 9", false, FormatResString(188, 0, 9, 9, 9) },
        { "\xEF\xBB\xBF"
          "1, 0, 0, 2\r\n",
            true, FormatResString(188, 1, 0, 0, 2) },
    };
    for (const Case& test : cases) {
        CHarness harness;
        harness.server.files[std::string(kServer) + "/NewerVersion.nfo"] = test.versionFile;
        harness.Run();
        const std::string afterDownload = Text(184) + test.latestLine;
        EXPECT_NE(harness.view.log.find(afterDownload), std::string::npos) << harness.view.log;
        if (test.newer) {
            EXPECT_NE(harness.view.log.find(afterDownload + Text(189) + Text(191)), std::string::npos);
            EXPECT_EQ(harness.server.requested.size(), 2u);
        } else {
            EXPECT_TRUE(EndsWith(harness.view.log, afterDownload + Text(190))) << harness.view.log;
            EXPECT_EQ(harness.server.requested.size(), 1u);
        }
    }
}

TEST(UpdateSession, AServerFileThatIsNotOneEndsTheRunSayingSo)
{
    const std::string errorPage = "<!DOCTYPE html>\n<html><body><h1>Not Found</h1>1, 0, 0, 2</body></html>\n";
    const std::string junk("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\xcb\x48\xcd\xc9", 14);
    struct Case {
        std::string versionFile;
        std::string patchList;
        unsigned unreadableLine;
        std::size_t requests;
    };
    const Case cases[] = {
        { errorPage, "", 199, 1 },
        { junk, "", 199, 1 },
        { "\xFF\xFE" + std::string("1\0,\0 \0", 6), "", 199, 1 },
        { "1, 0, 0, 2", errorPage, 200, 2 },
        { "1, 0, 0, 2", junk, 200, 2 },
    };
    for (const Case& test : cases) {
        CHarness harness;
        harness.server.files[std::string(kServer) + "/NewerVersion.nfo"] = test.versionFile;
        harness.server.files[std::string(kServer) + "/UpdateInfo.nfo"] = test.patchList;
        harness.Run();
        // The run ends with the file's arrival and one line saying why it
        // cannot be read.
        const std::string& log = harness.view.log;
        const std::string tail = log.substr(log.rfind(Text(184)) + Text(184).size());
        const std::string unreadable = Text(test.unreadableLine);
        EXPECT_TRUE(tail.starts_with(unreadable.substr(0, unreadable.find("(")))) << log;
        EXPECT_TRUE(tail.ends_with(")\r\n") && tail.find("\r\n") == tail.size() - 2) << log;
        EXPECT_EQ(log.find(Text(190)), std::string::npos) << log;
        EXPECT_EQ(log.find(Text(193)), std::string::npos) << log;
        EXPECT_EQ(harness.server.requested.size(), test.requests) << log;
        EXPECT_TRUE(harness.view.buttonsEnabled);
    }

    CHarness harness;
    harness.server.files[std::string(kServer) + "/NewerVersion.nfo"] = "1, 0, 0, 2";
    harness.server.files[std::string(kServer) + "/UpdateInfo.nfo"] = "\xEF\xBB\xBF"
                                                                     "1, 0, 0, 1 ; marked.sh\r\n";
    harness.Run();
    EXPECT_NE(harness.view.log.find(FormatResString(192, "marked.sh")), std::string::npos) << harness.view.log;
    EXPECT_EQ(harness.server.requested.back(), std::string(kServer) + "/marked.sh");
}

TEST(UpdateSession, FullRunLogsEveryStepAndStartsThePatchAfterConfirmation)
{
    CHarness harness;
    harness.server.files[std::string(kServer) + "/NewerVersion.nfo"] = "1, 0, 0, 2";
    harness.server.files[std::string(kServer) + "/UpdateInfo.nfo"]
        = "1, 0, 0, 0 ; first.sh\n1, 0, 0, 1 ; second.sh\n1, 0, 0, 1 ; third.sh\n";
    harness.server.files[std::string(kServer) + "/second.sh"] = "#!/bin/sh\n";
    harness.Run();

    const std::string status = Text(161) + "  \r\n";
    const std::string expected = FormatResString(182, "1, 0, 0, 1") + Text(191) + status + Text(191) + Text(184)
        + FormatResString(188, 1, 0, 0, 2) + Text(189) + Text(191) + status + Text(191) + Text(184)
        + FormatResString(192, "second.sh") + Text(191) + status + Text(191) + Text(184);
    EXPECT_EQ(harness.view.log, expected);
    EXPECT_EQ(harness.server.requested.back(), std::string(kServer) + "/second.sh");
    EXPECT_EQ((std::array<int, 4> { 0, 100, 100, 100 }), harness.view.bars);

    ASSERT_EQ(harness.view.startedPrograms.size(), 1u);
    const std::string patch = harness.view.startedPrograms[0];
    ASSERT_EQ(harness.view.questions.size(), 1u);
    EXPECT_NE(harness.view.questions[0].find(std::string(kServer) + "/second.sh"), std::string::npos);
    EXPECT_NE(harness.view.questions[0].find(patch), std::string::npos);
    struct stat patchStatus { };
    ASSERT_EQ(::stat(patch.c_str(), &patchStatus), 0);
    EXPECT_TRUE(patchStatus.st_mode & S_IXUSR);
    EXPECT_EQ(harness.view.endResult, 0);
}

TEST(UpdateSession, ThePatchRunEndsCleanlyWhenItIsNotStarted)
{
    struct Case {
        const char* name;
        bool answer;
        bool startSucceeds;
        const char* contents;
        std::string lastLine;
    };
    const Case cases[] = {
        { "declined", false, true, "#!/bin/sh\n", Text(196) },
        { "start fails", true, false, "#!/bin/sh\n", FormatResString(197, "no such program") },
        { "empty file", true, true, "", "" },
    };
    for (const Case& test : cases) {
        CHarness harness;
        harness.server.files[std::string(kServer) + "/NewerVersion.nfo"] = "1, 0, 0, 2";
        harness.server.files[std::string(kServer) + "/UpdateInfo.nfo"] = "1, 0, 0, 1 ; patch.sh";
        harness.server.files[std::string(kServer) + "/patch.sh"] = test.contents;
        harness.view.answer = test.answer;
        harness.view.startSucceeds = test.startSucceeds;
        harness.Run();
        EXPECT_FALSE(harness.view.endResult) << test.name;
        EXPECT_TRUE(harness.view.buttonsEnabled) << test.name;
        if (!test.lastLine.empty())
            EXPECT_TRUE(EndsWith(harness.view.log, test.lastLine)) << test.name << "\n" << harness.view.log;
        else
            EXPECT_NE(harness.view.log.find("empty or not a regular file"), std::string::npos) << harness.view.log;
        EXPECT_EQ(harness.view.startedPrograms.size(), test.answer && test.contents[0] ? 1u : 0u);
    }
}

TEST(UpdateSession, StatusReportsAreLoggedAndMoveTheBarOfTheStage)
{
    CHarness harness;
    harness.server.script = { DownloadProgress { 0, 0, 0, "zero" }, DownloadProgress { 0, 0, 30, "thirty" },
        DownloadProgress { 50, 200, kStatusDownloadingData, "" },
        DownloadProgress { 7, 0, kStatusDownloadingData, "unknown size" }, std::nullopt };
    harness.Run();
    const std::string expected = FormatResString(182, "1, 0, 0, 1") + Text(191) + "???  zero\r\n" + "???  thirty\r\n"
        + "Downloading data...  \r\n" + "Downloading data...  unknown size\r\n"
        + "Receiving files has been Canceled.\r\n\r\n" + Text(185)
        + FormatResString(194, "The requested URL returned error: 404") + Text(191);
    EXPECT_EQ(harness.view.log, expected);
    EXPECT_EQ(harness.view.bars[1], 25);
    EXPECT_EQ(harness.view.bars[2], 0);
}

TEST(UpdateSession, RunsThatCannotStartLeaveTheButtonsEnabled)
{
    for (const char* address : { "", "ftp://update.example.com/Patch", "update.example.com/Patch" }) {
        CHarness harness(address);
        harness.Run();
        EXPECT_EQ(harness.view.errorMessages, std::vector<unsigned> { 186 }) << address;
        EXPECT_EQ(harness.view.log, FormatResString(182, "1, 0, 0, 1") + Text(191)) << address;
        EXPECT_TRUE(harness.server.requested.empty());
        EXPECT_TRUE(harness.view.buttonsEnabled);
    }
    for (const char* installed : { "", "one, zero" }) {
        CHarness harness(kServer, installed);
        harness.Run();
        EXPECT_EQ(harness.view.log, Text(183)) << installed;
        EXPECT_TRUE(harness.server.requested.empty());
    }
    CHarness harness;
    harness.session.SetProgramFilePath(harness.folder / "missing");
    harness.Run();
    EXPECT_EQ(harness.view.systemErrors.size(), 1u);
    EXPECT_EQ(harness.view.log, Text(183));
}

TEST(UpdateSession, AnAbandonedRunTakesNoFurtherStep)
{
    CHarness harness;
    harness.server.files[std::string(kServer) + "/NewerVersion.nfo"] = "1, 0, 0, 2";
    harness.server.reportUntilCanceled = true;
    harness.view.onLog = [&](const std::string& text) {
        if (text.rfind(Text(160), 0) == 0)
            harness.session.Abandon();
    };
    harness.Run();
    EXPECT_EQ(harness.server.requested.size(), 1u);
    EXPECT_TRUE(EndsWith(harness.view.log, Text(181) + "\r\n")) << harness.view.log;
    EXPECT_FALSE(harness.session.IsDownloading());
}

} // namespace
