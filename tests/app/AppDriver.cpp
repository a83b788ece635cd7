#include "AppDriver.h"

#include "UniqueHandles.h"

#include <map>

namespace kvoapp {
namespace {

constexpr int kOutputFolderId = 1016;

struct Search {
    DWORD processId;
    HWND exclude;
    bool wantMain;
    HWND found;
};

bool IsDialogClass(HWND window)
{
    wchar_t className[32] = {};
    GetClassNameW(window, className, 32);
    return wcscmp(className, L"#32770") == 0;
}

BOOL CALLBACK MatchWindow(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if ((search->processId && owner != search->processId) || window == search->exclude || !IsWindowVisible(window) || !IsDialogClass(window))
        return TRUE;
    const bool isMain = GetDlgItem(window, kOutputFolderId) != nullptr;
    if (isMain != search->wantMain)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND Find(DWORD processId, bool wantMain, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        Search search{processId, nullptr, wantMain, nullptr};
        EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found || GetTickCount64() >= deadline)
            return search.found;
        Sleep(50);
    }
}

// This process's environment with the given entries added or replaced, as a CreateProcessW block.
std::wstring MergedEnvironment(const std::wstring& extra)
{
    std::map<std::wstring, std::wstring> entries;
    auto add = [&](const std::wstring& entry) {
        const size_t equals = entry.find(L'=', 1);
        if (equals != std::wstring::npos)
            entries[entry.substr(0, equals)] = entry;
    };
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1)
            add(entry);
        FreeEnvironmentStringsW(block);
    }
    size_t start = 0;
    while (start < extra.size()) {
        size_t end = extra.find(L'\n', start);
        if (end == std::wstring::npos)
            end = extra.size();
        add(extra.substr(start, end - start));
        start = end + 1;
    }
    std::wstring result;
    for (const auto& [name, entry] : entries) {
        result += entry;
        result += L'\0';
    }
    result += L'\0';
    return result;
}

} // namespace

AppProcess::~AppProcess()
{
    Terminate();
}

bool AppProcess::Start(const std::wstring& program, const std::wstring& environment, const std::wstring& arguments,
                       const std::wstring& outputPath)
{
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    std::wstring block;
    if (!environment.empty())
        block = MergedEnvironment(environment);
    // The program has no console output; its standard handles go to NUL.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    Tallis::ImageUpdate::unique_hfile nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                                      OPEN_EXISTING, 0, nullptr));
    Tallis::ImageUpdate::unique_hfile output;
    if (!outputPath.empty())
        output.reset(CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.get();
    if (output)
        startup.hStdOutput = startup.hStdError = output.get();
    PROCESS_INFORMATION info = {};
    // A loaded machine can refuse a start for a moment; a missing or broken program cannot change.
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                           block.empty() ? nullptr : block.data(), nullptr, &startup, &info))
            break;
        m_startError = GetLastError();
        const bool lasting = m_startError == ERROR_FILE_NOT_FOUND || m_startError == ERROR_PATH_NOT_FOUND ||
                             m_startError == ERROR_BAD_EXE_FORMAT;
        if (lasting || attempt == 2)
            return false;
        Sleep(500);
    }
    m_startError = 0;
    CloseHandle(info.hThread);
    m_process = info.hProcess;
    m_processId = info.dwProcessId;
    return true;
}

DWORD AppProcess::WaitForExit(DWORD timeoutMs)
{
    if (!m_process)
        return DWORD(-1);
    if (WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = 0;
    GetExitCodeProcess(m_process, &code);
    return code;
}

bool AppProcess::Running() const
{
    return m_process && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT;
}

void AppProcess::Terminate()
{
    if (!m_process)
        return;
    if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(m_process, 99);
        WaitForSingleObject(m_process, 5000);
    }
    CloseHandle(m_process);
    m_process = nullptr;
}

HWND WaitForMainDialog(DWORD processId, DWORD timeoutMs)
{
    return Find(processId, true, timeoutMs);
}

HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs)
{
    return Find(processId, false, timeoutMs);
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (IsWindow(window)) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(50);
    }
    return true;
}

bool WaitForItemText(HWND dialog, int id, const std::wstring& part, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (ItemText(dialog, id).find(part) != std::wstring::npos)
            return true;
        if (GetTickCount64() >= deadline || !IsWindow(dialog))
            return false;
        Sleep(20);
    }
}

std::wstring WindowText(HWND window)
{
    // WM_GETTEXT is marshalled across processes; a hung target must not hang the driver.
    wchar_t text[1024] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                             &copied))
        return {};
    return text;
}

std::wstring ItemText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item ? WindowText(item) : std::wstring();
}

bool IsChecked(HWND dialog, int id)
{
    DWORD_PTR state = 0;
    SendMessageTimeoutW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state);
    return state == BST_CHECKED;
}

bool IsItemEnabled(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item && IsWindowEnabled(item);
}

bool IsItemVisible(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item && (GetWindowLongPtrW(item, GWL_STYLE) & WS_VISIBLE) != 0;
}

void SetChecked(HWND dialog, int id, bool checked)
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(GetDlgItem(dialog, id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0,
                        SMTO_ABORTIFHUNG, 5000, &ignored);
}

void PostClick(HWND dialog, int id)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

HICON MessageBoxIcon(HWND box)
{
    HICON icon = nullptr;
    auto visit = [](HWND child, LPARAM param) -> BOOL {
        wchar_t className[16] = {};
        GetClassNameW(child, className, 16);
        if (_wcsicmp(className, L"Static") != 0 || (GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            return TRUE;
        DWORD_PTR result = 0;
        SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
        *reinterpret_cast<HICON*>(param) = reinterpret_cast<HICON>(result);
        return FALSE;
    };
    EnumChildWindows(box, visit, reinterpret_cast<LPARAM>(&icon));
    return icon;
}

void DismissMessageBox(HWND box)
{
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
}

std::wstring WinePath(const std::string& unixPath)
{
    std::wstring path = L"Z:";
    for (char c : unixPath)
        path += c == '/' ? L'\\' : wchar_t(static_cast<unsigned char>(c));
    return path;
}

} // namespace kvoapp
