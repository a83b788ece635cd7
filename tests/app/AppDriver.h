#pragma once
// Drives the real KvoVellocsDiag.exe from outside: starts it with a bounded life, finds its dialog
// by class and controls, reads and clicks controls by id, waits for its message boxes.
#include <windows.h>

#include <string>

namespace kvoapp {

constexpr int kMessageBoxTextId = 0xFFFF; // the static text of a system message box

// The program, started with CreateProcessW and ended at destruction if still running,
// so that a hang fails the test instead of the whole run.
class AppProcess {
public:
    AppProcess() = default;
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    // environment: extra "NAME=value" entries added to (or replacing) this process's own, one a
    // line; arguments follow the quoted program; outputPath, when given, receives standard output
    // and error (else they go to NUL).
    bool Start(const std::wstring& program, const std::wstring& environment = {}, const std::wstring& arguments = {},
               const std::wstring& outputPath = {});
    // The exit code, or STILL_ACTIVE when the program did not end within timeoutMs.
    DWORD WaitForExit(DWORD timeoutMs);
    void Terminate();
    [[nodiscard]] DWORD Id() const noexcept { return m_processId; }
    // Why the last Start failed (after one retry of a start that may succeed later); 0 after a start.
    [[nodiscard]] DWORD StartError() const noexcept { return m_startError; }
    [[nodiscard]] bool Running() const;

private:
    HANDLE m_process = nullptr;
    DWORD m_processId = 0;
    DWORD m_startError = 0;
};

// Process id 0 searches every process.
// The main dialog of the process: a visible dialog-class window that has the output folder edit.
[[nodiscard]] HWND WaitForMainDialog(DWORD processId, DWORD timeoutMs);
// A visible dialog-class window of the process other than the main dialog (a message box).
[[nodiscard]] HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs);
// True when the window went away within timeoutMs.
bool WaitForWindowGone(HWND window, DWORD timeoutMs);
// Polls until the control's text contains the part.
bool WaitForItemText(HWND dialog, int id, const std::wstring& part, DWORD timeoutMs);

[[nodiscard]] std::wstring WindowText(HWND window);
[[nodiscard]] std::wstring ItemText(HWND dialog, int id);
[[nodiscard]] bool IsChecked(HWND dialog, int id);
[[nodiscard]] bool IsItemEnabled(HWND dialog, int id);
[[nodiscard]] bool IsItemVisible(HWND dialog, int id);
void SetChecked(HWND dialog, int id, bool checked);

// A button click as the dialog sees it (WM_COMMAND BN_CLICKED), posted so that a handler that
// opens a message box does not block the driver.
void PostClick(HWND dialog, int id);
// The icon a message box shows (STM_GETICON of its icon control), null when it has none.
[[nodiscard]] HICON MessageBoxIcon(HWND box);
// Dismisses a message box with its OK button.
void DismissMessageBox(HWND box);

// Unix path -> the Wine path of the same file (Z: maps /).
[[nodiscard]] std::wstring WinePath(const std::string& unixPath);

} // namespace kvoapp
