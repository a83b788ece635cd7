// The real KvoVellocsDiag.exe driven from outside on the simulated layered-disk machine: start-up
// state, a full run, a failing run, nothing selected, the busy guard, the refusal on a machine
// without layering, the fatal end on missing strings, and the German dialog.
#include "AppDriver.h"
#include "TestSupport.h"
#include "UniqueHandles.h"
#include "resource.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <ctime>
#include <optional>
#include <string>

using namespace kvoapp;
using Tallis::ImageUpdate::unique_hkey;

namespace {

constexpr DWORD kStartMs = 30000;
constexpr DWORD kRunMs = 300000;
constexpr DWORD kExitMs = 20000;
constexpr wchar_t kDriverKey[] = L"System\\CurrentControlSet\\Services\\VantfsFilter\\Instances\\VantfsFilter";

std::wstring BuildPath(const std::string& relative)
{
    return WinePath(kvotest::Narrow(kvotest::GetEnv(L"KVO_BINARY_DIR")) + "/" + relative);
}

std::wstring ProgramPath()
{
    return BuildPath("app/KvoVellocsDiag.exe");
}

std::wstring DesktopFolder()
{
    wchar_t folder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, folder);
    return folder;
}

std::wstring TempScript()
{
    return kvotest::TempFolder() + L"OSStats.bat";
}

std::optional<DWORD> ReadDriverState()
{
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kDriverKey, L"DriverState", RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

// Sets the driver's DriverState for one test and puts the prepared value back afterwards.
class DriverStateOverride {
public:
    explicit DriverStateOverride(DWORD value) : m_saved(ReadDriverState()) { Write(value); }
    ~DriverStateOverride()
    {
        if (m_saved)
            Write(*m_saved);
    }

private:
    static void Write(DWORD value)
    {
        unique_hkey key;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDriverKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr);
        RegSetValueExW(key.get(), L"DriverState", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    std::optional<DWORD> m_saved;
};

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(ReadDriverState(), std::optional<DWORD>(2)) << "the app prefix is not a prepared machine";
        kvotest::RemoveTree(TempScript());
    }

    void TearDown() override
    {
        m_program.Terminate();
        kvotest::RemoveTree(TempScript());
        if (!m_outputFolder.empty())
            kvotest::RemoveTree(m_outputFolder);
    }

    HWND StartAndFindDialog(const std::wstring& arguments = {})
    {
        EXPECT_TRUE(m_program.Start(ProgramPath(), {}, arguments)) << GetLastError();
        HWND dialog = WaitForMainDialog(m_program.Id(), kStartMs);
        EXPECT_NE(dialog, nullptr) << "no dialog";
        if (dialog)
            m_outputFolder = ItemText(dialog, IDC_OUTPUT_FOLDER);
        return dialog;
    }

    // Waits for the outcome box, checks and dismisses it, and expects the program to end with the code.
    void ExpectOutcomeAndEnd(HWND dialog, const std::wstring& text, DWORD exitCode = 0)
    {
        HWND box = WaitForMessageBox(m_program.Id(), kRunMs);
        ASSERT_NE(box, nullptr) << "no outcome box";
        EXPECT_EQ(ItemText(box, kMessageBoxTextId), text);
        EXPECT_EQ(WindowText(box), L"KvoVellocsDiag");
        EXPECT_EQ(ItemText(dialog, IDC_STATUS), L"Status: Vellocs diagnostic report generation complete");
        DismissMessageBox(box);
        EXPECT_TRUE(WaitForWindowGone(dialog, kExitMs));
        EXPECT_EQ(m_program.WaitForExit(kExitMs), exitCode);
    }

    AppProcess m_program;
    std::wstring m_outputFolder;
};

TEST_F(ProgramTest, StartsWithEverythingCheckedAndATimeStampedDesktopFolder)
{
    const long long before = std::time(nullptr);
    HWND dialog = StartAndFindDialog();
    ASSERT_NE(dialog, nullptr);
    const long long after = std::time(nullptr);

    EXPECT_EQ(WindowText(dialog), L"Korvane Vellocs Diagnostic Tool");
    const std::wstring prefix = DesktopFolder() + L"\\VellocsDiag_";
    ASSERT_EQ(m_outputFolder.rfind(prefix, 0), 0u) << kvotest::Narrow(m_outputFolder);
    const long long stamp = std::stoll(m_outputFolder.substr(prefix.size()));
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    EXPECT_EQ(std::to_wstring(stamp), m_outputFolder.substr(prefix.size()));

    for (int id : {IDC_COLLECT_LOGS, IDC_COLLECT_METADATA, IDC_COLLECT_OSLOGS}) {
        EXPECT_TRUE(IsChecked(dialog, id)) << id;
        EXPECT_TRUE(IsItemEnabled(dialog, id)) << id;
    }
    for (int id : {IDOK, IDCANCEL, IDC_BROWSE})
        EXPECT_TRUE(IsItemEnabled(dialog, id)) << id;
    EXPECT_FALSE(IsItemVisible(dialog, IDC_PROGRESS));
    EXPECT_EQ(ItemText(dialog, IDC_STATUS), L"");

    PostClick(dialog, IDCANCEL);
    EXPECT_TRUE(WaitForWindowGone(dialog, kExitMs));
    EXPECT_EQ(m_program.WaitForExit(kExitMs), 0u);
    EXPECT_FALSE(kvotest::FolderExists(m_outputFolder)) << "closing must not create the folder";
}

