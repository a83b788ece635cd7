#include "FileSystem.h"

#include "DiagnosticLog.h"
#include "FileCopy.h"
#include "FolderCreation.h"
#include "PathBuilder.h"
#include "UniqueHandles.h"

#include <cwchar>
#include <new>

namespace Tallis::ImageUpdate {
namespace {

// A drive root (X: or X:\) or a bare UNC server is never created.
bool DestinationNeedsCreation(const wchar_t* text) noexcept
{
    const size_t length = wcslen(text);
    if (length >= 4 && text[0] == L'\\' && text[1] == L'\\') {
        const wchar_t* rest = text;
        if (wcsncmp(text, L"\\\\?\\", 4) == 0)
            rest = text + 4;
        for (const wchar_t* p = rest; *p; ++p) {
            if (*p == L'\\' && p[1] != L'\0')
                return true;
        }
        return false;
    }
    if (length >= 1 && text[length - 1] == L':')
        return false;
    if (length >= 2 && text[length - 2] == L':' && text[length - 1] == L'\\')
        return false;
    return true;
}

bool IsDotEntry(const wchar_t* name) noexcept
{
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

// Keeps the first failure of a copy while the copy goes on with everything else.
void KeepFirst(DWORD& first, DWORD error) noexcept
{
    if (first == 0)
        first = error;
}

// A folder of the copy, whose parent is there in nearly every case: one CreateDirectoryW, and the
// chain creation with its full-disk retry only when that is not enough. The shell's chain creation
// costs milliseconds a folder under Wine, more than copying a small file. Paths of the chain's long
// branch go there directly, which logs them as it always did. A name that exists, a planted link
// included, fails with ERROR_ALREADY_EXISTS and is never entered; without a descriptor of its own
// the new folder takes the inheritable entries of its parent, which in a collection is the
// private output folder.
DWORD CreateCopyFolder(PathBuilder& folder)
{
    if (wcslen(folder.GetPath()) >= size_t(PathBuilder::kLongBranchFrom))
        return CreateFolderWithRetry(folder.GetPath());
    if (CreateDirectoryW(folder.GetLongPath(), nullptr))
        return 0;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS)
        return error;
    return CreateFolderWithRetry(folder.GetPath());
}

DWORD CopyTree(const wchar_t* source, const wchar_t* destination, bool recurse)
{
    PathBuilder sourceFolder(source, false);
    PathBuilder destinationFolder(destination, false);

    // Every folder of the destination is this run's own. One that is there already may be anything,
    // a link planted by another account included: nothing is copied into it.
    if (DestinationNeedsCreation(destinationFolder.GetPath())) {
        const DWORD error = CreateCopyFolder(destinationFolder);
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            KVO_LOG(LOG_ERROR, L"WSFileSystem", L"The destination folder %s exists already: nothing is copied into it",
                    destinationFolder.GetPath());
            return ERROR_ALREADY_EXISTS;
        }
    }

    PathBuilder pattern(sourceFolder.GetPath(), L"*.*", false);
    WIN32_FIND_DATAW entry;
    unique_hfind search(FindFirstFileW(pattern.GetLongPath(), &entry));
    if (!search) {
        const DWORD error = GetLastError();
        return error == ERROR_ACCESS_DENIED ? ERROR_ACCESS_DENIED : 0;
    }

    // One file that cannot be copied (held open without sharing, access denied) must not cost
    // every file after it: copy the rest and report the first failure.
    DWORD firstError = 0;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            continue;
        if (IsDotEntry(entry.cFileName))
            continue;
        PathBuilder sourceItem(sourceFolder.GetPath(), entry.cFileName, false);
        PathBuilder destinationItem(destinationFolder.GetPath(), entry.cFileName, false);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!recurse)
                continue;
            if (const DWORD error = CopyTree(sourceItem.GetPath(), destinationItem.GetPath(), recurse)) {
                KeepFirst(firstError, error);
                if (IsDiskFullError(error))
                    return error;
            }
            continue;
        }
        const ULONGLONG listedSize = (ULONGLONG(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
        if (const DWORD error =
                CopyListedFile(sourceItem.GetPath(), destinationItem.GetPath(), L"WSFileSystem", &listedSize)) {
            KeepFirst(firstError, error);
            // On a full disk every later copy would fail the same way.
            if (IsDiskFullError(error))
                return error;
        }
    } while (FindNextFileW(search.get(), &entry));
    return firstError;
}

DWORD MeasureTree(const wchar_t* folder, bool recurse, TreeSize& size)
{
    PathBuilder pattern(folder, L"*.*", false);
    WIN32_FIND_DATAW entry;
    unique_hfind search(FindFirstFileW(pattern.GetLongPath(), &entry));
    if (!search) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
    }
    DWORD firstError = 0;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || IsDotEntry(entry.cFileName))
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!recurse)
                continue;
            PathBuilder inner(folder, entry.cFileName, false);
            if (const DWORD error = MeasureTree(inner.GetPath(), recurse, size))
                KeepFirst(firstError, error);
            continue;
        }
        ++size.files;
        size.bytes += (ULONGLONG(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
    } while (FindNextFileW(search.get(), &entry));
    return firstError;
}

