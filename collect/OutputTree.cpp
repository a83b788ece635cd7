#include "OutputTree.h"

#include "UniqueHandles.h"

#include <algorithm>

using namespace Tallis::ImageUpdate;

namespace {

DWORD ListFolder(const std::wstring& longRoot, const std::wstring& relative, std::vector<TreeEntry>& entries)
{
    std::wstring pattern = longRoot;
    if (pattern.back() != L'\\')
        pattern += L'\\';
    if (!relative.empty())
        pattern += relative + L"\\";
    pattern += L'*';
    WIN32_FIND_DATAW found;
    unique_hfind search(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                         nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!search) {
        const DWORD error = GetLastError();
        // A drive root has no "." entry, so an empty one matches nothing.
        return error == ERROR_FILE_NOT_FOUND ? 0 : error;
    }
    std::vector<size_t> subfolders; // indexes into entries
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L".." || (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        TreeEntry entry;
        entry.relativePath = relative.empty() ? name : relative + L"\\" + name;
        entry.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.size = entry.folder ? 0 : (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        entry.lastWrite = found.ftLastWriteTime;
        if (entry.folder)
            subfolders.push_back(entries.size());
        entries.push_back(std::move(entry));
    } while (FindNextFileW(search.get(), &found));
    const DWORD ended = GetLastError();
    if (ended != ERROR_NO_MORE_FILES)
        return ended;
    search.reset();

    for (const size_t index : subfolders) {
        const std::wstring subfolder = entries[index].relativePath;
        entries[index].error = ListFolder(longRoot, subfolder, entries);
    }
    return 0;
}

} // namespace

std::wstring FullLongPath(const wchar_t* path)
{
    if (!path || !*path)
        return {};
    const DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (needed == 0)
        return {};
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path, needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return {};
    full.resize(length);
    // A drive root keeps its separator ("C:\"); anything else loses it.
    while (full.size() > 3 && full.back() == L'\\')
        full.pop_back();
    if (full.rfind(L"\\\\?\\", 0) == 0)
        return full;
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

DWORD ListTreeEntries(const std::wstring& longRoot, std::vector<TreeEntry>& entries) noexcept
{
    entries.clear();
    if (longRoot.empty())
        return ERROR_INVALID_PARAMETER;
    try {
        if (const DWORD error = ListFolder(longRoot, L"", entries))
            return error;
        std::sort(entries.begin(), entries.end(),
                  [](const TreeEntry& a, const TreeEntry& b) { return a.relativePath < b.relativePath; });
        return 0;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}
