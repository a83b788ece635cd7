#include "DiagnosticLog.h"
#include "LogCapture.h"
#include "ResourceStrings.h"
#include "RunScope.h"
#include "StatusSink.h"
#include "VellocsDiag.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <functional>

using namespace Tallis::ImageUpdate;
using namespace kvotest;

namespace {

class RecordingSink : public IStatusSink {
public:
    void SetStatusText(const wchar_t* text) override { lines.emplace_back(text); }
    std::vector<std::wstring> lines;
};

class FakeCollector : public CVellocsDiagComponent {
public:
    FakeCollector(UINT nameId, INT32 result) : CVellocsDiagComponent(nameId), m_result(result) {}
    INT32 Collect(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode) override
    {
        ++calls;
        seenFolder = outputFolder ? outputFolder : L"(null)";
        seenRoot = markerVolumeRoot ? markerVolumeRoot : L"(null)";
        seenMode = layerMode;
        if (write)
            write(outputFolder);
        return m_result;
    }
    std::function<void(const wchar_t* outputFolder)> write;
    int calls = 0;
    std::wstring seenFolder, seenRoot;
    INT32 seenMode = -1;

private:
    INT32 m_result;
};

const std::wstring kPrefix = L"Status: ";
const std::wstring kDone = L"Status: Vellocs diagnostic report generation complete";

} // namespace

class CollectionRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterStatusSink(&sink);
        holder.SetComponent(CVellocsDiag::kProductLogs, &logs);
        holder.SetComponent(CVellocsDiag::kMetadata, &metadata);
        holder.SetComponent(CVellocsDiag::kOsLogs, &osLogs);
    }
    void TearDown() override { RegisterStatusSink(nullptr); }
    void SelectAll() { logs.selected = metadata.selected = osLogs.selected = 1; }

    RecordingSink sink;
    FakeCollector logs{IDS_COLLECTING_LOGS, 1};
    FakeCollector metadata{IDS_COLLECTING_METADATA, 1};
    FakeCollector osLogs{IDS_COLLECTING_OS_LOGS, 7};
    CVellocsDiag holder;
    ScratchFolder folder{L"run"};
    std::wstring output = folder / L"VellocsDiag_1457359509";
};

TEST_F(CollectionRun, CallsSelectedCollectorsInHolderOrderAndStartsTheLogs)
{
    SelectAll();
    EXPECT_TRUE(holder.GenerateReport(output.c_str(), L"E:\\", 0));
    EXPECT_EQ(sink.lines, (std::vector<std::wstring>{kPrefix + L"Collecting Vellocs Logs",
                                                     kPrefix + L"Collecting Vellocs Metadata",
                                                     kPrefix + L"Collecting OS Logs", kDone}));
    for (FakeCollector* collector : {&logs, &metadata, &osLogs}) {
        EXPECT_EQ(collector->calls, 1);
        EXPECT_EQ(collector->seenFolder, output);
        EXPECT_EQ(collector->seenRoot, L"E:\\");
        EXPECT_EQ(collector->seenMode, 0);
    }
    EXPECT_TRUE(FolderExists(output));
    const std::string full = ReadFileBytes(output + L"\\KvoVellocsDiag.log");
    EXPECT_NE(full.find("Log initialized, Full log:" + Narrow(output) + "\\KvoVellocsDiag.log, Error log:" +
                        Narrow(output) + "\\KvoVellocsDiag.Errors.log"),
              std::string::npos)
        << full;
}

TEST_F(CollectionRun, OnlyTheOsLogCollectorSelected)
{
    osLogs.selected = 1;
    EXPECT_TRUE(holder.GenerateReport(output.c_str(), nullptr, 2));
    EXPECT_EQ(sink.lines, (std::vector<std::wstring>{kPrefix + L"Collecting OS Logs", kDone}));
    EXPECT_EQ(logs.calls + metadata.calls, 0);
    EXPECT_EQ(osLogs.seenRoot, L"(null)");
    EXPECT_EQ(osLogs.seenMode, 2);
}

TEST_F(CollectionRun, AfterAFailureLaterCollectorsAreAnnouncedButNotCalled)
{
    FakeCollector failing(IDS_COLLECTING_LOGS, 0);
    holder.SetComponent(CVellocsDiag::kProductLogs, &failing);
    failing.selected = 1;
    SelectAll();
    EXPECT_FALSE(holder.GenerateReport(output.c_str(), nullptr, 2));
    EXPECT_EQ(sink.lines.size(), 4u);
    EXPECT_EQ(sink.lines[1], kPrefix + L"Collecting Vellocs Metadata");
    EXPECT_EQ(sink.lines[2], kPrefix + L"Collecting OS Logs");
    EXPECT_EQ(sink.lines[3], kDone);
    EXPECT_EQ(failing.calls, 1);
    EXPECT_EQ(metadata.calls + osLogs.calls, 0);
}

