// The carried script, written out and run under the real command interpreter.
#include "OsLogsTestSupport.h"
#include "TestSupport.h"
#include "WindowsOSLogs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace oslogtest;

namespace {

const wchar_t* const kAppLog = L"C:\\Windows\\INF\\Setupapi.app.log";
const wchar_t* const kDevLog = L"C:\\Windows\\INF\\Setupapi.dev.log";
const wchar_t* const kEvtx = L"C:\\Windows\\system32\\winevt\\logs\\kvotest-script.evtx";
const wchar_t* const kXmlFiles[] = {L"EvtLog_App.xml", L"EvtLog_System.xml", L"EvtLog_Security.xml"};

class OsLogScript : public ::testing::Test {
protected:
    OsLogScript()
        : m_scratch(L"oslogs-script"), m_script(m_scratch / L"OSStats.bat"), m_out(m_scratch / L"out"),
          m_outdir(L"VELLOCS_OUTDIR", m_out), m_app(kAppLog, "app log seeded by the script test\r\n"),
          m_dev(kDevLog, "dev log seeded by the script test\r\n"), m_evtx(kEvtx, std::string("ElfFile\0raw", 11))
    {
    }

    void SetUp() override
    {
        CreateDirectoryW(m_out.c_str(), nullptr);
        ASSERT_EQ(CWindowsOSLogs::ExtractScript(m_script.c_str()), DWORD(ERROR_SUCCESS));
    }

    int Run(const std::wstring& arguments)
    {
        return RunBounded(L"cmd.exe /c \"" + m_script + L"\"" + (arguments.empty() ? L"" : L" " + arguments));
    }

    // Wine resets SystemRoot in every new process, so the variable is changed inside the
    // interpreter that then runs the script itself (call keeps it in the same process).
    int RunWithSystemRoot(const std::wstring& systemRoot, const std::wstring& arguments)
    {
        return RunBounded(L"cmd.exe /c \"set SYSTEMROOT=" + systemRoot + L"&& call \"" + m_script + L"\"" +
                          (arguments.empty() ? L"" : L" " + arguments) + L"\"");
    }

    // A system root whose wbem folder holds the stand-in tool (or nothing).
    std::wstring MakeSystemRoot(const wchar_t* name, bool withWmic)
    {
        const std::wstring root = m_scratch / name;
        const std::wstring wbem = root + L"\\System32\\wbem";
        CreateDirectoryW(root.c_str(), nullptr);
        CreateDirectoryW((root + L"\\System32").c_str(), nullptr);
        CreateDirectoryW(wbem.c_str(), nullptr);
        if (withWmic) {
            EXPECT_TRUE(CopyFileW((ProgramFolder() + L"\\oslogs_fake_wmic.exe").c_str(),
                                  (wbem + L"\\wmic.exe").c_str(), FALSE));
        }
        return root;
    }

    std::string Xml(const wchar_t* name) { return kvotest::ReadFileBytes(m_out + L"\\OSLogs\\EventLogs\\" + name); }

