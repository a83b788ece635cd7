#include "TestSupport.h"

#include <aclapi.h>
#include <sddl.h>

#include "UniqueHandles.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

using Tallis::ImageUpdate::unique_handle;
using Tallis::ImageUpdate::unique_hfile;
using Tallis::ImageUpdate::unique_hfind;

namespace kvotest {

std::wstring LongForm(const std::wstring& path)
{
    if (path.rfind(L"\\\\", 0) == 0)
        return path;
    return L"\\\\?\\" + path;
}

// A dangling Unix link has no attributes under Wine, so RemoveTree leaves it and its folder: the
// Unix side removes what is left (rm does not follow links).
static void RemoveWhatWin32CannotSee(const std::wstring& path)
{
    if (GetFileAttributesW(LongForm(path).c_str()) != INVALID_FILE_ATTRIBUTES)
        RunUnixShell("rm -rf '" + UnixPath(path) + "'");
}

void RemoveUnixLink(const std::wstring& path)
{
    RunUnixShell("rm -f '" + UnixPath(path) + "'");
}

std::wstring TempFolder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    return temp;
}

ScratchFolder::ScratchFolder(const std::wstring& name)
{
    m_path = TempFolder() + L"kvotest-" + name;
    RemoveTree(m_path);
    RemoveWhatWin32CannotSee(m_path);
    CreateDirectoryW(m_path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder()
{
    RemoveTree(m_path);
    RemoveWhatWin32CannotSee(m_path);
}

void RemoveTree(const std::wstring& path)
{
    const std::wstring longPath = LongForm(path);
    const DWORD attributes = GetFileAttributesW(longPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A link is removed itself, never what it points to: Wine's RemoveDirectoryW on a folder
        // link removes the (empty) folder it leads to instead.
        RemoveUnixLink(path);
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(longPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(longPath.c_str());
        return;
    }
    WIN32_FIND_DATAW entry;
    unique_hfind search(FindFirstFileW((longPath + L"\\*").c_str(), &entry));
    if (search) {
        do {
            const std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..")
                RemoveTree(path + L"\\" + name);
        } while (FindNextFileW(search.get(), &entry));
    }
    search.reset();
    RemoveDirectoryW(longPath.c_str());
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    unique_hfile file(CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.is_valid()) << "cannot create " << Narrow(path) << ", error " << GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
}

std::string ReadFileBytes(const std::wstring& path)
{
    unique_hfile file(CreateFileW(LongForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return {};
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(LongForm(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(LongForm(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::wstring> ListTree(const std::wstring& root)
{
    std::vector<std::wstring> entries;
    std::function<void(const std::wstring&)> walk = [&](const std::wstring& relative) {
        WIN32_FIND_DATAW entry;
        unique_hfind search(FindFirstFileW(LongForm(root + relative + L"\\*").c_str(), &entry));
        if (!search)
            return;
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = relative + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                entries.push_back(child.substr(1) + L"\\");
                if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                    walk(child);
            } else {
                entries.push_back(child.substr(1));
            }
        } while (FindNextFileW(search.get(), &entry));
    };
    walk(L"");
    std::sort(entries.begin(), entries.end());
    return entries;
}

::testing::AssertionResult TreesEqual(const std::wstring& expected, const std::wstring& actual)
{
    const auto expectedEntries = ListTree(expected);
    const auto actualEntries = ListTree(actual);
    if (expectedEntries != actualEntries) {
        auto failure = ::testing::AssertionFailure() << "entries differ between " << Narrow(expected) << " and "
                                                     << Narrow(actual) << ":";
        for (const auto& entry : expectedEntries)
            if (!std::binary_search(actualEntries.begin(), actualEntries.end(), entry))
                failure << "\n  missing " << Narrow(entry);
        for (const auto& entry : actualEntries)
            if (!std::binary_search(expectedEntries.begin(), expectedEntries.end(), entry))
                failure << "\n  unexpected " << Narrow(entry);
        return failure;
    }
    for (const auto& entry : expectedEntries) {
        if (!entry.empty() && entry.back() == L'\\')
            continue;
        if (ReadFileBytes(expected + L"\\" + entry) != ReadFileBytes(actual + L"\\" + entry))
            return ::testing::AssertionFailure() << "content differs: " << Narrow(entry);
    }
    return ::testing::AssertionSuccess() << expectedEntries.size() << " entries equal";
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), result.data(), size, nullptr, nullptr);
    return result;
}

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring result(size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), result.data(), size);
    return result;
}

namespace {
// The key tests/simmachine/StandIn.h reads.
constexpr const wchar_t* kStandInKey = L"Software\\KvoVellocsDiag\\TestStandIns";
} // namespace

StandInSetting::StandInSetting(const wchar_t* name, const std::wstring& value) : m_name(name)
{
    const LSTATUS status = RegSetKeyValueW(HKEY_CURRENT_USER, kStandInKey, name, REG_SZ, value.c_str(),
                                           DWORD((value.size() + 1) * sizeof(wchar_t)));
    EXPECT_EQ(status, ERROR_SUCCESS) << "stand-in setting " << Narrow(m_name);
}

StandInSetting::~StandInSetting()
{
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kStandInKey, m_name.c_str());
}

std::wstring GetEnv(const wchar_t* name)
{
    wchar_t buffer[32768];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
    return length > 0 && length < 32768 ? std::wstring(buffer, length) : std::wstring();
}

std::string UnixPath(const std::wstring& windowsPath)
{
    using GetUnixName = char* (*)(const wchar_t*);
    auto getUnixName = reinterpret_cast<GetUnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!getUnixName)
        return {};
    char* unixName = getUnixName(windowsPath.c_str());
    std::string result = unixName ? unixName : "";
    HeapFree(GetProcessHeap(), 0, unixName);
    return result;
}

MovedAside::MovedAside(std::wstring path) : m_path(std::move(path))
{
    m_moved = MoveFileW(m_path.c_str(), (m_path + L".away").c_str()) != FALSE;
}

MovedAside::~MovedAside()
{
    if (!m_moved)
        return;
    RemoveTree(m_path);
    if (MoveFileW((m_path + L".away").c_str(), m_path.c_str()))
        return;
    // A link whose target went first looks missing to Win32 and stays in the way.
    RemoveUnixLink(m_path);
    MoveFileW((m_path + L".away").c_str(), m_path.c_str());
}

namespace {

// SYSTEM, Administrators or the account this process runs as.
bool IsOwnSide(PSID sid)
{
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return false;
    const Tallis::ImageUpdate::unique_hlocal owned(text);
    const std::wstring sidText = text;
    if (sidText == L"S-1-5-18" || sidText == L"S-1-5-32-544")
        return true;
    Tallis::ImageUpdate::unique_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return false;
    BYTE buffer[256];
    DWORD needed = 0;
    return GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &needed) &&
           EqualSid(sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

// The first entry that grants anything to another account, as text; empty when there is none.
std::string OtherAccountsEntry(PACL dacl)
{
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(dacl, index, &ace))
            return "entry " + std::to_string(index) + " cannot be read";
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE)
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return "entry " + std::to_string(index) + " of type " + std::to_string(int(header->AceType));
        PSID sid = const_cast<DWORD*>(&static_cast<const ACCESS_ALLOWED_ACE*>(ace)->SidStart);
        if (!IsOwnSide(sid)) {
            wchar_t* text = nullptr;
            const bool named = ConvertSidToStringSidW(sid, &text);
            const Tallis::ImageUpdate::unique_hlocal owned(text);
            return "entry " + std::to_string(index) + " allows " + (named ? Narrow(text) : std::string("?"));
        }
    }
    return {};
}

} // namespace

