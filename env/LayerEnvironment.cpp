#include "LayerEnvironment.h"

#include "DiagnosticLog.h"
#include "PathBuilder.h"
#include "UniqueHandles.h"

#include <shlobj.h>

using namespace Tallis::ImageUpdate;

namespace {

// Only the product writes its markers, as files: any account may create a folder in a drive root,
// and a link may lead anywhere.
bool IsRegularFile(const wchar_t* path) noexcept
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}

} // namespace

DWORD ReadLayerVirtualizationMode(DWORD& mode) noexcept
{
    mode = 0;
    unique_hkey key;
    LSTATUS result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDriverInstanceKey, 0, KEY_QUERY_VALUE, key.put());
    if (result == ERROR_SUCCESS) {
        DWORD type = 0;
        DWORD size = sizeof mode;
        result = RegQueryValueExW(key.get(), kDriverStateValue, nullptr, &type, reinterpret_cast<BYTE*>(&mode), &size);
        key.reset();
        if (result != ERROR_SUCCESS)
            mode = 0;
        else if (type != REG_DWORD)
            result = ERROR_INVALID_DATA; // the mode keeps the bytes that were read
    }
    if (result != ERROR_SUCCESS)
        KVO_LOG(LOG_ERROR, L"NorrowNativeUtil", L"Failed to read layer virtualization mode. Error %d.", int(result));
    return DWORD(result);
}

const wchar_t* FindMarkerVolume(std::wstring& root)
{
    wchar_t drives[260];
    const DWORD length = GetLogicalDriveStringsW(260, drives);
    if (length == 0)
        return nullptr;
    // A list longer than the buffer is not written at all; treat it as no drives.
    if (length > 260)
        return nullptr;

    // An empty removable drive must test as missing, not stop start-up with a "no disk" box.
    DWORD previousMode = 0;
    const bool modeChanged = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    struct RestoreErrorMode {
        bool active;
        DWORD mode;
        ~RestoreErrorMode()
        {
            if (active)
                SetThreadErrorMode(mode, nullptr);
        }
    } restore{modeChanged, previousMode};

    int count = 0;
    for (const wchar_t* drive = drives; *drive && count < 1024; drive += wcslen(drive) + 1, ++count) {
        const wchar_t candidate[] = {drive[0], L':', L'\\', L'\0'};
        for (const wchar_t* marker : kMarkerFiles) {
            PathBuilder markerPath(candidate, marker, false);
            if (IsRegularFile(markerPath.GetLongPath())) {
                root = candidate;
                return root.c_str();
            }
        }
    }
    return nullptr;
}

void GetProductDataFolder(std::wstring& folder, const wchar_t* name)
{
    wchar_t commonAppData[MAX_PATH];
    if (SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_DEFAULT, commonAppData) != S_OK)
        return;
    PathBuilder dataFolder(commonAppData, L"Korvane", name, nullptr, false);
    folder = dataFolder.GetPath();
}
