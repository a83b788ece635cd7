#include "WindowsOSLogs.h"

#include "DiagnosticLog.h"
#include "PathBuilder.h"
#include "UniqueHandles.h"
#include "resource.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <cwchar>

using namespace Tallis::ImageUpdate;

static_assert(CWindowsOSLogs::kScriptResourceId == IDR_OSSTATS_SCRIPT);

namespace {

constexpr const wchar_t* kLogUnit = L"WSOSLogs";
// After the job was ended, how long to let its processes go before the script file is deleted.
constexpr DWORD kTerminationWaitMs = 5000;

std::atomic<CWindowsOSLogs::LocalTimeFn> g_localTimeSource{nullptr};
std::atomic<DWORD> g_scriptTimeoutMs{CWindowsOSLogs::kDefaultScriptTimeoutMs};

SYSTEMTIME CurrentLocalTime() noexcept
{
    if (CWindowsOSLogs::LocalTimeFn source = g_localTimeSource.load())
        return source();
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return now;
}

// The same sharing as a runtime read-only open, so a script that another reader holds still counts.
bool FileOpensForReading(const wchar_t* path) noexcept
{
    unique_hfile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.is_valid();
}

// Deletes the script file at scope exit when the collector wrote it, whatever path leaves Collect.
class WrittenScript {
public:
    explicit WrittenScript(PathBuilder& path) noexcept : m_path(path) {}
    WrittenScript(const WrittenScript&) = delete;
    WrittenScript& operator=(const WrittenScript&) = delete;
    ~WrittenScript()
    {
        if (!m_written)
            return;
        if (!DeleteFileW(m_path.GetLongPath())) {
            const DWORD error = GetLastError();
            KVO_LOG(LOG_WARN, kLogUnit, L"DeleteFile %s failed, Error:%d", m_path.GetPath(), int(error));
        }
    }
    void MarkWritten() noexcept { m_written = true; }

private:
    PathBuilder& m_path;
    bool m_written = false;
};

// A job that ends the script's whole process tree on timeout, and with the collector's last handle.
unique_handle CreateKillOnCloseJob() noexcept
{
    unique_handle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_WARN, kLogUnit, L"CreateJobObject failed, Error:%d", int(error));
        return job;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_WARN, kLogUnit, L"SetInformationJobObject failed, Error:%d", int(error));
    }
    return job;
}

// Ends the script's processes: the whole job when the process is in it, else the process alone.
void EndScriptProcesses(HANDLE job, HANDLE process) noexcept
{
    if (job ? !TerminateJobObject(job, ERROR_TIMEOUT) : !TerminateProcess(process, ERROR_TIMEOUT)) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_ERROR, kLogUnit, L"Failed to end the OS log script, Error:%d", int(error));
        return;
    }
    WaitForSingleObject(process, kTerminationWaitMs);
}

// Starts the command line on the collector's desktop (or the current one) and waits for its end.
INT32 RunScript(std::wstring& commandLine, bool onOwnDesktop)
{
    wchar_t desktopName[32];
    wcscpy(desktopName, CWindowsOSLogs::kDesktopName);
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (onOwnDesktop)
        startup.lpDesktop = desktopName;

    unique_handle job = CreateKillOnCloseJob();
    // Suspended, so that nothing the script starts can escape the job before it is assigned.
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &started)) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_ERROR, kLogUnit, L"CreateProcess failed for %s, Error:%d", commandLine.c_str(), int(error));
        return 0;
    }
    unique_handle process(started.hProcess);
    unique_handle thread(started.hThread);

    if (job && !AssignProcessToJobObject(job.get(), process.get())) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_WARN, kLogUnit, L"AssignProcessToJobObject failed, Error:%d; only the script's own process "
                L"can be ended on timeout", int(error));
        job.reset();
    }
    if (ResumeThread(thread.get()) == DWORD(-1)) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_ERROR, kLogUnit, L"ResumeThread failed, Error:%d", int(error));
        EndScriptProcesses(job.get(), process.get());
        return 0;
    }
    KVO_LOG(LOG_INFO, kLogUnit, L"Started the OS log script, process %d: %s", int(started.dwProcessId),
            commandLine.c_str());

    const DWORD timeoutMs = g_scriptTimeoutMs.load();
    const DWORD waited = WaitForSingleObject(process.get(), timeoutMs);
    if (waited == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        GetExitCodeProcess(process.get(), &exitCode);
        KVO_LOG(LOG_INFO, kLogUnit, L"The OS log script ended with exit code %d", int(exitCode));
        return 1;
    }
    if (waited == WAIT_TIMEOUT) {
        KVO_LOG(LOG_ERROR, kLogUnit, L"The OS log script did not end within %u ms; ending it and every process "
                L"it started", unsigned(timeoutMs));
    } else {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_ERROR, kLogUnit, L"Waiting for the OS log script failed (%u), Error:%d", unsigned(waited),
                int(error));
    }
    EndScriptProcesses(job.get(), process.get());
    return 0;
}

} // namespace

CWindowsOSLogs::CWindowsOSLogs() : CVellocsDiagComponent(IDS_COLLECTING_OS_LOGS) {}

CWindowsOSLogs::~CWindowsOSLogs() = default;

