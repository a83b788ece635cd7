#include "LayerEnvironment.h"

#include "DiagnosticLog.h"
#include "PathBuilder.h"
#include "PrivateSecurity.h"
#include "RelativeFiles.h"
#include "UniqueHandles.h"

#include <aclapi.h>

#include <shlobj.h>

using namespace Tallis::ImageUpdate;

namespace {

// Only the product writes its markers, as files: any account may create a folder in a drive root,
// and a link may lead anywhere. Checked through the handle of the entry itself, never its target.
DWORD OpenMarker(const wchar_t* path, unique_hfile& marker)
{
    marker.reset(CreateFileW(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!marker)
        return GetLastError();
    BY_HANDLE_FILE_INFORMATION info{};
    if (const DWORD error = ReadHandleInfo(marker.get(), info))
        return error;
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
        return ERROR_FILE_NOT_FOUND;
    return 0;
}

const wchar_t* DriveTypeName(UINT type) noexcept
{
    switch (type) {
    case DRIVE_REMOVABLE: return L"a removable drive";
    case DRIVE_CDROM: return L"a CD-ROM drive";
    case DRIVE_REMOTE: return L"a network drive";
    case DRIVE_RAMDISK: return L"a RAM drive";
    default: return L"not a fixed drive";
    }
}

// An empty removable drive must test as missing, not stop start-up with a "no disk" box.
class QuietDriveErrors {
public:
    QuietDriveErrors() noexcept
        : m_changed(SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &m_previous) != FALSE)
    {
    }
    ~QuietDriveErrors()
    {
        if (m_changed)
            SetThreadErrorMode(m_previous, nullptr);
    }
    QuietDriveErrors(const QuietDriveErrors&) = delete;
    QuietDriveErrors& operator=(const QuietDriveErrors&) = delete;

private:
    DWORD m_previous = 0;
    bool m_changed;
};

// Whether the marker at path may serve: in an elevated run only one the product can have written.
bool MarkerServes(const wchar_t* shown, HANDLE marker, bool elevated, MarkerSearch& search)
{
    if (!elevated)
        return true;
    std::wstring self;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (CurrentAccountSid(self) != 0 ||
        GetSecurityInfo(marker, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
        search.warnings.push_back(std::wstring(L"The owner of the marker file ") + shown +
                                  L" could not be read: it is ignored");
        return false;
    }
    unique_hlocal owned(descriptor);
    std::wstring owner;
    if (IsTrustedMarkerOwner(descriptor, self, owner))
        return true;
    search.warnings.push_back(std::wstring(L"The marker file ") + shown + L" is owned by " + owner +
                              L", not by SYSTEM, Administrators or TrustedInstaller: it is ignored");
    return false;
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

bool IsTrustedMarkerOwner(PSECURITY_DESCRIPTOR descriptor, const std::wstring& selfSid, std::wstring& owner)
{
    ObjectTrust trust;
    if (JudgeDescriptor(descriptor, selfSid, true, trust) != 0)
        return false;
    owner = trust.owner.empty() ? L"nobody" : trust.owner;
    return trust.ownerTrusted;
}

void FindMarkerVolume(bool elevated, MarkerSearch& search)
{
    search = {};
    wchar_t drives[260];
    const DWORD length = GetLogicalDriveStringsW(260, drives);
    // A list longer than the buffer is not written at all; treat it as no drives.
    if (length == 0 || length > 260)
        return;
    QuietDriveErrors quiet;
    int count = 0;
    for (const wchar_t* drive = drives; *drive && count < 1024; drive += wcslen(drive) + 1, ++count) {
        const wchar_t candidate[] = {drive[0], L':', L'\\', L'\0'};
        const UINT type = GetDriveTypeW(candidate);
        if (type != DRIVE_FIXED) {
            search.notes.push_back(std::wstring(L"Drive ") + candidate + L" is " + DriveTypeName(type) +
                                   L": no marker is looked for there");
            continue;
        }
        for (const wchar_t* marker : kMarkerFiles) {
            PathBuilder markerPath(candidate, marker, false);
            unique_hfile opened;
            if (OpenMarker(markerPath.GetLongPath(), opened) != 0)
                continue;
            if (MarkerServes(markerPath.GetPath(), opened.get(), elevated, search)) {
                search.root = candidate;
                return;
            }
        }
    }
}

const wchar_t* FindMarkerVolume(std::wstring& root)
{
    MarkerSearch search;
    FindMarkerVolume(false, search);
    if (search.root.empty())
        return nullptr;
    root = search.root;
    return root.c_str();
}

void GetProductDataFolder(std::wstring& folder, const wchar_t* name)
{
    wchar_t commonAppData[MAX_PATH];
    if (SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_DEFAULT, commonAppData) != S_OK)
        return;
    PathBuilder dataFolder(commonAppData, L"Korvane", name, nullptr, false);
    folder = dataFolder.GetPath();
}
