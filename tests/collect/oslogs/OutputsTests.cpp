// Every output of the OS log step accounted for, and the event exports where wmic is missing or
// fails: the collector in-process, with the stand-ins of wmic, wevtutil and msinfo32 (see
// tests/simmachine) told by stand-in settings what to do.
#include "CollectTestSeams.h"
#include "DiagnosticLog.h"
#include "EventExport.h"
#include "OsLogsTestSupport.h"
#include "TestSupport.h"
#include "UniqueHandles.h"
#include "WindowsOSLogs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace oslogtest;
using Outcome = OsLogOutput::Outcome;

namespace {

const wchar_t* const kAppLog = L"C:\\Windows\\INF\\Setupapi.app.log";
const wchar_t* const kDevLog = L"C:\\Windows\\INF\\Setupapi.dev.log";
const wchar_t* const kEvtxFolder = L"C:\\Windows\\system32\\winevt\\logs\\";
const wchar_t* const kWmic = L"C:\\Windows\\system32\\wbem\\wmic.exe";
const wchar_t* const kMsinfo = L"C:\\Program Files\\Common Files\\Microsoft Shared\\MSInfo\\msinfo32.exe";

// A platform program moved aside for one case, as on a machine that lacks it.
class Absent : public kvotest::MovedAside {
public:
    explicit Absent(const std::wstring& path) : MovedAside(path) { EXPECT_TRUE(Moved()) << kvotest::Narrow(path); }
};

SYSTEMTIME LocalTime(WORD year, WORD month, WORD day)
{
    SYSTEMTIME time{};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = 10;
    return time;
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

SYSTEMTIME May1() { return LocalTime(2024, 5, 1); }
SYSTEMTIME April30() { return LocalTime(2024, 4, 30); }

class OsLogOutputs : public ::testing::Test {
protected:
    OsLogOutputs()
        : m_scratch(L"oslogs-outputs"), m_temp(m_scratch / L"temp"), m_out(m_scratch / L"out"),
          m_standinLog(m_scratch / L"standins.log"), m_tmp(L"TMP", m_temp), m_tempVar(L"TEMP", m_temp),
          m_outdir(L"VELLOCS_OUTDIR", m_out), m_log(L"KVO_STANDIN_LOG", m_standinLog),
          m_app(kAppLog, "app log seeded by the outputs test\r\n"),
          m_dev(kDevLog, "dev log seeded by the outputs test\r\n"),
          m_evtx(std::wstring(kEvtxFolder) + L"kvotest-outputs.evtx", std::string("ElfFile\0outputs", 15))
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
    }

    // Runs the collector as a run would and keeps what it found.
    INT32 Collect()
    {
        RunRequest request;
        request.scriptTimeoutMs = m_timeoutMs;
        CWindowsOSLogs collector;
        collector.Prepare(request);
        const INT32 result = collector.Collect(L"C:\\ignored", nullptr, 0);
        collector.AddFindings(m_record);
        return result;
    }

    [[nodiscard]] const OsLogOutput& Output(const wchar_t* name) const
    {
        for (const OsLogOutput& output : m_record.osLogOutputs)
            if (output.name == name)
                return output;
        static const OsLogOutput none;
        ADD_FAILURE() << "no output " << kvotest::Narrow(name);
        return none;
    }
    [[nodiscard]] std::string ErrorLog() const { return kvotest::ReadFileBytes(m_scratch / L"tool.errors.log"); }
    [[nodiscard]] std::string FullLog() const { return kvotest::ReadFileBytes(m_scratch / L"tool.log"); }
    [[nodiscard]] std::string Standins() const { return kvotest::ReadFileBytes(m_standinLog); }
    [[nodiscard]] size_t ErrorEntries() const { return Count(ErrorLog(), "\n"); }

    DWORD m_timeoutMs = 120000;
    kvotest::ScratchFolder m_scratch;
    std::wstring m_temp;
    std::wstring m_out;
    std::wstring m_standinLog;
    EnvOverride m_tmp;
    EnvOverride m_tempVar;
    EnvOverride m_outdir;
    kvotest::StandInSetting m_log;
    SeededFile m_app;
    SeededFile m_dev;
    SeededFile m_evtx;
    RunRecord m_record;
};

TEST_F(OsLogOutputs, WithWmicEveryOutputIsOkAndNothingIsExported)
{
    ASSERT_EQ(Collect(), 1);
    const std::vector<std::wstring> order = {L"setupapi-app",       L"setupapi-dev",   L"raw-event-logs",
                                             L"events-application", L"events-system",  L"events-security",
                                             L"msinfo-report",      L"msinfo-nfo"};
    ASSERT_EQ(m_record.osLogOutputs.size(), order.size());
    for (size_t index = 0; index < order.size(); ++index) {
        const OsLogOutput& output = m_record.osLogOutputs[index];
        EXPECT_EQ(output.name, order[index]);
        EXPECT_EQ(output.outcome, Outcome::Ok) << kvotest::Narrow(output.name) << ": " << kvotest::Narrow(output.reason);
        EXPECT_GT(output.bytes, 0u) << kvotest::Narrow(output.name);
    }
    EXPECT_EQ(Output(L"setupapi-app").path, L"OSLogs\\Setupapi.app.log");
    EXPECT_EQ(Output(L"setupapi-app").bytes, m_app.Bytes().size());
    for (const wchar_t* name : {L"events-application", L"events-system", L"events-security"})
        EXPECT_EQ(Output(name).method, L"wmic");
    EXPECT_EQ(Output(L"events-system").path, L"OSLogs\\EventLogs\\EvtLog_System.xml");
    const OsLogOutput& raw = Output(L"raw-event-logs");
    EXPECT_EQ(raw.sourceFiles, raw.files);
    EXPECT_TRUE(raw.missingNames.empty());
    EXPECT_EQ(Standins().find("wevtutil|"), std::string::npos) << Standins();
    EXPECT_NE(Standins().find("msinfo32|"), std::string::npos) << Standins();
    EXPECT_EQ(ErrorLog(), "");
}

// As on Windows 11 25H2: the script skips its queries, and wevtutil exports the same events.
TEST_F(OsLogOutputs, WithoutWmicWevtutilExportsTheEventsFromTheCutoff)
{
    const Absent wmic(kWmic);
    const struct {
        LocalTimeFn now;
        const char* cutoff;
    } cases[] = {
        // The cut-off day is 1 April, in summer time: its midnight is 22:00 UTC on 31 March.
        {May1, "2024-03-31T22:00:00.000Z"},
        // 31 March, the day the clocks go forward: its midnight still has winter time.
        {April30, "2024-03-30T23:00:00.000Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cutoff);
        kvotest::RemoveTree(m_out + L"\\OSLogs");
        kvotest::RemoveTree(m_standinLog);
        SetLocalTimeForTest(c.now);
        ASSERT_EQ(Collect(), 1);
        const std::string events = kvotest::Narrow(m_out + L"\\OSLogs\\EventLogs\\");
        for (const auto& [log, stem] : {std::pair{"Application", "EvtLog_App"}, std::pair{"System", "EvtLog_System"},
                                         std::pair{"Security", "EvtLog_Security"}}) {
            const std::string file = events + stem + ".evtx";
            EXPECT_NE(Standins().find("wevtutil|C:\\windows\\system32\\wevtutil.exe|wevtutil.exe epl " +
                                      std::string(log) + " \"" + file +
                                      "\" /q:\"*[System[TimeCreated[@SystemTime>='" + c.cutoff + "']]]\" /ow:true\r\n"),
                      std::string::npos)
                << Standins();
            EXPECT_NE(Standins().find("wevtutil.exe al \"" + file + "\" /l:en-US\r\n"), std::string::npos);
            EXPECT_TRUE(kvotest::FileExists(kvotest::Widen(events + "LocaleMetaData\\" + stem + "_1033.MTA")));
        }
        for (const wchar_t* name : {L"events-application", L"events-system", L"events-security"}) {
            EXPECT_EQ(Output(name).outcome, Outcome::Ok) << kvotest::Narrow(Output(name).reason);
            EXPECT_EQ(Output(name).method, L"wevtutil");
            EXPECT_EQ(Output(name).files, 2u) << "the export and its locale data";
        }
        EXPECT_EQ(Output(L"events-application").path, L"OSLogs\\EventLogs\\EvtLog_App.evtx");
    }
    EXPECT_EQ(ErrorLog(), "");
}

// wmic that runs but cannot read (no right to the Security log, a broken repository).
TEST_F(OsLogOutputs, AnEmptyQueryStaysWithAWarningAndTheExportRecovers)
{
    kvotest::StandInSetting failing(L"KVO_WMIC", L"empty");
    ASSERT_EQ(Collect(), 1);
    const std::wstring events = m_out + L"\\OSLogs\\EventLogs\\";
    for (const wchar_t* stem : {L"EvtLog_App", L"EvtLog_System", L"EvtLog_Security"}) {
        EXPECT_TRUE(kvotest::FileExists(events + stem + L".xml"));
        EXPECT_EQ(kvotest::ReadFileBytes(events + stem + L".xml"), "");
        EXPECT_TRUE(kvotest::FileExists(events + stem + L".evtx"));
        EXPECT_NE(FullLog().find("[WARN ]"), std::string::npos);
        EXPECT_NE(FullLog().find(kvotest::Narrow(events + stem) + ".xml is empty: wmic could not query"),
                  std::string::npos)
            << FullLog();
    }
    EXPECT_EQ(Output(L"events-security").outcome, Outcome::Ok);
    EXPECT_EQ(Output(L"events-security").method, L"wevtutil");
    EXPECT_EQ(ErrorLog(), "");
}

TEST_F(OsLogOutputs, WhenNeitherToolDeliversEachEventLogIsAnErrorEntry)
{
    kvotest::StandInSetting failingWmic(L"KVO_WMIC", L"empty");
    kvotest::StandInSetting failingWevtutil(L"KVO_WEVTUTIL", L"empty");
    ASSERT_EQ(Collect(), 1) << "the programs ran and ended: the collector itself succeeded";
    for (const wchar_t* name : {L"events-application", L"events-system", L"events-security"}) {
        EXPECT_EQ(Output(name).outcome, Outcome::Missing) << kvotest::Narrow(name);
        EXPECT_EQ(Output(name).method, L"wevtutil");
        EXPECT_NE(ErrorLog().find(kvotest::Narrow(Output(name).path) + " (" + kvotest::Narrow(name) + ") is missing"),
                  std::string::npos)
            << ErrorLog();
    }
    EXPECT_EQ(ErrorEntries(), 3u) << ErrorLog();
    EXPECT_EQ(Output(L"setupapi-dev").outcome, Outcome::Ok);
}

TEST_F(OsLogOutputs, WithoutMsinfo32TheReportsAreUnavailableAndOnlyWarned)
{
    const Absent msinfo(kMsinfo);
    ASSERT_EQ(Collect(), 1);
    for (const wchar_t* name : {L"msinfo-report", L"msinfo-nfo"}) {
        EXPECT_EQ(Output(name).outcome, Outcome::Unavailable);
        EXPECT_NE(Output(name).reason.find(L"msinfo32.exe is not on this machine"), std::wstring::npos);
    }
    EXPECT_NE(FullLog().find("OSLogs\\msinfo\\msinfo.txt (msinfo-report) is unavailable"), std::string::npos)
        << FullLog();
    EXPECT_EQ(ErrorLog(), "");
}

// cmd's copy skips a file held open without sharing and copies the rest.
TEST_F(OsLogOutputs, AnEventLogFileThatCannotBeReadIsNamedAsMissing)
{
    SeededFile second(std::wstring(kEvtxFolder) + L"kvotest-held.evtx", std::string("ElfFile\0held", 12));
    Tallis::ImageUpdate::unique_hfile holder(CreateFileW((std::wstring(kEvtxFolder) + L"kvotest-held.evtx").c_str(),
                                                         GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.is_valid());
    ASSERT_EQ(Collect(), 1);
    holder.reset();
    const OsLogOutput& raw = Output(L"raw-event-logs");
    EXPECT_EQ(raw.outcome, Outcome::Missing);
    EXPECT_EQ(raw.missingNames, std::vector<std::wstring>{L"kvotest-held.evtx"});
    EXPECT_EQ(raw.files + 1, raw.sourceFiles);
    EXPECT_EQ(ErrorEntries(), 1u) << ErrorLog();
    EXPECT_NE(ErrorLog().find("kvotest-held.evtx"), std::string::npos);
}

// The export runs within what is left of the step's time limit, and ends with its job.
TEST_F(OsLogOutputs, AnExportThatNeverEndsIsEndedWithinTheTimeLimit)
{
    const Absent wmic(kWmic);
    kvotest::StandInSetting hanging(L"KVO_WEVTUTIL", L"hang");
    m_timeoutMs = 4000;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Collect(), 0);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_GE(elapsed.count(), 3000);
    EXPECT_LT(elapsed.count(), 12000);
    EXPECT_NE(ErrorLog().find("Wevtutil did not end within 4000 ms"), std::string::npos) << ErrorLog();
    EXPECT_EQ(Count(Standins(), "wevtutil|"), 1u) << "no export starts after the time ran out: " << Standins();
    EXPECT_EQ(Output(L"events-application").outcome, Outcome::Missing);
}

// Where wmic is missing the export would follow the script: without the step's desktop neither
// runs, and nothing is accounted for.
TEST_F(OsLogOutputs, WithoutItsDesktopNeitherTheScriptNorAnExportRuns)
{
    const Absent wmic(kWmic);
    SetDesktopCreateForTest([](const wchar_t*, ACCESS_MASK, SECURITY_ATTRIBUTES*) -> HDESK {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return nullptr;
    });
    EXPECT_EQ(Collect(), 0);
    EXPECT_EQ(Standins(), "");
    EXPECT_TRUE(m_record.osLogOutputs.empty());
    EXPECT_FALSE(kvotest::FolderExists(m_out + L"\\OSLogs"));
    EXPECT_NE(ErrorLog().find("failed, Error:1816; the step's programs do not run on the visible desktop"),
              std::string::npos)
        << ErrorLog();
}

TEST(OsLogExportCommands, CutoffAndCommandLines)
{
    EXPECT_EQ(ExportCutoff(CWindowsOSLogs::CutoffDay(LocalTime(2024, 1, 15))), L"2023-12-15T23:00:00.000Z");
    EXPECT_EQ(LocaleCommandLine(L"D:\\o\\EvtLog_App.evtx"), L"wevtutil.exe al \"D:\\o\\EvtLog_App.evtx\" /l:en-US");
    EXPECT_EQ(ExportCommandLine(L"System", L"D:\\o\\EvtLog_System.evtx", L"2024-03-30T23:00:00.000Z"),
              L"wevtutil.exe epl System \"D:\\o\\EvtLog_System.evtx\" "
              L"/q:\"*[System[TimeCreated[@SystemTime>='2024-03-30T23:00:00.000Z']]]\" /ow:true");
}

} // namespace
