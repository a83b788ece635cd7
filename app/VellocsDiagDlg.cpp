#include "VellocsDiagDlg.h"

#include "AppTestSeams.h"
#include "CollectionSession.h"
#include "ConsoleOutput.h"
#include "OutputFolder.h"
#include "ResourceStrings.h"
#include "SessionUser.h"
#include "UniqueHandles.h"
#include "WinApplication.h"
#include "resource.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <atomic>

using Tallis::ImageUpdate::LoadResourceString;
using Tallis::ImageUpdate::unique_handle;

namespace {

// Check boxes in holder order: product logs, metadata, OS logs.
constexpr int kCheckBoxIds[CVellocsDiag::kComponentCount] = {IDC_COLLECT_LOGS, IDC_COLLECT_METADATA,
                                                             IDC_COLLECT_OSLOGS};
constexpr UINT kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE; // 0x51

std::atomic<ThreadStartFn> g_threadStart{nullptr};

HANDLE StartThread(LPTHREAD_START_ROUTINE routine, void* argument)
{
    if (ThreadStartFn start = g_threadStart.load())
        return start(routine, argument);
    return CreateThread(nullptr, 0, routine, argument, 0, nullptr);
}

// A string with one %u in it, filled with the count.
std::wstring FormatCountString(UINT id, unsigned count)
{
    const std::wstring format = LoadResourceString(id);
    wchar_t text[512] = {};
    _snwprintf(text, 511, format.c_str(), count);
    return text;
}

bool IsOffered(CVellocsDiagComponent* component)
{
    return component && component->IsAvailable();
}

} // namespace

void SetThreadStartForTest(ThreadStartFn start) noexcept
{
    g_threadStart.store(start);
}

CVellocsDiagDlg::CVellocsDiagDlg(CVellocsDiag& holder, RunRequest& request, std::vector<std::wstring> earlyWarnings,
                                 std::vector<std::wstring> earlyNotes)
    : CModalDialog(IDD_VELLOCSDIAG_DIALOG), m_holder(holder), m_request(request),
      m_earlyWarnings(std::move(earlyWarnings)), m_earlyNotes(std::move(earlyNotes)),
      m_outputFolderText(MakeOutputFolder(request))
{
    for (int index = 0; index < CVellocsDiag::kComponentCount; ++index) {
        CVellocsDiagComponent* component = holder.GetComponent(index);
        m_checkStates[size_t(index)] = component && request.collect[size_t(index)] && component->IsAvailable() ? 1 : 0;
    }
}

void CVellocsDiagDlg::SetStatusText(const wchar_t* text)
{
    if (HWND hwnd = GetHwnd())
        SetDlgItemTextW(hwnd, IDC_STATUS, text);
    CConsoleOutput::Get().WriteLine(text ? text : L"");
}

void CVellocsDiagDlg::ExchangeData(bool toControls)
{
    ExchangeText(toControls, IDC_OUTPUT_FOLDER, m_outputFolderText);
    ExchangeCheck(toControls, IDC_COLLECT_LOGS, m_checkStates[CVellocsDiag::kProductLogs]);
    ExchangeCheck(toControls, IDC_COLLECT_OSLOGS, m_checkStates[CVellocsDiag::kOsLogs]);
    ExchangeCheck(toControls, IDC_COLLECT_METADATA, m_checkStates[CVellocsDiag::kMetadata]);
    ExchangeText(toControls, IDC_STATUS, m_statusText);
    BindControl(toControls, IDC_PROGRESS, m_progress);
}

bool CVellocsDiagDlg::OnInitDialog()
{
    CModalDialog::OnInitDialog();
    m_waitCursor = LoadCursorW(nullptr, IDC_WAIT);
    m_arrowCursor = LoadCursorW(nullptr, IDC_ARROW);

    m_progress.AddStyle(PBS_MARQUEE);
    m_progress.Send(PBM_SETMARQUEE, TRUE, 50);

    // The icon is the program's own, whatever language module serves the template.
    if (HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAINFRAME)))
        SendMessageW(GetHwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));

    // A run cannot be cancelled, so the title bar's close and Alt+F4 stay unavailable throughout.
    if (HMENU systemMenu = GetSystemMenu(GetHwnd(), FALSE))
        EnableMenuItem(systemMenu, SC_CLOSE, MF_BYCOMMAND | MF_DISABLED | MF_GRAYED);

    // The folder browser is a full shell view: its context menus start programs with this
    // process's rights, which the person at the keyboard may not have.
    m_shellClosed = !MayUseShellWindows(CurrentSessionUser());
    if (m_shellClosed)
        m_shellClosedReason = LoadResourceString(IDS_BROWSE_UNAVAILABLE);

    EnableControls(true);
    return true;
}