// A folder link is removed as the link itself, opened as such: never what it leads to.
DWORD RemoveLink(const wchar_t* longPath)
{
    unique_hfile link(CreateFileW(longPath, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!link)
        return GetLastError();
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(link.get(), FileDispositionInfo, &disposition, sizeof disposition))
        return GetLastError();
    return 0;
}

DWORD RemoveTree(const wchar_t* folder)
{
    PathBuilder pattern(folder, L"*", false);
    WIN32_FIND_DATAW entry;
    unique_hfind search(FindFirstFileW(pattern.GetLongPath(), &entry));
    DWORD firstError = 0;
    if (search) {
        do {
            if (IsDotEntry(entry.cFileName))
                continue;
            PathBuilder item(folder, entry.cFileName, false);
            const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (isFolder && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                KeepFirst(firstError, RemoveLink(item.GetLongPath()));
                continue;
            }
            if (isFolder) {
                KeepFirst(firstError, RemoveTree(item.GetPath()));
                continue;
            }
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(item.GetLongPath(), entry.dwFileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
            if (!DeleteFileW(item.GetLongPath()))
                KeepFirst(firstError, GetLastError());
        } while (FindNextFileW(search.get(), &entry));
    }
    search.reset();
    PathBuilder self(folder, false);
    if (!RemoveDirectoryW(self.GetLongPath()))
        KeepFirst(firstError, GetLastError());
    return firstError;
}

} // namespace

bool IsReparsePoint(const wchar_t* path) noexcept
{
    if (!path || path[0] == L'\0')
        return false;
    try {
        PathBuilder item(path, false);
        const DWORD attributes = GetFileAttributesW(item.GetLongPath());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

std::wstring WithoutLongPrefix(const wchar_t* path)
{
    if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0)
        return std::wstring(L"\\\\") + (path + 8);
    if (wcsncmp(path, L"\\\\?\\", 4) == 0)
        return path + 4;
    return path;
}

std::wstring LinkTarget(const wchar_t* path)
{
    PathBuilder link(path, false);
    // Opened with the link followed: the handle is the target's, and its name is where it leads.
    unique_hfile target(CreateFileW(link.GetLongPath(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!target)
        return {};
    const DWORD needed = GetFinalPathNameByHandleW(target.get(), nullptr, 0, FILE_NAME_NORMALIZED);
    if (needed == 0)
        return {};
    std::wstring name(needed, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(target.get(), name.data(), needed, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= needed)
        return {};
    name.resize(length);
    return WithoutLongPrefix(name.c_str());
}

DWORD RemoveFolderTree(const wchar_t* path) noexcept
{
    if (!path || path[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    try {
        return RemoveTree(path);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD MeasureFolderTree(const wchar_t* folder, bool recurse, TreeSize& size) noexcept
{
    if (!folder || folder[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    try {
        // A link as the root is not followed, as the copy does not follow it.
        if (IsReparsePoint(folder))
            return kErrorStoppedOnLink;
        return MeasureTree(folder, recurse, size);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

bool IsExistingFolder(const wchar_t* path) noexcept
{
    if (!path || path[0] == L'\0')
        return false;
    try {
        // A root keeps its backslash: "X:" alone would name the drive's current folder.
        const size_t length = wcslen(path);
        const bool root = (length == 2 || length == 3) && path[1] == L':' && (length == 2 || path[2] == L'\\');
        DWORD attributes;
        if (root) {
            const wchar_t rootPath[4] = {path[0], L':', L'\\', L'\0'};
            attributes = GetFileAttributesW(rootPath);
        } else {
            PathBuilder folder(path, false);
            attributes = GetFileAttributesW(folder.GetLongPath());
        }
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool PathExists(const wchar_t* path) noexcept
{
    if (!path || path[0] == L'\0')
        return false;
    try {
        PathBuilder target(path, false);
        WIN32_FIND_DATAW entry;
        unique_hfind search(FindFirstFileW(target.GetLongPath(), &entry));
        return search.is_valid();
    } catch (const std::bad_alloc&) {
        return false;
    }
}

DWORD CopyFolderTree(const wchar_t* source, const wchar_t* destination, bool recurse) noexcept
{
    if (!source || !destination || source[0] == L'\0' || destination[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    try {
        if (IsReparsePoint(source)) {
            const std::wstring target = LinkTarget(source);
            KVO_LOG(LOG_ERROR, L"WSFileSystem", L"The source folder %s is a link to %s: it is not followed", source,
                    target.empty() ? L"an unknown place" : target.c_str());
            return kErrorStoppedOnLink;
        }
        return CopyTree(source, destination, recurse);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

} // namespace Tallis::ImageUpdate
