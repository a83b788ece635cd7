#include "TreeWalk.h"

#include "FileSystem.h"
#include "PathBuilder.h"
#include "RelativeFiles.h"
#include "SupportTestSeams.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <memory>
#include <new>

namespace Tallis::ImageUpdate {
namespace {

std::atomic<TreeListedFn> g_listedHook{nullptr};

// A path's long form and the length of its volume root in it ("\\?\C:\", "\\?\UNC\srv\share\").
bool SplitVolumeRoot(const wchar_t* path, std::wstring& longPath, size_t& rootLength)
{
    const DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (needed == 0)
        return false;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path, needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return false;
    full.resize(length);
    if (full.rfind(L"\\\\?\\", 0) == 0)
        longPath = full;
    else if (full.rfind(L"\\\\", 0) == 0)
        longPath = L"\\\\?\\UNC\\" + full.substr(2);
    else
        longPath = L"\\\\?\\" + full;
    size_t end = std::wstring::npos;
    if (longPath.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        const size_t server = longPath.find(L'\\', 8);
        end = server == std::wstring::npos ? server : longPath.find(L'\\', server + 1);
        if (server == std::wstring::npos)
            return false;
    } else {
        end = longPath.find(L'\\', 4);
    }
    if (end == std::wstring::npos) {
        longPath += L'\\';
        end = longPath.size() - 1;
    }
    rootLength = end + 1;
    return true;
}

DWORD ReadListing(HANDLE folder, std::vector<TreeItem>& items, std::vector<BYTE>& buffer)
{
    FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(folder, request, buffer.data(), DWORD(buffer.size()))) {
            const DWORD error = GetLastError();
            return error == ERROR_NO_MORE_FILES ? 0 : error;
        }
        request = FileIdBothDirectoryInfo;
        for (size_t offset = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
            const size_t nameLength = entry->FileNameLength / sizeof(wchar_t);
            const bool dot = (nameLength == 1 && entry->FileName[0] == L'.') ||
                             (nameLength == 2 && entry->FileName[0] == L'.' && entry->FileName[1] == L'.');
            if (!dot) {
                TreeItem item;
                item.name.assign(entry->FileName, nameLength);
                item.attributes = entry->FileAttributes;
                item.size = ULONGLONG(entry->EndOfFile.QuadPart);
                item.lastWrite.dwLowDateTime = entry->LastWriteTime.LowPart;
                item.lastWrite.dwHighDateTime = DWORD(entry->LastWriteTime.HighPart);
                item.fileId = ULONGLONG(entry->FileId.QuadPart);
                items.push_back(std::move(item));
            }
            if (entry->NextEntryOffset == 0)
                break;
            offset += entry->NextEntryOffset;
        }
    }
}

// A folder being walked: its handle, its listing and how far the walk got in it.
struct Frame {
    unique_hfile owner; // empty for the root, which the caller owns
    HANDLE handle = nullptr;
    std::vector<TreeItem> items;
    size_t next = 0;
    size_t parentLength = 0; // the relative path's length before this folder was entered
    TreeItem self;
};

void TellListed(const std::wstring& relative) noexcept
{
    if (const TreeListedFn hook = g_listedHook.load())
        hook(relative.c_str());
}

// Opens, checks and lists one subfolder; 0 or why it is not entered.
DWORD OpenSubfolder(HANDLE parent, const TreeItem& item, ACCESS_MASK access, Frame& frame,
                    std::vector<BYTE>& buffer)
{
    if (const DWORD error = OpenChild(parent, item.name, access, OpenKind::Folder, frame.owner))
        return error;
    if (const DWORD error = CheckOpened(frame.owner.get(), OpenKind::Folder, item.fileId, nullptr))
        return error;
    frame.handle = frame.owner.get();
    return ReadListing(frame.handle, frame.items, buffer);
}