TEST_F(ProgramTest, FullRunFillsTheOutputFolderAndCloses)
{
    HWND dialog = StartAndFindDialog();
    ASSERT_NE(dialog, nullptr);
    PostClick(dialog, IDOK);
    ASSERT_TRUE(WaitForItemText(dialog, IDC_STATUS, L"Status: ", kStartMs));
    ExpectOutcomeAndEnd(dialog, L"Vellocs diagnostic report successfully generated");

    for (const wchar_t* file : {L"KvoVellocsDiag.log", L"VellocsLogs\\VantfsLogFile.log"})
        EXPECT_TRUE(kvotest::FileExists(m_outputFolder + L"\\" + file)) << kvotest::Narrow(file);
    for (const wchar_t* folder : {L"VellocsLogs\\ServiceLogs-DeliveryMode", L"VellocsMetadata", L"OSLogs"})
        EXPECT_TRUE(kvotest::FolderExists(m_outputFolder + L"\\" + folder)) << kvotest::Narrow(folder);
    // The simulated machine has layer definitions to copy: the metadata folder is not empty.
    EXPECT_FALSE(kvotest::ListTree(m_outputFolder + L"\\VellocsMetadata").empty());
}

TEST_F(ProgramTest, FailingOsLogCollectorReportsTheFailure)
{
    // A temporary folder that does not exist: the script's private folder cannot be made there.
    const std::wstring missing = TempScript() + L".missing\\temp";
    EXPECT_TRUE(m_program.Start(ProgramPath(), L"TMP=" + missing + L"\nTEMP=" + missing)) << GetLastError();
    HWND dialog = WaitForMainDialog(m_program.Id(), kStartMs);
    if (dialog)
        m_outputFolder = ItemText(dialog, IDC_OUTPUT_FOLDER);
    ASSERT_NE(dialog, nullptr);
    PostClick(dialog, IDOK);
    ExpectOutcomeAndEnd(dialog,
                        L"Failed to generate Vellocs diagnostic report. Please check the logs for details.", 1);
    EXPECT_TRUE(kvotest::FileExists(m_outputFolder + L"\\KvoVellocsDiag.log"));
    EXPECT_TRUE(kvotest::FolderExists(m_outputFolder + L"\\VellocsLogs"));
    EXPECT_FALSE(kvotest::FolderExists(m_outputFolder + L"\\OSLogs"));
}

// Outputs of the OS log step that no tool delivered are items not collected: the box's second line.
TEST_F(ProgramTest, EventLogsThatNoToolDeliversAreCountedInTheBox)
{
    const kvotest::StandInSetting failingWmic(L"KVO_WMIC", L"empty");
    const kvotest::StandInSetting failingWevtutil(L"KVO_WEVTUTIL", L"empty");
    EXPECT_TRUE(m_program.Start(ProgramPath())) << GetLastError();
    HWND dialog = WaitForMainDialog(m_program.Id(), kStartMs);
    ASSERT_NE(dialog, nullptr);
    m_outputFolder = ItemText(dialog, IDC_OUTPUT_FOLDER);
    SetChecked(dialog, IDC_COLLECT_LOGS, false);
    SetChecked(dialog, IDC_COLLECT_METADATA, false);
    PostClick(dialog, IDOK);
    ExpectOutcomeAndEnd(dialog,
                        L"Vellocs diagnostic report successfully generated\n3 items could not be collected; see "
                        L"KvoVellocsDiag.Errors.log in the output folder.",
                        1);
}

