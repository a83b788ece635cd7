#include "FileSystem.h"

#include "DiagnosticLog.h"
#include "FileCopy.h"
#include "FolderCreation.h"
#include "PathBuilder.h"
#include "TreeWalk.h"
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

// Keeps the first failure of a copy while the copy goes on with everything else.
void KeepFirst(DWORD& first, DWORD error) noexcept
{
    if (first == 0)
        first = error;
}

std::wstring Joined(const std::wstring& base, const std::wstring& relative)
{
    if (relative.empty())
        return base;
    return base.empty() || base.back() == L'\\' ? base + relative : base + L'\\' + relative;
}

// A folder of the copy, whose parent is there in nearly every case: one CreateDirectoryW, and the
// chain creation with its full-disk retry only when that is not enough. The shell's chain creation
// costs milliseconds a folder under Wine, more than copying a small file, and the chain's long
// branch would try every ancestor of a deep folder again. A name that exists, a planted link
// included, fails with ERROR_ALREADY_EXISTS and is never entered; without a descriptor of its own
// the new folder takes the inheritable entries of its parent, which in a collection is the
// private output folder.
DWORD CreateCopyFolder(PathBuilder& folder)
{
    if (CreateDirectoryW(folder.GetLongPath(), nullptr))
        return 0;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS)
        return error;
    return CreateFolderWithRetry(folder.GetPath());
}

// Every folder of the destination is this run's own. One that is there already may be anything, a
// link planted by another account included: nothing is copied into it.
DWORD CreateDestinationFolder(const std::wstring& path)
{
    PathBuilder folder(path.c_str(), false);
    const DWORD error = CreateCopyFolder(folder);
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
        KVO_LOG(LOG_ERROR, L"WSFileSystem", L"The destination folder %s exists already: nothing is copied into it",
                folder.GetPath());
        return ERROR_ALREADY_EXISTS;
    }
    if (error != 0)
        KVO_LOG(LOG_ERROR, L"WSFileSystem", L"The destination folder %s could not be created, Error:%d",
                folder.GetPath(), int(error));
    return error;
}

// One file or folder that cannot be copied (held open without sharing, access denied) must not
// cost everything after it: the rest is copied and the first failure kept. A full disk ends it.
class CopyVisitor final : public ITreeVisitor {
public:
    CopyVisitor(std::wstring source, std::wstring destination)
        : m_source(std::move(source)), m_destination(std::move(destination))
    {
    }
    bool EnterFolder(const std::wstring& relative, const TreeItem&) override
    {
        const DWORD error = CreateDestinationFolder(Joined(m_destination, relative));
        KeepFirst(m_first, error);
        if (IsDiskFullError(error))
            m_stop = error;
        return error == 0;
    }
    DWORD File(HANDLE parent, const std::wstring& relative, const TreeItem& item) override
    {
        if (m_stop != 0)
            return m_stop;
        const std::wstring from = Joined(m_source, relative);
        const std::wstring to = Joined(m_destination, relative);
        const DWORD error = CopyFileInFolder(parent, item.name, item.fileId, from.c_str(), to.c_str(), L"WSFileSystem");
        KeepFirst(m_first, error);
        // On a full disk every later copy would fail the same way.
        return IsDiskFullError(error) ? error : 0;
    }
    void FolderFailed(const std::wstring& relative, const TreeItem&, DWORD error) override
    {
        const std::wstring from = Joined(m_source, relative);
        if (error == kErrorStoppedOnLink)
            KVO_LOG(LOG_ERROR, L"WSFileSystem", L"The folder %s became a link after it was listed: it is not followed",
                    from.c_str());
        else
            KVO_LOG(LOG_ERROR, L"WSFileSystem", L"The folder %s could not be read, Error:%d", from.c_str(), int(error));
        KeepFirst(m_first, error);
    }
    [[nodiscard]] DWORD First() const noexcept { return m_first; }

private:
    std::wstring m_source;
    std::wstring m_destination;
    DWORD m_first = 0;
    DWORD m_stop = 0;
};

DWORD CopyTree(const wchar_t* source, const wchar_t* destination, bool recurse)
{
    unique_hfile root;
    std::wstring linkedAt;
    const DWORD opened = OpenWithoutLinks(source, OpenKind::Folder, 0, root, linkedAt);
    if (opened == kErrorStoppedOnLink) {
        LogLinkNotFollowed(L"WSFileSystem", L"source folder", source, linkedAt);
        return kErrorStoppedOnLink;
    }
    PathBuilder destinationFolder(destination, false);
    if (DestinationNeedsCreation(destinationFolder.GetPath())) {
        if (const DWORD error = CreateDestinationFolder(destinationFolder.GetPath()))
            return error;
    }
    if (opened != 0)
        return opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND ? 0 : opened;
    CopyVisitor copy(source, destinationFolder.GetPath());
    const DWORD stop = WalkTree(root.get(), copy, {recurse, 0});
    return stop != 0 ? stop : copy.First();
}

