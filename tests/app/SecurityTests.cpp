// The real program run unattended on a machine that other accounts share: what someone planted
// does not run, what the run makes is private, links are not followed, and a lock that someone
// else holds does not block it.
#include "AppDriver.h"
#include "QuietRunSupport.h"
#include "TestSupport.h"
#include "UniqueHandles.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <ctime>

using namespace kvoapp;
using kvotest::FileExists;
using kvotest::FolderExists;
using kvotest::ScratchFolder;
using kvotest::TempFolder;

namespace {

constexpr DWORD kRunMs = 300000;

std::wstring Quote(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

std::string LinuxSha256(const std::wstring& path)
{
    ScratchFolder scratch(L"sha");
    const std::wstring out = scratch / L"sum.txt";
    if (kvotest::RunUnixShell("sha256sum '" + kvotest::UnixPath(path) + "' > '" + kvotest::UnixPath(out) + "'") != 0)
        return {};
    return kvotest::ReadFileBytes(out).substr(0, 64);
}

class SecureRun : public ::testing::Test {
protected:
    void SetUp() override { kvotest::RemoveTree(Planted()); }
    void TearDown() override { kvotest::RemoveTree(Planted()); }

    static std::wstring Planted() { return TempFolder() + L"OSStats.bat"; }
    [[nodiscard]] std::string Log(const std::wstring& folder) const
    {
        return kvotest::ReadFileBytes(folder + L"\\KvoVellocsDiag.log");
    }

    ScratchFolder base{L"secure"};
};

TEST_F(SecureRun, APlantedScriptNeverRunsAndAGivenOneRunsAsACopy)
{
    const std::string planted = "@echo off\r\necho planted> \"%VELLOCS_OUTDIR%\\planted-ran.txt\"\r\nexit\r\n";
    kvotest::WriteFileBytes(Planted(), planted);
    const ProgramRun carried = RunProgram(L"/quiet /collect oslogs /out " + Quote(base / L"carried"), kRunMs);
    const std::wstring folder = FindOutputFolder(base / L"carried");
    ASSERT_FALSE(folder.empty()) << carried.output;
    EXPECT_FALSE(FileExists(folder + L"\\planted-ran.txt"));
    EXPECT_EQ(kvotest::ReadFileBytes(Planted()), planted);
    EXPECT_NE(Log(folder).find("OSStats.bat was not written by this tool and is not run"), std::string::npos);
    EXPECT_TRUE(FolderExists(folder + L"\\OSLogs\\RawEventLogs")) << "the carried script ran";
    nlohmann::json result;
    ASSERT_TRUE(ReadResultFile(folder, result));
    EXPECT_EQ(result["collectors"][2]["script"], "carried");

    const std::wstring given = base / L"my script.bat";
    kvotest::WriteFileBytes(given, "@echo off\r\necho given> \"%VELLOCS_OUTDIR%\\given-ran.txt\"\r\nexit\r\n");
    const ProgramRun copy =
        RunProgram(L"/quiet /collect oslogs /script " + Quote(given) + L" /out " + Quote(base / L"given"), kRunMs);
    EXPECT_EQ(copy.exitCode, 0u) << copy.output;
    const std::wstring second = FindOutputFolder(base / L"given");
    ASSERT_FALSE(second.empty()) << copy.output;
    EXPECT_TRUE(FileExists(second + L"\\given-ran.txt"));
    EXPECT_FALSE(FileExists(second + L"\\planted-ran.txt"));
    ASSERT_TRUE(ReadResultFile(second, result));
    EXPECT_EQ(result["collectors"][2]["script"]["path"], kvotest::Narrow(given));
    EXPECT_EQ(result["collectors"][2]["script"]["sha256"], LinuxSha256(given));
}

TEST_F(SecureRun, AScriptThatCannotBeReadIsAUsageErrorAndCreatesNothing)
{
    for (const std::wstring& bad : {base / L"missing.bat", base.Path()}) {
        const ProgramRun run = RunProgram(L"/quiet /script " + Quote(bad) + L" /out " + Quote(base / L"out"), 60000);
        EXPECT_EQ(run.exitCode, 2u) << run.output;
        EXPECT_NE(run.output.find("/script: \"" + kvotest::Narrow(bad) + "\" cannot be used as a script"),
                  std::string::npos)
            << run.output;
        EXPECT_FALSE(FolderExists(base / L"out"));
    }
}

// What the run leaves is readable by SYSTEM, Administrators and the running account only.
TEST_F(SecureRun, OutputAndArchiveArePrivateAndAPlantedTemporaryNameIsNotWrittenThrough)
{
    ScratchFolder elsewhere(L"secure-elsewhere");
    const std::wstring victim = elsewhere / L"victim.txt";
    kvotest::WriteFileBytes(victim, "must stay as it is");
    // The archive's temporary name follows from the clock: links for every second of the next minutes.
    const long long now = static_cast<long long>(std::time(nullptr));
    std::string links;
    for (long long second = now - 2; second < now + 240; ++second)
        links += "ln -s '" + kvotest::UnixPath(victim) + "' '" + kvotest::UnixPath(base.Path()) + "/VellocsDiag_" +
                 std::to_string(second) + ".zip.partial'; ";
    ASSERT_EQ(kvotest::RunUnixShell(links), 0);

    const ProgramRun run = RunProgram(L"/quiet /collect logs,metadata /zip /out " + Quote(base.Path()), kRunMs);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(kvotest::ReadFileBytes(victim), "must stay as it is");
    const std::wstring folder = FindOutputFolder(base.Path());
    ASSERT_FALSE(folder.empty()) << run.output;
    EXPECT_TRUE(kvotest::OthersHaveNoAccess(folder));
    EXPECT_TRUE(kvotest::OthersHaveNoAccess(folder + L".zip"));
    EXPECT_TRUE(ArchiveMatchesFolder(folder + L".zip", folder));
    (void)kvotest::RunUnixShell("rm -f '" + kvotest::UnixPath(base.Path()) + "'/*.zip.partial");
}

TEST_F(SecureRun, ABaseFolderThatIsALinkOrThatOthersMayChangeIsRefused)
{
    const std::wstring target = base / L"target";
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    const std::wstring link = base / L"link";
    ASSERT_EQ(kvotest::RunUnixShell("ln -s '" + kvotest::UnixPath(target) + "' '" + kvotest::UnixPath(link) + "'"),
              0);
    const ProgramRun linked = RunProgram(L"/quiet /collect metadata /out " + Quote(link), 60000);
    EXPECT_EQ(linked.exitCode, 4u) << linked.output;
    EXPECT_NE(linked.output.find(kvotest::Narrow(link) + " is a link to "), std::string::npos) << linked.output;
    EXPECT_TRUE(kvotest::ListTree(target).empty());
    kvotest::RemoveTree(link);

    // Under Wine, write for others reads back as an Everyone entry with write rights.
    ASSERT_EQ(kvotest::RunUnixShell("chmod 777 '" + kvotest::UnixPath(target) + "'"), 0);
    const ProgramRun shared = RunProgram(L"/quiet /collect metadata /out " + Quote(target), 60000);
    EXPECT_EQ(shared.exitCode, 4u) << shared.output;
    EXPECT_NE(shared.output.find("Everyone"), std::string::npos) << shared.output;
    EXPECT_TRUE(kvotest::ListTree(target).empty());

    // A base the tool makes itself is fine, and so is the desktop, which Wine links to $HOME/Desktop.
    const ProgramRun own = RunProgram(L"/quiet /collect metadata /out " + Quote(target + L"\\new base"), kRunMs);
    EXPECT_EQ(own.exitCode, 0u) << own.output;
    EXPECT_TRUE(kvotest::OthersHaveNoAccess(target + L"\\new base"));
    wchar_t desktop[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop), S_OK);
    ASSERT_NE(GetFileAttributesW(desktop) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    const std::vector<std::wstring> before = kvotest::ListTree(desktop);
    const ProgramRun onDesktop = RunProgram(L"/quiet /collect metadata", kRunMs);
    EXPECT_EQ(onDesktop.exitCode, 0u) << onDesktop.output;
    for (const std::wstring& entry : kvotest::ListTree(desktop)) {
        if (std::find(before.begin(), before.end(), entry) == before.end() && entry.find(L'\\') == entry.size() - 1)
            kvotest::RemoveTree(std::wstring(desktop) + L"\\" + entry.substr(0, entry.size() - 1));
    }
}

TEST_F(SecureRun, AProductLogRootThatIsALinkIsNotFollowed)
{
    const std::wstring logs = L"C:\\ProgramData\\Korvane\\Halvrun\\LOGS";
    const kvotest::MovedAside aside(logs);
    ASSERT_TRUE(aside.Moved());
    ScratchFolder profile(L"secure-profile");
    kvotest::WriteFileBytes(profile / L"secret.txt", "another profile's file");
    ASSERT_EQ(kvotest::RunUnixShell("ln -s '" + kvotest::UnixPath(profile.Path()) + "' '" + kvotest::UnixPath(logs) +
                                    "'"),
              0);
    const ProgramRun run = RunProgram(L"/quiet /collect logs /out " + Quote(base.Path()), kRunMs);
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    const std::wstring folder = FindOutputFolder(base.Path());
    ASSERT_FALSE(folder.empty()) << run.output;
    EXPECT_FALSE(FolderExists(folder + L"\\VellocsLogs\\ServiceLogs-DeliveryMode"));
    nlohmann::json result;
    ASSERT_TRUE(ReadResultFile(folder, result));
    bool named = false;
    for (const auto& error : result["errors"])
        named = named || error["text"].get<std::string>().find(kvotest::Narrow(logs) + " is a link to") !=
                             std::string::npos;
    EXPECT_TRUE(named) << result["errors"].dump();
}

// Profile names may hold characters that cmd's /k treats apart inside quotes (a child process of
// Wine takes TMP from its environment).
TEST_F(SecureRun, TheScriptRunsFromTemporaryFoldersWithCharactersCmdTreatsApart)
{
    for (const wchar_t* name : {L"John (Admin)", L"Smith&Co"}) {
        const std::wstring temp = base / (std::wstring(L"tmp\\") + name);
        ASSERT_EQ(SHCreateDirectoryExW(nullptr, temp.c_str(), nullptr), ERROR_SUCCESS);
        const std::wstring out = base / (std::wstring(L"out-") + name);
        AppProcess program;
        ASSERT_TRUE(program.Start(BuiltProgramPath(), L"TMP=" + temp + L"\nTEMP=" + temp,
                                  L"/quiet /collect oslogs /out " + Quote(out)));
        EXPECT_EQ(program.WaitForExit(kRunMs), 0u) << kvotest::Narrow(name);
        const std::wstring folder = FindOutputFolder(out);
        ASSERT_FALSE(folder.empty()) << kvotest::Narrow(name);
        for (const wchar_t* output : {L"EvtLog_App.xml", L"EvtLog_System.xml", L"EvtLog_Security.xml"})
            EXPECT_TRUE(FileExists(folder + L"\\OSLogs\\EventLogs\\" + output)) << kvotest::Narrow(name);
        EXPECT_TRUE(FolderExists(folder + L"\\OSLogs\\msinfo")) << kvotest::Narrow(name);
        EXPECT_TRUE(kvotest::ListTree(temp).empty()) << "the private folder is removed";
    }
}

// Any account may create a Global\ mutex: one of the old name held elsewhere must not block a run.
TEST_F(SecureRun, AnotherAccountsLockOfTheOldNameDoesNotBlockTheRun)
{
    Tallis::ImageUpdate::unique_handle squatter(CreateMutexW(nullptr, TRUE, L"Global\\KvoVellocsDiag.Collection"));
    ASSERT_TRUE(squatter.is_valid());
    const ProgramRun run = RunProgram(L"/quiet /collect metadata /out " + Quote(base.Path()), kRunMs);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    const std::wstring folder = FindOutputFolder(base.Path());
    ASSERT_FALSE(folder.empty()) << run.output;
    // Wine has no private namespaces: the run says that it took the session's lock instead.
    EXPECT_NE(Log(folder).find("The machine-wide collection lock is not available"), std::string::npos)
        << Log(folder);
}

} // namespace
