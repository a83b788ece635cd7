#include "OsLogOutputs.h"

#include "DiagnosticLog.h"
#include "PathBuilder.h"
#include "UniqueHandles.h"

#include <new>

using namespace Tallis::ImageUpdate;

namespace {

// The script's fixed paths.
constexpr const wchar_t* kInfFolder = L"C:\\Windows\\INF\\";
constexpr std::array<const wchar_t*, 2> kSetupLogs = {L"Setupapi.app.log", L"Setupapi.dev.log"};
constexpr std::array<const wchar_t*, 2> kSetupNames = {L"setupapi-app", L"setupapi-dev"};
constexpr const wchar_t* kEventLogFolder = L"C:\\Windows\\system32\\winevt\\logs";
constexpr const wchar_t* kMsinfo = L"%CommonProgramFiles%\\Microsoft Shared\\MSInfo\\msinfo32.exe";

std::wstring Expanded(const wchar_t* text)
{
    wchar_t expanded[1024] = {};
    const DWORD length = ExpandEnvironmentStringsW(text, expanded, 1024);
    return length > 0 && length <= 1024 ? std::wstring(expanded) : std::wstring(text);
}

OsLogOutput Unavailable(const wchar_t* name, const std::wstring& path, std::wstring reason)
{
    OsLogOutput output;
    output.name = name;
    output.path = path;
    output.outcome = OsLogOutput::Outcome::Unavailable;
    output.reason = std::move(reason);
    return output;
}

// One file the step should have left: missing, empty (where its source was not), or ok.
OsLogOutput FileOutput(const wchar_t* name, const std::wstring& folder, const std::wstring& relative,
                       const ULONGLONG* sourceSize)
{
    OsLogOutput output;
    output.name = name;
    output.path = relative;
    ULONGLONG size = 0;
    if (!FileSize(folder + L"\\" + relative, size)) {
        output.outcome = OsLogOutput::Outcome::Missing;
        output.reason = relative + L" did not arrive";
    } else if (size == 0 && !(sourceSize && *sourceSize == 0)) {
        output.outcome = OsLogOutput::Outcome::Empty;
        output.reason = relative + L" arrived empty";
        output.files = 1;
    } else {
        output.files = 1;
        output.bytes = size;
    }
    return output;
}

OsLogOutput RawEventLogs(const std::wstring& folder, const OsLogSources& sources)
{
    const std::wstring relative = L"OSLogs\\RawEventLogs";
    if (sources.eventLogFolderError != 0)
        return Unavailable(L"raw-event-logs", relative,
                           std::wstring(kEventLogFolder) + L" cannot be listed (Error:" +
                               std::to_wstring(sources.eventLogFolderError) + L")");
    if (sources.eventLogFiles.empty())
        return Unavailable(L"raw-event-logs", relative, std::wstring(L"no event log files in ") + kEventLogFolder);
    OsLogOutput output;
    output.name = L"raw-event-logs";
    output.path = relative;
    output.sourceFiles = sources.eventLogFiles.size();
    for (const OsLogSources::File& file : sources.eventLogFiles) {
        ULONGLONG size = 0;
        // A copy smaller than its source before the script began was cut short.
        if (FileSize(folder + L"\\" + relative + L"\\" + file.name, size) && size >= file.size && size > 0) {
            ++output.files;
            output.bytes += size;
        } else {
            output.missingNames.push_back(file.name);
        }
    }
    if (!output.missingNames.empty()) {
        output.outcome = OsLogOutput::Outcome::Missing;
        output.reason = std::to_wstring(output.missingNames.size()) + L" of " + std::to_wstring(output.sourceFiles) +
                        L" event log files did not arrive:";
        for (const std::wstring& name : output.missingNames)
            output.reason += L" " + name;
    }
    return output;
}

OsLogOutput EventOutput(const EventLogName& log, const std::wstring& folder, EventMethod method)
{
    const std::wstring eventLogs = L"OSLogs\\EventLogs\\";
    const bool wmic = method == EventMethod::Wmic;
    OsLogOutput output = FileOutput(log.name, folder, eventLogs + log.stem + (wmic ? L".xml" : L".evtx"), nullptr);
    output.method = wmic ? L"wmic" : L"wevtutil";
    ULONGLONG size = 0;
    // The export's locale data, which lets another machine read its events, is part of it.
    if (!wmic && output.files > 0 &&
        FileSize(folder + L"\\" + eventLogs + L"LocaleMetaData\\" + log.stem + L"_1033.MTA", size)) {
        ++output.files;
        output.bytes += size;
    }
    return output;
}

void Report(const OsLogOutput& output, const wchar_t* logUnit)
{
    switch (output.outcome) {
    case OsLogOutput::Outcome::Ok: return;
    case OsLogOutput::Outcome::Unavailable:
        KVO_LOG(LOG_WARN, logUnit, L"The OS log output %s (%s) is unavailable: %s", output.path.c_str(),
                output.name.c_str(), output.reason.c_str());
        return;
    case OsLogOutput::Outcome::Missing:
    case OsLogOutput::Outcome::Empty:
        KVO_LOG(LOG_ERROR, logUnit, L"The OS log output %s (%s) is %s: %s", output.path.c_str(), output.name.c_str(),
                output.outcome == OsLogOutput::Outcome::Missing ? L"missing" : L"empty", output.reason.c_str());
        return;
    }
}

} // namespace

