// The collector end to end: temporary folder, script file, desktop, process, wait and clean-up.
#include "DiagnosticLog.h"
#include "OsLogsTestSupport.h"
#include "TestSupport.h"
#include "WindowsOSLogs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

using namespace oslogtest;

namespace {

const wchar_t* const kAppLog = L"C:\\Windows\\INF\\Setupapi.app.log";
const wchar_t* const kDevLog = L"C:\\Windows\\INF\\Setupapi.dev.log";
const wchar_t* const kEvtx = L"C:\\Windows\\system32\\winevt\\logs\\kvotest-collect.evtx";
const wchar_t* const kScriptLink = L"C:\\Windows\\system32\\winevt\\logs\\kvotest-script-copy.evtx";

SYSTEMTIME LeapFebruary15()
{
    SYSTEMTIME time{};
    time.wYear = 2024;
    time.wMonth = 2;
    time.wDay = 15;
    time.wHour = 9;
    return time;
}

SYSTEMTIME CommonMarch10()
{
    SYSTEMTIME time{};
    time.wYear = 2023;
    time.wMonth = 3;
    time.wDay = 10;
    time.wHour = 0;
    time.wMinute = 5;
    return time;
}

// Writes "%0 %*" of its own start, so the command line that reached the script can be checked.
const char* const kEchoArgumentsScript = "@echo off\r\n"
                                         "echo %0 %*> \"%VELLOCS_OUTDIR%\\args.txt\"\r\n"
                                         "exit\r\n";

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
        CWindowsOSLogs::SetLocalTimeForTest(nullptr);
        CWindowsOSLogs::SetScriptTimeout(CWindowsOSLogs::kDefaultScriptTimeoutMs);
    }

    [[nodiscard]] std::wstring Script() const { return m_temp + L"\\OSStats.bat"; }
    [[nodiscard]] std::string FullLog() const { return kvotest::ReadFileBytes(m_scratch / L"tool.log"); }
    [[nodiscard]] std::string ErrorLog() const { return kvotest::ReadFileBytes(m_scratch / L"tool.errors.log"); }

    static INT32 Collect()
    {
        CWindowsOSLogs collector;
        return collector.Collect(L"C:\\ignored", nullptr, 0);
    }

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

