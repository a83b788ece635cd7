#include "OutputFolder.h"

#include "FileSystem.h"
#include "OutputTree.h"
#include "PathBuilder.h"
#include "PrivateSecurity.h"

#include <shlobj.h>

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

std::wstring MakeOutputFolder(const wchar_t* base, INT32 seconds, int attempt)
{
    wchar_t name[48] = {};
    if (attempt > 1)
        _snwprintf(name, 47, L"VellocsDiag_%d_%d", int(seconds), attempt);
    else
        _snwprintf(name, 47, L"VellocsDiag_%d", int(seconds));
    PathBuilder folder(base, name, false);
    return folder.GetPath();
}

std::wstring MakeOutputFolder(const RunRequest& request)
{
    return MakeOutputFolder(request.baseFolder.c_str(), request.seconds);
}

void PublishOutputFolder(const std::wstring& folder) noexcept
{
    SetEnvironmentVariableW(kOutputFolderVariable, folder.c_str());
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

DWORD ClaimOutputFolder(const RunRequest& request, std::wstring& folder) noexcept
{
    try {
        const std::wstring& base = request.baseFolder;
        if (!base.empty() && !IsExistingFolder(base.c_str())) {
            if (const DWORD error = CreatePrivateFolderChain(base.c_str()))
                return error;
        }
        PrivateSecurity security;
        if (const DWORD error = security.Build())
            return error;
        for (int attempt = 1; attempt <= kMaxSuffix; ++attempt) {
            const std::wstring candidate = MakeOutputFolder(base.c_str(), request.seconds, attempt);
            // CreateDirectoryW is the test and the claim in one step: no other run can slip between.
            if (CreateDirectoryW(FullLongPath(candidate.c_str()).c_str(), security.Attributes())) {
                folder = candidate;
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
