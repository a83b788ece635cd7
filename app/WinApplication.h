#pragma once
// The application object of our small dialog framework: one static instance whose InitInstance is
// the program's whole life, and the application message box captioned with the program's name.
#include <windows.h>

#include <string>

class CWinApplication {
public:
    CWinApplication() noexcept;
    virtual ~CWinApplication();
    CWinApplication(const CWinApplication&) = delete;
    CWinApplication& operator=(const CWinApplication&) = delete;

    // Called once from the entry point. Returns the process exit code: the one InitInstance set
    // (0 unless it set another), kExitFatal when start-up or the dialog raised an error that
    // nothing else handled.
    int Run() noexcept;

    // The program's work. Returning false ends the program without a message loop.
    virtual bool InitInstance() = 0;

    // The program file's name without its extension ("KvoVellocsDiag").
    [[nodiscard]] const std::wstring& GetAppName() const noexcept { return m_appName; }

    // The window that owns message boxes while it exists (the running modal dialog).
    void SetMainWindow(HWND window) noexcept { m_mainWindow = window; }
    [[nodiscard]] HWND GetMainWindow() const noexcept { return m_mainWindow; }

    [[nodiscard]] static CWinApplication* Get() noexcept { return s_instance; }

    void SetExitCode(int code) noexcept { m_exitCode = code; }

    static constexpr int kExitFatal = 6;

private:
    std::wstring m_appName;
    HWND m_mainWindow = nullptr;
    int m_exitCode = 0;
    static CWinApplication* s_instance;
};

// An OK message box with the application's name as caption; without an icon flag it shows the
// exclamation icon. Returns MessageBoxW's result.
int AppMessageBox(const wchar_t* text, UINT flags = 0) noexcept;

// The application's name from the program file, usable before any application object exists.
[[nodiscard]] std::wstring ProgramBaseName();
