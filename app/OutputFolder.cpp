#include "OutputFolder.h"

#include "PathBuilder.h"

#include <cwchar>
#include <ctime>

using namespace Tallis::ImageUpdate;

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
