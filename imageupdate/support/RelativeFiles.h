#pragma once
// Folders opened and created relative to a folder handle. The name is looked up inside the folder
// the handle holds, whatever has happened to that folder's own name since it was opened: a rename
// or a swap of a parent between a check and a use cannot redirect the use.
#include "UniqueHandles.h"

#include <windows.h>

#include <string>

namespace Tallis::ImageUpdate {

// What a folder handle of the claim needs: list it, make folders and files in it, read its descriptor.
constexpr ACCESS_MASK kFolderWorkAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_READ_ATTRIBUTES |
    READ_CONTROL | SYNCHRONIZE;

// NtCreateFile's dispositions and options (ntifs.h names), which MinGW's headers do not all carry.
namespace NativeCreate {
constexpr ULONG kOpen = 1;
constexpr ULONG kCreate = 2;
constexpr ULONG kDirectoryFile = 0x00000001;
constexpr ULONG kSequentialOnly = 0x00000004;
constexpr ULONG kNonDirectoryFile = 0x00000040;
constexpr ULONG kOpenReparsePoint = 0x00200000;
} // namespace NativeCreate

// Opens or creates name (one component) inside the folder parent with NtCreateFile: synchronous,
// with backup intent, case-insensitive. descriptor may be null. 0 or the Windows error.
[[nodiscard]] DWORD CreateAtHandle(HANDLE parent, const std::wstring& name, ACCESS_MASK access,
                                   PSECURITY_DESCRIPTOR descriptor, DWORD share, ULONG disposition, ULONG options,
                                   unique_hfile& result) noexcept;

// Creates the new folder name (one component) inside parent with the descriptor, and opens it with
// the given sharing. A name that exists, a link included, is never opened: ERROR_ALREADY_EXISTS.
// 0 or the Windows error.
[[nodiscard]] DWORD CreateFolderAt(HANDLE parent, const std::wstring& name, PSECURITY_DESCRIPTOR descriptor,
                                   DWORD share, unique_hfile& folder) noexcept;

// Opens the existing folder name (one component) inside parent as itself: a link is opened as the
// link, never followed; a file gives ERROR_DIRECTORY. 0 or the Windows error.
[[nodiscard]] DWORD OpenFolderAt(HANDLE parent, const std::wstring& name, unique_hfile& folder) noexcept;

// Opens an existing folder by its path without following a link at its last component: the handle
// is the link's when it is one. 0 or the Windows error.
[[nodiscard]] DWORD OpenFolderNoFollow(const std::wstring& path, unique_hfile& folder) noexcept;

// The handle's attributes and link count. 0 or the Windows error.
[[nodiscard]] DWORD ReadHandleInfo(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) noexcept;

// The final path of what the handle holds, without a long-path prefix; empty when unknown.
[[nodiscard]] std::wstring FinalPathOf(HANDLE handle);

} // namespace Tallis::ImageUpdate
