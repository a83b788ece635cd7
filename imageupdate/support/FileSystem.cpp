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

DWORD CopyTree(const wchar_t* source, const wchar_t* destination, bool recurse)
{
    PathBuilder sourceFolder(source, false);
    PathBuilder destinationFolder(destination, false);

    if (DestinationNeedsCreation(destinationFolder.GetPath()))
        (void)CreateFolderWithRetry(destinationFolder.GetPath());

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
        if (const DWORD error = CopyCollectedFile(sourceItem.GetPath(), destinationItem.GetPath(), L"WSFileSystem")) {
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

} // namespace

DWORD MeasureFolderTree(const wchar_t* folder, bool recurse, TreeSize& size) noexcept
{
    if (!folder || folder[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    try {
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
        return CopyTree(source, destination, recurse);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

} // namespace Tallis::ImageUpdate