DWORD Walk(HANDLE root, ITreeVisitor& visitor, const WalkOptions& options)
{
    std::vector<BYTE> buffer(64 * 1024);
    std::vector<Frame> stack(1);
    stack[0].handle = root;
    if (const DWORD error = ReadListing(root, stack[0].items, buffer))
        return error;
    std::wstring relative;
    TellListed(relative);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.items.size()) {
            if (stack.size() > 1)
                visitor.LeaveFolder(relative, frame.self, frame.handle);
            relative.resize(frame.parentLength);
            stack.pop_back();
            continue;
        }
        const TreeItem& item = frame.items[frame.next++];
        const size_t parentLength = relative.size();
        if (!relative.empty())
            relative += L'\\';
        relative += item.name;
        if (item.IsLink()) {
            visitor.Link(frame.handle, relative, item);
        } else if (!item.IsFolder()) {
            if (const DWORD stop = visitor.File(frame.handle, relative, item))
                return stop;
        } else if (options.recurse && visitor.EnterFolder(relative, item)) {
            Frame next;
            const DWORD error = OpenSubfolder(frame.handle, item, kListFolderAccess | options.extraFolderAccess, next,
                                              buffer);
            if (error == 0) {
                next.parentLength = parentLength;
                next.self = item;
                stack.push_back(std::move(next)); // frame and item are not used after this
                TellListed(relative);
                continue;
            }
            visitor.FolderFailed(relative, item, error);
        }
        relative.resize(parentLength);
    }
    return 0;
}

} // namespace

void SetTreeListedHookForTest(TreeListedFn hook) noexcept
{
    g_listedHook.store(hook);
}

void ITreeVisitor::LeaveFolder(const std::wstring&, const TreeItem&, HANDLE) {}
void ITreeVisitor::Link(HANDLE, const std::wstring&, const TreeItem&) {}

DWORD OpenChild(HANDLE parent, const std::wstring& name, ACCESS_MASK access, OpenKind kind,
                unique_hfile& child) noexcept
{
    ULONG options = NativeCreate::kOpenReparsePoint;
    if (kind == OpenKind::Folder)
        options |= NativeCreate::kDirectoryFile;
    else if (kind == OpenKind::File)
        options |= NativeCreate::kNonDirectoryFile | NativeCreate::kSequentialOnly;
    return CreateAtHandle(parent, name, access, nullptr, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          NativeCreate::kOpen, options, child);
}

