#include "OutputFolder.h"

#include "FileSystem.h"
#include "FolderCreation.h"
#include "PathBuilder.h"

#include <shlwapi.h>

#include <cwchar>
#include <ctime>
#include <new>

INT32 CurrentTimeSeconds() noexcept
{
    return INT32(std::time(nullptr));
}

std::wstring MakeOutputFolder(const wchar_t* base, INT32 seconds)
{
    wchar_t name[32] = {};
    _snwprintf(name, 31, L"VellocsDiag_%d", int(seconds));
    Tallis::ImageUpdate::PathBuilder folder(base, name, false);
    return folder.GetPath();
}


namespace {
constexpr int kMaxSuffix = 1000;
}

DWORD ClaimOutputFolder(std::wstring& folder) noexcept
{
    using Tallis::ImageUpdate::PathBuilder;
    try {
        PathBuilder proposed(folder.c_str(), false);
        const std::wstring name = PathFindFileNameW(proposed.GetPath());
        const std::wstring base(proposed.GetPath(), proposed.GetPath() + (PathFindFileNameW(proposed.GetPath()) -
                                                                          proposed.GetPath()));
        if (!base.empty() && !Tallis::ImageUpdate::IsExistingFolder(base.c_str())) {
            const DWORD error = Tallis::ImageUpdate::CreateFolderWithRetry(base.c_str());
            if (error != 0 && error != ERROR_ALREADY_EXISTS)
                return error;
        }
        for (int suffix = 1; suffix <= kMaxSuffix; ++suffix) {
            std::wstring candidate = name;
            if (suffix > 1)
                candidate += L"_" + std::to_wstring(suffix);
            PathBuilder attempt(base.c_str(), candidate.c_str(), false);
            // CreateDirectoryW is the test and the claim in one step: no other run can slip between.
            if (CreateDirectoryW(attempt.GetLongPath(), nullptr)) {
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
