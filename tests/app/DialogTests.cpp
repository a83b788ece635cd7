// The main dialog in-process, with collectors whose results and timing the test controls: the
// idle and busy states, the three outcomes, the busy guard against Close and Escape, a worker
// that cannot start, missing strings, and a run in another person's session (no folder browser,
// no explorer). A driver thread works the dialog like a user.
#include "VellocsDiagDlg.h"

#include "AppDriver.h"
#include "AppTestSeams.h"
#include "ResourceStrings.h"
#include "TestSupport.h"
#include "UniqueHandles.h"
#include "resource.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

using namespace kvoapp;
using Tallis::ImageUpdate::unique_handle;
using Tallis::ImageUpdate::unique_hmodule;

namespace {

class FakeCollector : public CVellocsDiagComponent {
public:
    explicit FakeCollector(UINT nameId) : CVellocsDiagComponent(nameId) {}

    INT32 Collect(const wchar_t* outputFolder, const wchar_t*, INT32 layerMode) override
    {
        ++calls;
        folderSeen = outputFolder ? outputFolder : L"";
        layerModeSeen = layerMode;
        if (onCollect)
            onCollect();
        if (gate)
            WaitForSingleObject(gate, 20000);
        return result;
    }

    INT32 result = 1;
    std::atomic<int> calls{0};
    std::wstring folderSeen;
    INT32 layerModeSeen = -1;
    HANDLE gate = nullptr;
    std::function<void()> onCollect;
};

std::wstring LoadText(UINT id)
{
    return Tallis::ImageUpdate::LoadResourceString(id);
}

HICON SystemIcon(const wchar_t* id)
{
    return LoadIconW(nullptr, id);
}

bool CloseEntryGreyed(HWND dialog)
{
    HMENU menu = GetSystemMenu(dialog, FALSE);
    if (!menu)
        return false;
    const UINT state = GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND);
    return state != UINT(-1) && (state & MF_GRAYED) != 0;
}

HCURSOR ClassCursor(HWND dialog)
{
    return reinterpret_cast<HCURSOR>(GetClassLongPtrW(dialog, GCLP_HCURSOR));
}

constexpr int kControls[] = {IDOK, IDCANCEL, IDC_BROWSE, IDC_COLLECT_LOGS, IDC_COLLECT_METADATA, IDC_COLLECT_OSLOGS};

::testing::AssertionResult AllControlsEnabled(HWND dialog, bool enabled)
{
    for (int id : kControls)
        if (IsItemEnabled(dialog, id) != enabled)
            return ::testing::AssertionFailure() << "control " << id << (enabled ? " disabled" : " enabled");
    return ::testing::AssertionSuccess();
}

// Waits for a message box, checks its text and icon, and dismisses it.
::testing::AssertionResult ExpectMessageBox(const std::wstring& text, const wchar_t* icon)
{
    HWND box = WaitForMessageBox(GetCurrentProcessId(), 20000);
    if (!box)
        return ::testing::AssertionFailure() << "no message box";
    const std::wstring shown = ItemText(box, kMessageBoxTextId);
    const HICON shownIcon = MessageBoxIcon(box);
    DismissMessageBox(box);
    WaitForWindowGone(box, 10000);
    if (shown.find(text) == std::wstring::npos)
        return ::testing::AssertionFailure() << "box says \"" << kvotest::Narrow(shown) << "\"";
    if (shownIcon != SystemIcon(icon))
        return ::testing::AssertionFailure() << "box shows another icon";
    return ::testing::AssertionSuccess();
}

// Another process's visible top-level windows whose title holds the name: the explorer titles its
// window with the folder's name.
int WindowsTitled(const std::wstring& name)
{
    struct Search {
        const std::wstring& name;
        int count;
    } search{name, 0};
    EnumWindows(
        [](HWND window, LPARAM argument) -> BOOL {
            auto* found = reinterpret_cast<Search*>(argument);
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process != GetCurrentProcessId() && IsWindowVisible(window) &&
                WindowText(window).find(found->name) != std::wstring::npos)
                ++found->count;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.count;
}

// Whether an explorer window on the folder appears within timeoutMs.
bool ExplorerWindowAppears(const std::wstring& folderName, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (WindowsTitled(folderName) == 0) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(100);
    }
    return true;
}

