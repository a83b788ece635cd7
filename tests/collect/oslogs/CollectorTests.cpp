// The collector end to end: temporary folder, private folder, script file, desktop, environment,
// process, wait and clean-up.
#include "CollectTestSeams.h"
#include "DiagnosticLog.h"
#include "OsLogsTestSupport.h"
#include "PrivateSecurity.h"
#include "SupportTestSeams.h"
#include "SystemDirectory.h"
#include "TestSupport.h"
#include "UniqueHandles.h"
#include "WindowsOSLogs.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <chrono>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

using namespace oslogtest;

namespace {

const wchar_t* const kAppLog = L"C:\\Windows\\INF\\Setupapi.app.log";
const wchar_t* const kDevLog = L"C:\\Windows\\INF\\Setupapi.dev.log";
const wchar_t* const kEvtx = L"C:\\Windows\\system32\\winevt\\logs\\kvotest-collect.evtx";

SYSTEMTIME LocalAt(WORD year, WORD month, WORD day, WORD hour, WORD minute)
{
    SYSTEMTIME time{};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    return time;
}

SYSTEMTIME LeapFebruary15()
{
    return LocalAt(2024, 2, 15, 9, 0);
}

SYSTEMTIME CommonMarch10()
{
    return LocalAt(2023, 3, 10, 0, 5);
}

// Writes "%0 %*" of its own start and its current folder, so the command line that reached the
// script and the folder it ran in can be checked.
const char* const kEchoArgumentsScript = "@echo off\r\n"
                                         "echo %0 %*> \"%VELLOCS_OUTDIR%\\args.txt\"\r\n"
                                         "echo %CD%> \"%VELLOCS_OUTDIR%\\where.txt\"\r\n"
                                         "exit\r\n";

ScriptFile GivenScript(const std::string& bytes)
{
    ScriptFile script;
    script.path = L"C:\\given\\script.bat";
    script.bytes = bytes;
    script.sha256 = L"not checked here";
    return script;
}

// What the step asked of CreateDesktopW: the names, and the DACL of each as SDDL.
std::vector<std::wstring> g_desktopNames;
std::vector<std::wstring> g_desktopDacls;

HDESK RecordingCreateDesktop(const wchar_t* name, ACCESS_MASK access, SECURITY_ATTRIBUTES* security)
{
    g_desktopNames.push_back(name);
    wchar_t* sddl = nullptr;
    if (security && ConvertSecurityDescriptorToStringSecurityDescriptorW(
                        security->lpSecurityDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
        const Tallis::ImageUpdate::unique_hlocal owner(sddl);
        g_desktopDacls.push_back(sddl);
    } else {
        g_desktopDacls.push_back(L"(none)");
    }
    return CreateDesktopW(name, nullptr, nullptr, 0, access, security);
}

HDESK FailingCreateDesktop(const wchar_t*, ACCESS_MASK, SECURITY_ATTRIBUTES*)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

// "NAME=value" lines of cmd's "set", by upper-case name.
std::map<std::wstring, std::wstring> ParseSet(const std::string& text)
{
    std::map<std::wstring, std::wstring> variables;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals != std::string::npos && equals > 0) {
            std::wstring name = kvotest::Widen(line.substr(0, equals));
            CharUpperBuffW(name.data(), DWORD(name.size()));
            variables[name] = kvotest::Widen(line.substr(equals + 1));
        }
        start = end + 2;
    }
    return variables;
}

// Wine adds these to every environment block it starts a process with; its cmd sets PROMPT.
bool AddedByWine(const std::wstring& name)
{
    return name == L"SYSTEMDRIVE" || name == L"PROMPT" || name.rfind(L"WINE", 0) == 0;
}

class OsLogCollector : public ::testing::Test {
protected:
    OsLogCollector()
        : m_scratch(L"oslogs-collect"), m_temp(m_scratch / L"temp dir"), m_out(m_scratch / L"out"),
          m_tmp(L"TMP", m_temp), m_tempVar(L"TEMP", m_temp), m_outdir(L"VELLOCS_OUTDIR", m_out),
          m_app(kAppLog, "app log seeded by the collector test\r\n"),
          m_dev(kDevLog, "dev log seeded by the collector test\r\n"), m_evtx(kEvtx, std::string("ElfFile\0c", 9))
    {
        CreateDirectoryW(m_temp.c_str(), nullptr);
        CreateDirectoryW(m_out.c_str(), nullptr);
    }