    kvotest::ScratchFolder m_scratch;
    std::wstring m_script;
    std::wstring m_out;
    EnvOverride m_outdir;
    SeededFile m_app;
    SeededFile m_dev;
    SeededFile m_evtx;
};

TEST_F(OsLogScript, ResourceIsTheCheckedInScriptWithCrLfLines)
{
    const std::string extracted = kvotest::ReadFileBytes(m_script);
    EXPECT_EQ(extracted, ScriptResourceBytes());
    std::wstring sourcePath = L"Z:" + kvotest::GetEnv(L"KVO_SOURCE_DIR") + L"/resources/OSStats.bat";
    std::replace(sourcePath.begin(), sourcePath.end(), L'/', L'\\');
    const std::string source = kvotest::ReadFileBytes(sourcePath);
    ASSERT_FALSE(source.empty());
    EXPECT_EQ(extracted, source);
    ASSERT_GE(extracted.size(), 6u);
    EXPECT_EQ(extracted.substr(0, 10), "echo off\r\n");
    EXPECT_EQ(extracted.substr(extracted.size() - 6), "exit\r\n");
    for (size_t at = extracted.find('\n'); at != std::string::npos; at = extracted.find('\n', at + 1))
        ASSERT_TRUE(at > 0 && extracted[at - 1] == '\r') << "bare line feed at byte " << at;
    // Carried in US English, the only language the program's loader is asked for.
    EXPECT_NE(FindResourceExW(GetModuleHandleW(nullptr), L"BINARY", MAKEINTRESOURCEW(140),
                              MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
              nullptr);
}

TEST_F(OsLogScript, WithCutoffDateCollectsSetupLogsRawLogsAndQueries)
{
    ASSERT_EQ(Run(L"-cd 20240116000000.000000-60"), 0);
    const std::wstring logs = m_out + L"\\OSLogs";
    EXPECT_EQ(kvotest::ReadFileBytes(logs + L"\\Setupapi.app.log"), m_app.Bytes());
    EXPECT_EQ(kvotest::ReadFileBytes(logs + L"\\Setupapi.dev.log"), m_dev.Bytes());
    EXPECT_EQ(kvotest::ReadFileBytes(logs + L"\\RawEventLogs\\kvotest-script.evtx"), m_evtx.Bytes());
    for (const wchar_t* xml : kXmlFiles)
        EXPECT_TRUE(kvotest::FileExists(logs + L"\\EventLogs\\" + xml)) << kvotest::Narrow(xml);
    // The report tool does not exist under Wine; its folder is made all the same.
    EXPECT_TRUE(kvotest::FolderExists(logs + L"\\msinfo"));
}

TEST_F(OsLogScript, WithoutArgumentsStillWritesTheQueryFiles)
{
    ASSERT_EQ(Run(L""), 0);
    for (const wchar_t* xml : kXmlFiles)
        EXPECT_TRUE(kvotest::FileExists(m_out + L"\\OSLogs\\EventLogs\\" + xml)) << kvotest::Narrow(xml);
    EXPECT_EQ(kvotest::ReadFileBytes(m_out + L"\\OSLogs\\Setupapi.dev.log"), m_dev.Bytes());
}

// The stand-in tool echoes its command line into each XML file, which shows the branch taken.
TEST_F(OsLogScript, CutoffArgumentSelectsTheDatedQueries)
{
    ASSERT_EQ(RunWithSystemRoot(MakeSystemRoot(L"root", true), L"-cd 20240116000000.000000-60"), 0);
    EXPECT_NE(Xml(L"EvtLog_App.xml").find("fake-wmic:wmic.exe NTEVENT WHERE \"LogFile='Application' AND "
                                          "TimeGenerated > '20240116000000.000000-60'\" GET /FORMAT:rawxml"),
              std::string::npos)
        << Xml(L"EvtLog_App.xml");
    EXPECT_NE(Xml(L"EvtLog_System.xml").find("\"LogFile='System' AND TimeGenerated > '20240116000000.000000-60'\""),
              std::string::npos);
    EXPECT_NE(Xml(L"EvtLog_Security.xml")
                  .find("\"LogFile='Security' AND TimeGenerated > '20240116000000.000000-60'\""),
              std::string::npos);
}

TEST_F(OsLogScript, NoArgumentsSelectsTheUndatedQueries)
{
    ASSERT_EQ(RunWithSystemRoot(MakeSystemRoot(L"root", true), L""), 0);
    const char* const expected[] = {"fake-wmic:wmic.exe NTEVENT WHERE LogFile=\"Application\" GET /FORMAT:rawxml",
                                    "fake-wmic:wmic.exe NTEVENT WHERE LogFile=\"System\" GET /FORMAT:rawxml",
                                    "fake-wmic:wmic.exe NTEVENT WHERE LogFile=\"Security\" GET /FORMAT:rawxml"};
    for (int i = 0; i < 3; ++i) {
        const std::string xml = Xml(kXmlFiles[i]);
        EXPECT_NE(xml.find(expected[i]), std::string::npos) << xml;
        EXPECT_EQ(xml.find("TimeGenerated"), std::string::npos) << xml;
    }
}

TEST_F(OsLogScript, OtherArgumentsAreSkippedAroundTheCutoffDate)
{
    ASSERT_EQ(RunWithSystemRoot(MakeSystemRoot(L"root", true), L"-x first -cd 20230208000000.000000-60 last"), 0);
    EXPECT_NE(Xml(L"EvtLog_App.xml").find("TimeGenerated > '20230208000000.000000-60'"), std::string::npos)
        << Xml(L"EvtLog_App.xml");
}

TEST_F(OsLogScript, WithoutTheQueryToolTheOtherStepsStillRun)
{
    ASSERT_EQ(RunWithSystemRoot(MakeSystemRoot(L"bare", false), L"-cd 20240116000000.000000-60"), 0);
    const std::wstring logs = m_out + L"\\OSLogs";
    EXPECT_FALSE(kvotest::FolderExists(logs + L"\\EventLogs"));
    EXPECT_EQ(kvotest::ReadFileBytes(logs + L"\\Setupapi.app.log"), m_app.Bytes());
    EXPECT_EQ(kvotest::ReadFileBytes(logs + L"\\Setupapi.dev.log"), m_dev.Bytes());
    EXPECT_EQ(kvotest::ReadFileBytes(logs + L"\\RawEventLogs\\kvotest-script.evtx"), m_evtx.Bytes());
    EXPECT_TRUE(kvotest::FolderExists(logs + L"\\msinfo"));
}

} // namespace
