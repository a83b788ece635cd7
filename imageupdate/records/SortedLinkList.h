#pragma once
// The one container of the snapshot record library: a singly linked chain of
// reference-counted nodes with an on-demand sorted view, searches, iteration, text dumps,
// a binary stream form, and a caller-held reader/writer lock.
#include "ListNodeData.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

namespace Tallis::ImageUpdate {

class SortedLinkList {
public:
    // One membership of a node; callers of FirstAt/NextAt keep a pointer to one as their position.
    struct Link {
        ListNodeData* node;
        Link* next;
    };

    using Callback5 = std::int32_t (*)(ListNodeData* node, SortedLinkList* list, void* a1, void* a2, void* a3,
                                       void* a4, void* a5);
    using Callback4 = std::int32_t (*)(ListNodeData* node, SortedLinkList* list, void* a1, void* a2, void* a3,
                                       void* a4);
    using Callback3 = std::int32_t (*)(ListNodeData* node, SortedLinkList* list, void* a1, void* a2, void* a3);
    using NodeCallback = std::int32_t (*)(ListNodeData* node, void* a1, void* a2, void* a3);

    static constexpr std::int32_t kAscending = 1;
    static constexpr std::int32_t kDescending = 2;
    // Lists up to this size are searched linearly without building a view.
    static constexpr std::int32_t kLinearSearchLimit = 12;

    SortedLinkList();
    SortedLinkList(const SortedLinkList&) = delete;
    SortedLinkList& operator=(const SortedLinkList&) = delete;

    // The 28 operations, in the order of the design's table.
    virtual std::int32_t ForEach5(Callback5 callback, void* a1, void* a2, void* a3, void* a4, void* a5);
    virtual std::int32_t ForEach4(Callback4 callback, void* a1, void* a2, void* a3, void* a4);
    virtual std::int32_t ForEach3(Callback3 callback, void* a1, void* a2, void* a3);
    virtual std::int32_t ForEachNode(NodeCallback callback, void* a1, void* a2, void* a3);
    virtual bool InsertHead(ListNodeData* node);
    virtual bool Append(ListNodeData* node);
    virtual bool AddAll(SortedLinkList* other);
    virtual bool Sort(std::int32_t mode, std::int32_t sortKey);
    virtual ListNodeData* Find(const ListNodeData* key);
    virtual ListNodeData* FindByName(const wchar_t* name);
    virtual std::int32_t WriteTextFile(const wchar_t* path);
    virtual std::int32_t WriteText(FILE* stream);
    virtual std::int32_t LogAll();
    virtual void RemoveAll();
    virtual std::int32_t Save(FILE* stream);
    virtual std::int32_t Load(FILE* stream);
    virtual std::int64_t DataSize();
    virtual ListNodeData* TakeFirst(bool remove);
    virtual ListNodeData* First();
    virtual ListNodeData* FirstAt(Link*& position, std::int32_t& index);
    virtual ListNodeData* Next();
    virtual ListNodeData* NextAt(Link*& position, std::int32_t& index);
    virtual void Exclude(ListNodeData* node);
    virtual ~SortedLinkList();
    virtual std::int32_t Count() const;
    virtual const wchar_t* SetName(const wchar_t* name);
    virtual const wchar_t* GetName() const;
    virtual void SetRecountOnSave();

    // Reader/writer lock for callers that share a list between threads. Up to five
    // readers at once; a writer waits for the other writers, then holds the list alone.
    void AcquireRead() noexcept;
    void AcquireWrite() noexcept;
    void ReleaseLock() noexcept;

    // Inspection, for tests and diagnostics.
    [[nodiscard]] bool HasSortedView() const noexcept { return m_view != nullptr; }
    [[nodiscard]] std::int32_t SortMode() const noexcept { return m_sortMode; }
    [[nodiscard]] std::int32_t ExcludedCount() const noexcept { return m_excludedCount; }

    // The order of the sorted view: nodes of different type codes by type code, nodes of one
    // type by a.Compare(b). Exposed so that searches and tests use the very same order.
    [[nodiscard]] static std::int32_t CompareNodes(const ListNodeData* a, const ListNodeData* b);

private:
    void DropView() noexcept;
    [[nodiscard]] Link* BinarySearch(const ListNodeData* key) const;
    [[nodiscard]] Link* BinarySearchName(const wchar_t* name) const;
    [[nodiscard]] bool EnsureViewForSearch();
    // Walks with First/Next, stops at the first negative result of visit, and puts the internal
    // iteration index back. Returns the last result (0 for an empty list).
    template <typename Visit>
    std::int32_t WalkRestoringIndex(Visit visit);

    wchar_t* m_name = nullptr;
    HANDLE m_mutex = nullptr;
    HANDLE m_semaphore = nullptr;
    std::atomic<std::uint8_t> m_shared{1};
    Link* m_tail = nullptr;
    Link* m_head = nullptr;
    Link* m_cursor = nullptr;
    std::int32_t m_count = 0;
    std::int32_t m_excludedCount = 0;
    Link** m_view = nullptr;
    std::int32_t m_iterationIndex = 0;
    std::int32_t m_sortMode = kAscending;
    std::uint8_t m_recountOnSave = 0;
};

} // namespace Tallis::ImageUpdate
