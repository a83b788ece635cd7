#include "CollectorTrees.h"

#include "DiagnosticLog.h"
#include "FileCopy.h"
#include "FileSystem.h"
#include "FolderCreation.h"
#include "PathBuilder.h"
#include "TreeWalk.h"
#include "UniqueHandles.h"

using namespace Tallis::ImageUpdate;

int ForEachVolumeFolder(const wchar_t* dataFolder, const wchar_t* logUnit,
                        const std::function<void(const wchar_t* volumeName)>& visit)
{
    PathBuilder pattern(dataFolder, L"Volumes", L"{*}", nullptr, false);
    WIN32_FIND_DATAW entry;
    unique_hfind search(FindFirstFileW(pattern.GetLongPath(), &entry));
    if (!search) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            KVO_LOG(LOG_WARN, logUnit, L"No volume folders found for %s", pattern.GetPath());
        else
            KVO_LOG(LOG_ERROR, logUnit, L"Search for volume folders %s failed, Error:%d", pattern.GetPath(),
                    int(error));
        return 0;
    }
    int visited = 0;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            PathBuilder link(dataFolder, L"Volumes", entry.cFileName, nullptr, false);
            LogLinkNotFollowed(logUnit, L"volume folder", link.GetPath(), {});
            continue;
        }
        visit(entry.cFileName);
        ++visited;
    } while (FindNextFileW(search.get(), &entry));
    if (visited == 0)
        KVO_LOG(LOG_WARN, logUnit, L"No volume folders found for %s", pattern.GetPath());
    return visited;
}

void CollectTree(const wchar_t* source, const wchar_t* destination, const wchar_t* logUnit)
{
    if (DiskFullSeen()) {
        KVO_LOG(LOG_WARN, logUnit, L"The disk is full: %s is not copied", source);
        return;
    }
    if (const std::wstring linked = LinkedComponent(source); !linked.empty()) {
        LogLinkNotFollowed(logUnit, L"source folder", source, linked);
        return;
    }
    KVO_LOG(LOG_INFO, logUnit, L"Copying %s ==> %s", source, destination);
    if (!PathExists(source)) {
        // The copy below still runs: it leaves the (empty) destination as the only trace.
        KVO_LOG(LOG_WARN, logUnit, L"Source folder %s not found, nothing to copy", source);
    }
    if (const DWORD error = CopyFolderTree(source, destination, true))
        KVO_LOG(LOG_ERROR, logUnit, L"Copy of %s ==> %s is incomplete, Error:%d", source, destination, int(error));
}

void CollectFile(const wchar_t* what, const wchar_t* source, const wchar_t* destination, const wchar_t* logUnit)
{
    if (const std::wstring linked = LinkedComponent(source); !linked.empty()) {
        LogLinkNotFollowed(logUnit, what, source, linked);
        return;
    }
    PathBuilder from(source, false);
    const DWORD attributes = GetFileAttributesW(from.GetLongPath());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            KVO_LOG(LOG_WARN, logUnit, L"No %s at %s", what, source);
            return;
        }
    }
    (void)CopyCollectedFile(source, destination, logUnit);
}

DWORD CreateOutputFolder(const wchar_t* folder, const wchar_t* logUnit)
{
    const DWORD error = CreateFolderWithRetry(folder);
    if (error == 0)
        return 0;
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
        KVO_LOG(LOG_ERROR, logUnit, L"The folder %s exists already: this run did not make it", folder);
        return ERROR_ALREADY_EXISTS;
    }
    KVO_LOG(LOG_ERROR, logUnit, L"The folder %s could not be created, Error:%d", folder, int(error));
    return error;
}

void MeasuringVisitor::File(const wchar_t*, const wchar_t* source, const wchar_t*)
{
    // What the copy would not follow adds nothing.
    if (!LinkedComponent(source).empty())
        return;
    PathBuilder from(source, false);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(from.GetLongPath(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return;
    m_size.AddFile(from.GetPath(), (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

void MeasuringVisitor::Tree(const wchar_t* source, const wchar_t*)
{
    if (!LinkedComponent(source).empty())
        return;
    (void)MeasureFolderTree(source, true, m_size);
}
