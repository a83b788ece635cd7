#pragma once
// One file copied as the collectors copy it: into a new file only, no cut-short copy left behind, a size cap
// that keeps the end of a large log, and a latch for a full disk that ends the whole collection.
#include <windows.h>

#include <string>

namespace Tallis::ImageUpdate {

// What happened to one file that did not arrive whole, or arrived from a source with several names.
struct CopyEvent {
    // HardLinked: the file arrived, and its source has more than one name (links).
    enum class Kind { Failed, Truncated, HardLinked };
    Kind kind = Kind::Failed;
    const wchar_t* source = nullptr;      // plain paths, valid during the call
    const wchar_t* destination = nullptr;
    DWORD error = 0;                      // Failed: the copy's error
    ULONGLONG originalSize = 0;           // Truncated: the source's size
    ULONGLONG copiedSize = 0;             // Truncated: the bytes really copied, from the end of the source
    DWORD links = 0;                      // HardLinked: the source's number of links
};
using CopyObserverFn = void (*)(void* context, const CopyEvent& event);

// Set by a collection run for its copies; the default copies whole files and tells nobody.
struct CopyPolicy {
    ULONGLONG sizeCap = 0; // 0: no cap
    CopyObserverFn observer = nullptr;
    void* context = nullptr;
};
void SetCopyPolicy(const CopyPolicy& policy) noexcept;

// Copies source to destination (both plain paths; long forms are made here). The source is opened
// from its volume root down without following a link in any component, checked by handle (a regular
// file) and read through that handle; the copy keeps its last-write time and attributes. The
// destination must be new: a name that exists (a file, a folder, a link) is never opened, written or
// removed, and gives ERROR_FILE_EXISTS. A file larger than the cap is copied as its last sizeCap
// bytes. A failed copy leaves no destination file of its own. A copy that fails because the disk is
// full sets the latch below. 0 or the Windows error; the failure is logged as
// "CopyFile <source> ==> <destination> failed, Error:<code>" under logUnit.
[[nodiscard]] DWORD CopyCollectedFile(const wchar_t* source, const wchar_t* destination,
                                      const wchar_t* logUnit) noexcept;

// The same for a file that a tree walk listed in the open folder: opened relative to that folder's
// handle, and copied only when it is still the object listed (listedId, 0 when unknown). source
// names it for the log and the observer.
[[nodiscard]] DWORD CopyFileInFolder(HANDLE folder, const std::wstring& name, ULONGLONG listedId,
                                     const wchar_t* source, const wchar_t* destination,
                                     const wchar_t* logUnit) noexcept;

[[nodiscard]] bool IsDiskFullError(DWORD error) noexcept;
// True from the first copy that failed for a full disk until cleared; every later copy of the run
// would fail the same way.
[[nodiscard]] bool DiskFullSeen() noexcept;
void ClearDiskFull() noexcept;

} // namespace Tallis::ImageUpdate