TEST_F(ProgramTest, NothingSelectedWarnsCreatesNothingAndStaysOpen)
{
    HWND dialog = StartAndFindDialog();
    ASSERT_NE(dialog, nullptr);
    for (int id : {IDC_COLLECT_LOGS, IDC_COLLECT_METADATA, IDC_COLLECT_OSLOGS})
        SetChecked(dialog, id, false);
    PostClick(dialog, IDOK);
    HWND box = WaitForMessageBox(m_program.Id(), kStartMs);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ItemText(box, kMessageBoxTextId), L"Please select an option to generate Vellocs diagnostic data");
    DismissMessageBox(box);
    ASSERT_TRUE(WaitForWindowGone(box, kExitMs));
    // The OS log box is the last control the dialog enables again.
    for (int i = 0; i < 100 && !IsItemEnabled(dialog, IDC_COLLECT_OSLOGS); ++i)
        Sleep(50);
    for (int id : {IDOK, IDCANCEL, IDC_BROWSE, IDC_COLLECT_LOGS, IDC_COLLECT_METADATA, IDC_COLLECT_OSLOGS})
        EXPECT_TRUE(IsItemEnabled(dialog, id)) << id;
    EXPECT_FALSE(IsItemVisible(dialog, IDC_PROGRESS));
    EXPECT_FALSE(kvotest::FolderExists(m_outputFolder));

    PostClick(dialog, IDCANCEL);
    EXPECT_TRUE(WaitForWindowGone(dialog, kExitMs));
    EXPECT_EQ(m_program.WaitForExit(kExitMs), 0u);
    EXPECT_FALSE(kvotest::FolderExists(m_outputFolder));
}

TEST_F(ProgramTest, NotEnoughSpaceShowsWhatIsNeededCreatesNothingAndStaysOpen)
{
    // No disk has 16 TB free: the check refuses before anything is created.
    kvotest::ScratchFolder base(L"ui-preset");
    HWND dialog = StartAndFindDialog(L"/reserve 16777216 /collect metadata /out \"" + base.Path() + L"\"");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(m_outputFolder.rfind(base.Path() + L"\\VellocsDiag_", 0), 0u) << kvotest::Narrow(m_outputFolder);
    EXPECT_FALSE(IsChecked(dialog, IDC_COLLECT_LOGS));
    EXPECT_TRUE(IsChecked(dialog, IDC_COLLECT_METADATA));
    EXPECT_FALSE(IsChecked(dialog, IDC_COLLECT_OSLOGS));
    PostClick(dialog, IDOK);
    HWND box = WaitForMessageBox(m_program.Id(), kStartMs);
    ASSERT_NE(box, nullptr);
    const std::wstring text = ItemText(box, kMessageBoxTextId);
    EXPECT_EQ(text.rfind(L"There is not enough free space on ", 0), 0u) << kvotest::Narrow(text);
    EXPECT_NE(text.find(L"16.0 TB to keep free"), std::wstring::npos) << kvotest::Narrow(text);
    DismissMessageBox(box);
    ASSERT_TRUE(WaitForWindowGone(box, kExitMs));
    // The OS log box is the last control the dialog enables again.
    for (int i = 0; i < 100 && !IsItemEnabled(dialog, IDC_COLLECT_OSLOGS); ++i)
        Sleep(50);
    for (int id : {IDOK, IDCANCEL, IDC_BROWSE})
        EXPECT_TRUE(IsItemEnabled(dialog, id)) << id;
    EXPECT_FALSE(kvotest::FolderExists(m_outputFolder));

    // Closed without a report: the exit code is the refused run's.
    PostClick(dialog, IDCANCEL);
    EXPECT_TRUE(WaitForWindowGone(dialog, kExitMs));
    EXPECT_EQ(m_program.WaitForExit(kExitMs), 4u);
}

TEST_F(ProgramTest, CloseAndEscapeDoNothingWhileARunIsUnderWay)
{
    // A script that takes a few seconds keeps the run busy.
    const std::wstring slow = TempScript() + L".slow.bat";
    kvotest::WriteFileBytes(slow, "@echo off\r\nping -n 6 127.0.0.1 >nul\r\nexit\r\n");
    HWND dialog = StartAndFindDialog(L"/script \"" + slow + L"\"");
    DeleteFileW(slow.c_str()); // read at start-up: the copy that runs is the run's own
    ASSERT_NE(dialog, nullptr);
    SetChecked(dialog, IDC_COLLECT_LOGS, false);
    SetChecked(dialog, IDC_COLLECT_METADATA, false);
    PostClick(dialog, IDOK);
    ASSERT_TRUE(WaitForItemText(dialog, IDC_STATUS, L"Collecting OS Logs", kStartMs));

    PostClick(dialog, IDCANCEL);
    PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    Sleep(1000);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_TRUE(IsItemVisible(dialog, IDC_PROGRESS));
    EXPECT_FALSE(IsItemEnabled(dialog, IDOK));
    EXPECT_EQ(WaitForMessageBox(m_program.Id(), 0), nullptr) << "the run ended too early to test the busy state";

    ExpectOutcomeAndEnd(dialog, L"Vellocs diagnostic report successfully generated");
    EXPECT_FALSE(kvotest::FolderExists(m_outputFolder + L"\\VellocsLogs"));
}