class DialogTest : public ::testing::Test {
protected:
    DialogTest() : m_scratch(L"app-dialog"), m_gate(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        m_holder.SetComponent(CVellocsDiag::kProductLogs, &m_logs);
        m_holder.SetComponent(CVellocsDiag::kMetadata, &m_metadata);
        m_holder.SetComponent(CVellocsDiag::kOsLogs, &m_osLogs);
        for (FakeCollector* collector : {&m_logs, &m_metadata, &m_osLogs})
            collector->selected = 1;
        m_request.baseFolder = m_scratch.Path();
        m_request.seconds = 1457355900;
        m_request.layerMode = 2;
        m_outputFolder = m_scratch / L"VellocsDiag_1457355900";
    }

    ~DialogTest() override
    {
        SetEvent(m_gate.get());
        SetThreadStartForTest(nullptr);
        Tallis::ImageUpdate::SetResourceModule(nullptr);
    }

    // Runs the dialog modally on this thread while script drives it from another. A script that
    // leaves the dialog open fails the test and ends the modal loop with WM_QUIT.
    INT_PTR RunDialog(CVellocsDiagDlg& dialog, const std::function<void(HWND)>& script)
    {
        const DWORD guiThread = GetCurrentThreadId();
        std::thread driver([&] {
            HWND hwnd = WaitForMainDialog(GetCurrentProcessId(), 20000);
            if (!hwnd) {
                ADD_FAILURE() << "the dialog did not appear";
            } else {
                script(hwnd);
                if (!WaitForWindowGone(hwnd, 20000)) {
                    ADD_FAILURE() << "the dialog is still open after the script";
                    SetEvent(m_gate.get());
                    Sleep(500);
                }
            }
            PostThreadMessageW(guiThread, WM_QUIT, 0, 0);
        });
        INT_PTR result = -2;
        std::exception_ptr error;
        try {
            result = dialog.DoModal();
        } catch (...) {
            error = std::current_exception();
        }
        driver.join();
        MSG leftover;
        while (PeekMessageW(&leftover, nullptr, 0, 0, PM_REMOVE)) {
        }
        if (error)
            std::rethrow_exception(error);
        return result;
    }

    kvotest::ScratchFolder m_scratch;
    unique_handle m_gate;
    FakeCollector m_logs{IDS_COLLECTING_LOGS};
    FakeCollector m_metadata{IDS_COLLECTING_METADATA};
    FakeCollector m_osLogs{IDS_COLLECTING_OS_LOGS};
    CVellocsDiag m_holder;
    RunRequest m_request;
    std::wstring m_outputFolder;
};

