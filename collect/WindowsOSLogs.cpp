#include "WindowsOSLogs.h"

#include "CngApi.h"
#include "CollectTestSeams.h"
#include "DiagnosticLog.h"
#include "FileHash.h"
#include "EventExport.h"
#include "FileSystem.h"
#include "HiddenProcesses.h"
#include "PathBuilder.h"
#include "PrivateSecurity.h"
#include "StepEnvironment.h"
#include "SystemDirectory.h"
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
std::atomic<LocalTimeFn> g_localTimeSource{nullptr};

SYSTEMTIME CurrentLocalTime() noexcept
{
    if (LocalTimeFn source = g_localTimeSource.load())
        return source();
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return now;
}

// The collector's own folder below the temporary folder, which every account may write to: a
// name no one can guess, made new with a DACL for SYSTEM, Administrators and the running account
// only, and removed with everything in it when the collector is done, on every path.
class WorkFolder {
public:
    WorkFolder() = default;
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    ~WorkFolder()
    {
        if (m_path.empty())
            return;
        if (const DWORD error = RemoveFolderTree(m_path.c_str()))
            KVO_LOG(LOG_WARN, kLogUnit, L"The folder %s could not be removed, Error:%d", m_path.c_str(), int(error));
    }

    [[nodiscard]] DWORD Create(const wchar_t* tempFolder)
    {
        DWORD error = ERROR_ALREADY_EXISTS;
        for (int attempt = 0; attempt < 4 && error == ERROR_ALREADY_EXISTS; ++attempt) {
            std::wstring random;
            if ((error = RandomHex(16, random)) != 0)
                break;
            PathBuilder candidate(tempFolder, (CWindowsOSLogs::kWorkFolderPrefix + random).c_str(), false);
            error = CreatePrivateFolder(candidate.GetLongPath());
            if (error == 0)
                m_path = candidate.GetPath();
        }
        if (error != 0)
            KVO_LOG(LOG_ERROR, kLogUnit, L"A private folder could not be created in %s, Error:%d", tempFolder,
                    int(error));
        return error;
    }
    [[nodiscard]] const std::wstring& Path() const noexcept { return m_path; }

private:
    std::wstring m_path;
};

// Writes the bytes to a new file through a mapping of exactly their size. 0 or the error.
DWORD WriteNewFile(const wchar_t* path, const void* bytes, DWORD size) noexcept
{
    PrivateSecurity security;
    (void)security.Build(); // without it the file takes the private folder's entries
    unique_hfile file(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, security.Attributes(), CREATE_NEW,
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

// cmd reads a batch file again while it runs it: held open with read sharing only, the script
// cannot be changed under it until it has ended.
unique_hfile HoldForReading(const wchar_t* path) noexcept
{
    unique_hfile file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        KVO_LOG(LOG_ERROR, kLogUnit, L"The script %s could not be held open, Error:%d", path, int(error));
    }
    return file;
}

// The folder the script fills: it reads it from VELLOCS_OUTDIR, as the collector does.
std::wstring OutputFolderOfScript()
{
    std::wstring folder;
    (void)ProcessVariable(L"VELLOCS_OUTDIR", folder);
    return folder;
}

// Only what this run wrote is run: a script that someone left in the temporary folder, which
// every account may write to, stays as it is.
void WarnOfPlantedScript(const wchar_t* tempFolder)
{
    PathBuilder planted(tempFolder, CWindowsOSLogs::kScriptFileName, false);
    if (GetFileAttributesW(planted.GetLongPath()) == INVALID_FILE_ATTRIBUTES)
        return;
    KVO_LOG(LOG_WARN, kLogUnit, L"%s was not written by this tool and is not run; a script of your own runs with "
            L"/script <file>", planted.GetPath());
}

} // namespace

CWindowsOSLogs::CWindowsOSLogs() : CVellocsDiagComponent(IDS_COLLECTING_OS_LOGS) {}

CWindowsOSLogs::~CWindowsOSLogs() = default;