DWORD JudgeOpenedEntry(HANDLE parent, const std::wstring& name, HANDLE opened, EntryKind& kind) noexcept
{
    try {
        std::vector<TreeItem> items;
        if (const DWORD error = ListOpenFolder(parent, items))
            return error;
        const auto listed = std::find_if(items.begin(), items.end(), [&](const TreeItem& item) {
            return CompareStringOrdinal(item.name.c_str(), int(item.name.size()), name.c_str(), int(name.size()),
                                        TRUE) == CSTR_EQUAL;
        });
        if (listed == items.end())
            return ERROR_FILE_NOT_FOUND;
        BY_HANDLE_FILE_INFORMATION info{};
        const DWORD error = CheckOpened(opened, OpenKind::Either, listed->fileId, &info);
        if (listed->IsLink() || error == kErrorStoppedOnLink)
            kind = listed->IsLink() || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryKind::Link
                                                                                            : EntryKind::Replaced;
        else if (error != 0)
            return error;
        else
            kind = EntryKind::Plain;
        return 0;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD CheckOpened(HANDLE handle, OpenKind kind, ULONGLONG listedId, BY_HANDLE_FILE_INFORMATION* info) noexcept
{
    BY_HANDLE_FILE_INFORMATION own{};
    BY_HANDLE_FILE_INFORMATION& data = info ? *info : own;
    if (!GetFileInformationByHandle(handle, &data))
        return GetLastError();
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return kErrorStoppedOnLink;
    // Wine opens what a link leads to even with FILE_OPEN_REPARSE_POINT; the identity still tells.
    const ULONGLONG id = (ULONGLONG(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
    if (listedId != 0 && id != listedId)
        return kErrorStoppedOnLink;
    const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (kind == OpenKind::Folder && !folder)
        return ERROR_DIRECTORY;
    if (kind == OpenKind::File && folder)
        return ERROR_ACCESS_DENIED; // as CopyFileW answers for a folder
    return 0;
}

DWORD ListOpenFolder(HANDLE folder, std::vector<TreeItem>& items) noexcept
{
    try {
        std::vector<BYTE> buffer(64 * 1024);
        return ReadListing(folder, items, buffer);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

std::wstring LinkedComponent(const wchar_t* path)
{
    std::wstring longPath;
    size_t rootLength = 0;
    if (!path || !SplitVolumeRoot(path, longPath, rootLength))
        return {};
    for (size_t end = rootLength; end < longPath.size();) {
        size_t next = longPath.find(L'\\', end);
        if (next == std::wstring::npos)
            next = longPath.size();
        const std::wstring component = longPath.substr(0, next);
        const DWORD attributes = GetFileAttributesW(component.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return {};
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return WithoutLongPrefix(component.c_str());
        end = next + 1;
    }
    return {};
}

DWORD OpenWithoutLinks(const wchar_t* path, OpenKind kind, ACCESS_MASK access, unique_hfile& handle,
                       std::wstring& linkedAt) noexcept
{
    try {
        std::wstring longPath;
        size_t rootLength = 0;
        if (!path || !SplitVolumeRoot(path, longPath, rootLength))
            return ERROR_INVALID_NAME;
        const std::wstring root = longPath.substr(0, rootLength);
        unique_hfile current(CreateFileW(root.c_str(), kListFolderAccess,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!current)
            return GetLastError();
        for (size_t start = rootLength; start < longPath.size();) {
            size_t end = longPath.find(L'\\', start);
            const bool last = end == std::wstring::npos || end + 1 == longPath.size();
            if (end == std::wstring::npos)
                end = longPath.size();
            const std::wstring component = longPath.substr(0, end);
            // Wine shows a link only in what a listing or a look-up by name reports.
            const DWORD attributes = GetFileAttributesW(component.c_str());
            DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError()
                          : (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? kErrorStoppedOnLink : 0;
            const OpenKind expected = last ? kind : OpenKind::Folder;
            unique_hfile next;
            if (error == 0)
                error = OpenChild(current.get(), longPath.substr(start, end - start),
                                  !last ? FILE_TRAVERSE | FILE_READ_ATTRIBUTES
                                  : kind == OpenKind::Folder ? kListFolderAccess | access : access,
                                  expected, next);
            if (error == 0)
                error = CheckOpened(next.get(), expected, 0, nullptr);
            if (error == kErrorStoppedOnLink)
                linkedAt = WithoutLongPrefix(component.c_str());
            if (error != 0)
                return error == ERROR_FILE_NOT_FOUND && !last ? DWORD(ERROR_PATH_NOT_FOUND) : error;
            current = std::move(next);
            start = end + 1;
        }
        handle = std::move(current);
        return 0;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD OpenFolderItself(const wchar_t* path, ACCESS_MASK access, unique_hfile& handle) noexcept
{
    try {
        PathBuilder folder(path, false);
        const DWORD attributes = GetFileAttributesW(folder.GetLongPath());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            // As a listing of its content reports a folder that is not there.
            return error == ERROR_FILE_NOT_FOUND ? DWORD(ERROR_PATH_NOT_FOUND) : error;
        }
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return kErrorStoppedOnLink;
        unique_hfile opened(CreateFileW(folder.GetLongPath(), kListFolderAccess | access,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!opened)
            return GetLastError();
        if (const DWORD error = CheckOpened(opened.get(), OpenKind::Folder, 0, nullptr))
            return error;
        handle = std::move(opened);
        return 0;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD WalkTree(HANDLE root, ITreeVisitor& visitor, const WalkOptions& options) noexcept
{
    try {
        return Walk(root, visitor, options);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

} // namespace Tallis::ImageUpdate