TEST_F(ProgramTest, RefusesAMachineWithoutLayeringBeforeAnyDialog)
{
    DriverStateOverride noLayering(0);
    ASSERT_TRUE(m_program.Start(ProgramPath()));
    HWND box = WaitForMessageBox(m_program.Id(), kStartMs);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ItemText(box, kMessageBoxTextId), L"KvoVellocsDiag could not find a valid Velloc attached to the system");
    EXPECT_EQ(WindowText(box), L"KvoVellocsDiag");
    EXPECT_EQ(WaitForMainDialog(m_program.Id(), 0), nullptr);
    DismissMessageBox(box);
    EXPECT_EQ(m_program.WaitForExit(kExitMs), 3u);
    EXPECT_EQ(WaitForMainDialog(m_program.Id(), 0), nullptr);
}

// A launcher or a console that takes the output must not swallow the boxes of a run without /quiet:
// the box shows, and the line goes to the output as well.
TEST_F(ProgramTest, WithOutputRedirectedARunWithoutQuietStillShowsItsBoxes)
{
    kvotest::ScratchFolder scratch(L"app-redirected");
    const struct {
        const wchar_t* arguments;
        bool layered;
        const wchar_t* boxStart;
        DWORD exitCode;
    } cases[] = {
        {L"", false, L"KvoVellocsDiag could not find a valid Velloc attached to the system", 3},
        {L"/bogus", true, L"KvoVellocsDiag: Unknown switch \"/bogus\"", 2},
        {L"/?", true, L"KvoVellocsDiag [/quiet]", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(kvotest::Narrow(c.arguments));
        std::optional<DriverStateOverride> noLayering;
        if (!c.layered)
            noLayering.emplace(0);
        const std::wstring output = scratch / L"output.txt";
        AppProcess program;
        ASSERT_TRUE(program.Start(ProgramPath(), {}, c.arguments, output));
        HWND box = WaitForMessageBox(program.Id(), kStartMs);
        ASSERT_NE(box, nullptr) << "no box";
        EXPECT_EQ(ItemText(box, kMessageBoxTextId).rfind(c.boxStart, 0), 0u) << kvotest::Narrow(ItemText(box, kMessageBoxTextId));
        DismissMessageBox(box);
        EXPECT_EQ(program.WaitForExit(kExitMs), c.exitCode);
        EXPECT_NE(kvotest::ReadFileBytes(output).find(kvotest::Narrow(c.boxStart)), std::string::npos)
            << kvotest::ReadFileBytes(output);
    }
}

TEST_F(ProgramTest, MissingStringsEndTheProgramWithAMessageAndAnErrorCode)
{
    // A copy of the program next to a language module that has no string table: the first
    // collector's name cannot be loaded during start-up.
    kvotest::ScratchFolder copy(L"app-nostrings");
    kvotest::WriteFileBytes(copy / L"KvoVellocsDiag.exe", kvotest::ReadFileBytes(ProgramPath()));
    kvotest::WriteFileBytes(copy / L"KvoVellocsDiagUI.dll",
                            kvotest::ReadFileBytes(BuildPath("tests/app/KvoTestNoStringsUI.dll")));
    ASSERT_TRUE(m_program.Start(copy / L"KvoVellocsDiag.exe"));
    HWND box = WaitForMessageBox(m_program.Id(), kStartMs);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ItemText(box, kMessageBoxTextId), L"Load String failed");
    EXPECT_EQ(WindowText(box), L"KvoVellocsDiag");
    DismissMessageBox(box);
    EXPECT_EQ(m_program.WaitForExit(kExitMs), 6u);
}

// Runs in the German UI language (the app_language_de entry).
TEST(GermanUiTest, ProgramShowsTheGermanModule)
{
    AppProcess program;
    ASSERT_TRUE(program.Start(ProgramPath()));
    HWND dialog = WaitForMainDialog(program.Id(), kStartMs);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(dialog), L"Korvane Vellocs-Diagnosewerkzeug");
    EXPECT_EQ(ItemText(dialog, IDCANCEL), L"Schlie\u00DFen");
    EXPECT_EQ(ItemText(dialog, IDC_COLLECT_LOGS), L"Vellocs-Protokolle sammeln");
    for (int id : {IDC_COLLECT_LOGS, IDC_COLLECT_METADATA, IDC_COLLECT_OSLOGS})
        SetChecked(dialog, id, false);
    PostClick(dialog, IDOK);
    HWND box = WaitForMessageBox(program.Id(), kStartMs);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ItemText(box, kMessageBoxTextId),
              L"Bitte w\u00E4hlen Sie aus, welche Vellocs-Diagnosedaten gesammelt werden sollen");
    DismissMessageBox(box);
    ASSERT_TRUE(WaitForWindowGone(box, kExitMs));
    for (int i = 0; i < 100 && !IsItemEnabled(dialog, IDCANCEL); ++i)
        Sleep(50);
    PostClick(dialog, IDCANCEL);
    EXPECT_EQ(program.WaitForExit(kExitMs), 0u);
}

} // namespace