class MeasureVisitor final : public ITreeVisitor {
public:
    MeasureVisitor(const wchar_t* root, TreeSize& size) : m_root(root), m_size(size) {}
    bool EnterFolder(const std::wstring&, const TreeItem&) override { return true; }
    DWORD File(HANDLE, const std::wstring& relative, const TreeItem& item) override
    {
        m_size.AddFile(Joined(m_root, relative), item.size);
        return 0;
    }
    void FolderFailed(const std::wstring&, const TreeItem&, DWORD error) override { KeepFirst(m_first, error); }
    [[nodiscard]] DWORD First() const noexcept { return m_first; }

private:
    std::wstring m_root;
    TreeSize& m_size;
    DWORD m_first = 0;
};

DWORD MeasureTree(const wchar_t* folder, bool recurse, TreeSize& size)
{
    unique_hfile root;
    if (const DWORD error = OpenFolderItself(folder, 0, root))
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
    MeasureVisitor measure(folder, size);
    const DWORD stop = WalkTree(root.get(), measure, {recurse, 0});
    return stop != 0 ? stop : measure.First();
}

// Marks an open object for deletion when its last handle closes.
DWORD Dispose(HANDLE handle) noexcept
{
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition))
        return GetLastError();
    return 0;
}

// A folder link is removed as the link itself, opened as such: never what it leads to.
DWORD RemoveLink(const wchar_t* longPath)
{
    unique_hfile link(CreateFileW(longPath, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!link)
        return GetLastError();
    return Dispose(link.get());
}

// A file or link of an open folder, removed through its own handle; a read-only file loses the flag.
DWORD RemoveChild(HANDLE parent, const TreeItem& item, OpenKind kind)
{
    const bool readOnly = (item.attributes & FILE_ATTRIBUTE_READONLY) != 0;
    unique_hfile child;
    if (const DWORD error = OpenChild(parent, item.name, DELETE | (readOnly ? FILE_WRITE_ATTRIBUTES : 0), kind, child))
        return error;
    if (readOnly) {
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = (item.attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)) | FILE_ATTRIBUTE_NORMAL;
        basic.FileAttributes &= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(child.get(), FileBasicInfo, &basic, sizeof basic);
    }
    return Dispose(child.get());
}

class RemoveVisitor final : public ITreeVisitor {
public:
    bool EnterFolder(const std::wstring&, const TreeItem&) override { return true; }
    void LeaveFolder(const std::wstring&, const TreeItem&, HANDLE folder) override { KeepFirst(m_first, Dispose(folder)); }
    DWORD File(HANDLE parent, const std::wstring&, const TreeItem& item) override
    {
        KeepFirst(m_first, RemoveChild(parent, item, OpenKind::File));
        return 0;
    }
    void Link(HANDLE parent, const std::wstring&, const TreeItem& item) override
    {
        KeepFirst(m_first, RemoveChild(parent, item, OpenKind::Either));
    }
    void FolderFailed(const std::wstring&, const TreeItem&, DWORD error) override { KeepFirst(m_first, error); }
    [[nodiscard]] DWORD First() const noexcept { return m_first; }

private:
    DWORD m_first = 0;
};

DWORD RemoveTree(const wchar_t* folder)
{
    PathBuilder self(folder, false);
    unique_hfile root;
    const DWORD opened = OpenFolderItself(folder, DELETE, root);
    if (opened == kErrorStoppedOnLink)
        return RemoveLink(self.GetLongPath());
    if (opened != 0)
        return opened;
    RemoveVisitor remove;
    DWORD first = WalkTree(root.get(), remove, {true, DELETE});
    KeepFirst(first, remove.First());
    KeepFirst(first, Dispose(root.get()));
    return first;
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

void LogLinkNotFollowed(const wchar_t* logUnit, const wchar_t* what, const wchar_t* path, const std::wstring& linkedAt)
{
    const std::wstring target = LinkTarget(linkedAt.empty() ? path : linkedAt.c_str());
    const wchar_t* leadsTo = target.empty() ? L"an unknown place" : target.c_str();
    const std::wstring plain = WithoutLongPrefix(path);
    if (linkedAt.empty() || CompareStringOrdinal(plain.c_str(), -1, linkedAt.c_str(), -1, TRUE) == CSTR_EQUAL)
        KVO_LOG(LOG_ERROR, logUnit, L"The %s %s is a link to %s: it is not followed", what, path, leadsTo);
    else
        KVO_LOG(LOG_ERROR, logUnit, L"The %s %s lies below %s, which is a link to %s: it is not followed", what, path,
                linkedAt.c_str(), leadsTo);
}

void TreeSize::AddFile(const std::wstring& path, ULONGLONG size)
{
    const ULONGLONG counted = fileCap != 0 && size > fileCap ? fileCap : size;
    ++files;
    bytes += counted;
    if (counted <= largest.back().bytes)
        return;
    size_t at = largest.size() - 1;
    while (at > 0 && largest[at - 1].bytes < counted) {
        largest[at] = std::move(largest[at - 1]);
        --at;
    }
    largest[at] = SizedFile{path, counted};
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
