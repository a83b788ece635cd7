#pragma once
// Abstract base of every record a SortedLinkList holds: reference count, flags,
// node name, sort key and a child list, plus the operations each record type fills in.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace Tallis::ImageUpdate {

class SortedLinkList;

// Readers at once, under the lock of the list that holds the node: the const calls and ChildList; the write guard:
// Mark, AddRef, Release, SetName, SetSortKey (outside the list's own sorts) and MarkExcluded.
class ListNodeData {
public:
    ListNodeData();
    ListNodeData(const ListNodeData&) = delete;
    ListNodeData& operator=(const ListNodeData&) = delete;

    // Type code (1 string, 2 folder, 3 file, 4 registry key, 5 registry value,
    // 11 file-id map, 12 group).
    virtual std::int32_t TypeCode() const = 0;
    // Multi-line text dump into an open text stream.
    virtual void WriteText(FILE* stream) const = 0;
    // One diagnostic-log entry about the node.
    virtual void LogLine() const = 0;
    // Negative, 0 or positive. The list only compares nodes of the same type code.
    virtual std::int32_t Compare(const ListNodeData* other) const = 0;
    // Writes the node's data (the length word first); 0, or negative on failure.
    [[nodiscard]] virtual std::int32_t Save(FILE* stream) const = 0;
    // The length word that Save begins with.
    virtual std::int32_t DataSize() const = 0;
    virtual ~ListNodeData();

    virtual bool IsMarked() const;
    virtual void Mark();
    virtual bool IsIncluded() const;
    virtual void AddRef();
    // Never deletes: the list that sees the count reach 0 does.
    virtual void Release();
    virtual std::int32_t RefCount() const;
    // Stores a heap copy (none for none) and returns it.
    virtual const wchar_t* SetName(const wchar_t* name);
    // -1 without a node name, else lstrcmpiW(text, name) (through CompareTextsNoCase).
    virtual std::int32_t CompareName(const wchar_t* text) const;
    virtual void SetSortKey(std::int32_t key);
    virtual std::int32_t GetSortKey() const;
    virtual void MarkExcluded();

    // The node's own list (normally empty), made on first use: a snapshot holds hundreds of
    // thousands of nodes whose lists are never touched. None when it cannot be allocated, and
    // always none for a search key. Readers asking at once get one and the same list.
    SortedLinkList* ChildList() const noexcept;

protected:
    // For search keys, which live for one call and are never linked: no child list.
    struct SearchKeyTag {};
    explicit ListNodeData(SearchKeyTag) noexcept;

private:
    std::uint8_t m_marked = 0;
    std::uint8_t m_included = 1;
    std::int32_t m_refCount = 0;
    std::unique_ptr<wchar_t[]> m_name;
    // A search that builds a list's view under a read guard sets the keys of nodes that
    // readers of other lists may be comparing.
    std::atomic<std::int32_t> m_sortKey{0};
    bool m_mayHaveChildren = true;
    // Owned (deleted by the destructor); published once by ChildList, the one change a const
    // call makes.
    mutable std::atomic<SortedLinkList*> m_children{nullptr};
};

} // namespace Tallis::ImageUpdate
