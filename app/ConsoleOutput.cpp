#include "ConsoleOutput.h"

#include <vector>

CConsoleOutput& CConsoleOutput::Get() noexcept
{
    static CConsoleOutput console;
    return console;
}

void CConsoleOutput::Open() noexcept
{
    if (m_mode != Mode::None)
        return;
    const HANDLE standard = GetStdHandle(STD_OUTPUT_HANDLE);
    if (standard && standard != INVALID_HANDLE_VALUE) {
        const DWORD type = GetFileType(standard);
        if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) {
            m_output = standard;
            m_mode = Mode::Redirected;
            return;
        }
    }
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    // The attached console's buffer lives as long as the process stays attached.
    const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE)
        return;
    m_output = console;
    m_mode = Mode::Console;
    // The shell printed its prompt already: start on a fresh line.
    WriteLine(L"");
}

void CConsoleOutput::WriteLine(const std::wstring& text) noexcept
{
    if (m_mode == Mode::None)
        return;
    try {
        const std::wstring line = text + L"\r\n";
        DWORD written = 0;
        if (m_mode == Mode::Console) {
            WriteConsoleW(m_output, line.data(), DWORD(line.size()), &written, nullptr);
            return;
        }
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.data(), int(line.size()), nullptr, 0, nullptr, nullptr);
        if (bytes <= 0)
            return;
        std::vector<char> utf8(static_cast<size_t>(bytes));
        WideCharToMultiByte(CP_UTF8, 0, line.data(), int(line.size()), utf8.data(), bytes, nullptr, nullptr);
        WriteFile(m_output, utf8.data(), DWORD(bytes), &written, nullptr);
    } catch (...) {
        // Out of memory: the console line is lost, the run is not.
    }
}
