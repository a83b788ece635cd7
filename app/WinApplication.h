#pragma once
// The application object of our small dialog framework: one static instance whose InitInstance is
// the program's whole life, and the application message box captioned with the program's name.
#include <windows.h>

#include <string>

class CWinApplication {
public:
    CWinApplication() noexcept = default;
    virtual ~CWinApplication() = default;
    CWinApplication(const CWinApplication&) = delete;
    CWinApplication& operator=(const CWinApplication&) = delete;

    // Called once from the entry point. Returns the process exit code: the one InitInstance set
    // (0 unless it set another), kExitFatal when start-up or the dialog raised an error that
    // nothing else handled.
    int Run() noexcept;

    // The program's work. Returning false ends the program without a message loop.
    virtual bool InitInstance() = 0;

    void SetExitCode(int code) noexcept { m_exitCode = code; }

    static constexpr int kExitFatal = 6;

private:
    int m_exitCode = 0;
};

// An OK message box with the program's name as caption, owned by owner (none: the desktop);
// without an icon flag it shows the exclamation icon. Returns MessageBoxW's result.
int AppMessageBox(const wchar_t* text, UINT flags = 0, HWND owner = nullptr) noexcept;

// The application's name: the program file's name without its extension ("KvoVellocsDiag").
[[nodiscard]] std::wstring ProgramBaseName();