    void SetUp() override
    {
        Tallis::ImageUpdate::InitializeLog((m_scratch / L"tool.log").c_str(),
                                           (m_scratch / L"tool.errors.log").c_str());
    }

    void TearDown() override
    {
        SetLocalTimeForTest(nullptr);
        SetDesktopCreateForTest(nullptr);
        Tallis::ImageUpdate::SetSystemDirectoryForTest(nullptr);
    }

    [[nodiscard]] std::wstring Planted() const { return m_temp + L"\\OSStats.bat"; }
    [[nodiscard]] std::string FullLog() const { return kvotest::ReadFileBytes(m_scratch / L"tool.log"); }
    [[nodiscard]] std::string ErrorLog() const { return kvotest::ReadFileBytes(m_scratch / L"tool.errors.log"); }
    [[nodiscard]] std::string Out(const wchar_t* name) const { return kvotest::ReadFileBytes(m_out + L"\\" + name); }

    // A collector prepared as a run with this script (the carried one by default) and m_timeoutMs.
    INT32 Collect(const ScriptFile& script = {})
    {
        RunRequest request;
        request.script = script;
        request.scriptTimeoutMs = m_timeoutMs;
        CWindowsOSLogs collector;
        collector.Prepare(request);
        return collector.Collect(L"C:\\ignored", nullptr, 0);
    }

    // The script's private folder, as the script saw its current folder: "<temp>\KvoVellocsDiag-<32 hex>".
    [[nodiscard]] ::testing::AssertionResult IsPrivateFolderName(const std::string& folder) const
    {
        const std::string prefix = kvotest::Narrow(m_temp) + "\\KvoVellocsDiag-";
        if (folder.rfind(prefix, 0) != 0 || !std::regex_match(folder.substr(prefix.size()), std::regex("[0-9a-f]{32}")))
            return ::testing::AssertionFailure() << "not a private folder of " << kvotest::Narrow(m_temp) << ": "
                                                 << folder;
        return ::testing::AssertionSuccess();
    }

    // The desktop the last run made, as its log names it; empty when it names none.
    [[nodiscard]] std::wstring DesktopOfTheRun() const
    {
        const std::string log = FullLog();
        std::smatch found;
        const std::regex created(R"(Created the desktop (VELLOCS_STAT_COLLECTION_[0-9a-f]{16}) for)");
        std::string name;
        for (auto at = log.cbegin(); std::regex_search(at, log.cend(), found, created); at = found[0].second)
            name = found[1].str();
        return kvotest::Widen(name);
    }

    DWORD m_timeoutMs = RunRequest{}.scriptTimeoutMs;
    kvotest::ScratchFolder m_scratch;
    std::wstring m_temp;
    std::wstring m_out;
    EnvOverride m_tmp;
    EnvOverride m_tempVar;
    EnvOverride m_outdir;
    SeededFile m_app;
    SeededFile m_dev;
    SeededFile m_evtx;
};

TEST_F(OsLogCollector, CarriedScriptRunsInAPrivateFolderThatIsRemovedAfterwards)
{
    EXPECT_EQ(Collect(), 1);
    const std::wstring logs = m_out + L"\\OSLogs";
    EXPECT_EQ(kvotest::ReadFileBytes(logs + L"\\RawEventLogs\\kvotest-collect.evtx"), m_evtx.Bytes());
    EXPECT_EQ(kvotest::ReadFileBytes(logs + L"\\Setupapi.app.log"), m_app.Bytes());
    EXPECT_EQ(kvotest::ReadFileBytes(logs + L"\\Setupapi.dev.log"), m_dev.Bytes());
    EXPECT_TRUE(kvotest::FileExists(logs + L"\\EventLogs\\EvtLog_Security.xml"));
    const std::wstring desktop = DesktopOfTheRun();
    ASSERT_FALSE(desktop.empty()) << FullLog();
    EXPECT_FALSE(DesktopExists(desktop.c_str()));
    const std::string log = FullLog();
    std::smatch found;
    ASSERT_TRUE(std::regex_search(log, found, std::regex(R"(Wrote the OS log script to (.*)\\OSStats\.bat)"))) << log;
    EXPECT_TRUE(IsPrivateFolderName(found[1].str()));
    EXPECT_TRUE(kvotest::ListTree(m_temp).empty()) << "the private folder is left behind";
    EXPECT_EQ(ErrorLog(), "");
}