::testing::AssertionResult OthersHaveNoAccess(const std::wstring& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    const DWORD error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                              nullptr, &dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS)
        return ::testing::AssertionFailure() << "GetNamedSecurityInfoW " << Narrow(path) << ": " << error;
    wchar_t* text = nullptr;
    const bool converted = ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
    const std::string sddl = converted ? Narrow(text) : std::string();
    LocalFree(text);
    const std::string other = dacl ? OtherAccountsEntry(dacl) : std::string("no DACL");
    LocalFree(descriptor);
    if (!other.empty())
        return ::testing::AssertionFailure() << Narrow(path) << " is open to other accounts (" << other << "): " << sddl;
    const std::string unixPath = UnixPath(path);
    if (RunUnixShell("test $(( $(stat -c %a '" + unixPath + "') % 10 )) -eq 0") != 0)
        return ::testing::AssertionFailure() << unixPath << " has Unix permissions for others";
    return ::testing::AssertionSuccess() << sddl;
}

int RunUnixShell(const std::string& command, DWORD timeoutMs)
{
    // Wine's start /unix runs a Unix program but neither waits for it nor hands back its exit
    // code: the script writes the code to a status file, which we wait for. Both live in the Unix
    // /tmp (Z: maps /), whatever a test set TMP to: start cannot pass a path with blanks.
    const std::wstring stem = L"Z:\\tmp\\kvotest-shell-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetCurrentThreadId()) + L"-" + std::to_wstring(GetTickCount64());
    const std::wstring script = stem + L".sh";
    const std::wstring status = stem + L".status";
    DeleteFileW(status.c_str());
    WriteFileBytes(script, command + "\necho $? > '" + UnixPath(status) + "'\n");
    std::wstring commandLine = L"start.exe /wait /unix /bin/sh " + Widen(UnixPath(script));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return -1;
    unique_handle processHandle(process.hProcess);
    unique_handle threadHandle(process.hThread);
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    if (WaitForSingleObject(processHandle.get(), timeoutMs) != WAIT_OBJECT_0)
        TerminateProcess(processHandle.get(), 1);
    std::string code;
    while ((code = ReadFileBytes(status)).find('\n') == std::string::npos && GetTickCount64() < deadline)
        Sleep(20);
    const bool finished = code.find('\n') != std::string::npos;
    DeleteFileW(script.c_str());
    DeleteFileW(status.c_str());
    return finished && !code.empty() ? std::atoi(code.c_str()) : -1;
}

} // namespace kvotest
