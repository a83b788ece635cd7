#pragma once
// Existence test and recursive folder-tree copy, both in long-path form.
#include <windows.h>

namespace Tallis::ImageUpdate {

// True when anything matches the path (which may hold wildcards); a trailing backslash is ignored.
[[nodiscard]] bool PathExists(const wchar_t* path) noexcept;

// Copies the tree below source into destination, overwriting files and skipping reparse points.
// Stops at the first failing file copy and returns its code from every level; a missing source
// gives 0 (with the destination created), an unreadable one 5.
[[nodiscard]] DWORD CopyFolderTree(const wchar_t* source, const wchar_t* destination, bool recurse) noexcept;

} // namespace Tallis::ImageUpdate
