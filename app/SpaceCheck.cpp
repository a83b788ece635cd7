#include "SpaceCheck.h"

#include "PathBuilder.h"

#include <atomic>
#include <climits>
#include <cwchar>

using Tallis::ImageUpdate::PathBuilder;
using Tallis::ImageUpdate::TreeSize;

namespace {

std::atomic<ULONGLONG> g_estimateOverride{ULLONG_MAX};

bool IsFolder(const std::wstring& path)
{
    PathBuilder folder(path.c_str(), false);
    const DWORD attributes = GetFileAttributesW(folder.GetLongPath());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The folder itself, or the nearest ancestor that exists.
std::wstring ExistingAncestor(std::wstring folder)
{
    while (!folder.empty() && !IsFolder(folder)) {
        const size_t separator = folder.find_last_of(L'\\');
        if (separator == std::wstring::npos)
            return {};
        // Keep the root's backslash ("C:\").
        folder.resize(separator > 0 && folder[separator - 1] == L':' ? separator + 1 : separator);
    }
    return folder;
}

std::wstring VolumeOf(const std::wstring& folder)
{
    wchar_t volume[MAX_PATH + 1] = {};
    PathBuilder path(folder.c_str(), false);
    if (!GetVolumePathNameW(path.GetPath(), volume, MAX_PATH + 1))
        return {};
    return volume;
}

bool IsSystemVolume(const std::wstring& volume)
{
    wchar_t system[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return false;
    return _wcsicmp(VolumeOf(system).c_str(), volume.c_str()) == 0;
}

} // namespace

void SetEstimateForTest(ULONGLONG bytes) noexcept
{
    g_estimateOverride.store(bytes);
}

ULONGLONG FreeSpaceOf(const std::wstring& folder) noexcept
{
    try {
        const std::wstring existing = ExistingAncestor(folder);
        ULARGE_INTEGER available{};
        if (existing.empty() || !GetDiskFreeSpaceExW(existing.c_str(), &available, nullptr, nullptr))
            return 0;
        return available.QuadPart;
    } catch (...) {
        return 0;
    }
}

DWORD CheckSpace(const std::wstring& baseFolder, CVellocsDiag& holder, const wchar_t* markerVolumeRoot,
                 INT32 layerMode, std::optional<ULONGLONG> reserve, SpaceCheck& check)
{
    const std::wstring existing = ExistingAncestor(baseFolder);
    if (existing.empty())
        return ERROR_PATH_NOT_FOUND;
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(existing.c_str(), &available, nullptr, nullptr))
        return GetLastError();
    check.freeBefore = available.QuadPart;
    check.volume = VolumeOf(existing);
    check.systemVolume = IsSystemVolume(check.volume);
    check.reserve = reserve ? *reserve : check.systemVolume ? kSystemVolumeReserve : kOtherVolumeReserve;

    TreeSize size;
    for (int index = 0; index < CVellocsDiag::kComponentCount; ++index) {
        CVellocsDiagComponent* component = holder.GetComponent(index);
        if (component && component->selected && component->IsAvailable())
            component->EstimateSize(markerVolumeRoot, layerMode, size);
    }
    const ULONGLONG override = g_estimateOverride.load();
    check.estimate = override != ULLONG_MAX ? override : size.bytes;
    return 0;
}

std::wstring FormatBytes(ULONGLONG bytes)
{
    const wchar_t* units[] = {L"bytes", L"KB", L"MB", L"GB", L"TB"};
    double value = double(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    wchar_t text[64] = {};
    if (unit == 0)
        _snwprintf(text, 63, L"%I64u bytes", bytes);
    else
        _snwprintf(text, 63, L"%.1f %s", value, units[unit]);
    return text;
}
