#pragma once
// One file copied as the collectors copy it: into a new file only, no cut-short copy left behind, a size cap
// that keeps the end of a large log, and a latch for a full disk that ends the whole collection.
#include <windows.h>

namespace Tallis::ImageUpdate {

// What happened to one file that did not arrive whole.
struct CopyEvent {
    enum class Kind { Failed, Truncated };
    Kind kind = Kind::Failed;
    const wchar_t* source = nullptr;      // plain paths, valid during the call
    const wchar_t* destination = nullptr;
    DWORD error = 0;                      // Failed: the copy's error
    ULONGLONG originalSize = 0;           // Truncated: the source's size
    ULONGLONG copiedSize = 0;             // Truncated: the bytes copied, the end of the source
};
using CopyObserverFn = void (*)(void* context, const CopyEvent& event);

// Set by a collection run for its copies; the default copies whole files and tells nobody.
struct CopyPolicy {
    ULONGLONG sizeCap = 0; // 0: no cap
    CopyObserverFn observer = nullptr;
    void* context = nullptr;
};
void SetCopyPolicy(const CopyPolicy& policy) noexcept;

// Copies source to destination (both plain paths; long forms are made here). The destination must
// be new: a name that exists (a file, a folder, a link) is never opened, written or removed, and
// gives ERROR_FILE_EXISTS. A file larger than the cap is copied as its last sizeCap bytes. A
// failed copy leaves no destination file of its own. A copy
// that fails because the disk is full sets the latch below. 0 or the Windows error; the failure
// is logged as "CopyFile <source> ==> <destination> failed, Error:<code>" under logUnit.
[[nodiscard]] DWORD CopyCollectedFile(const wchar_t* source, const wchar_t* destination,
                                      const wchar_t* logUnit) noexcept;

// The same for a file whose size the caller listed already (a tree copy's search): the size cap
// takes that size instead of asking for it again. listedSize null: asked for when a cap is set.
[[nodiscard]] DWORD CopyListedFile(const wchar_t* source, const wchar_t* destination, const wchar_t* logUnit,
                                   const ULONGLONG* listedSize) noexcept;

[[nodiscard]] bool IsDiskFullError(DWORD error) noexcept;
// True from the first copy that failed for a full disk until cleared; every later copy of the run
// would fail the same way.
[[nodiscard]] bool DiskFullSeen() noexcept;
void ClearDiskFull() noexcept;

} // namespace Tallis::ImageUpdate
