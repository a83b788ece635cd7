#pragma once
// The OS log collector: writes the command script into a folder of its own below the temporary
// folder and runs it there on a desktop of its own, with an environment the step builds; the
// script fills "OSLogs" below %VELLOCS_OUTDIR%.
#include "RunRequest.h"
#include "VellocsDiagComponent.h"

#include <windows.h>

#include <string>
#include <vector>

class CWindowsOSLogs : public CVellocsDiagComponent {
public:
    // Loads the name (string 102); raises StringLoadError when it is missing.
    CWindowsOSLogs();
    ~CWindowsOSLogs() override;

    // Takes the run's time limit and script (the carried one, or the bytes of /script).
    void Prepare(const RunRequest& request) override;
    // Every output of the step, accounted for against its sources (after a Collect that ran).
    void AddFindings(RunRecord& record) override;
    // Ignores its arguments. Runs the script; for the carried script, where its event queries left
    // nothing, exports the events with wevtutil, then checks every output the step should leave
    // (missing and empty ones are error entries). 1 when the script and the exports ran to their end within the time
    // limit, 0 when the temporary folder, the private folder, the script file, the environment, the
    // desktop, the start or the wait failed, or the time ran out.
    INT32 Collect(const wchar_t* outputFolder, const wchar_t* markerVolumeRoot, INT32 layerMode) override;
    // The files the script copies (the two setup logs, the raw event logs) and a fixed allowance
    // for what it makes: the event-log queries and the system report.
    void EstimateSize(const wchar_t* markerVolumeRoot, INT32 layerMode, Tallis::ImageUpdate::TreeSize& size) override;
    // Three event logs of the default 20 MiB each, as XML about three times the raw size, and a
    // system report of some MiB.
    static constexpr ULONGLONG kGeneratedAllowanceBytes = 200ull << 20;

    // Reads a script given with /script: a regular file of at most kMaxScriptBytes that is not
    // empty, with its full path and SHA-256. 0 or the Windows error.
    [[nodiscard]] static DWORD ReadScript(const std::wstring& path, ScriptFile& script);
    static constexpr DWORD kMaxScriptBytes = 4u << 20;

    static constexpr UINT kScriptResourceId = 140;
    static constexpr const wchar_t* kScriptResourceType = L"BINARY";
    static constexpr const wchar_t* kScriptFileName = L"OSStats.bat";
    // The desktop's name: this prefix, "_" and 16 random hex digits.
    static constexpr const wchar_t* kDesktopName = L"VELLOCS_STAT_COLLECTION";
    // The private folder's name: this prefix and 32 random hex digits.
    static constexpr const wchar_t* kWorkFolderPrefix = L"KvoVellocsDiag-";
    static constexpr DWORD kTempPathChars = 260;
    static constexpr int kCutoffDays = 30;
    static constexpr size_t kCutoffDateChars = 24;

    // The cut-off date for a local time: 30 days before its date, as "YYYYMMDD000000.000000-60".
    [[nodiscard]] static std::wstring FormatCutoffDate(const SYSTEMTIME& localNow);
    // That date itself (time of day 0).
    [[nodiscard]] static SYSTEMTIME CutoffDay(const SYSTEMTIME& localNow);

    // cmd.exe /d /k "<script>" -cd <date>, or cmd's /s form where the path holds one of &<>()@^|,
    // whose quotes /k alone would strip: cmd.exe /d /s /k ""<script>" -cd <date>".
    [[nodiscard]] static std::wstring CommandLineFor(const std::wstring& scriptPath, const std::wstring& cutoffDate);

    // Writes resource 140 of the program's own module to a new file at path (never an existing
    // one). 0 or the failing call's error code; a file created before a failing step stays.
    [[nodiscard]] static DWORD ExtractScript(const wchar_t* path) noexcept;

private:
    [[nodiscard]] DWORD WriteScript(const wchar_t* path) const noexcept;
    [[nodiscard]] INT32 RunAndAccount(const std::wstring& script, const std::wstring& workFolder);

    ScriptFile m_script;
    std::vector<OsLogOutput> m_outputs;
    // A script that never exits (a foreign or truncated one) must not hold the run forever.
    DWORD m_timeoutMs = RunRequest{}.scriptTimeoutMs;
};
