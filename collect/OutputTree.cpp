#include "OutputTree.h"

#include "TreeWalk.h"
#include "UniqueHandles.h"

#include <algorithm>

using namespace Tallis::ImageUpdate;

namespace {

// Every file and folder of the walk, in the order met; a folder that could not be listed keeps why.
class ListingVisitor final : public ITreeVisitor {
public:
    explicit ListingVisitor(std::vector<TreeEntry>& entries) noexcept : m_entries(entries) {}
    bool EnterFolder(const std::wstring& relative, const TreeItem& item) override
    {
        m_lastFolder = Add(relative, item, true);
        return true;
    }
    DWORD File(HANDLE, const std::wstring& relative, const TreeItem& item) override
    {
        Add(relative, item, false);
        return 0;
    }
    // Called right after EnterFolder for the same folder.
    void FolderFailed(const std::wstring&, const TreeItem&, DWORD error) override { m_entries[m_lastFolder].error = error; }

private:
    size_t Add(const std::wstring& relative, const TreeItem& item, bool folder)
    {
        TreeEntry entry;
        entry.relativePath = relative;
        entry.folder = folder;
        entry.size = folder ? 0 : item.size;
        entry.lastWrite = item.lastWrite;
        m_entries.push_back(std::move(entry));
        return m_entries.size() - 1;
    }

    std::vector<TreeEntry>& m_entries;
    size_t m_lastFolder = 0;
};

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
        unique_hfile root;
        if (const DWORD error = OpenFolderItself(longRoot.c_str(), 0, root))
            return error;
        ListingVisitor listing(entries);
        if (const DWORD error = WalkTree(root.get(), listing, {true, 0}))
            return error;
        std::sort(entries.begin(), entries.end(),
                  [](const TreeEntry& a, const TreeEntry& b) { return a.relativePath < b.relativePath; });
        return 0;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}