TEST_F(CollectionRun, UnselectedAndUnavailableCollectorsGetNoStatusLine)
{
    SelectAll();
    metadata.selected = 0;
    osLogs.SetUnavailable();
    EXPECT_TRUE(holder.GenerateReport(output.c_str(), nullptr, 2));
    EXPECT_EQ(sink.lines, (std::vector<std::wstring>{kPrefix + L"Collecting Vellocs Logs", kDone}));
    EXPECT_EQ(metadata.calls + osLogs.calls, 0);
}

TEST_F(CollectionRun, NothingSelectedStillCreatesTheFolderAndLogs)
{
    EXPECT_TRUE(holder.GenerateReport(output.c_str(), nullptr, 2));
    EXPECT_EQ(sink.lines, std::vector<std::wstring>{kDone});
    EXPECT_TRUE(FileExists(output + L"\\KvoVellocsDiag.log"));
}

TEST_F(CollectionRun, DetailsTellEachCollectorsOutcomeOutputAndTheRunsErrors)
{
    SelectAll();
    logs.write = [](const wchar_t* output) {
        CreateDirectoryW((std::wstring(output) + L"\\VellocsLogs").c_str(), nullptr);
        WriteFileBytes(std::wstring(output) + L"\\VellocsLogs\\a.log", "12345");
        WriteFileBytes(std::wstring(output) + L"\\VellocsLogs\\b.log", "123");
        KVO_LOG(LOG_ERROR, L"CVellocsLogs", L"CopyFile %s failed, Error:%d", L"x.log", 32);
    };
    FakeCollector failing(IDS_COLLECTING_METADATA, 0);
    failing.selected = 1;
    holder.SetComponent(CVellocsDiag::kMetadata, &failing);
    RunRecord details;
    details.earlyWarnings.push_back(L"Not elevated: protected files may be missing");
    {
        RunScope scope(RunRequest{}, details, &sink);
        EXPECT_FALSE(holder.GenerateReport(output.c_str(), nullptr, 2, details));
    }

    using Outcome = CollectorRecord::Outcome;
    EXPECT_EQ(details.folderError, 0u);
    EXPECT_EQ(details.collectors[0].outcome, Outcome::Ok);
    EXPECT_EQ(details.collectors[0].files, 2u);
    EXPECT_EQ(details.collectors[0].bytes, 8u);
    EXPECT_EQ(details.collectors[1].outcome, Outcome::Failed);
    EXPECT_EQ(details.collectors[2].outcome, Outcome::Skipped);
    EXPECT_TRUE(details.AnyCollectorFailed());
    ASSERT_EQ(details.errorCount, 1u);
    ASSERT_EQ(details.errors.size(), 1u);
    EXPECT_EQ(details.errors[0].unit, L"CVellocsLogs");
    EXPECT_EQ(details.errors[0].text, L"CopyFile x.log failed, Error:32");
    EXPECT_GE(details.errors[0].utcTime.wYear, 2024);

    const std::string full = ReadFileBytes(output + L"\\KvoVellocsDiag.log");
    const size_t warning = full.find("[WARN ]");
    ASSERT_NE(warning, std::string::npos);
    EXPECT_NE(full.find("Not elevated: protected files may be missing", warning), std::string::npos);
    // Errors after the run are not the run's.
    KVO_LOG(LOG_ERROR, L"Later", L"not counted");
    EXPECT_EQ(details.errorCount, 1u);
}

TEST_F(CollectionRun, AnOutputFolderThatCannotBeCreatedStopsBeforeAnyCollector)
{
    SelectAll();
    // A file where the output folder's parent should be.
    WriteFileBytes(folder / L"blocked", "a file, not a folder");
    const std::wstring blocked = folder / L"blocked\\VellocsDiag_1";
    RunRecord details;
    EXPECT_FALSE(holder.GenerateReport(blocked.c_str(), nullptr, 2, details));
    EXPECT_NE(details.folderError, 0u);
    EXPECT_EQ(logs.calls + metadata.calls + osLogs.calls, 0);
    EXPECT_EQ(sink.lines, std::vector<std::wstring>{kDone});
    EXPECT_FALSE(details.AnyCollectorFailed());

    RunRecord none;
    EXPECT_FALSE(holder.GenerateReport(nullptr, nullptr, 2, none));
    EXPECT_EQ(none.folderError, DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(CollectionRun, AnExistingOutputFolderIsUsedWithoutAnErrorEntry)
{
    // A claimed folder deeper than 248 characters: creating it again would log error 183.
    std::wstring deep = folder.Path();
    while (deep.size() < 300) {
        deep += L"\\" + std::wstring(40, L'd');
        ASSERT_TRUE(CreateDirectoryW(LongForm(deep).c_str(), nullptr));
    }
    logs.selected = 1;
    RunRecord details;
    {
        RunScope scope(RunRequest{}, details, &sink);
        EXPECT_TRUE(holder.GenerateReport(deep.c_str(), nullptr, 2, details));
    }
    EXPECT_EQ(details.errorCount, 0u);
    EXPECT_EQ(logs.calls, 1);
}
