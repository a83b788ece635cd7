#include "OutputFolder.h"

#include "PathBuilder.h"

#include <cwchar>
#include <ctime>

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

