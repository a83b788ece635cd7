#pragma once
// What the OS log step should leave in "OSLogs", judged against its sources: the sources are
// listed before the script runs (at the script's own fixed paths), the outputs checked after the
// script and the event exports ended. Each output is ok, missing, empty or unavailable.
#include "RunRecord.h"

#include <windows.h>

#include <array>
#include <string>
#include <vector>

// The three event logs as the script queries them: the log's name and the output's stem.
struct EventLogName {
    const wchar_t* log;   // "Application"
    const wchar_t* stem;  // "EvtLog_App"
    const wchar_t* name;  // "events-application", in the result file
};
inline constexpr std::array<EventLogName, 3> kEventLogs = {{{L"Application", L"EvtLog_App", L"events-application"},
                                                           {L"System", L"EvtLog_System", L"events-system"},
                                                           {L"Security", L"EvtLog_Security", L"events-security"}}};

// How each event log arrived: the script's wmic query (XML) or the collector's export (evtx).
enum class EventMethod { Wmic, Wevtutil };

struct OsLogSources {
    struct File {
        std::wstring name;
        ULONGLONG size = 0;
    };
    std::array<bool, 2> setupLogPresent{};
    std::array<ULONGLONG, 2> setupLogSize{};
    std::vector<File> eventLogFiles; // *.evtx in the system's event log folder
    DWORD eventLogFolderError = 0;   // the folder could not be listed
    std::wstring msinfoPath;         // where the script starts msinfo32.exe
    bool msinfoPresent = false;
};

// The sources as they are now, at the paths the script reads.
[[nodiscard]] OsLogSources ListOsLogSources();

// Checks every expected output below outputFolder\OSLogs, in the result file's order. A missing or
// empty output is an error entry naming it (an item not collected), an unavailable one a warning.
[[nodiscard]] std::vector<OsLogOutput> CheckOsLogOutputs(const std::wstring& outputFolder, const OsLogSources& sources,
                                                         const std::array<EventMethod, 3>& methods,
                                                         const wchar_t* logUnit);

// Size of a file, or nothing when there is none (a folder does not count).
[[nodiscard]] bool FileSize(const std::wstring& path, ULONGLONG& size) noexcept;
