#pragma once
// The process-wide diagnostic log: every entry goes to the debugger output and, by level,
// to a full log and an errors-only log (UTF-8 with BOM, CR LF, one open/append/close per entry).
#include <windows.h>

namespace Tallis::ImageUpdate {

enum LogLevel : int { LOG_DEBUG = 0, LOG_INFO = 1, LOG_WARN = 2, LOG_ERROR = 3 };

// Starts or restarts logging into these files; rotates either file above 2 MiB to "<name>.bak".
void InitializeLog(const wchar_t* fullLogPath, const wchar_t* errorLogPath) noexcept;

// Writes one entry. The format follows the Windows wide conventions ("%s" takes a wide text).
int LogMessage(int level, int line, const wchar_t* sourceUnit, const wchar_t* format, ...) noexcept;

// Told of every error entry, inside the log's lock, with the entry's local time, source unit and
// message text (valid only during the call). A collection run counts and keeps them; null removes
// the observer. The observer must not log.
using ErrorEntryObserverFn = void (*)(void* context, const SYSTEMTIME& localTime, const wchar_t* unit,
                                      const wchar_t* text);
void SetErrorEntryObserver(ErrorEntryObserverFn observer, void* context) noexcept;

} // namespace Tallis::ImageUpdate

// Logs with the line of the calling statement.
#define KVO_LOG(level, unit, ...) ::Tallis::ImageUpdate::LogMessage((level), __LINE__, (unit), __VA_ARGS__)
