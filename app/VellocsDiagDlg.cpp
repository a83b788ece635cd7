#include "VellocsDiagDlg.h"

#include "ConsoleOutput.h"
#include "OutputFolder.h"
#include "ResourceStrings.h"
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

std::atomic<CVellocsDiagDlg::ThreadStartFn> g_threadStart{nullptr};

HANDLE StartThread(LPTHREAD_START_ROUTINE routine, void* argument)
{
    if (CVellocsDiagDlg::ThreadStartFn start = g_threadStart.load())
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

void CVellocsDiagDlg::SetThreadStartForTest(ThreadStartFn start) noexcept
{
    g_threadStart.store(start);
}

CVellocsDiagDlg::CVellocsDiagDlg(CVellocsDiag& holder)
    : CModalDialog(IDD_VELLOCSDIAG_DIALOG), m_holder(holder)
{
    RegisterStatusSink(this);
    for (int index = 0; index < CVellocsDiag::kComponentCount; ++index) {
        CVellocsDiagComponent* component = holder.GetComponent(index);
        m_checkStates[size_t(index)] = component && component->selected && component->IsAvailable() ? 1 : 0;
    }
}

CVellocsDiagDlg::~CVellocsDiagDlg()
{
    RegisterStatusSink(nullptr);
}

void CVellocsDiagDlg::SetStatusText(const wchar_t* text)
{
    if (HWND hwnd = GetHwnd())
        SetDlgItemTextW(hwnd, IDC_STATUS, text);
    CConsoleOutput::Get().WriteLine(text ? text : L"");
}

void CVellocsDiagDlg::ExchangeData(bool toControls)
{
    ExchangeText(toControls, IDC_OUTPUT_FOLDER, m_outputFolder);
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
    OnCollectionDone(wParam);
    result = 0;
    return true;
}

void CVellocsDiagDlg::EnableControls(bool enable)
{
    EnableItem(IDC_BROWSE, enable);
    EnableItem(IDCANCEL, enable);
    EnableItem(IDOK, enable);
    for (int index = 0; index < CVellocsDiag::kComponentCount; ++index)
        EnableItem(kCheckBoxIds[index], enable && IsOffered(m_holder.GetComponent(index)));
    if (enable)
        UpdateData(true);
}

void CVellocsDiagDlg::OnBrowse()
{
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW browse = {};
    browse.hwndOwner = GetHwnd();
    browse.pszDisplayName = displayName;
    browse.ulFlags = kBrowseFlags;
    if (PIDLIST_ABSOLUTE picked = SHBrowseForFolderW(&browse)) {
        wchar_t folder[MAX_PATH] = {};
        const BOOL havePath = SHGetPathFromIDListW(picked, folder);
        CoTaskMemFree(picked);
        if (havePath) {
            m_outputFolder = MakeOutputFolder(folder, CurrentTimeSeconds());
            SetEnvironmentVariableW(kOutputFolderVariable, m_outputFolder.c_str());
        }
    }
    // Only the folder is refreshed: a full exchange would undo check-box changes the user made
    // since the last OK.
    SetDlgItemTextW(GetHwnd(), IDC_OUTPUT_FOLDER, m_outputFolder.c_str());
}

void CVellocsDiagDlg::OnOK()
{
    UpdateData(false);
    if (m_busy)
        return;
    if (m_lock.Acquire(m_lockWarning) == CCollectionLock::Result::Busy) {
        m_anotherRun = true;
        const std::wstring text = LoadResourceString(IDS_ANOTHER_RUN);
        AppMessageBox(text.c_str(), MB_ICONWARNING);
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
        AppMessageBox(text, MB_ICONERROR);
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
    WPARAM code = kRunRaised;
    try {
        code = dialog->RunCollection();
    } catch (...) {
        dialog->m_workerError = std::current_exception();
    }
    PostMessageW(dialog->GetHwnd(), kCollectionDone, code, 0);
    return 0;
}

WPARAM CVellocsDiagDlg::RunCollection()
{
    int offered = 0;
    for (int index = 0; index < CVellocsDiag::kComponentCount; ++index) {
        CVellocsDiagComponent* component = m_holder.GetComponent(index);
        if (!component)
            continue;
        component->selected = m_checkStates[size_t(index)] != 0 ? 1 : 0;
        if (component->selected && component->IsAvailable())
            ++offered;
    }
    if (offered == 0)
        return kNothingSelected;
    SessionRequest request;
    request.outputFolder = m_outputFolder;
    request.markerVolumeRoot = m_markerVolumeRoot;
    request.layerMode = m_layerMode;
    request.zip = m_zip;
    request.reserveBytes = m_reserveBytes;
    request.fileSizeCap = m_fileSizeCap;
    request.startWarnings = m_startWarnings;
    if (!m_lockWarning.empty())
        request.startWarnings.push_back(m_lockWarning);
    m_outcome = RunCollectionSession(m_holder, request);
    if (m_outcome->noSpace)
        return kNoSpace;
    switch (m_outcome->exitCode) {
    case kExitOk: return kRunSucceeded;
    case kExitOutputFailed: return kOutputFailed;
    default: return m_outcome->collectorFailed ? kRunFailed : kRunSucceeded;
    }
}

void CVellocsDiagDlg::OnCollectionDone(WPARAM code)
{
    SetClassLongPtrW(GetHwnd(), GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(m_arrowCursor));
    m_progress.Show(false);

    m_lock.Release();
    switch (code) {
    case kRunSucceeded:
    case kRunFailed:
    case kOutputFailed: {
        const bool succeeded = code == kRunSucceeded;
        std::wstring text = LoadResourceString(succeeded ? IDS_REPORT_SUCCEEDED : IDS_REPORT_FAILED);
        UINT icon = succeeded ? MB_ICONINFORMATION : MB_ICONERROR;
        if (succeeded && m_outcome && m_outcome->itemErrors > 0) {
            // Items that could not be collected: the report is there, but the reader must know.
            text += L"\n" + FormatCountString(IDS_ITEMS_NOT_COLLECTED, unsigned(m_outcome->itemErrors));
            icon = MB_ICONWARNING;
        }
        if (code == kOutputFailed && m_outcome && !m_outcome->problem.empty())
            text += L"\n" + m_outcome->problem;
        AppMessageBox(text.c_str(), icon);
        // The explorer's result is ignored: the dialog closes either way.
        if (m_outcome && !m_outcome->outputFolder.empty()) {
            m_outputFolder = m_outcome->outputFolder;
            ShellExecuteW(nullptr, L"explore", m_outputFolder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        }
        EndDialog(IDCANCEL);
        break;
    }
    case kNoSpace: {
        // Nothing was created: the user may Browse to a folder on another volume and try again.
        AppMessageBox(m_outcome->problem.c_str(), MB_ICONWARNING);
        ReturnToIdle();
        break;
    }
    case kNothingSelected: {
        const std::wstring text = LoadResourceString(IDS_SELECT_AN_OPTION);
        AppMessageBox(text.c_str(), MB_ICONWARNING);
        EnableControls(true);
        m_busy = false;
        break;
    }
    default:
        // The run raised: end the dialog and let start-up report it.
        m_busy = false;
        if (m_workerError)
            std::rethrow_exception(std::exchange(m_workerError, nullptr));
        EndDialog(IDCANCEL);
        break;
    }
}

void CVellocsDiagDlg::OnClose()
{
    if (m_busy)
        return;
    EndDialog(IDCANCEL);
}