void CWindowsOSLogs::SetLocalTimeForTest(LocalTimeFn source) noexcept
{
    g_localTimeSource.store(source);
}

void CWindowsOSLogs::SetScriptTimeout(DWORD milliseconds) noexcept
{
    g_scriptTimeoutMs.store(milliseconds);
}

void CWindowsOSLogs::EstimateSize(const wchar_t*, INT32, TreeSize& size)
{
    // The same fixed paths as the script's copy commands.
    for (const wchar_t* pattern : {L"C:\\Windows\\INF\\Setupapi.app.log", L"C:\\Windows\\INF\\Setupapi.dev.log",
                                   L"C:\\Windows\\system32\\winevt\\logs\\*.evtx"}) {
        WIN32_FIND_DATAW entry;
        unique_hfind search(FindFirstFileW(pattern, &entry));
        if (!search)
            continue;
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            ++size.files;
            size.bytes += (ULONGLONG(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
        } while (FindNextFileW(search.get(), &entry));
    }
    size.bytes += kGeneratedAllowanceBytes;
}

std::wstring CWindowsOSLogs::FormatCutoffDate(const SYSTEMTIME& localNow)
{
    // Pure calendar arithmetic on the local date. The runtime's mktime would apply its own idea of
    // the zone (it misreads a TZ such as "Europe/Berlin"), and with a stale daylight flag it moves a
    // time shortly after midnight into the previous day; a local date minus 30 days needs no zone.
    using namespace std::chrono;
    const year_month_day today{year{int(localNow.wYear)}, month{unsigned(localNow.wMonth)},
                               day{unsigned(localNow.wDay)}};
    const year_month_day cutoff{sys_days{today} - days{kCutoffDays}};

    std::tm date{};
    date.tm_year = int(cutoff.year()) - 1900;
    date.tm_mon = int(unsigned(cutoff.month())) - 1;
    date.tm_mday = int(unsigned(cutoff.day()));
    date.tm_isdst = -1;
    wchar_t text[kCutoffDateChars + 1] = {};
    const size_t written = wcsftime(text, kCutoffDateChars + 1, L"%Y%m%d000000.000000-60", &date);
    return std::wstring(text, written);
}

DWORD CWindowsOSLogs::ExtractScript(const wchar_t* path) noexcept
{
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(kScriptResourceId), kScriptResourceType);
    if (!found) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_ERROR, kLogUnit, L"FindResource failed for the OS log script, Error:%d", int(error));
        return error ? error : ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    const HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_ERROR, kLogUnit, L"LoadResource failed for the OS log script, Error:%d", int(error));
        return error ? error : ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    const DWORD size = SizeofResource(module, found);

    unique_hfile file(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_ERROR, kLogUnit, L"CreateFile %s failed, Error:%d", path, int(error));
        return error;
    }
    unique_handle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READWRITE, 0, size, nullptr));
    if (!mapping) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_ERROR, kLogUnit, L"CreateFileMapping of %d bytes failed for %s, Error:%d", int(size), path,
                int(error));
        return error;
    }
    unique_mapview view(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
    if (!view) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_ERROR, kLogUnit, L"MapViewOfFile failed for %s, Error:%d", path, int(error));
        return error;
    }
    std::memcpy(view.get(), bytes, size);
    return ERROR_SUCCESS;
}

INT32 CWindowsOSLogs::Collect(const wchar_t* /*outputFolder*/, const wchar_t* /*markerVolumeRoot*/,
                              INT32 /*layerMode*/)
{
    wchar_t tempFolder[kTempPathChars];
    const DWORD tempChars = GetTempPathW(kTempPathChars, tempFolder);
    const DWORD tempError = GetLastError();
    // A result of the buffer size or more is the size needed, and the buffer holds no path then.
    if (tempChars == 0 || tempChars >= kTempPathChars) {
        KVO_LOG(LOG_ERROR, kLogUnit, L"GetTempPath failed (%d), Error:%d", int(tempChars),
                int(tempChars == 0 ? tempError : ERROR_INSUFFICIENT_BUFFER));
        return 0;
    }

    PathBuilder script(tempFolder, kScriptFileName, false);
    WrittenScript cleanup(script);
    if (FileOpensForReading(script.GetLongPath())) {
        KVO_LOG(LOG_INFO, kLogUnit, L"Running the OS log script found at %s unchanged", script.GetPath());
    } else {
        if (ExtractScript(script.GetLongPath()) != ERROR_SUCCESS)
            return 0;
        cleanup.MarkWritten();
        KVO_LOG(LOG_INFO, kLogUnit, L"Wrote the OS log script to %s", script.GetPath());
    }

    std::wstring commandLine =
        L"cmd.exe /k \"" + std::wstring(script.GetPath()) + L"\" -cd " + FormatCutoffDate(CurrentLocalTime());

    unique_hdesk desktop(CreateDesktopW(kDesktopName, nullptr, nullptr, 0, DESKTOP_CREATEWINDOW, nullptr));
    if (!desktop) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_WARN, kLogUnit, L"CreateDesktop %s failed, Error:%d; the script runs on the current desktop",
                kDesktopName, int(error));
    }
    const INT32 result = RunScript(commandLine, desktop.is_valid());
    desktop.reset();
    return result;
}
