#pragma once
// One walk over an output folder, shared by the result file and the archive.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct TreeEntry {
    std::wstring relativePath; // backslashes, no trailing separator
    bool folder = false;
    uint64_t size = 0;
    FILETIME lastWrite{};
    // Set on a folder below the root that could not be listed; its content is then missing.
    DWORD error = 0;
};

// Absolute long-path form ("\\?\C:\...", "\\?\UNC\server\share\...") of a relative or absolute
// path, without a trailing separator. Raises only std::bad_alloc; empty when the path is invalid.
std::wstring FullLongPath(const wchar_t* path);

// Every file and folder below longRoot, reparse points skipped, walked by handle at any depth, sorted
// by relative path (ordinal, so a folder always comes before its content). Fails only when longRoot
// itself cannot be listed.
[[nodiscard]] DWORD ListTreeEntries(const std::wstring& longRoot, std::vector<TreeEntry>& entries) noexcept;
