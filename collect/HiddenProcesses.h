#pragma once
// The programs of the OS log step: each started by its full path, suspended and placed in one job
// before it runs, on a desktop the user does not see, with the environment the step built, and
// waited for within one time budget for the whole step. When the budget is spent, the job ends the
// program and everything it started.
#include "UniqueHandles.h"

#include <windows.h>

#include <chrono>
#include <string>

class HiddenProcesses {
public:
    enum class Ended { Normally, TimedOut, NotStarted, WaitFailed };

    // environment: the CREATE_UNICODE_ENVIRONMENT block every program gets.
    HiddenProcesses(std::wstring environment, DWORD budgetMs, const wchar_t* logUnit) noexcept;
    HiddenProcesses(const HiddenProcesses&) = delete;
    HiddenProcesses& operator=(const HiddenProcesses&) = delete;

    // Makes the step's desktop, "<desktopBase>_<16 random hex digits>" with a DACL for the running
    // account alone (a fixed name could be made first by someone else, and then be theirs), and its
    // job. Without the desktop no program runs, not even on the visible desktop: an error entry,
    // and the Windows error.
    [[nodiscard]] DWORD Open(const wchar_t* desktopBase) noexcept;

    // Runs application (a full path) with the command line in currentFolder to its end, within
    // what is left of the budget. what names it in the log ("the OS log script").
    [[nodiscard]] Ended Run(const std::wstring& application, std::wstring commandLine,
                            const std::wstring& currentFolder, const wchar_t* what, DWORD& exitCode);

    // What is left of the budget, in milliseconds.
    [[nodiscard]] DWORD RemainingMs() const noexcept;
    [[nodiscard]] DWORD BudgetMs() const noexcept { return m_budgetMs; }

private:
    [[nodiscard]] Ended WaitForEnd(HANDLE process, const wchar_t* what, DWORD& exitCode);
    void End(HANDLE process, const wchar_t* what) noexcept;

    [[nodiscard]] DWORD MakeDesktop(const wchar_t* desktopBase);

    const wchar_t* m_logUnit;
    std::wstring m_environment;
    std::wstring m_desktopName;
    Tallis::ImageUpdate::unique_hdesk m_desktop;
    Tallis::ImageUpdate::unique_handle m_job;
    DWORD m_budgetMs;
    std::chrono::steady_clock::time_point m_started;
};