// While the script runs: its folder and file are private, and the file cannot be changed under cmd.
TEST_F(OsLogCollector, WhileItRunsTheScriptIsPrivateAndHeldAgainstWriting)
{
    const std::string waiting = "@echo off\r\n"
                                "echo %CD%> \"%VELLOCS_OUTDIR%\\where.txt\"\r\n"
                                ":wait\r\n"
                                "if not exist \"%VELLOCS_OUTDIR%\\go\" goto wait\r\n"
                                "exit\r\n";
    m_timeoutMs = 60000;
    INT32 result = -1;
    std::thread worker([&] { result = Collect(GivenScript(waiting)); });
    std::string where;
    for (int i = 0; i < 300 && where.empty(); ++i) {
        Sleep(100);
        where = Out(L"where.txt");
    }
    const std::wstring folder = kvotest::Widen(where.substr(0, where.find('\r')));
    const std::wstring script = folder + L"\\OSStats.bat";
    EXPECT_TRUE(IsPrivateFolderName(kvotest::Narrow(folder)));
    EXPECT_TRUE(kvotest::OthersHaveNoAccess(folder));
    EXPECT_TRUE(kvotest::OthersHaveNoAccess(script));
    Tallis::ImageUpdate::unique_hfile writer(CreateFileW(script.c_str(), GENERIC_WRITE, FILE_SHARE_READ |
                                                         FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    const DWORD error = GetLastError();
    EXPECT_FALSE(writer.is_valid());
    EXPECT_EQ(error, DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(kvotest::ReadFileBytes(script), waiting);
    kvotest::WriteFileBytes(m_out + L"\\go", "go");
    worker.join();
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(kvotest::FolderExists(folder));
}

// SYSTEM's temporary folder is open to every account: what someone left there never runs.
TEST_F(OsLogCollector, AScriptPlantedInTheTemporaryFolderIsNeverRun)
{
    const std::string planted = "@echo off\r\necho planted> \"%VELLOCS_OUTDIR%\\planted-ran.txt\"\r\nexit\r\n";
    kvotest::WriteFileBytes(Planted(), planted);
    EXPECT_EQ(Collect(), 1);
    EXPECT_FALSE(kvotest::FileExists(m_out + L"\\planted-ran.txt"));
    EXPECT_EQ(kvotest::ReadFileBytes(Planted()), planted);
    EXPECT_EQ(kvotest::ReadFileBytes(m_out + L"\\OSLogs\\Setupapi.dev.log"), m_dev.Bytes());
    const std::string log = FullLog();
    const size_t warning = log.find(kvotest::Narrow(Planted()) + " was not written by this tool and is not run");
    ASSERT_NE(warning, std::string::npos) << log;
    EXPECT_EQ(log.compare(log.rfind('\n', warning) + 1, 7, "[WARN ]"), 0) << log;
    EXPECT_EQ(kvotest::ListTree(m_temp), std::vector<std::wstring>{L"OSStats.bat"});

    // A folder of that name is passed over the same way.
    kvotest::RemoveTree(Planted());
    ASSERT_TRUE(CreateDirectoryW(Planted().c_str(), nullptr));
    EXPECT_EQ(Collect(), 1);
    EXPECT_TRUE(kvotest::FolderExists(Planted()));
}

TEST_F(OsLogCollector, AGivenScriptGetsTheCommandLineInItsPrivateFolder)
{
    const struct {
        LocalTimeFn now;
        const char* date;
    } cases[] = {{LeapFebruary15, "20240116000000.000000-60"}, {CommonMarch10, "20230208000000.000000-60"}};
    for (const auto& c : cases) {
        SetLocalTimeForTest(c.now);
        ASSERT_EQ(Collect(GivenScript(kEchoArgumentsScript)), 1);
        const std::string where = Out(L"where.txt");
        const std::string folder = where.substr(0, where.find('\r'));
        EXPECT_TRUE(IsPrivateFolderName(folder));
        EXPECT_EQ(Out(L"args.txt"), "\"" + folder + "\\OSStats.bat\" -cd " + c.date + "\r\n");
    }
    // Only the given script ran: nothing of the carried one's copies arrived.
    EXPECT_FALSE(kvotest::FileExists(m_out + L"\\OSLogs\\Setupapi.app.log"));
    EXPECT_NE(FullLog().find("Wrote a copy of C:\\given\\script.bat (SHA-256 not checked here) to"),
              std::string::npos)
        << FullLog();
    EXPECT_TRUE(kvotest::ListTree(m_temp).empty());
}

TEST_F(OsLogCollector, RealClockGivesTodaysCutoff)
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const std::string before = kvotest::Narrow(CWindowsOSLogs::FormatCutoffDate(now));
    ASSERT_EQ(Collect(GivenScript(kEchoArgumentsScript)), 1);
    GetLocalTime(&now);
    const std::string after = kvotest::Narrow(CWindowsOSLogs::FormatCutoffDate(now));
    const std::string args = Out(L"args.txt");
    const size_t at = args.find(" -cd ");
    ASSERT_NE(at, std::string::npos) << args;
    const std::string date = args.substr(at + 5, 24);
    EXPECT_TRUE(date == before || date == after) << args;
}

TEST_F(OsLogCollector, ScriptRunsOnItsOwnDesktopWhichIsClosedAfterwards)
{
    const std::string waiting = "@echo off\r\n"
                                ":wait\r\n"
                                "if not exist \"%VELLOCS_OUTDIR%\\go\" goto wait\r\n"
                                "exit\r\n";
    m_timeoutMs = 60000;
    INT32 result = -1;
    std::thread worker([&] { result = Collect(GivenScript(waiting)); });
    std::wstring desktop;
    bool seen = false;
    for (int i = 0; i < 300 && !seen; ++i) {
        desktop = DesktopOfTheRun();
        seen = !desktop.empty() && DesktopExists(desktop.c_str());
        if (!seen)
            Sleep(100);
    }
    kvotest::WriteFileBytes(m_out + L"\\go", "go");
    worker.join();
    EXPECT_TRUE(seen) << FullLog();
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(DesktopExists(desktop.c_str()));
    EXPECT_FALSE(DesktopExists(CWindowsOSLogs::kDesktopName));
}

// A fixed name could be made first by another account, and its desktop would then be theirs.
TEST_F(OsLogCollector, EachRunHasADesktopOfItsOwnThatOnlyTheRunningAccountMayUse)
{
    g_desktopNames.clear();
    g_desktopDacls.clear();
    SetDesktopCreateForTest(RecordingCreateDesktop);
    ASSERT_EQ(Collect(GivenScript(kEchoArgumentsScript)), 1);
    ASSERT_EQ(Collect(GivenScript(kEchoArgumentsScript)), 1);
    ASSERT_EQ(g_desktopNames.size(), 2u);
    EXPECT_NE(g_desktopNames[0], g_desktopNames[1]);
    for (const std::wstring& name : g_desktopNames) {
        EXPECT_TRUE(std::regex_match(kvotest::Narrow(name), std::regex("VELLOCS_STAT_COLLECTION_[0-9a-f]{16}")))
            << kvotest::Narrow(name);
        EXPECT_FALSE(DesktopExists(name.c_str())) << "left open: " << kvotest::Narrow(name);
    }
    EXPECT_EQ(DesktopOfTheRun(), g_desktopNames[1]);
    std::wstring self;
    ASSERT_EQ(Tallis::ImageUpdate::CurrentAccountSid(self), 0u);
    for (const std::wstring& dacl : g_desktopDacls)
        EXPECT_EQ(dacl, L"D:P(A;;GA;;;" + self + L")");
}

// Neither the script nor anything after it runs where the person at the keyboard could reach it.
TEST_F(OsLogCollector, ADesktopThatCannotBeMadeFailsTheStepAndNothingRunsOnTheVisibleOne)
{
    SetDesktopCreateForTest(FailingCreateDesktop);
    EXPECT_EQ(Collect(GivenScript("@echo off\r\necho ran> \"%VELLOCS_OUTDIR%\\ran.txt\"\r\nexit\r\n")), 0);
    EXPECT_EQ(Collect(), 0);
    EXPECT_TRUE(kvotest::ListTree(m_out).empty()) << "a program ran";
    EXPECT_TRUE(kvotest::ListTree(m_temp).empty()) << "the private folder is removed on this path too";
    const std::string errors = ErrorLog();
    const std::regex entry(R"(CreateDesktop VELLOCS_STAT_COLLECTION_[0-9a-f]{16} failed, Error:5; the step's )"
                           R"(programs do not run on the visible desktop)");
    EXPECT_EQ(std::distance(std::sregex_iterator(errors.begin(), errors.end(), entry), std::sregex_iterator()), 2)
        << errors;
    EXPECT_EQ(FullLog().find("Started "), std::string::npos) << FullLog();

}

// An elevated run carries the environment of whoever elevated it: none of it reaches the script
// beyond what the script reads, and PATH and TEMP lead only to the system's and the run's folders.
TEST_F(OsLogCollector, TheScriptSeesOnlyTheEnvironmentTheStepBuilt)
{
    const std::wstring planted = m_scratch / L"planted";
    ASSERT_TRUE(CreateDirectoryW(planted.c_str(), nullptr));
    EnvOverride canary(L"KVO_LEAK_CANARY", L"from the program's environment");
    EnvOverride path(L"PATH", planted + L";" + kvotest::GetEnv(L"PATH"));
    EnvOverride extensions(L"PATHEXT", L".PLANTED;.EXE");
    const std::wstring common = kvotest::GetEnv(L"CommonProgramFiles");
    ASSERT_FALSE(common.empty());
    ASSERT_EQ(Collect(GivenScript("@echo off\r\nset> \"%VELLOCS_OUTDIR%\\env.txt\"\r\nexit\r\n")), 1);

    std::smatch found;
    const std::string log = FullLog();
    ASSERT_TRUE(std::regex_search(log, found, std::regex(R"(Wrote a copy of .* to (.*)\\OSStats\.bat)"))) << log;
    const std::wstring privateFolder = kvotest::Widen(found[1].str());
    const std::wstring system = Tallis::ImageUpdate::SystemDirectory();
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::map<std::wstring, std::wstring> built = {
        {L"COMMONPROGRAMFILES", common},
        {L"COMSPEC", system + L"\\cmd.exe"},
        {L"PATH", system + L";" + system + L"\\Wbem;" + system + L"\\WindowsPowerShell\\v1.0"},
        {L"PATHEXT", L".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC"},
        {L"SYSTEMROOT", windows},
        {L"TEMP", privateFolder},
        {L"TMP", privateFolder},
        {L"VELLOCS_OUTDIR", m_out},
        {L"WINDIR", windows},
    };
    const std::map<std::wstring, std::wstring> seen = ParseSet(Out(L"env.txt"));
    for (const auto& [name, value] : built) {
        const auto at = seen.find(name);
        if (at == seen.end())
            ADD_FAILURE() << kvotest::Narrow(name) << " is missing";
        else
            EXPECT_EQ(at->second, value) << kvotest::Narrow(name);
    }
    for (const auto& [name, value] : seen)
        EXPECT_TRUE(built.count(name) || AddedByWine(name))
            << "inherited: " << kvotest::Narrow(name) << "=" << kvotest::Narrow(value);
    EXPECT_EQ(seen.count(L"KVO_LEAK_CANARY"), 0u);
}

// The script waits for a child that loops for ever; on timeout the child must end with it.
TEST_F(OsLogCollector, ScriptThatNeverEndsIsEndedWithItsChildrenAtTheLimit)
{
    const char* const script = "@echo off\r\n"
                               "cmd.exe /c \"%VELLOCS_OUTDIR%\\child.bat\"\r\n"
                               "exit\r\n";
    kvotest::WriteFileBytes(m_out + L"\\child.bat", "@echo off\r\n"
                                                    ":again\r\n"
                                                    "echo tick>> \"%VELLOCS_OUTDIR%\\ticks.txt\"\r\n"
                                                    "ping -n 2 127.0.0.1 > nul\r\n"
                                                    // A leftover of a failed run stops with its folder.
                                                    "if exist \"%VELLOCS_OUTDIR%\\child.bat\" goto again\r\n"
                                                    "exit\r\n");
    m_timeoutMs = 2000;

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Collect(GivenScript(script)), 0);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_GE(elapsed.count(), 2000);
    EXPECT_LT(elapsed.count(), 15000);

    const std::wstring ticks = m_out + L"\\ticks.txt";
    ASSERT_TRUE(kvotest::FileExists(ticks)) << "the child never ran";
    const size_t ticked = kvotest::ReadFileBytes(ticks).size();
    Sleep(3000);
    EXPECT_EQ(kvotest::ReadFileBytes(ticks).size(), ticked) << "a process of the script is still running";

    EXPECT_NE(ErrorLog().find("did not end within 2000 ms"), std::string::npos) << ErrorLog();
    EXPECT_TRUE(kvotest::ListTree(m_temp).empty()) << "the private folder is removed on this path too";
    ASSERT_FALSE(DesktopOfTheRun().empty()) << FullLog();
    EXPECT_FALSE(DesktopExists(DesktopOfTheRun().c_str()));
}

TEST_F(OsLogCollector, NoTemporaryFolderFailsWithNothingWritten)
{
    const std::wstring tooLong = L"C:\\" + std::wstring(300, L'x');
    EnvOverride tmp(L"TMP", tooLong);
    EnvOverride temp(L"TEMP", tooLong);
    EXPECT_EQ(Collect(), 0);
    EXPECT_TRUE(kvotest::ListTree(m_out).empty());
    EXPECT_TRUE(kvotest::ListTree(m_temp).empty());
    EXPECT_NE(ErrorLog().find("GetTempPath failed"), std::string::npos) << ErrorLog();
}

TEST_F(OsLogCollector, MissingTemporaryFolderFailsBeforeAnyProcess)
{
    const std::wstring missing = m_scratch / L"missing";
    EnvOverride tmp(L"TMP", missing);
    EnvOverride temp(L"TEMP", missing);
    EXPECT_EQ(Collect(), 0);
    EXPECT_FALSE(kvotest::FolderExists(missing));
    EXPECT_TRUE(kvotest::ListTree(m_out).empty());
    EXPECT_NE(ErrorLog().find("A private folder could not be created in"), std::string::npos) << ErrorLog();
    EXPECT_EQ(FullLog().find("Started the OS log script"), std::string::npos) << FullLog();
}

UINT SystemDirectoryWithoutPrograms(wchar_t* buffer, UINT size)
{
    const std::wstring empty = kvotest::GetEnv(L"KVO_EMPTY_SYSTEM_DIR");
    wcsncpy(buffer, empty.c_str(), size);
    return UINT(empty.size());
}

TEST_F(OsLogCollector, ProcessThatCannotStartFailsAndRemovesThePrivateFolder)
{
    const std::wstring empty = m_scratch / L"no programs here";
    ASSERT_TRUE(CreateDirectoryW(empty.c_str(), nullptr));
    EnvOverride where(L"KVO_EMPTY_SYSTEM_DIR", empty);
    Tallis::ImageUpdate::SetSystemDirectoryForTest(SystemDirectoryWithoutPrograms);

    EXPECT_EQ(Collect(), 0);
    EXPECT_TRUE(kvotest::ListTree(m_temp).empty());
    EXPECT_FALSE(kvotest::FolderExists(m_out + L"\\OSLogs"));
    ASSERT_FALSE(DesktopOfTheRun().empty()) << FullLog();
    EXPECT_FALSE(DesktopExists(DesktopOfTheRun().c_str()));
    EXPECT_NE(ErrorLog().find("CreateProcess failed for " + kvotest::Narrow(empty) + "\\cmd.exe"),
              std::string::npos)
        << ErrorLog();
}

// Windows looks for a bare "cmd.exe" in the program's folder and the current folder first; started
// by its full path, the system's own one runs, whatever lies there.
TEST_F(OsLogCollector, AStandInCmdBesideTheProgramOrInTheCurrentFolderDoesNotRun)
{
    const std::wstring standIn = ProgramFolder() + L"\\oslogs_fake_cmd.exe";
    const std::wstring besideProgram = ProgramFolder() + L"\\cmd.exe";
    const std::wstring current = m_scratch / L"current";
    ASSERT_TRUE(CreateDirectoryW(current.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(standIn.c_str(), besideProgram.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(standIn.c_str(), (current + L"\\cmd.exe").c_str(), FALSE));
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(current.c_str()));

    const INT32 result = Collect();
    SetCurrentDirectoryW(previous);
    DeleteFileW(besideProgram.c_str());
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(kvotest::FileExists(m_out + L"\\fake-cmd-ran.txt")) << Out(L"fake-cmd-ran.txt");
    EXPECT_EQ(kvotest::ReadFileBytes(m_out + L"\\OSLogs\\Setupapi.dev.log"), m_dev.Bytes());
}

TEST_F(OsLogCollector, OutputFolderWithBlanksAndNonAsciiCharacters)
{
    const std::wstring out = m_scratch / L"out dir Ä é ß 日本 ü";
    ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr));
    EnvOverride outdir(L"VELLOCS_OUTDIR", out);
    m_timeoutMs = 120000;
    EXPECT_EQ(Collect(), 1);
    EXPECT_EQ(kvotest::ReadFileBytes(out + L"\\OSLogs\\Setupapi.dev.log"), m_dev.Bytes());
    EXPECT_EQ(kvotest::ReadFileBytes(out + L"\\OSLogs\\RawEventLogs\\kvotest-collect.evtx"), m_evtx.Bytes());
    EXPECT_TRUE(kvotest::FolderExists(out + L"\\OSLogs\\msinfo"));
    EXPECT_TRUE(kvotest::ListTree(m_temp).empty());
}

