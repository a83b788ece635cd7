#pragma once
// Small helpers shared by the test programs: scratch folders, whole-file reads, tree comparison.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvotest {

// A fresh folder below the Wine user's temporary folder, removed with its content afterwards.
// A leftover of a crashed earlier run is removed first.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& name);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    [[nodiscard]] const std::wstring& Path() const { return m_path; }
    [[nodiscard]] std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// This process's temporary folder, with its trailing backslash.
[[nodiscard]] std::wstring TempFolder();

// Long-path form of an absolute path (\\?\ in front), for Win32 calls on deep trees.
std::wstring LongForm(const std::wstring& path);

// Removes a file or a whole tree; missing is fine.
void RemoveTree(const std::wstring& path);

// Removes a Unix link to a file from the Unix side: Wine's DeleteFileW on such a link removes the
// file it leads to and keeps the link.
void RemoveUnixLink(const std::wstring& path);

void WriteFileBytes(const std::wstring& path, const std::string& bytes);
[[nodiscard]] std::string ReadFileBytes(const std::wstring& path);
[[nodiscard]] bool FileExists(const std::wstring& path);
[[nodiscard]] bool FolderExists(const std::wstring& path);

// Relative paths (with a trailing backslash for folders) of everything below root, sorted.
[[nodiscard]] std::vector<std::wstring> ListTree(const std::wstring& root);

// Same entries, same sizes and same bytes below both roots.
[[nodiscard]] ::testing::AssertionResult TreesEqual(const std::wstring& expected, const std::wstring& actual);

[[nodiscard]] std::string Narrow(const std::wstring& text);
[[nodiscard]] std::wstring Widen(const std::string& utf8);

// A file or folder of the test machine moved aside for one case ("<path>.away"), and put back when
// the case ends however it ends; whatever the case left at the name (a planted link) goes first.
class MovedAside {
public:
    explicit MovedAside(std::wstring path);
    ~MovedAside();
    MovedAside(const MovedAside&) = delete;
    MovedAside& operator=(const MovedAside&) = delete;
    [[nodiscard]] bool Moved() const { return m_moved; }

private:
    std::wstring m_path;
    bool m_moved = false;
};

// Environment variable of this process, empty when unset.
[[nodiscard]] std::wstring GetEnv(const wchar_t* name);

// A setting of the platform programs' stand-ins (tests/simmachine/StandIn.h) for the scope: a value
// below HKEY_CURRENT_USER, which reaches them where the OS log step's own environment would not.
// The value is removed afterwards.
class StandInSetting {
public:
    StandInSetting(const wchar_t* name, const std::wstring& value);
    ~StandInSetting();
    StandInSetting(const StandInSetting&) = delete;
    StandInSetting& operator=(const StandInSetting&) = delete;

private:
    std::wstring m_name;
};

// Unix path of a Windows path (Wine), empty when it has none.
[[nodiscard]] std::string UnixPath(const std::wstring& windowsPath);

// Nobody but the owner, SYSTEM and Administrators may open the path, as far as Wine can show it:
// the DACL read back with GetNamedSecurityInfoW has no Everyone entry, and the Unix mode that
// Wine mapped it to has no permission bits for others.
[[nodiscard]] ::testing::AssertionResult OthersHaveNoAccess(const std::wstring& path);

// Runs a command with the Unix shell, outside Wine (for symbolic links, permissions and the like).
// Returns its exit code, or -1 when it could not be started or overran timeoutMs.
int RunUnixShell(const std::string& command, DWORD timeoutMs = 60000);

} // namespace kvotest