bool CVellocsDiagDlg::OnCommand(WORD id, WORD code)
{
    if (code != BN_CLICKED)
        return false;
    switch (id) {
    case IDOK:
        OnOK();
        return true;
    case IDCANCEL:
        OnClose();
        return true;
    case IDC_BROWSE:
        OnBrowse();
        return true;
    default:
        return false;
    }
}

bool CVellocsDiagDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result)
{
    if (message != kCollectionDone)
        return false;
    OnCollectionDone(RunEnd(wParam));
    result = 0;
    return true;
}

void CVellocsDiagDlg::EnableControls(bool enable)
{
    EnableItem(IDC_BROWSE, enable && !m_shellClosed);
    EnableItem(IDCANCEL, enable);
    EnableItem(IDOK, enable);
    for (int index = 0; index < CVellocsDiag::kComponentCount; ++index)
        EnableItem(kCheckBoxIds[index], enable && IsOffered(m_holder.GetComponent(index)));
    if (enable && m_shellClosed)
        m_statusText = m_shellClosedReason;
    if (enable)
        UpdateData(true);
}

void CVellocsDiagDlg::OnBrowse()
{
    // A click reaches here from a disabled button too (a posted WM_COMMAND).
    if (m_shellClosed)
        return;
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW browse = {};
    browse.hwndOwner = GetHwnd();
    browse.pszDisplayName = displayName;
    browse.ulFlags = kBrowseFlags;
    Tallis::ImageUpdate::unique_cotaskmem picked(SHBrowseForFolderW(&browse));
    wchar_t folder[MAX_PATH] = {};
    if (picked && SHGetPathFromIDListW(static_cast<PCIDLIST_ABSOLUTE>(picked.get()), folder)) {
        m_request.baseFolder = folder;
        m_request.seconds = CurrentTimeSeconds();
        m_outputFolderText = MakeOutputFolder(m_request);
        PublishOutputFolder(m_outputFolderText);
    }
    // Only the folder is refreshed: a full exchange would undo check-box changes the user made
    // since the last OK.
    SetDlgItemTextW(GetHwnd(), IDC_OUTPUT_FOLDER, m_outputFolderText.c_str());
}

void CVellocsDiagDlg::OnOK()
{
    UpdateData(false);
    if (m_busy)
        return;
    if (m_lock.Acquire(m_lockWarning) == CCollectionLock::Result::Busy) {
        m_record.emplace().end = RunEnd::AnotherRun;
        const std::wstring text = LoadResourceString(IDS_ANOTHER_RUN);
        AppMessageBox(text.c_str(), MB_ICONWARNING, GetHwnd());
        EndDialog(IDCANCEL);
        return;
    }
    SetClassLongPtrW(GetHwnd(), GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(m_waitCursor));
    EnableControls(false);
    m_progress.Show(true);
    m_busy = true;

    unique_handle worker(StartThread(&CVellocsDiagDlg::CollectionWorker, this));
    const DWORD error = GetLastError();
    if (!worker) {
        // Without a worker no completion will ever arrive: go back to idle and say so, rather than
        // stay busy with every control disabled and no way to close.
        m_lock.Release();
        ReturnToIdle();
        wchar_t text[160] = {};
        _snwprintf(text, 159, L"The collection could not be started (error %lu).", error);
        AppMessageBox(text, MB_ICONERROR, GetHwnd());
    }
    // The worker runs on without being waited for; it ends by posting kCollectionDone.
}

void CVellocsDiagDlg::ReturnToIdle()
{
    SetClassLongPtrW(GetHwnd(), GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(m_arrowCursor));
    m_progress.Show(false);
    EnableControls(true);
    m_busy = false;
}