bool FileSize(const std::wstring& path, ULONGLONG& size) noexcept
{
    try {
        PathBuilder file(path.c_str(), false);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(file.GetLongPath(), GetFileExInfoStandard, &data) ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return false;
        size = (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

OsLogSources ListOsLogSources()
{
    OsLogSources sources;
    for (size_t index = 0; index < kSetupLogs.size(); ++index)
        sources.setupLogPresent[index] =
            FileSize(std::wstring(kInfFolder) + kSetupLogs[index], sources.setupLogSize[index]);
    WIN32_FIND_DATAW entry;
    unique_hfind search(FindFirstFileW((std::wstring(kEventLogFolder) + L"\\*.evtx").c_str(), &entry));
    if (!search) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            sources.eventLogFolderError = error;
    } else {
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                sources.eventLogFiles.push_back(
                    {entry.cFileName, (ULONGLONG(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow});
        } while (FindNextFileW(search.get(), &entry));
    }
    sources.msinfoPath = Expanded(kMsinfo);
    ULONGLONG size = 0;
    sources.msinfoPresent = FileSize(sources.msinfoPath, size);
    return sources;
}

std::vector<OsLogOutput> CheckOsLogOutputs(const std::wstring& outputFolder, const OsLogSources& sources,
                                           const std::array<EventMethod, 3>& methods, const wchar_t* logUnit)
{
    std::vector<OsLogOutput> outputs;
    for (size_t index = 0; index < kSetupLogs.size(); ++index) {
        const std::wstring relative = std::wstring(L"OSLogs\\") + kSetupLogs[index];
        outputs.push_back(sources.setupLogPresent[index]
                              ? FileOutput(kSetupNames[index], outputFolder, relative, &sources.setupLogSize[index])
                              : Unavailable(kSetupNames[index], relative,
                                            std::wstring(kInfFolder) + kSetupLogs[index] + L" is not on this machine"));
    }
    outputs.push_back(RawEventLogs(outputFolder, sources));
    for (size_t index = 0; index < kEventLogs.size(); ++index)
        outputs.push_back(EventOutput(kEventLogs[index], outputFolder, methods[index]));
    const std::array<std::pair<const wchar_t*, const wchar_t*>, 2> reports = {
        {{L"msinfo-report", L"OSLogs\\msinfo\\msinfo.txt"}, {L"msinfo-nfo", L"OSLogs\\msinfo\\msinfo.nfo"}}};
    for (const auto& [name, relative] : reports) {
        outputs.push_back(sources.msinfoPresent
                              ? FileOutput(name, outputFolder, relative, nullptr)
                              : Unavailable(name, relative, L"msinfo32.exe is not on this machine (" +
                                                                sources.msinfoPath + L")"));
    }
    std::array<int, 4> counts{};
    for (const OsLogOutput& output : outputs) {
        Report(output, logUnit);
        ++counts[size_t(output.outcome)];
    }
    KVO_LOG(LOG_INFO, logUnit, L"The OS log outputs: %d ok, %d missing, %d empty, %d unavailable",
            counts[size_t(OsLogOutput::Outcome::Ok)], counts[size_t(OsLogOutput::Outcome::Missing)],
            counts[size_t(OsLogOutput::Outcome::Empty)], counts[size_t(OsLogOutput::Outcome::Unavailable)]);
    return outputs;
}
