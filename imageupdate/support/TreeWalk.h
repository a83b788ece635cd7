#pragma once
// One walk over a folder tree for the copy, the size estimate, the removal and the output listing.
// Every folder and file is opened by handle relative to the folder that listed it, never through a
// link, and checked by that handle; pending folders live on an explicit stack, so a tree of any
// depth costs heap, never the thread's stack.
#include "UniqueHandles.h"

#include <windows.h>

#include <string>
#include <vector>

namespace Tallis::ImageUpdate {

// One entry of a folder's listing.
struct TreeItem {
    std::wstring name;
    DWORD attributes = 0;
    ULONGLONG size = 0;
    FILETIME lastWrite{};
    ULONGLONG fileId = 0; // 0: the file system gave none

    [[nodiscard]] bool IsFolder() const noexcept { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    [[nodiscard]] bool IsLink() const noexcept { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
};

enum class OpenKind { Folder, File, Either };

// Opens name inside the open folder parent without following a link (NtCreateFile relative to the
// parent's handle, so no path is resolved again). 0 or the Windows error.
[[nodiscard]] DWORD OpenChild(HANDLE parent, const std::wstring& name, ACCESS_MASK access, OpenKind kind,
                              unique_hfile& child) noexcept;

// Checks an opened object by its handle: a folder or a regular file as asked, not a reparse point,
// and, when listedId is not 0, the very object that the listing showed (a name swapped for a link
// after the listing leads elsewhere). kErrorStoppedOnLink for a link or another object,
// ERROR_DIRECTORY / ERROR_ACCESS_DENIED for the wrong kind. info may be null.
[[nodiscard]] DWORD CheckOpened(HANDLE handle, OpenKind kind, ULONGLONG listedId,
                                BY_HANDLE_FILE_INFORMATION* info) noexcept;

// What an entry opened by name turned out to be, held against the parent's own listing of that
// name: a link shows in the listing even where the handle was opened through it (Wine opens the
// target of a Unix link), and an entry replaced between the listing and the open has another id.
enum class EntryKind { Plain, Link, Replaced };

// Lists parent through its handle for name (ignoring case) and judges the handle opened for it.
// 0 with kind, ERROR_FILE_NOT_FOUND when the listing has no such name, or the Windows error.
[[nodiscard]] DWORD JudgeOpenedEntry(HANDLE parent, const std::wstring& name, HANDLE opened, EntryKind& kind) noexcept;

// Every entry of an open folder but "." and "..", read through its handle. 0 or the Windows error.
[[nodiscard]] DWORD ListOpenFolder(HANDLE folder, std::vector<TreeItem>& items) noexcept;

// Opens path from its volume root down, each component relative to the one before, none of them a
// link (checked by name, as a listing shows it, and by handle). A linked component gives
// kErrorStoppedOnLink with its plain path in linkedAt; a missing one ERROR_FILE_NOT_FOUND or
// ERROR_PATH_NOT_FOUND. A folder is opened for listing, with access added.
[[nodiscard]] DWORD OpenWithoutLinks(const wchar_t* path, OpenKind kind, ACCESS_MASK access, unique_hfile& handle,
                                     std::wstring& linkedAt) noexcept;

// Opens the folder at path for listing, with access added, when it is not a link itself (by name and
// by handle); the components above it are taken as they are (the run's own output folder, which a
// profile's link may hold). kErrorStoppedOnLink for a link, ERROR_PATH_NOT_FOUND when it is missing.
[[nodiscard]] DWORD OpenFolderItself(const wchar_t* path, ACCESS_MASK access, unique_hfile& handle) noexcept;

// The plain path of the first existing component of path, from its volume root down, that is a
// link; empty when there is none.
[[nodiscard]] std::wstring LinkedComponent(const wchar_t* path);

// What a walk reports. relative is the item's path below the root ("a\b\c.log").
class ITreeVisitor {
public:
    // A folder about to be opened and walked; false passes it over.
    virtual bool EnterFolder(const std::wstring& relative, const TreeItem& item) = 0;
    // A folder whose content was walked, its handle still open.
    virtual void LeaveFolder(const std::wstring& relative, const TreeItem& item, HANDLE folder);
    // A file of the open folder parent. Non-zero ends the whole walk with that code.
    virtual DWORD File(HANDLE parent, const std::wstring& relative, const TreeItem& item) = 0;
    // A link in a listing: never entered. Passed over by default.
    virtual void Link(HANDLE parent, const std::wstring& relative, const TreeItem& item);
    // A folder that could not be opened or listed, or that is not what was listed (a link now).
    virtual void FolderFailed(const std::wstring& relative, const TreeItem& item, DWORD error) = 0;

protected:
    ~ITreeVisitor() = default;
};

struct WalkOptions {
    bool recurse = true;
    ACCESS_MASK extraFolderAccess = 0; // beyond listing (DELETE for a removal)
};

// Walks the tree below the open folder root, depth first. 0, the root's listing error, or the code
// that a File call ended the walk with.
[[nodiscard]] DWORD WalkTree(HANDLE root, ITreeVisitor& visitor, const WalkOptions& options) noexcept;

// What a folder's handle needs for a walk.
constexpr ACCESS_MASK kListFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

} // namespace Tallis::ImageUpdate
