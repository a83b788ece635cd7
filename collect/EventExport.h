#pragma once
// The event logs where the script's wmic queries left nothing (wmic missing, as on current Windows,
// or failing): the same events exported with the platform's wevtutil.exe into
// OSLogs\EventLogs\<stem>.evtx, with the locale data that lets another machine read them.
#include "HiddenProcesses.h"
#include "OsLogOutputs.h"

#include <windows.h>

#include <array>
#include <string>

// Local midnight of the cut-off date (30 days before localNow's date), in UTC with the offset in
// force on that date, as wevtutil's query takes it: "2024-03-31T22:00:00.000Z".
[[nodiscard]] std::wstring ExportCutoff(const SYSTEMTIME& localNow);

// wevtutil.exe epl <log> "<file>" /q:"*[System[TimeCreated[@SystemTime>='<cut-off>']]]" /ow:true
[[nodiscard]] std::wstring ExportCommandLine(const wchar_t* log, const std::wstring& file, const std::wstring& cutoff);
// wevtutil.exe al "<file>" /l:en-US
[[nodiscard]] std::wstring LocaleCommandLine(const std::wstring& file);

// For each of the three logs whose XML is missing or empty, exports the events with wevtutil on the
// step's processes (full path, hidden desktop, the step's environment, job, what is left of its
// budget), in currentFolder. An empty XML stays, with a warning entry. Returns how each log
// arrived, and false when the budget ran out.
[[nodiscard]] bool ExportMissingEventLogs(HiddenProcesses& processes, const std::wstring& outputFolder,
                                          const std::wstring& cutoff, const std::wstring& currentFolder,
                                          std::array<EventMethod, 3>& methods, const wchar_t* logUnit);
