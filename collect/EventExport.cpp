#include "EventExport.h"

#include "DiagnosticLog.h"
#include "FolderCreation.h"
#include "SystemDirectory.h"

#include <cwchar>

using namespace Tallis::ImageUpdate;

namespace {

// The export replaces the query's XML: where the XML holds events, nothing is exported.
bool QueryDelivered(const std::wstring& xml, const EventLogName& log, const wchar_t* logUnit)
{
    ULONGLONG size = 0;
    const bool present = FileSize(xml, size);
    if (present && size > 0)
        return true;
    if (present)
        KVO_LOG(LOG_WARN, logUnit, L"%s is empty: wmic could not query the %s log; its events are exported with "
                L"wevtutil", xml.c_str(), log.log);
    else
        KVO_LOG(LOG_INFO, logUnit, L"wmic left no %s: the events of the %s log are exported with wevtutil",
                xml.c_str(), log.log);
    return false;
}

// False when the step's time ran out: no later export can start then.
bool RunTool(HiddenProcesses& processes, const std::wstring& tool, std::wstring commandLine,
             const std::wstring& currentFolder, const wchar_t* logUnit)
{
    DWORD exitCode = 0;
    const HiddenProcesses::Ended ended = processes.Run(tool, commandLine, currentFolder, L"wevtutil", exitCode);
    if (ended == HiddenProcesses::Ended::Normally && exitCode != 0)
        KVO_LOG(LOG_WARN, logUnit, L"wevtutil ended with exit code %d: %s", int(exitCode), commandLine.c_str());
    return ended != HiddenProcesses::Ended::TimedOut && ended != HiddenProcesses::Ended::WaitFailed;
}

} // namespace

std::wstring ExportCutoff(const SYSTEMTIME& cutoffDay)
{
    SYSTEMTIME local{};
    local.wYear = cutoffDay.wYear;
    local.wMonth = cutoffDay.wMonth;
    local.wDay = cutoffDay.wDay;
    SYSTEMTIME utc{};
    // The zone's rules for that date, daylight saving time included; without them, the date as UTC.
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc))
        utc = local;
    wchar_t text[32] = {};
    _snwprintf(text, 31, L"%04u-%02u-%02uT%02u:%02u:%02u.000Z", unsigned(utc.wYear), unsigned(utc.wMonth),
               unsigned(utc.wDay), unsigned(utc.wHour), unsigned(utc.wMinute), unsigned(utc.wSecond));
    return text;
}

std::wstring ExportCommandLine(const wchar_t* log, const std::wstring& file, const std::wstring& cutoff)
{
    return std::wstring(L"wevtutil.exe epl ") + log + L" \"" + file + L"\" /q:\"*[System[TimeCreated[@SystemTime>='" +
           cutoff + L"']]]\" /ow:true";
}

std::wstring LocaleCommandLine(const std::wstring& file)
{
    return L"wevtutil.exe al \"" + file + L"\" /l:en-US";
}

bool ExportMissingEventLogs(HiddenProcesses& processes, const std::wstring& outputFolder, const std::wstring& cutoff,
                            const std::wstring& currentFolder, std::array<EventMethod, 3>& methods,
                            const wchar_t* logUnit)
{
    const std::wstring folder = outputFolder + L"\\OSLogs\\EventLogs";
    const std::wstring tool = SystemProgramPath(L"wevtutil.exe");
    for (size_t index = 0; index < kEventLogs.size(); ++index) {
        const EventLogName& log = kEventLogs[index];
        methods[index] = EventMethod::Wmic;
        if (QueryDelivered(folder + L"\\" + log.stem + L".xml", log, logUnit))
            continue;
        methods[index] = EventMethod::Wevtutil;
        if (tool.empty()) {
            KVO_LOG(LOG_ERROR, logUnit, L"The system directory is unknown: wevtutil.exe cannot be started");
            continue;
        }
        // The script makes this folder only where wmic exists.
        const DWORD created = CreateFolderWithRetry(folder.c_str());
        if (created != 0 && created != ERROR_ALREADY_EXISTS)
            KVO_LOG(LOG_ERROR, logUnit, L"The folder %s could not be created, Error:%d", folder.c_str(), int(created));
        const std::wstring file = folder + L"\\" + log.stem + L".evtx";
        if (!RunTool(processes, tool, ExportCommandLine(log.log, file, cutoff), currentFolder, logUnit) ||
            !RunTool(processes, tool, LocaleCommandLine(file), currentFolder, logUnit))
            return false;
    }
    return true;
}
