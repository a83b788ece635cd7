#pragma once
// Captures the diagnostic log's debugger output and reads its files back, for assertions.
#include "DiagnosticLog.h"
#include "TestSupport.h"

#include <mutex>
#include <string>
#include <vector>

namespace kvotest {

class DebugOutputCapture {
public:
    DebugOutputCapture();
    ~DebugOutputCapture();
    [[nodiscard]] std::wstring Text() const;
    void Clear();

private:
    static void Sink(const wchar_t* text);
};

// A scratch folder with the tool's two log files started in it.
class ScratchLog {
public:
    explicit ScratchLog(const std::wstring& name);
    [[nodiscard]] const ScratchFolder& Folder() const { return m_folder; }
    [[nodiscard]] std::wstring FullLogPath() const { return m_folder / L"full.log"; }
    [[nodiscard]] std::wstring ErrorLogPath() const { return m_folder / L"errors.log"; }
    // The files' text without the byte order mark, as UTF-8.
    [[nodiscard]] std::string FullLog() const;
    [[nodiscard]] std::string ErrorLog() const;

private:
    ScratchFolder m_folder;
};

// Lines of a log file's text, split at CR LF.
[[nodiscard]] std::vector<std::string> LogLines(const std::string& text);

} // namespace kvotest
