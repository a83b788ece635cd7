#include "DiagnosticLog.h"

#include "SupportTestSeams.h"
#include "UniqueHandles.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cwchar>

namespace Tallis::ImageUpdate {
namespace {

constexpr size_t kNameChars = 2048;
constexpr size_t kHeaderChars = 256;
constexpr size_t kMessageChars = 1025; // 1024 characters and the terminator
constexpr ULONGLONG kRotateAbove = 2ull * 1024 * 1024;

std::atomic<bool> g_initialised{false};
INIT_ONCE g_lockOnce = INIT_ONCE_STATIC_INIT;
CRITICAL_SECTION g_lock; // created once by the first InitializeLog, never deleted
ErrorEntryObserverFn g_errorObserver = nullptr; // guarded by g_lock
void* g_errorObserverContext = nullptr;
wchar_t g_fullName[kNameChars];
wchar_t g_errorName[kNameChars];
std::atomic<DebugOutputFn> g_debugSink{nullptr};

void DebugOut(const wchar_t* text) noexcept
{
    if (DebugOutputFn sink = g_debugSink.load())
        sink(text);
    else
        OutputDebugStringW(text);
}

// Absolute paths are opened in long-path form so that deep output folders still get their logs.
// Built in a fixed buffer: logging allocates nothing of its own.
const wchar_t* LongForm(const wchar_t* path, wchar_t (&buffer)[kNameChars + 8]) noexcept
{
    const bool driveAbsolute = path[0] != L'\0' && path[1] == L':' && path[2] == L'\\';
    const bool unc = path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?';
    if (driveAbsolute)
        _snwprintf(buffer, kNameChars + 8, L"\\\\?\\%s", path);
    else if (unc)
        _snwprintf(buffer, kNameChars + 8, L"\\\\?\\UNC\\%s", path + 2);
    else
        return path;
    buffer[kNameChars + 7] = L'\0';
    return buffer;
}

FILE* OpenLog(const wchar_t* name) noexcept
{
    if (name[0] == L'\0')
        return nullptr;
    wchar_t longName[kNameChars + 8];
    return _wfopen(LongForm(name, longName), L"at+, ccs=UTF-8");
}

void CopyName(wchar_t (&target)[kNameChars], const wchar_t* source) noexcept
{
    if (!source)
        source = L"";
    wcsncpy(target, source, kNameChars - 1);
    target[kNameChars - 1] = L'\0';
}

void RotateIfLarge(const wchar_t* name) noexcept
{
    if (name[0] == L'\0')
        return;
    wchar_t longName[kNameChars + 8];
    const wchar_t* path = LongForm(name, longName);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return;
    const ULONGLONG size = (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size <= kRotateAbove)
        return;
    // Room for ".bak" behind a name of full length.
    wchar_t backup[kNameChars + 8 + 4];
    _snwprintf(backup, sizeof backup / sizeof backup[0], L"%s.bak", path);
    backup[sizeof backup / sizeof backup[0] - 1] = L'\0';
    MoveFileExW(path, backup, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH);
}

const wchar_t* LevelName(int level) noexcept
{
    switch (level) {
    case LOG_DEBUG: return L"DEBUG";
    case LOG_INFO: return L"INFO ";
    case LOG_WARN: return L"WARN ";
    case LOG_ERROR: return L"ERROR";
    default: return L"?????";
    }
}

const wchar_t* AfterLastBackslash(const wchar_t* unit) noexcept
{
    if (!unit)
        return L"";
    const wchar_t* last = wcsrchr(unit, L'\\');
    return last ? last + 1 : unit;
}

BOOL CALLBACK CreateLock(PINIT_ONCE, PVOID, PVOID*) noexcept
{
    InitializeCriticalSection(&g_lock);
    return TRUE;
}

// Two threads that start logging at the same moment must not both create the lock.
void EnsureLock() noexcept
{
    InitOnceExecuteOnce(&g_lockOnce, CreateLock, nullptr, nullptr);
}

// "[LEVEL][MM-DD-YYYY hh:mm:ss]Unit           [0085] "
void FormatHeader(wchar_t (&header)[kHeaderChars], int level, const SYSTEMTIME& now, const wchar_t* sourceUnit,
                  int line) noexcept
{
    wchar_t timeText[kHeaderChars];
    _snwprintf(timeText, kHeaderChars, L"%02d-%02d-%d %02d:%02d:%02d", now.wMonth, now.wDay, now.wYear, now.wHour,
               now.wMinute, now.wSecond);
    timeText[kHeaderChars - 1] = L'\0';
    _snwprintf(header, kHeaderChars, L"[%s][%s]%-15.12s[%04d] ", LevelName(level), timeText,
               AfterLastBackslash(sourceUnit), line);
    header[kHeaderChars - 1] = L'\0';
}

// The error log first (error entries only), then the full log (all but debug entries); a full log
// that cannot be opened gets the entry on the debugger output instead.
void WriteEntry(int level, const wchar_t* header, const wchar_t* message) noexcept
{
    wchar_t fileLine[kHeaderChars + kMessageChars + 2];
    _snwprintf(fileLine, sizeof fileLine / sizeof fileLine[0], L"%s%s\n", header, message);
    fileLine[sizeof fileLine / sizeof fileLine[0] - 1] = L'\0';
    if (level == LOG_ERROR) {
        if (const unique_file file{OpenLog(g_errorName)})
            fputws(fileLine, file.get());
    }
    if (level == LOG_DEBUG)
        return;
    if (const unique_file file{OpenLog(g_fullName)}) {
        fputws(fileLine, file.get());
        return;
    }
    DebugOut(L"Failed to open the log file ");
    DebugOut(g_fullName);
    DebugOut(L"  ");
    DebugOut(L"\n");
    DebugOut(header);
    DebugOut(message);
    DebugOut(L"\n");
}

} // namespace

void SetDebugOutputForTest(DebugOutputFn sink) noexcept
{
    g_debugSink.store(sink);
}

void SetErrorEntryObserver(ErrorEntryObserverFn observer, void* context) noexcept
{
    EnsureLock();
    EnterCriticalSection(&g_lock);
    g_errorObserver = observer;
    g_errorObserverContext = context;
    LeaveCriticalSection(&g_lock);
}

void InitializeLog(const wchar_t* fullLogPath, const wchar_t* errorLogPath) noexcept
{
    EnsureLock();
    EnterCriticalSection(&g_lock);
    CopyName(g_fullName, fullLogPath);
    CopyName(g_errorName, errorLogPath);
    RotateIfLarge(g_fullName);
    RotateIfLarge(g_errorName);
    g_initialised.store(true, std::memory_order_release);
    LeaveCriticalSection(&g_lock);

    KVO_LOG(LOG_INFO, L"Image_Log", L"Log initialized, Full log:%s, Error log:%s", g_fullName, g_errorName);
}

int LogMessage(int level, int line, const wchar_t* sourceUnit, const wchar_t* format, ...) noexcept
{
    if (!g_initialised.load(std::memory_order_acquire)) {
        DebugOut(L"Image update logging is not initialized, logging is disabled\n");
        return 0;
    }
    if (g_fullName[0] == L'\0') {
        DebugOut(L"Image update log file names are not initialized, logging is disabled\n");
        return 0;
    }

    EnterCriticalSection(&g_lock);

    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t message[kMessageChars];
    va_list args;
    va_start(args, format);
    _vsnwprintf(message, kMessageChars - 1, format ? format : L"", args);
    va_end(args);
    message[kMessageChars - 1] = L'\0';
    wchar_t header[kHeaderChars];
    FormatHeader(header, level, now, sourceUnit, line);

    DebugOut(header);
    DebugOut(message);
    DebugOut(L"\n");
    if (level == LOG_ERROR && g_errorObserver)
        g_errorObserver(g_errorObserverContext, now, AfterLastBackslash(sourceUnit), message);
    WriteEntry(level, header, message);

    LeaveCriticalSection(&g_lock);
    return 0;
}

} // namespace Tallis::ImageUpdate
