#pragma once
// Existence test and recursive folder-tree copy, both in long-path form.
#include <windows.h>

namespace Tallis::ImageUpdate {

// True when anything matches the path (which may hold wildcards); a trailing backslash is ignored.
[[nodiscard]] bool PathExists(const wchar_t* path) noexcept;

// Copies the tree below source into destination, overwriting files and skipping reparse points.
// A file or folder that cannot be copied is logged and passed over, and the first failure's code is
// returned after everything else was copied; a full disk ends the copy at once (see FileCopy.h,
// whose policy every file copy here follows). A missing source gives 0 (with the destination
// created), an unreadable one 5.
[[nodiscard]] DWORD CopyFolderTree(const wchar_t* source, const wchar_t* destination, bool recurse) noexcept;

// True when the path names an existing folder; a drive root ("X:\") counts, long paths work.
[[nodiscard]] bool IsExistingFolder(const wchar_t* path) noexcept;

struct TreeSize {
    ULONGLONG files = 0;
    ULONGLONG bytes = 0;
};

// Adds the files below folder to size, as CopyFolderTree would find them: reparse points are
// skipped, subfolders only with recurse. A missing folder adds nothing and gives 0; the first
// folder that cannot be read gives its code, after everything else was counted.
[[nodiscard]] DWORD MeasureFolderTree(const wchar_t* folder, bool recurse, TreeSize& size) noexcept;

} // namespace Tallis::ImageUpdate
