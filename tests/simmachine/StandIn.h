#pragma once
// What the stand-ins for the platform's programs share: each appends its command line to the file
// named by KVO_STANDIN_LOG (when set), so a test can tell whether and how it was started, and
// reads its behaviour from a setting of that name. The collector gives the programs it starts an
// environment of its own, so a test sets them as values of kSettingsKey (kvotest::StandInSetting);
// an environment variable of the name still wins, for a stand-in started by hand.
#include <windows.h>

#include <string>

namespace standin {

// Below HKEY_CURRENT_USER; tests/common/TestSupport.cpp writes the same key.
constexpr const wchar_t* kSettingsKey = L"Software\\KvoVellocsDiag\\TestStandIns";

inline std::wstring Setting(const wchar_t* name)
{
    wchar_t value[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    if (length > 0 && length < 1024)
        return std::wstring(value, length);
    DWORD bytes = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS)
        return std::wstring();
    return value;
}

inline bool WriteAll(const std::wstring& path, const std::string& bytes, bool append = false)
{
    HANDLE file = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) && written == bytes.size();
    CloseHandle(file);
    return ok;
}

inline std::string Utf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

// "<program>|<its file>|<command line>" as one line of the stand-ins' log.
inline void LogStart(const char* program)
{
    const std::wstring log = Setting(L"KVO_STANDIN_LOG");
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (!log.empty())
        WriteAll(log, std::string(program) + "|" + Utf8(self) + "|" + Utf8(GetCommandLineW()) + "\r\n", true);
}

} // namespace standin
