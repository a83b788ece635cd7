#include "OutputFolder.h"

#include "FileSystem.h"
#include "PathBuilder.h"
#include "PrivateSecurity.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>
#include <ctime>
#include <new>
#include <vector>

using namespace Tallis::ImageUpdate;

namespace {

constexpr int kMaxSuffix = 1000;

std::wstring WithoutTrailingSeparator(std::wstring path)
{
    while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    return path;
}

bool IsOwnDesktop(const std::wstring& folder)
{
    wchar_t desktop[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop) < 0)
        return false;
    return _wcsicmp(WithoutTrailingSeparator(desktop).c_str(), WithoutTrailingSeparator(folder).c_str()) == 0;
}

std::wstring JoinNames(const std::vector<std::wstring>& names)
{
    std::wstring text;
    for (const std::wstring& name : names)
        text += (text.empty() ? L"" : L", ") + name;
    return text;
}

} // namespace

INT32 CurrentTimeSeconds() noexcept
{
    return INT32(std::time(nullptr));
}

std::wstring MakeOutputFolder(const wchar_t* base, INT32 seconds)
{
    wchar_t name[32] = {};
    _snwprintf(name, 31, L"VellocsDiag_%d", int(seconds));
    PathBuilder folder(base, name, false);
    return folder.GetPath();
}

DWORD CheckBaseFolder(const std::wstring& base, bool elevated, std::wstring& problem)
{
    problem.clear();
    PathBuilder folder(base.c_str(), false);
    if (base.empty() || GetFileAttributesW(folder.GetLongPath()) == INVALID_FILE_ATTRIBUTES)
        return 0;
    if (IsReparsePoint(base.c_str()) && !IsOwnDesktop(base)) {
        const std::wstring target = LinkTarget(base.c_str());
        problem = L"The base folder " + base + L" is a link to " + (target.empty() ? L"an unknown place" : target) +
                  L". Choose a folder that is not a link.";
        return kErrorStoppedOnLink;
    }
    if (!elevated)
        return 0;
    std::vector<std::wstring> writers;
    if (const DWORD error = FindOtherWriters(base.c_str(), writers)) {
        problem = L"The permissions of the base folder " + base + L" could not be read (Error:" +
                  std::to_wstring(error) + L").";
        return error;
    }
    if (writers.empty())
        return 0;
    problem = L"Other accounts (" + JoinNames(writers) + L") may change the base folder " + base +
              L", so they could replace the output before it is complete. Choose a folder that only "
              L"administrators can change, or a new one that the tool creates itself, for example "
              L"C:\\ProgramData\\KvoVellocsDiag.";
    return ERROR_ACCESS_DENIED;
}

DWORD ClaimOutputFolder(std::wstring& folder) noexcept
{
    try {
        PathBuilder proposed(folder.c_str(), false);
        const std::wstring name = PathFindFileNameW(proposed.GetPath());
        const std::wstring base(proposed.GetPath(), proposed.GetPath() + (PathFindFileNameW(proposed.GetPath()) -
                                                                          proposed.GetPath()));
        if (!base.empty() && !IsExistingFolder(base.c_str())) {
            if (const DWORD error = CreatePrivateFolderChain(base.c_str()))
                return error;
        }
        PrivateSecurity security;
        if (const DWORD error = security.Build())
            return error;
        for (int suffix = 1; suffix <= kMaxSuffix; ++suffix) {
            std::wstring candidate = name;
            if (suffix > 1)
                candidate += L"_" + std::to_wstring(suffix);
            PathBuilder attempt(base.c_str(), candidate.c_str(), false);
            // CreateDirectoryW is the test and the claim in one step: no other run can slip between.
            if (CreateDirectoryW(attempt.GetLongPath(), security.Attributes())) {
                folder = attempt.GetPath();
                return 0;
            }
            const DWORD error = GetLastError();
            if (error != ERROR_ALREADY_EXISTS)
                return error;
        }
        return ERROR_ALREADY_EXISTS;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}