void SetLocalTimeForTest(LocalTimeFn source) noexcept
{
    g_localTimeSource.store(source);
}

void CWindowsOSLogs::Prepare(const RunRequest& request)
{
    m_script = request.script;
    m_timeoutMs = request.scriptTimeoutMs;
}

void CWindowsOSLogs::AddFindings(RunRecord& record)
{
    record.osLogOutputs = std::move(m_outputs);
    m_outputs.clear();
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

SYSTEMTIME CWindowsOSLogs::CutoffDay(const SYSTEMTIME& localNow)
{
    // Pure calendar arithmetic on the local date. The runtime's mktime would apply its own idea of
    // the zone (it misreads a TZ such as "Europe/Berlin"), and with a stale daylight flag it moves a
    // time shortly after midnight into the previous day; a local date minus 30 days needs no zone.
    using namespace std::chrono;
    const year_month_day today{year{int(localNow.wYear)}, month{unsigned(localNow.wMonth)},
                               day{unsigned(localNow.wDay)}};
    const year_month_day cutoff{sys_days{today} - days{kCutoffDays}};
    SYSTEMTIME day{};
    day.wYear = WORD(int(cutoff.year()));
    day.wMonth = WORD(unsigned(cutoff.month()));
    day.wDay = WORD(unsigned(cutoff.day()));
    return day;
}

std::wstring CWindowsOSLogs::FormatCutoffDate(const SYSTEMTIME& localNow)
{
    const SYSTEMTIME cutoff = CutoffDay(localNow);
    std::tm date{};
    date.tm_year = int(cutoff.wYear) - 1900;
    date.tm_mon = int(cutoff.wMonth) - 1;
    date.tm_mday = int(cutoff.wDay);
    date.tm_isdst = -1;
    wchar_t text[kCutoffDateChars + 1] = {};
    const size_t written = wcsftime(text, kCutoffDateChars + 1, L"%Y%m%d000000.000000-60", &date);
    return std::wstring(text, written);
}

DWORD CWindowsOSLogs::ReadScript(const std::wstring& path, ScriptFile& script)
{
    script = ScriptFile{};
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return GetLastError();
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return length == 0 ? GetLastError() : DWORD(ERROR_BUFFER_OVERFLOW);
    full.resize(length);

    PathBuilder file(full.c_str(), false);
    unique_hfile in(CreateFileW(file.GetLongPath(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in)
        return GetLastError();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(in.get(), &size))
        return GetLastError();
    if (size.QuadPart == 0)
        return ERROR_INVALID_DATA;
    if (size.QuadPart > LONGLONG(kMaxScriptBytes))
        return ERROR_FILE_TOO_LARGE;
    std::string bytes(size_t(size.QuadPart), '\0');
    DWORD read = 0;
    if (!ReadFile(in.get(), bytes.data(), DWORD(bytes.size()), &read, nullptr))
        return GetLastError();
    bytes.resize(read);
    if (bytes.empty())
        return ERROR_INVALID_DATA;
    FileHasher hasher;
    if (const DWORD error = hasher.Sha256(bytes.data(), bytes.size(), script.sha256))
        return error;
    script.path = full;
    script.bytes = std::move(bytes);
    return 0;
}

std::wstring CWindowsOSLogs::CommandLineFor(const std::wstring& scriptPath, const std::wstring& cutoffDate)
{
    // /d: no AutoRun command from the registry runs before the script.
    const std::wstring quoted = L"\"" + scriptPath + L"\" -cd " + cutoffDate;
    if (scriptPath.find_first_of(L"&<>()@^|") == std::wstring::npos)
        return L"cmd.exe /d /k " + quoted;
    // /s: cmd takes what lies between the first and the last quote as it is.
    return L"cmd.exe /d /s /k \"" + quoted + L"\"";
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
    return WriteNewFile(path, bytes, SizeofResource(module, found));
}

DWORD CWindowsOSLogs::WriteScript(const wchar_t* path) const noexcept
{
    if (m_script.path.empty())
        return ExtractScript(path);
    return WriteNewFile(path, m_script.bytes.data(), DWORD(m_script.bytes.size()));
}

INT32 CWindowsOSLogs::Collect(const wchar_t* /*outputFolder*/, const wchar_t* /*markerVolumeRoot*/,
                              INT32 /*layerMode*/)
{
    m_outputs.clear();
    wchar_t tempFolder[kTempPathChars];
    const DWORD tempChars = GetTempPathW(kTempPathChars, tempFolder);
    const DWORD tempError = GetLastError();
    // A result of the buffer size or more is the size needed, and the buffer holds no path then.
    if (tempChars == 0 || tempChars >= kTempPathChars) {
        KVO_LOG(LOG_ERROR, kLogUnit, L"GetTempPath failed (%d), Error:%d", int(tempChars),
                int(tempChars == 0 ? tempError : ERROR_INSUFFICIENT_BUFFER));
        return 0;
    }
    WarnOfPlantedScript(tempFolder);

    WorkFolder folder;
    if (folder.Create(tempFolder) != 0)
        return 0;
    PathBuilder script(folder.Path().c_str(), kScriptFileName, false);
    if (WriteScript(script.GetLongPath()) != ERROR_SUCCESS)
        return 0;
    const unique_hfile held = HoldForReading(script.GetLongPath());
    if (!held)
        return 0;
    if (m_script.path.empty())
        KVO_LOG(LOG_INFO, kLogUnit, L"Wrote the OS log script to %s", script.GetPath());
    else
        KVO_LOG(LOG_INFO, kLogUnit, L"Wrote a copy of %s (SHA-256 %s) to %s", m_script.path.c_str(),
                m_script.sha256.c_str(), script.GetPath());

    return RunAndAccount(script.GetPath(), folder.Path());
}

// Runs the script, exports what its queries left out and accounts for every output; 1 when the
// step's programs ended within its time limit.
INT32 CWindowsOSLogs::RunAndAccount(const std::wstring& script, const std::wstring& workFolder)
{
    const std::wstring interpreter = SystemProgramPath(L"cmd.exe");
    if (interpreter.empty()) {
        KVO_LOG(LOG_ERROR, kLogUnit, L"The system directory is unknown: cmd.exe cannot be started");
        return 0;
    }
    const std::wstring outputFolder = OutputFolderOfScript();
    std::wstring environment;
    if (const DWORD error = BuildStepEnvironment(workFolder, outputFolder, environment)) {
        KVO_LOG(LOG_ERROR, kLogUnit, L"The environment of the OS log script could not be built, Error:%d", int(error));
        return 0;
    }
    HiddenProcesses processes(std::move(environment), m_timeoutMs, kLogUnit);
    if (processes.Open(kDesktopName) != 0)
        return 0;
    const OsLogSources sources = ListOsLogSources();
    const SYSTEMTIME now = CurrentLocalTime();
    DWORD exitCode = 0;
    const HiddenProcesses::Ended ended = processes.Run(interpreter, CommandLineFor(script, FormatCutoffDate(now)),
                                                       workFolder, L"the OS log script", exitCode);
    if (ended == HiddenProcesses::Ended::NotStarted)
        return 0;
    // What a script given with /script leaves is its author's to know: only the carried script's
    // outputs are exported where missing and accounted for.
    if (!m_script.path.empty()) {
        KVO_LOG(LOG_INFO, kLogUnit, L"The outputs of %s are not checked: it is not the carried script",
                m_script.path.c_str());
        return ended == HiddenProcesses::Ended::Normally ? 1 : 0;
    }
    std::array<EventMethod, 3> methods{EventMethod::Wmic, EventMethod::Wmic, EventMethod::Wmic};
    bool inTime = ended == HiddenProcesses::Ended::Normally;
    if (inTime)
        inTime = ExportMissingEventLogs(processes, outputFolder, ExportCutoff(CutoffDay(now)), workFolder, methods,
                                        kLogUnit);
    m_outputs = CheckOsLogOutputs(outputFolder, sources, methods, kLogUnit);
    return inTime ? 1 : 0;
}
