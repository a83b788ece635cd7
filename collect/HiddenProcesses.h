#pragma once
// The programs of the OS log step: each started by its full path, suspended and placed in one job
// before it runs, on a desktop the user does not see, and waited for within one time budget for
// the whole step. When the budget is spent, the job ends the program and everything it started.
#include "UniqueHandles.h"

#include <windows.h>

#include <chrono>
#include <string>

class HiddenProcesses {
public:
    enum class Ended { Normally, TimedOut, NotStarted, WaitFailed };

    // A desktop that cannot be made leaves the programs on the current one, with a warning entry.
    HiddenProcesses(const wchar_t* desktopName, DWORD budgetMs, const wchar_t* logUnit) noexcept;
    HiddenProcesses(const HiddenProcesses&) = delete;
    HiddenProcesses& operator=(const HiddenProcesses&) = delete;

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

    const wchar_t* m_logUnit;
    std::wstring m_desktopName;
    Tallis::ImageUpdate::unique_hdesk m_desktop;
    Tallis::ImageUpdate::unique_handle m_job;
    DWORD m_budgetMs;
    std::chrono::steady_clock::time_point m_started;
};