TEST_F(DialogTest, StartsIdleWithEverythingCheckedAndTheCloseEntryGreyed)
{
    CVellocsDiagDlg dialog(m_holder, m_request, {});
    const INT_PTR result = RunDialog(dialog, [&](HWND hwnd) {
        EXPECT_EQ(ItemText(hwnd, IDC_OUTPUT_FOLDER), m_outputFolder);
        for (int id : {IDC_COLLECT_LOGS, IDC_COLLECT_METADATA, IDC_COLLECT_OSLOGS})
            EXPECT_TRUE(IsChecked(hwnd, id)) << id;
        EXPECT_TRUE(AllControlsEnabled(hwnd, true));
        EXPECT_FALSE(IsItemVisible(hwnd, IDC_PROGRESS));
        EXPECT_NE(GetWindowLongPtrW(GetDlgItem(hwnd, IDC_PROGRESS), GWL_STYLE) & PBS_MARQUEE, 0);
        EXPECT_TRUE(CloseEntryGreyed(hwnd));
        EXPECT_NE(SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0), 0);
        EXPECT_EQ(ItemText(hwnd, IDC_STATUS), L"");
        EXPECT_FALSE(dialog.IsBusy());
        PostClick(hwnd, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(m_logs.calls + m_metadata.calls + m_osLogs.calls, 0);
    EXPECT_FALSE(kvotest::FolderExists(m_outputFolder));
}

TEST_F(DialogTest, UnavailableOrUnselectedCollectorStartsUnchecked)
{
    m_metadata.SetUnavailable();
    m_request.collect[CVellocsDiag::kOsLogs] = false;
    CVellocsDiagDlg dialog(m_holder, m_request, {});
    RunDialog(dialog, [&](HWND hwnd) {
        EXPECT_TRUE(IsChecked(hwnd, IDC_COLLECT_LOGS));
        EXPECT_FALSE(IsChecked(hwnd, IDC_COLLECT_METADATA));
        EXPECT_FALSE(IsItemEnabled(hwnd, IDC_COLLECT_METADATA));
        EXPECT_FALSE(IsChecked(hwnd, IDC_COLLECT_OSLOGS));
        EXPECT_TRUE(IsItemEnabled(hwnd, IDC_COLLECT_OSLOGS));
        PostClick(hwnd, IDCANCEL);
    });
}

TEST_F(DialogTest, SuccessfulRunIsBusyThenReportsAndCloses)
{
    m_logs.gate = m_gate.get();
    CVellocsDiagDlg dialog(m_holder, m_request, {});
    const INT_PTR result = RunDialog(dialog, [&](HWND hwnd) {
        PostClick(hwnd, IDOK);
        ASSERT_TRUE(WaitForItemText(hwnd, IDC_STATUS, L"Status: Collecting Vellocs Logs", 20000))
            << kvotest::Narrow(ItemText(hwnd, IDC_STATUS));
        EXPECT_TRUE(dialog.IsBusy());
        EXPECT_TRUE(AllControlsEnabled(hwnd, false));
        EXPECT_TRUE(IsItemVisible(hwnd, IDC_PROGRESS));
        EXPECT_EQ(ClassCursor(hwnd), LoadCursorW(nullptr, IDC_WAIT));
        EXPECT_TRUE(CloseEntryGreyed(hwnd));
        SetEvent(m_gate.get());
        EXPECT_TRUE(ExpectMessageBox(LoadText(IDS_REPORT_SUCCEEDED), IDI_INFORMATION));
        EXPECT_EQ(ClassCursor(hwnd), LoadCursorW(nullptr, IDC_ARROW));
    });
    EXPECT_EQ(result, IDCANCEL);
    for (FakeCollector* collector : {&m_logs, &m_metadata, &m_osLogs}) {
        EXPECT_EQ(collector->calls, 1);
        EXPECT_EQ(collector->folderSeen, m_outputFolder);
        EXPECT_EQ(collector->layerModeSeen, 2);
    }
    EXPECT_TRUE(kvotest::FileExists(m_outputFolder + L"\\KvoVellocsDiag.log"));
}

TEST_F(DialogTest, FailingCollectorReportsTheFailureAndCloses)
{
    m_metadata.result = 0;
    CVellocsDiagDlg dialog(m_holder, m_request, {});
    const INT_PTR result = RunDialog(dialog, [&](HWND hwnd) {
        PostClick(hwnd, IDOK);
        EXPECT_TRUE(ExpectMessageBox(LoadText(IDS_REPORT_FAILED), IDI_ERROR));
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(m_logs.calls, 1);
    EXPECT_EQ(m_metadata.calls, 1);
    EXPECT_EQ(m_osLogs.calls, 0);
}

TEST_F(DialogTest, WorkerCopiesTheCheckBoxesIntoTheSelectedFlags)
{
    // Only the OS logs stay checked.
    CVellocsDiagDlg dialog(m_holder, m_request, {});
    RunDialog(dialog, [&](HWND hwnd) {
        SetChecked(hwnd, IDC_COLLECT_LOGS, false);
        SetChecked(hwnd, IDC_COLLECT_METADATA, false);
        PostClick(hwnd, IDOK);
        EXPECT_TRUE(ExpectMessageBox(LoadText(IDS_REPORT_SUCCEEDED), IDI_INFORMATION));
    });
    EXPECT_EQ(m_logs.calls, 0);
    EXPECT_EQ(m_metadata.calls, 0);
    EXPECT_EQ(m_osLogs.calls, 1);
    EXPECT_EQ(m_logs.selected, 0);
    EXPECT_EQ(m_osLogs.selected, 1);
}

TEST_F(DialogTest, NothingSelectedWarnsAndReturnsToIdle)
{
    CVellocsDiagDlg dialog(m_holder, m_request, {});
    const INT_PTR result = RunDialog(dialog, [&](HWND hwnd) {
        for (int id : {IDC_COLLECT_LOGS, IDC_COLLECT_METADATA, IDC_COLLECT_OSLOGS})
            SetChecked(hwnd, id, false);
        PostClick(hwnd, IDOK);
        EXPECT_TRUE(ExpectMessageBox(LoadText(IDS_SELECT_AN_OPTION), IDI_WARNING));
        // The box is dismissed before the dialog re-enables its controls: give it a moment.
        for (int i = 0; i < 100 && dialog.IsBusy(); ++i)
            Sleep(20);
        EXPECT_FALSE(dialog.IsBusy());
        EXPECT_TRUE(AllControlsEnabled(hwnd, true));
        EXPECT_FALSE(IsItemVisible(hwnd, IDC_PROGRESS));
        EXPECT_EQ(ClassCursor(hwnd), LoadCursorW(nullptr, IDC_ARROW));
        EXPECT_FALSE(IsChecked(hwnd, IDC_COLLECT_LOGS));
        // A second empty attempt warns again; then Close ends the dialog.
        PostClick(hwnd, IDOK);
        EXPECT_TRUE(ExpectMessageBox(LoadText(IDS_SELECT_AN_OPTION), IDI_WARNING));
        for (int i = 0; i < 100 && dialog.IsBusy(); ++i)
            Sleep(20);
        PostClick(hwnd, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(m_logs.calls + m_metadata.calls + m_osLogs.calls, 0);
    EXPECT_FALSE(kvotest::FolderExists(m_outputFolder));
}

TEST_F(DialogTest, CloseAndEscapeAreIgnoredWhileBusy)
{
    m_osLogs.gate = m_gate.get();
    CVellocsDiagDlg dialog(m_holder, m_request, {});
    const INT_PTR result = RunDialog(dialog, [&](HWND hwnd) {
        PostClick(hwnd, IDOK);
        ASSERT_TRUE(WaitForItemText(hwnd, IDC_STATUS, L"Collecting OS Logs", 20000));
        // Wine delivers BN_CLICKED even for a disabled button, so this exercises the busy flag.
        PostClick(hwnd, IDCANCEL);
        SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        PostMessageW(hwnd, WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
        // A second OK while busy must not start a second run.
        SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        Sleep(300);
        EXPECT_TRUE(IsWindow(hwnd));
        EXPECT_TRUE(dialog.IsBusy());
        SetEvent(m_gate.get());
        EXPECT_TRUE(ExpectMessageBox(LoadText(IDS_REPORT_SUCCEEDED), IDI_INFORMATION));
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(m_osLogs.calls, 1);
    EXPECT_EQ(m_logs.calls, 1);
}

TEST_F(DialogTest, WorkerThatCannotStartReturnsToIdleAndSaysSo)
{
    SetThreadStartForTest([](LPTHREAD_START_ROUTINE, void*) -> HANDLE {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    });
    CVellocsDiagDlg dialog(m_holder, m_request, {});
    const INT_PTR result = RunDialog(dialog, [&](HWND hwnd) {
        PostClick(hwnd, IDOK);
        EXPECT_TRUE(ExpectMessageBox(L"could not be started (error 8)", IDI_ERROR));
        // Busy is cleared last, after the controls.
        for (int i = 0; i < 100 && dialog.IsBusy(); ++i)
            Sleep(20);
        EXPECT_FALSE(dialog.IsBusy());
        EXPECT_TRUE(AllControlsEnabled(hwnd, true));
        EXPECT_FALSE(IsItemVisible(hwnd, IDC_PROGRESS));
        EXPECT_EQ(ClassCursor(hwnd), LoadCursorW(nullptr, IDC_ARROW));
        PostClick(hwnd, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(m_logs.calls + m_metadata.calls + m_osLogs.calls, 0);
}

// The run registers the dialog as its status sink for as long as it lasts.
TEST_F(DialogTest, StatusTextReachesTheDialogWhileItsRunIsUnderWay)
{
    m_logs.onCollect = [] { SetStatusText(L"Status: from elsewhere"); };
    m_logs.gate = m_gate.get();
    {
        CVellocsDiagDlg dialog(m_holder, m_request, {});
        RunDialog(dialog, [&](HWND hwnd) {
            PostClick(hwnd, IDOK);
            EXPECT_TRUE(WaitForItemText(hwnd, IDC_STATUS, L"Status: from elsewhere", 20000))
                << kvotest::Narrow(ItemText(hwnd, IDC_STATUS));
            EXPECT_EQ(ItemText(hwnd, IDC_STATUS), L"Status: from elsewhere");
            SetEvent(m_gate.get());
            EXPECT_TRUE(ExpectMessageBox(LoadText(IDS_REPORT_SUCCEEDED), IDI_INFORMATION));
        });
    }
    // The run's scope removed the registration: nothing to reach, nothing to crash.
    SetStatusText(L"Status: after the dialog");
}

// The session's own user (what the real check finds under Wine) gets the folder in the explorer.
TEST_F(DialogTest, InTheSessionUsersOwnRunTheExplorerOpensTheFolder)
{
    // A name of its own, which no other case's explorer window shows.
    m_request.seconds = 1457355911;
    CVellocsDiagDlg dialog(m_holder, m_request, {});
    RunDialog(dialog, [&](HWND hwnd) {
        EXPECT_TRUE(IsItemEnabled(hwnd, IDC_BROWSE));
        PostClick(hwnd, IDOK);
        EXPECT_TRUE(ExpectMessageBox(LoadText(IDS_REPORT_SUCCEEDED), IDI_INFORMATION));
    });
    EXPECT_TRUE(ExplorerWindowAppears(L"VellocsDiag_1457355911", 15000));
}

DWORD AnotherPersonsSession(SessionFacts& facts)
{
    facts.tokenSid = L"S-1-5-21-1004336348-1177238915-682003330-500";
    facts.tokenUser = {L"helpdesk-admin", L"CONTOSO"};
    facts.sessionUser = {L"anna", L"CONTOSO"};
    return 0;
}

class DialogInAnotherSessionTest : public DialogTest {
protected:
    void SetUp() override { SetSessionFactsForTest(AnotherPersonsSession); }
    void TearDown() override { SetSessionFactsForTest(nullptr); }
};

TEST_F(DialogInAnotherSessionTest, BrowseIsOffWithItsReasonAndAClickOpensNoFolderBrowser)
{
    CVellocsDiagDlg dialog(m_holder, m_request, {});
    RunDialog(dialog, [&](HWND hwnd) {
        const std::wstring reason = LoadText(IDS_BROWSE_UNAVAILABLE);
        EXPECT_FALSE(IsItemEnabled(hwnd, IDC_BROWSE));
        for (int id : {IDOK, IDCANCEL, IDC_COLLECT_LOGS, IDC_COLLECT_METADATA, IDC_COLLECT_OSLOGS})
            EXPECT_TRUE(IsItemEnabled(hwnd, id)) << id;
        EXPECT_EQ(ItemText(hwnd, IDC_STATUS), reason);
        // Wine delivers a click on a disabled button, as a posted message would on Windows.
        PostClick(hwnd, IDC_BROWSE);
        if (HWND browser = WaitForMessageBox(GetCurrentProcessId(), 2000)) {
            ADD_FAILURE() << "the folder browser opened";
            PostMessageW(browser, WM_COMMAND, IDCANCEL, 0);
            WaitForWindowGone(browser, 10000);
        }
        EXPECT_EQ(ItemText(hwnd, IDC_OUTPUT_FOLDER), m_outputFolder);
        // Back to idle after an empty OK: still off, and the reason is shown again.
        for (int id : {IDC_COLLECT_LOGS, IDC_COLLECT_METADATA, IDC_COLLECT_OSLOGS})
            SetChecked(hwnd, id, false);
        PostClick(hwnd, IDOK);
        EXPECT_TRUE(ExpectMessageBox(LoadText(IDS_SELECT_AN_OPTION), IDI_WARNING));
        for (int i = 0; i < 100 && dialog.IsBusy(); ++i)
            Sleep(20);
        EXPECT_TRUE(IsItemEnabled(hwnd, IDOK));
        EXPECT_FALSE(IsItemEnabled(hwnd, IDC_BROWSE));
        EXPECT_EQ(ItemText(hwnd, IDC_STATUS), reason);
        PostClick(hwnd, IDCANCEL);
    });
}

TEST_F(DialogInAnotherSessionTest, TheFinalBoxNamesTheFolderAndNoExplorerOpens)
{
    m_request.seconds = 1457355912;
    m_outputFolder = m_scratch / L"VellocsDiag_1457355912";
    m_metadata.result = 0;
    CVellocsDiagDlg dialog(m_holder, m_request, {});
    RunDialog(dialog, [&](HWND hwnd) {
        PostClick(hwnd, IDOK);
        EXPECT_TRUE(ExpectMessageBox(LoadText(IDS_REPORT_FAILED) + L"\n" + LoadText(IDS_REPORT_FOLDER) + L"\n" +
                                         m_outputFolder,
                                     IDI_ERROR));
    });
    EXPECT_EQ(m_metadata.calls, 1);
    // As long as the session's own user's explorer takes to show its window (see above).
    EXPECT_FALSE(ExplorerWindowAppears(L"VellocsDiag_1457355912", 5000));
}

class DialogStringTest : public DialogTest {
protected:
    void SetUp() override
    {
        const std::wstring path =
            WinePath(kvotest::Narrow(kvotest::GetEnv(L"KVO_BINARY_DIR")) + "/tests/app/KvoTestNoStringsUI.dll");
        m_noStrings.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(m_noStrings) << kvotest::Narrow(path);
    }
    unique_hmodule m_noStrings;
};

TEST_F(DialogStringTest, MissingStatusStringEndsTheDialogWithTheError)
{
    CVellocsDiagDlg dialog(m_holder, m_request, {});
    Tallis::ImageUpdate::SetResourceModule(m_noStrings.get());
    try {
        RunDialog(dialog, [&](HWND hwnd) { PostClick(hwnd, IDOK); });
        ADD_FAILURE() << "the dialog ended without raising";
    } catch (const Tallis::ImageUpdate::StringLoadError& error) {
        EXPECT_STREQ(error.what(), "Load String failed");
    }
    EXPECT_EQ(m_logs.calls + m_metadata.calls + m_osLogs.calls, 0);
    EXPECT_FALSE(kvotest::FolderExists(m_outputFolder));
}

TEST_F(DialogStringTest, MissingCompletionStringEndsTheDialogWithTheError)
{
    // The run itself completes; the outcome text is what cannot be loaded.
    m_osLogs.onCollect = [this] { Tallis::ImageUpdate::SetResourceModule(m_noStrings.get()); };
    CVellocsDiagDlg dialog(m_holder, m_request, {});
    EXPECT_THROW(RunDialog(dialog, [&](HWND hwnd) { PostClick(hwnd, IDOK); }), Tallis::ImageUpdate::StringLoadError);
    EXPECT_EQ(m_osLogs.calls, 1);
}

} // namespace
