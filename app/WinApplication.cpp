#include "WinApplication.h"

#include <shlwapi.h>

#include <cstring>
#include <exception>
#include <new>

CWinApplication* CWinApplication::s_instance = nullptr;

std::wstring ProgramBaseName()
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return {};
    PathStripPathW(path);
    PathRemoveExtensionW(path);
    return path;
}

CWinApplication::CWinApplication() noexcept
{
    s_instance = this;
}

CWinApplication::~CWinApplication()
{
    if (s_instance == this)
        s_instance = nullptr;
}

int CWinApplication::Run() noexcept
{
    // Errors that no handler catches end the program here, named in a box, never as a crash:
    // every dialog procedure and the worker carry them to this frame instead of unwinding
    // through Windows.
    std::wstring problem;
    try {
        m_appName = ProgramBaseName();
        (void)InitInstance();
        return m_exitCode;
    } catch (const std::bad_alloc&) {
        problem = L"Out of memory";
    } catch (const std::exception& error) {
        const char* what = error.what();
        problem.assign(what, what + strlen(what));
    } catch (...) {
        problem = L"Unexpected error";
    }
    m_mainWindow = nullptr;
    AppMessageBox(problem.c_str(), MB_ICONERROR);
    return kExitFatal;
}

int AppMessageBox(const wchar_t* text, UINT flags) noexcept
{
    if ((flags & MB_ICONMASK) == 0)
        flags |= MB_ICONEXCLAMATION;
    CWinApplication* app = CWinApplication::Get();
    std::wstring caption;
    try {
        caption = app && !app->GetAppName().empty() ? app->GetAppName() : ProgramBaseName();
    } catch (...) {
    }
    HWND owner = app ? app->GetMainWindow() : nullptr;
    return MessageBoxW(owner, text, caption.c_str(), (flags & ~MB_TYPEMASK) | MB_OK);
}
