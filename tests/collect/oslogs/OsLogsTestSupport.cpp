#include "OsLogsTestSupport.h"

#include "TestSupport.h"
#include "UniqueHandles.h"

#include <gtest/gtest.h>

using Tallis::ImageUpdate::unique_handle;

namespace oslogtest {

EnvOverride::EnvOverride(const wchar_t* name, const std::wstring& value) : m_name(name)
{
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed > 0) {
        std::wstring old(needed, L'\0');
        old.resize(GetEnvironmentVariableW(name, old.data(), needed));
        m_old = old;
    }
    SetEnvironmentVariableW(name, value.c_str());
}

EnvOverride::~EnvOverride()
{
    SetEnvironmentVariableW(m_name.c_str(), m_old ? m_old->c_str() : nullptr);
}

SeededFile::SeededFile(const std::wstring& path, const std::string& bytes) : m_path(path), m_bytes(bytes)
{
    if (kvotest::FileExists(path))
        m_previous = kvotest::ReadFileBytes(path);
    for (size_t slash = path.rfind(L'\\'); slash != std::wstring::npos && slash > 2;
         slash = path.rfind(L'\\', slash - 1)) {
        const std::wstring folder = path.substr(0, slash);
        if (kvotest::FolderExists(folder))
            break;
        m_createdFolders.push_back(folder);
    }
    for (auto folder = m_createdFolders.rbegin(); folder != m_createdFolders.rend(); ++folder)
        CreateDirectoryW(folder->c_str(), nullptr);
    kvotest::WriteFileBytes(path, bytes);
}

SeededFile::~SeededFile()
{
    if (m_previous)
        kvotest::WriteFileBytes(m_path, *m_previous);
    else
        DeleteFileW(m_path.c_str());
    for (const auto& folder : m_createdFolders)
        RemoveDirectoryW(folder.c_str());
}

int RunBounded(std::wstring commandLine, DWORD timeoutMs)
{
    unique_handle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &started))
        return -1;
    unique_handle process(started.hProcess);
    unique_handle thread(started.hThread);
    AssignProcessToJobObject(job.get(), process.get());
    ResumeThread(thread.get());
    if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateJobObject(job.get(), 1);
        return -1;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    return int(exitCode);
}

std::string ScriptResourceBytes()
{
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(140), L"BINARY");
    if (!found)
        return {};
    const void* bytes = LockResource(LoadResource(module, found));
    return bytes ? std::string(static_cast<const char*>(bytes), SizeofResource(module, found)) : std::string();
}

std::string UnixPath(const std::wstring& windowsPath)
{
    using UnixNameFn = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!toUnix)
        return {};
    char* name = toUnix(windowsPath.c_str());
    if (!name)
        return {};
    std::string result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.rfind(L'\\'));
}

bool DesktopExists(const wchar_t* name)
{
    const HDESK desktop = OpenDesktopW(name, 0, FALSE, DESKTOP_READOBJECTS);
    if (!desktop)
        return false;
    CloseDesktop(desktop);
    return true;
}

} // namespace oslogtest
