#include "SpaceCheck.h"

#include "CollectTestSeams.h"
#include "FileSystem.h"
#include "VellocsDiag.h"

#include <atomic>
#include <climits>
#include <cwchar>

using Tallis::ImageUpdate::IsExistingFolder;
using Tallis::ImageUpdate::TreeSize;

namespace {

std::atomic<ULONGLONG> g_estimateOverride{ULLONG_MAX};

// The folder itself, or the nearest ancestor that exists; a drive root is kept with its backslash.
std::wstring ExistingAncestor(std::wstring folder)
{
    while (!folder.empty() && !IsExistingFolder(folder.c_str())) {
        std::wstring parent = ParentFolder(folder);
        if (parent.size() >= folder.size())
            return {}; // a root that does not exist, or no folder at all
        folder = std::move(parent);
    }
    return folder;
}

// The root of the folder's volume ("C:\", or a mounted folder); the drive root when the path is
// too long for the query.
std::wstring VolumeOf(const std::wstring& folder)
{
    wchar_t volume[MAX_PATH + 1] = {};
    if (GetVolumePathNameW(folder.c_str(), volume, MAX_PATH + 1))
        return volume;
    if (folder.size() >= 2 && folder[1] == L':')
        return folder.substr(0, 2) + L"\\";
    return {};
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

std::wstring ParentFolder(const std::wstring& folder)
{
    const size_t separator = folder.find_last_of(L'\\');
    if (separator == std::wstring::npos)
        return folder;
    return folder.substr(0, separator > 0 && folder[separator - 1] == L':' ? separator + 1 : separator);
}

void SetEstimateForTest(ULONGLONG bytes) noexcept
{
    g_estimateOverride.store(bytes);
}

ULONGLONG FreeSpaceOf(const std::wstring& folder) noexcept
{
    try {
        const std::wstring existing = ExistingAncestor(folder);
        if (existing.empty())
            return 0;
        const std::wstring volume = VolumeOf(existing);
        ULARGE_INTEGER available{};
        if (!GetDiskFreeSpaceExW(volume.empty() ? existing.c_str() : volume.c_str(), &available, nullptr, nullptr))
            return 0;
        return available.QuadPart;
    } catch (...) {
        return 0;
    }
}

DWORD CheckSpace(const RunRequest& request, CVellocsDiag& holder, SpaceCheck& check)
{
    const std::wstring existing = ExistingAncestor(request.baseFolder);
    if (existing.empty())
        return ERROR_PATH_NOT_FOUND;
    check.volume = VolumeOf(existing);
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(check.volume.empty() ? existing.c_str() : check.volume.c_str(), &available, nullptr,
                             nullptr))
        return GetLastError();
    check.freeBefore = available.QuadPart;
    check.systemVolume = IsSystemVolume(check.volume);
    check.reserve = request.reserveBytes ? *request.reserveBytes
                                         : check.systemVolume ? kSystemVolumeReserve : kOtherVolumeReserve;

    TreeSize size;
    size.fileCap = request.fileSizeCap;
    for (int index = 0; index < CVellocsDiag::kComponentCount; ++index) {
        CVellocsDiagComponent* component = holder.GetComponent(index);
        if (component && request.collect[size_t(index)] && component->IsAvailable())
            component->EstimateSize(request.MarkerVolume(), request.layerMode, size);
    }
    const ULONGLONG override = g_estimateOverride.load();
    check.estimate = override != ULLONG_MAX ? override : size.bytes;
    check.largestFiles.clear();
    for (const auto& file : size.largest) {
        if (file.bytes != 0)
            check.largestFiles.push_back(file);
    }
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
