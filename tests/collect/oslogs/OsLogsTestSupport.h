#pragma once
// Helpers of the OS log suite: environment overrides, seeded system files, bounded process runs.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace oslogtest {

// Sets an environment variable of this process for the scope; the old value (or its absence)
// comes back afterwards. Child processes inherit the override.
class EnvOverride {
public:
    EnvOverride(const wchar_t* name, const std::wstring& value);
    ~EnvOverride();
    EnvOverride(const EnvOverride&) = delete;
    EnvOverride& operator=(const EnvOverride&) = delete;

private:
    std::wstring m_name;
    std::optional<std::wstring> m_old;
};

// A file in the Wine prefix's system folders that the script copies; created with known bytes and
// removed (or its earlier content restored) afterwards, with any folders it had to create.
class SeededFile {
public:
    SeededFile(const std::wstring& path, const std::string& bytes);
    ~SeededFile();
    SeededFile(const SeededFile&) = delete;
    SeededFile& operator=(const SeededFile&) = delete;

    [[nodiscard]] const std::string& Bytes() const { return m_bytes; }

private:
    std::wstring m_path;
    std::string m_bytes;
    std::optional<std::string> m_previous;
    std::vector<std::wstring> m_createdFolders; // deepest first
};

// Runs the command line with this process's environment in a job; the exit code, or -1 when it
// could not start or overran (then everything it started is ended).
int RunBounded(std::wstring commandLine, DWORD timeoutMs = 120000);

// The bytes of resource 140 ("BINARY") in this program.
[[nodiscard]] std::string ScriptResourceBytes();

// The Unix path of a Windows path, for symbolic links made through /bin/sh.
[[nodiscard]] std::string UnixPath(const std::wstring& windowsPath);

// The folder of this test program, without a trailing backslash.
[[nodiscard]] std::wstring ProgramFolder();

// True while a desktop of that name can be opened in this window station.
[[nodiscard]] bool DesktopExists(const wchar_t* name);

} // namespace oslogtest