// Profile names may hold characters that cmd's /k treats apart inside quotes.
TEST_F(OsLogCollector, TemporaryFoldersWithCharactersCmdTreatsApartStillRunTheScript)
{
    m_timeoutMs = 120000;
    for (const wchar_t* name : {L"John (Admin)", L"Smith&Co", L"a^b@c"}) {
        const std::wstring special = m_scratch / name;
        if (!CreateDirectoryW(special.c_str(), nullptr)) {
            ADD_FAILURE() << "cannot create " << kvotest::Narrow(special) << ": " << GetLastError();
            continue;
        }
        SCOPED_TRACE(kvotest::Narrow(special));
        EnvOverride tmp(L"TMP", special);
        EnvOverride temp(L"TEMP", special);
        kvotest::RemoveTree(m_out + L"\\OSLogs");
        EXPECT_EQ(Collect(), 1);
        EXPECT_EQ(kvotest::ReadFileBytes(m_out + L"\\OSLogs\\Setupapi.dev.log"), m_dev.Bytes());
        EXPECT_TRUE(kvotest::ListTree(special).empty());
    }
    EXPECT_NE(FullLog().find("cmd.exe /d /s /k \"\""), std::string::npos) << FullLog();
}

// /d in both forms: no AutoRun command of the registry runs before the script (Wine's cmd runs
// none anyway, so only the command line can show it).
TEST(OsLogCommandLine, KeepsTheSimpleFormAndQuotesForSlashSOnlyWhereNeeded)
{
    EXPECT_EQ(CWindowsOSLogs::CommandLineFor(L"C:\\tmp\\John Smith\\OSStats.bat", L"20240116000000.000000-60"),
              L"cmd.exe /d /k \"C:\\tmp\\John Smith\\OSStats.bat\" -cd 20240116000000.000000-60");
    for (const wchar_t* special : {L"&", L"<", L">", L"(", L")", L"@", L"^", L"|"}) {
        const std::wstring path = std::wstring(L"C:\\tmp\\a") + special + L"b\\OSStats.bat";
        EXPECT_EQ(CWindowsOSLogs::CommandLineFor(path, L"20240116000000.000000-60"),
                  L"cmd.exe /d /s /k \"\"" + path + L"\" -cd 20240116000000.000000-60\"")
            << kvotest::Narrow(path);
    }
}

} // namespace