// A Unix link among the event logs points at the script file, so the script copies itself while it
// runs: that proves the file was there, with the carried bytes, during the run.
TEST_F(OsLogCollector, CarriedScriptRunsFromTheTemporaryFolderAndIsRemoved)
{
    // The link is made through /bin/sh, whose command line must not carry blanks.
    const std::wstring plainTemp = m_scratch / L"plaintemp";
    ASSERT_TRUE(CreateDirectoryW(plainTemp.c_str(), nullptr));
    EnvOverride tmp(L"TMP", plainTemp);
    EnvOverride temp(L"TEMP", plainTemp);
    const std::wstring script = plainTemp + L"\\OSStats.bat";
    const std::string target = UnixPath(script);
    const std::string link = UnixPath(kScriptLink);
    ASSERT_FALSE(target.empty());
    ASSERT_EQ(target.find(' '), std::string::npos);
    ASSERT_EQ(kvotest::RunUnixShell("ln -sf '" + target + "' '" + link + "'"), 0);
    struct LinkRemover {
        std::string path;
        ~LinkRemover() { (void)kvotest::RunUnixShell("rm -f '" + path + "'"); }
    } remover{link};

    EXPECT_EQ(Collect(), 1);

    EXPECT_FALSE(kvotest::FileExists(script));
    const std::wstring logs = m_out + L"\\OSLogs";
    EXPECT_EQ(kvotest::ReadFileBytes(logs + L"\\RawEventLogs\\kvotest-script-copy.evtx"), ScriptResourceBytes());
    EXPECT_EQ(kvotest::ReadFileBytes(logs + L"\\RawEventLogs\\kvotest-collect.evtx"), m_evtx.Bytes());
    EXPECT_EQ(kvotest::ReadFileBytes(logs + L"\\Setupapi.app.log"), m_app.Bytes());
    EXPECT_EQ(kvotest::ReadFileBytes(logs + L"\\Setupapi.dev.log"), m_dev.Bytes());
    EXPECT_TRUE(kvotest::FileExists(logs + L"\\EventLogs\\EvtLog_Security.xml"));
    EXPECT_FALSE(DesktopExists(CWindowsOSLogs::kDesktopName));
    EXPECT_NE(FullLog().find("Wrote the OS log script to"), std::string::npos) << FullLog();
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(OsLogCollector, FoundScriptGetsTheCommandLineAndIsKeptUnchanged)
{
    kvotest::WriteFileBytes(Script(), kEchoArgumentsScript);
    const struct {
        CWindowsOSLogs::LocalTimeFn now;
        const char* date;
    } cases[] = {{LeapFebruary15, "20240116000000.000000-60"}, {CommonMarch10, "20230208000000.000000-60"}};
    for (const auto& c : cases) {
        CWindowsOSLogs::SetLocalTimeForTest(c.now);
        ASSERT_EQ(Collect(), 1);
        EXPECT_EQ(kvotest::ReadFileBytes(m_out + L"\\args.txt"),
                  "\"" + kvotest::Narrow(Script()) + "\" -cd " + c.date + "\r\n");
        EXPECT_EQ(kvotest::ReadFileBytes(Script()), kEchoArgumentsScript);
    }
    // Only the foreign script ran.
    EXPECT_FALSE(kvotest::FolderExists(m_out + L"\\OSLogs"));
    EXPECT_NE(FullLog().find("found at"), std::string::npos) << FullLog();
}

TEST_F(OsLogCollector, RealClockGivesTodaysCutoff)
{
    kvotest::WriteFileBytes(Script(), kEchoArgumentsScript);
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const std::string before = kvotest::Narrow(CWindowsOSLogs::FormatCutoffDate(now));
    ASSERT_EQ(Collect(), 1);
    GetLocalTime(&now);
    const std::string after = kvotest::Narrow(CWindowsOSLogs::FormatCutoffDate(now));
    const std::string args = kvotest::ReadFileBytes(m_out + L"\\args.txt");
    const size_t at = args.find(" -cd ");
    ASSERT_NE(at, std::string::npos) << args;
    const std::string date = args.substr(at + 5, 24);
    EXPECT_TRUE(date == before || date == after) << args;
}

TEST_F(OsLogCollector, ScriptRunsOnItsOwnDesktopWhichIsClosedAfterwards)
{
    kvotest::WriteFileBytes(Script(), "@echo off\r\n"
                                      ":wait\r\n"
                                      "if not exist \"%VELLOCS_OUTDIR%\\go\" goto wait\r\n"
                                      "exit\r\n");
    CWindowsOSLogs::SetScriptTimeout(60000);
    INT32 result = -1;
    std::thread worker([&] { result = Collect(); });
    bool seen = false;
    for (int i = 0; i < 300 && !seen; ++i) {
        seen = DesktopExists(CWindowsOSLogs::kDesktopName);
        if (!seen)
            Sleep(100);
    }
    kvotest::WriteFileBytes(m_out + L"\\go", "go");
    worker.join();
    EXPECT_TRUE(seen);
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(DesktopExists(CWindowsOSLogs::kDesktopName));
}

// The script waits for a child that loops for ever; on timeout the child must end with it.
TEST_F(OsLogCollector, ScriptThatNeverEndsIsEndedWithItsChildrenAtTheLimit)
{
    const char* const script = "@echo off\r\n"
                               "cmd.exe /c \"%VELLOCS_OUTDIR%\\child.bat\"\r\n"
                               "exit\r\n";
    kvotest::WriteFileBytes(Script(), script);
    kvotest::WriteFileBytes(m_out + L"\\child.bat", "@echo off\r\n"
                                                    ":again\r\n"
                                                    "echo tick>> \"%VELLOCS_OUTDIR%\\ticks.txt\"\r\n"
                                                    "ping -n 2 127.0.0.1 > nul\r\n"
                                                    // A leftover of a failed run stops with its folder.
                                                    "if exist \"%VELLOCS_OUTDIR%\\child.bat\" goto again\r\n"
                                                    "exit\r\n");
    CWindowsOSLogs::SetScriptTimeout(2000);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Collect(), 0);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_GE(elapsed.count(), 2000);
    EXPECT_LT(elapsed.count(), 15000);

    const std::wstring ticks = m_out + L"\\ticks.txt";
    ASSERT_TRUE(kvotest::FileExists(ticks)) << "the child never ran";
    const size_t ticked = kvotest::ReadFileBytes(ticks).size();
    Sleep(3000);
    EXPECT_EQ(kvotest::ReadFileBytes(ticks).size(), ticked) << "a process of the script is still running";

    EXPECT_NE(ErrorLog().find("did not end within 2000 ms"), std::string::npos) << ErrorLog();
    EXPECT_EQ(kvotest::ReadFileBytes(Script()), script);
    EXPECT_FALSE(DesktopExists(CWindowsOSLogs::kDesktopName));
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
    EXPECT_NE(ErrorLog().find("CreateFile"), std::string::npos) << ErrorLog();
    EXPECT_EQ(FullLog().find("Started the OS log script"), std::string::npos) << FullLog();
}

