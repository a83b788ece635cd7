#include "RelativeFiles.h"

#include "FileSystem.h"
#include "NtStatus.h"
#include "PathBuilder.h"

#include <winternl.h>

#include <new>

namespace Tallis::ImageUpdate {
namespace {

constexpr ULONG kSynchronousIoNonAlert = 0x00000020;
constexpr ULONG kOpenForBackupIntent = 0x00004000;
constexpr ULONG kCaseInsensitive = 0x00000040;

using NtCreateFileFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                                    ULONG, ULONG, ULONG, PVOID, ULONG);

NtCreateFileFn NtCreateFileEntry() noexcept
{
    // ntdll is in every process from the system directory: taken as it is, never searched for.
    static const NtCreateFileFn entry = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll ? reinterpret_cast<NtCreateFileFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")))
                     : nullptr;
    }();
    return entry;
}

} // namespace

DWORD CreateAtHandle(HANDLE parent, const std::wstring& name, ACCESS_MASK access, PSECURITY_DESCRIPTOR descriptor,
                     DWORD share, ULONG disposition, ULONG options, unique_hfile& result) noexcept
{
    result.reset();
    // One component only: a separator would walk below the parent by name.
    if (!parent || name.empty() || name.find_first_of(L"\\/") != std::wstring::npos || name.size() > 255)
        return ERROR_INVALID_NAME;
    const NtCreateFileFn create = NtCreateFileEntry();
    if (!create)
        return ERROR_PROC_NOT_FOUND;
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = USHORT(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = parent;
    attributes.ObjectName = &text;
    attributes.Attributes = kCaseInsensitive;
    attributes.SecurityDescriptor = descriptor;
    IO_STATUS_BLOCK io{};
    HANDLE handle = nullptr;
    const LONG status = create(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                               disposition, options | kSynchronousIoNonAlert | kOpenForBackupIntent, nullptr, 0);
    if (status < 0)
        return Win32FromStatus(status);
    result.reset(handle);
    return 0;
}

DWORD CreateFolderAt(HANDLE parent, const std::wstring& name, PSECURITY_DESCRIPTOR descriptor, DWORD share,
                     unique_hfile& folder) noexcept
{
    const DWORD error = CreateAtHandle(parent, name, kFolderWorkAccess, descriptor, share, NativeCreate::kCreate,
                                       NativeCreate::kDirectoryFile | NativeCreate::kOpenReparsePoint, folder);
    return error == ERROR_FILE_EXISTS ? DWORD(ERROR_ALREADY_EXISTS) : error;
}

DWORD OpenFolderAt(HANDLE parent, const std::wstring& name, unique_hfile& folder) noexcept
{
    return CreateAtHandle(parent, name, kFolderWorkAccess, nullptr, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          NativeCreate::kOpen, NativeCreate::kDirectoryFile | NativeCreate::kOpenReparsePoint, folder);
}

DWORD OpenFolderNoFollow(const std::wstring& path, unique_hfile& folder) noexcept
{
    try {
        PathBuilder name(path.c_str(), false);
        folder.reset(CreateFileW(name.GetLongPath(), kFolderWorkAccess,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!folder)
            return GetLastError();
        return 0;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD ReadHandleInfo(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) noexcept
{
    if (!GetFileInformationByHandle(handle, &info))
        return GetLastError();
    return 0;
}

std::wstring FinalPathOf(HANDLE handle)
{
    const DWORD needed = GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED);
    if (needed == 0)
        return {};
    std::wstring name(needed, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(handle, name.data(), needed, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= needed)
        return {};
    name.resize(length);
    return WithoutLongPrefix(name.c_str());
}

} // namespace Tallis::ImageUpdate
