// The program run unattended (/quiet) on the simulated layered-disk machine (driver mode): a full
// run with its result file and archive, a locked product log, an output folder that cannot be
// made, bad switches, and a second run while one is collecting.
#include "AppDriver.h"
#include "QuietRunSupport.h"
#include "TestSupport.h"
#include "UniqueHandles.h"

#include <gtest/gtest.h>
#include <shlobj.h>

using namespace kvoapp;
using kvotest::FileExists;
using kvotest::FolderExists;
using kvotest::ScratchFolder;

namespace {

constexpr DWORD kRunMs = 300000;

std::wstring TempScriptPath()
{
    return kvotest::TempFolder() + L"OSStats.bat";
}

std::wstring DesktopPath()
{
    wchar_t folder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, folder);
    return folder;
}

std::wstring Quote(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

class QuietRun : public ::testing::Test {
protected:
    void SetUp() override { kvotest::RemoveTree(TempScriptPath()); }
    void TearDown() override { kvotest::RemoveTree(TempScriptPath()); }

    ScratchFolder base{L"quiet"};
};

TEST_F(QuietRun, FullRunLeavesAVerifiableResultFileAndArchive)
{
    const ProgramRun run = RunProgram(L"/QUIET -zip /out " + Quote(base.Path()), kRunMs);
    const std::wstring folder = FindOutputFolder(base.Path());
    ASSERT_FALSE(folder.empty()) << run.output;
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    // Redirected output gets the status lines and the closing summary.
    const std::vector<std::string> expectedLines = {
        "Status: Collecting Vellocs Logs", "Status: Collecting OS Logs", "Output folder: " + kvotest::Narrow(folder),
        "Outcome: ok (exit code 0)", "Archive: " + kvotest::Narrow(folder) + ".zip"};
    for (const std::string& line : expectedLines)
        EXPECT_NE(run.output.find(line), std::string::npos) << line << " in:\n" << run.output;

    for (const wchar_t* entry : {L"KvoVellocsDiag.log", L"VellocsLogs\\VantfsLogFile.log"})
        EXPECT_TRUE(FileExists(folder + L"\\" + entry)) << kvotest::Narrow(entry);
    for (const wchar_t* entry : {L"VellocsLogs\\ServiceLogs-DeliveryMode", L"VellocsMetadata", L"OSLogs"})
        EXPECT_TRUE(FolderExists(folder + L"\\" + entry)) << kvotest::Narrow(entry);

    nlohmann::json result;
    ASSERT_TRUE(ReadResultFile(folder, result));
    EXPECT_EQ(result["schema"], 1);
    EXPECT_EQ(result["tool"]["name"], "KvoVellocsDiag");
    EXPECT_NE(result["tool"]["commandLine"].get<std::string>().find("/QUIET"), std::string::npos);
    EXPECT_EQ(result["product"]["layerMode"], 2);
    EXPECT_TRUE(result["product"]["markerVolume"].is_null());
    EXPECT_EQ(result["run"]["outcome"], "ok");
    EXPECT_EQ(result["run"]["outputFolder"], kvotest::Narrow(folder));
    const std::string started = result["run"]["started"];
    EXPECT_EQ(started.size(), 20u);
    EXPECT_EQ(started.back(), 'Z');
    ASSERT_EQ(result["collectors"].size(), 3u);
    const char* names[] = {"VellocsLogs", "VellocsMetadata", "OSLogs"};
    for (size_t index = 0; index < 3; ++index) {
        const auto& collector = result["collectors"][index];
        EXPECT_EQ(collector["name"], names[index]);
        EXPECT_EQ(collector["outcome"], "ok") << names[index];
        EXPECT_TRUE(collector["selected"].get<bool>());
    }
    EXPECT_GT(result["collectors"][0]["files"].get<int>(), 3);
    EXPECT_TRUE(result["errors"].empty()) << result["errors"].dump();
    EXPECT_TRUE(FilesMatchFolder(result, folder));
    EXPECT_TRUE(ArchiveMatchesFolder(folder + L".zip", folder));
    EXPECT_FALSE(FileExists(folder + L".zip.partial"));
}

TEST_F(QuietRun, ALockedProductLogIsCountedAndEverythingElseCollected)
{
    const std::wstring logs = L"C:\\ProgramData\\Korvane\\Halvrun\\LOGS";
    const std::wstring locked = logs + L"\\HalvrunService.log";
    Tallis::ImageUpdate::unique_hfile holder(CreateFileW(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.is_valid());

    const ProgramRun run = RunProgram(L"/quiet /collect logs /out " + Quote(base.Path()), kRunMs);
    holder.reset();
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    const std::wstring folder = FindOutputFolder(base.Path());
    ASSERT_FALSE(folder.empty());
    const std::wstring copied = folder + L"\\VellocsLogs\\ServiceLogs-DeliveryMode";
    EXPECT_FALSE(FileExists(copied + L"\\HalvrunService.log"));
    EXPECT_TRUE(FileExists(copied + L"\\HalvrunService.1.log"));
    EXPECT_TRUE(FolderExists(copied + L"\\Updates"));

    nlohmann::json result;
    ASSERT_TRUE(ReadResultFile(folder, result));
    EXPECT_EQ(result["run"]["outcome"], "completed-with-errors");
    // The collector itself succeeded: an item it could not copy is the run's error, not its failure.
    EXPECT_EQ(result["collectors"][0]["outcome"], "ok");
    EXPECT_EQ(result["collectors"][1]["outcome"], "not-selected");
    EXPECT_EQ(result["collectors"][2]["outcome"], "not-selected");
    bool named = false;
    for (const auto& error : result["errors"]) {
        const std::string text = error["text"];
        named = named || (text.find("HalvrunService.log") != std::string::npos &&
                          text.find("Error:32") != std::string::npos);
    }
    EXPECT_TRUE(named) << result["errors"].dump();
    EXPECT_TRUE(FilesMatchFolder(result, folder));
}

TEST_F(QuietRun, AnOutputFolderThatCannotBeMadeExitsFourAndLeavesNothing)
{
    kvotest::WriteFileBytes(base / L"blocker", "a file where a folder should be");
    const std::vector<std::wstring> desktopBefore = kvotest::ListTree(DesktopPath());
    const ProgramRun run = RunProgram(L"/quiet /out " + Quote(base / L"blocker\\below"), kRunMs);
    EXPECT_EQ(run.exitCode, 4u) << run.output;
    EXPECT_NE(run.output.find("could not be created"), std::string::npos) << run.output;
    EXPECT_EQ(kvotest::ListTree(base.Path()), std::vector<std::wstring>{L"blocker"});
    EXPECT_EQ(kvotest::ListTree(DesktopPath()), desktopBefore);
}

TEST_F(QuietRun, BadSwitchesExitTwoNamingTheProblemAndCreateNothing)
{
    const std::pair<std::wstring, std::string> cases[] = {
        {L"/quiet /bogus", "\"/bogus\""},
        {L"/quiet /collect logs,disks", "\"disks\""},
        {L"/quiet /timeout 0", "1 to 1440"},
        {L"/quiet /timeout 1441", "1 to 1440"},
        {L"/quiet /timeout 5m", "1 to 1440"},
        {L"/quiet stray", "\"stray\""},
        {L"/quiet /out", "/out needs a value"},
    };
    for (const auto& [arguments, named] : cases) {
        const ProgramRun run = RunProgram(arguments + (arguments.ends_with(L"/out") ? L"" : L" /out " + Quote(base.Path())));
        EXPECT_EQ(run.exitCode, 2u) << kvotest::Narrow(arguments);
        EXPECT_NE(run.output.find(named), std::string::npos) << kvotest::Narrow(arguments) << ": " << run.output;
    }
    EXPECT_TRUE(kvotest::ListTree(base.Path()).empty());

    // Without /quiet the usage text is a box (see the program tests); quiet, it goes to the console.
    const ProgramRun help = RunProgram(L"/QUIET -HELP");
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_NE(help.output.find("/collect <list>"), std::string::npos) << help.output;
    EXPECT_NE(help.output.find("5  another collection is already running"), std::string::npos) << help.output;
}

TEST_F(QuietRun, ASecondRunWhileOneCollectsExitsFive)
{
    // A script that takes some seconds keeps the first run collecting.
    ScratchFolder firstBase{L"quiet-first"};
    const std::wstring slow = firstBase / L"slow.bat";
    kvotest::WriteFileBytes(slow, "@echo off\r\nping -n 8 127.0.0.1 >nul\r\nexit\r\n");
    AppProcess first;
    ASSERT_TRUE(first.Start(BuiltProgramPath(), {},
                            L"/quiet /collect oslogs /script " + Quote(slow) + L" /out " + Quote(firstBase / L"out")));
    // Its output folder is claimed while it holds the lock.
    for (int i = 0; i < 300 && FindOutputFolder(firstBase / L"out").empty(); ++i)
        Sleep(100);
    ASSERT_FALSE(FindOutputFolder(firstBase / L"out").empty());

    const ProgramRun second = RunProgram(L"/quiet /out " + Quote(base.Path()), 60000);
    EXPECT_EQ(second.exitCode, 5u) << second.output;
    EXPECT_NE(second.output.find("already running"), std::string::npos) << second.output;
    EXPECT_TRUE(kvotest::ListTree(base.Path()).empty());
    EXPECT_EQ(first.WaitForExit(kRunMs), 0u);

    // Once the first has ended, the next run may collect.
    const ProgramRun third = RunProgram(L"/quiet /collect metadata /out " + Quote(base.Path()), kRunMs);
    EXPECT_EQ(third.exitCode, 0u) << third.output;
}

// The OS log step on current Windows, without wmic: wevtutil exports the events and the run is ok.
TEST_F(QuietRun, WithoutWmicTheEventsAreExportedAndTheRunIsOk)
{
    const kvotest::MovedAside wmic(L"C:\\Windows\\system32\\wbem\\wmic.exe");
    ASSERT_TRUE(wmic.Moved());
    const ProgramRun run = RunProgram(L"/quiet /collect oslogs /out " + Quote(base.Path()), kRunMs);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    const std::wstring folder = FindOutputFolder(base.Path());
    ASSERT_FALSE(folder.empty()) << run.output;
    nlohmann::json result;
    ASSERT_TRUE(ReadResultFile(folder, result));
    const auto& outputs = result["collectors"][2]["outputs"];
    ASSERT_EQ(outputs.size(), 8u) << result["collectors"][2].dump();
    for (const auto& output : outputs)
        EXPECT_EQ(output["outcome"], "ok") << output.dump();
    EXPECT_EQ(outputs[3]["name"], "events-application");
    EXPECT_EQ(outputs[3]["method"], "wevtutil");
    EXPECT_EQ(outputs[3]["path"], "OSLogs\\EventLogs\\EvtLog_App.evtx");
    EXPECT_EQ(outputs[3]["files"], 2);
    EXPECT_EQ(outputs[2]["name"], "raw-event-logs");
    EXPECT_EQ(outputs[2]["sourceFiles"], outputs[2]["copiedFiles"]);
    EXPECT_TRUE(FileExists(folder + L"\\OSLogs\\EventLogs\\LocaleMetaData\\EvtLog_Security_1033.MTA"));
    EXPECT_TRUE(FilesMatchFolder(result, folder));
}

// Where neither wmic nor wevtutil delivers, the run says so: three items not collected.
TEST_F(QuietRun, EventLogsThatNoToolDeliversMakeTheRunCompleteWithErrors)
{
    const kvotest::StandInSetting failingWmic(L"KVO_WMIC", L"empty");
    const kvotest::StandInSetting failingWevtutil(L"KVO_WEVTUTIL", L"empty");
    AppProcess program;
    const std::wstring output = base / L"console.txt";
    ASSERT_TRUE(program.Start(BuiltProgramPath(), {}, L"/quiet /collect oslogs /out " + Quote(base / L"out"), output));
    EXPECT_EQ(program.WaitForExit(kRunMs), 1u) << kvotest::ReadFileBytes(output);
    EXPECT_NE(kvotest::ReadFileBytes(output).find("3 error entries"), std::string::npos)
        << kvotest::ReadFileBytes(output);
    const std::wstring folder = FindOutputFolder(base / L"out");
    nlohmann::json result;
    ASSERT_TRUE(ReadResultFile(folder, result));
    EXPECT_EQ(result["run"]["outcome"], "completed-with-errors");
    EXPECT_EQ(result["collectors"][2]["outcome"], "ok");
    for (size_t index = 3; index < 6; ++index) {
        const auto& events = result["collectors"][2]["outputs"][index];
        EXPECT_EQ(events["outcome"], "missing") << events.dump();
        EXPECT_EQ(events["method"], "wevtutil");
        EXPECT_TRUE(events["reason"].is_string());
    }
    EXPECT_EQ(result["errors"].size(), 3u) << result["errors"].dump();
}

} // namespace
