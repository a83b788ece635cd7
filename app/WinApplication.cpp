#include "WinApplication.h"

#include <shlwapi.h>

#include <cstring>
#include <exception>
#include <new>

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

int CWinApplication::Run() noexcept
{
    // Errors that no handler catches end the program here, named in a box, never as a crash:
    // every dialog procedure and the worker carry them to this frame instead of unwinding
    // through Windows.
    std::wstring problem;
    try {
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
    AppMessageBox(problem.c_str(), MB_ICONERROR);
    return kExitFatal;
}

int AppMessageBox(const wchar_t* text, UINT flags, HWND owner) noexcept
{
    if ((flags & MB_ICONMASK) == 0)
        flags |= MB_ICONEXCLAMATION;
    std::wstring caption;
    try {
        caption = ProgramBaseName();
    } catch (...) {
    }
    return MessageBoxW(owner, text, caption.c_str(), (flags & ~MB_TYPEMASK) | MB_OK);
}