DWORD WINAPI CVellocsDiagDlg::CollectionWorker(void* argument) noexcept
{
    auto* dialog = static_cast<CVellocsDiagDlg*>(argument);
    RunEnd end = RunEnd::Raised;
    try {
        end = dialog->RunCollection();
    } catch (...) {
        dialog->m_workerError = std::current_exception();
    }
    PostMessageW(dialog->GetHwnd(), kCollectionDone, WPARAM(end), 0);
    return 0;
}

RunEnd CVellocsDiagDlg::RunCollection()
{
    for (int index = 0; index < CVellocsDiag::kComponentCount; ++index)
        m_request.collect[size_t(index)] = m_checkStates[size_t(index)] != 0;
    RunRecord record;
    record.earlyWarnings = m_earlyWarnings;
    record.earlyNotes = m_earlyNotes;
    if (!m_lockWarning.empty())
        record.earlyWarnings.push_back(m_lockWarning);
    RunCollectionSession(m_holder, m_request, record, this);
    const RunEnd end = record.end;
    if (end != RunEnd::NothingSelected)
        m_record = std::move(record);
    return end;
}

void CVellocsDiagDlg::OnCollectionDone(RunEnd end)
{
    SetClassLongPtrW(GetHwnd(), GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(m_arrowCursor));
    m_progress.Show(false);
    m_lock.Release();
    switch (end) {
    case RunEnd::NoSpace:
        // Nothing was created: the user may Browse to a folder on another volume and try again.
        AppMessageBox(m_record->problem.c_str(), MB_ICONWARNING, GetHwnd());
        ReturnToIdle();
        break;
    case RunEnd::NothingSelected: {
        const std::wstring text = LoadResourceString(IDS_SELECT_AN_OPTION);
        AppMessageBox(text.c_str(), MB_ICONWARNING, GetHwnd());
        EnableControls(true);
        m_busy = false;
        break;
    }
    case RunEnd::Raised:
    case RunEnd::AnotherRun:
        // The run raised: end the dialog and let start-up report it.
        m_busy = false;
        if (m_workerError)
            std::rethrow_exception(std::exchange(m_workerError, nullptr));
        EndDialog(IDCANCEL);
        break;
    default:
        ShowOutcome(end);
        EndDialog(IDCANCEL);
        break;
    }
}

std::wstring CVellocsDiagDlg::OutcomeText(RunEnd end) const
{
    const bool succeeded = end == RunEnd::Succeeded || end == RunEnd::ItemsMissed;
    std::wstring text = LoadResourceString(succeeded ? IDS_REPORT_SUCCEEDED : IDS_REPORT_FAILED);
    // Items that could not be collected: the report is there, but the reader must know.
    if (end == RunEnd::ItemsMissed)
        text += L"\n" + FormatCountString(IDS_ITEMS_NOT_COLLECTED, unsigned(m_record->errorCount));
    if (end == RunEnd::OutputFailed && !m_record->problem.empty())
        text += L"\n" + m_record->problem;
    if (m_shellClosed && !m_record->outputFolder.empty())
        text += L"\n" + LoadResourceString(IDS_REPORT_FOLDER) + L"\n" + m_record->outputFolder;
    return text;
}

// The box of a run that made its folder (or tried to), then the folder in the explorer; without
// the explorer, the box names the folder.
void CVellocsDiagDlg::ShowOutcome(RunEnd end)
{
    UINT icon = end == RunEnd::Succeeded ? MB_ICONINFORMATION : MB_ICONERROR;
    if (end == RunEnd::ItemsMissed)
        icon = MB_ICONWARNING;
    AppMessageBox(OutcomeText(end).c_str(), icon, GetHwnd());
    if (m_record->outputFolder.empty())
        return;
    m_outputFolderText = m_record->outputFolder;
    // The explorer's result is ignored: the dialog closes either way.
    if (!m_shellClosed)
        ShellExecuteW(nullptr, L"explore", m_outputFolderText.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void CVellocsDiagDlg::OnClose()
{
    if (m_busy)
        return;
    EndDialog(IDCANCEL);
}
