#pragma once
// Existence test, and the copy, measure and removal of folder trees of any depth, all in long-path form.
#include <windows.h>

#include <array>
#include <string>

namespace Tallis::ImageUpdate {

// True when anything matches the path (which may hold wildcards); a trailing backslash is ignored.
[[nodiscard]] bool PathExists(const wchar_t* path) noexcept;

// Copies the tree below source into destination, skipping reparse points. No link is followed on the
// way: a component of source that is a link refuses the whole source (logged, kErrorStoppedOnLink),
// and every folder and file is opened by handle and checked before it is read; one that became a
// link after its folder was listed is logged and passed over. Every folder of the
// destination is created by the copy: one that exists already (it may be anything, a link
// included) gets nothing and is logged, and so is a file that exists (see FileCopy.h, whose policy
// every file copy here follows). A source that is itself a reparse point is not followed: logged,
// kErrorStoppedOnLink. A file or folder that cannot be copied is logged and passed over, and the
// first failure's code is returned after everything else was copied; a full disk ends the copy at
// once. A missing source gives 0 (with the destination created), an unreadable one 5.
[[nodiscard]] DWORD CopyFolderTree(const wchar_t* source, const wchar_t* destination, bool recurse) noexcept;

// Windows' ERROR_STOPPED_ON_SYMLINK: the path is a link that is not followed.
constexpr DWORD kErrorStoppedOnLink = 681;

// True when the path names a reparse point (a junction, a symbolic link, a mount point).
[[nodiscard]] bool IsReparsePoint(const wchar_t* path) noexcept;

// The plain form of a long path ("\\?\C:\x" gives "C:\x", "\\?\UNC\srv\share" gives
// "\\srv\share"); any other path as it is.
[[nodiscard]] std::wstring WithoutLongPrefix(const wchar_t* path);

// Where a link leads: the final path of what it names, without a long-path prefix; empty when it
// cannot be resolved.
[[nodiscard]] std::wstring LinkTarget(const wchar_t* path);

// Logs under logUnit that the what at path is not followed because linkedAt (path itself when
// empty or equal) is a link, naming where that link leads.
void LogLinkNotFollowed(const wchar_t* logUnit, const wchar_t* what, const wchar_t* path, const std::wstring& linkedAt);

// Removes a folder with everything in it. Links inside are removed as links, never followed.
// 0 or the first Windows error (what could be removed is gone).
[[nodiscard]] DWORD RemoveFolderTree(const wchar_t* path) noexcept;

// True when the path names an existing folder; a drive root ("X:\") counts, long paths work.
[[nodiscard]] bool IsExistingFolder(const wchar_t* path) noexcept;

// One file of an estimate, with the bytes its copy would take.
struct SizedFile {
    std::wstring path;
    ULONGLONG bytes = 0;
};

struct TreeSize {
    ULONGLONG files = 0;
    ULONGLONG bytes = 0;
    // A file larger than this counts as this much (the copy keeps only its end); 0: no cap.
    ULONGLONG fileCap = 0;
    // The largest files counted, largest first; empty slots have bytes 0.
    static constexpr size_t kLargestKept = 5;
    std::array<SizedFile, kLargestKept> largest{};

    // Counts one file of size bytes (capped) found at path.
    void AddFile(const std::wstring& path, ULONGLONG size);
};

// Adds the files below folder to size, as CopyFolderTree would find them: reparse points are
// skipped, subfolders only with recurse, and a folder that is a link adds nothing
// (kErrorStoppedOnLink; a source's linked components are the caller's to check, LinkedComponent).
// A missing folder adds nothing and gives 0; the first folder that cannot be read gives its code,
// after everything else was counted.
[[nodiscard]] DWORD MeasureFolderTree(const wchar_t* folder, bool recurse, TreeSize& size) noexcept;

} // namespace Tallis::ImageUpdate