// A folder in the script's place neither opens as a file nor can be replaced by one.
TEST_F(OsLogCollector, FolderInTheScriptsPlaceFailsAndStays)
{
    ASSERT_TRUE(CreateDirectoryW(Script().c_str(), nullptr));
    EXPECT_EQ(Collect(), 0);
    EXPECT_TRUE(kvotest::FolderExists(Script()));
    EXPECT_TRUE(kvotest::ListTree(m_out).empty());
}

// The loader looks for "cmd.exe" in the program's own folder first: a file there that is no
// program makes the start fail without any hook in the collector.
TEST_F(OsLogCollector, ProcessThatCannotStartFailsAndRemovesTheWrittenScript)
{
    const std::wstring blocker = ProgramFolder() + L"\\cmd.exe";
    kvotest::WriteFileBytes(blocker, "this is not a program");
    struct BlockerRemover {
        std::wstring path;
        ~BlockerRemover() { DeleteFileW(path.c_str()); }
    } remover{blocker};

    EXPECT_EQ(Collect(), 0);
    EXPECT_FALSE(kvotest::FileExists(Script()));
    EXPECT_FALSE(kvotest::FolderExists(m_out + L"\\OSLogs"));
    EXPECT_FALSE(DesktopExists(CWindowsOSLogs::kDesktopName));
    EXPECT_NE(ErrorLog().find("CreateProcess failed"), std::string::npos) << ErrorLog();
}

TEST_F(OsLogCollector, OutputFolderWithBlanksAndNonAsciiCharacters)
{
    const std::wstring out = m_scratch / L"out dir Ä é ß 日本 ü";
    ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr));
    EnvOverride outdir(L"VELLOCS_OUTDIR", out);
    CWindowsOSLogs::SetScriptTimeout(120000);
    EXPECT_EQ(Collect(), 1);
    EXPECT_EQ(kvotest::ReadFileBytes(out + L"\\OSLogs\\Setupapi.dev.log"), m_dev.Bytes());
    EXPECT_EQ(kvotest::ReadFileBytes(out + L"\\OSLogs\\RawEventLogs\\kvotest-collect.evtx"), m_evtx.Bytes());
    EXPECT_TRUE(kvotest::FolderExists(out + L"\\OSLogs\\msinfo"));
    EXPECT_FALSE(kvotest::FileExists(Script()));
}

} // namespace
