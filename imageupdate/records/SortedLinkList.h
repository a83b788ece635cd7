#pragma once
// The one container of the snapshot record library: a singly linked chain of
// reference-counted nodes with an on-demand sorted view, searches, iteration, text dumps,
// a binary stream form, and a caller-held reader/writer lock.
#include "ListLock.h"
#include "ListNodeData.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace Tallis::ImageUpdate {

// Readers at once (ReadGuard): Find, FindByName, FirstAt/NextAt, WriteText, WriteTextFile, LogAll, Save, DataSize,
// Count, GetName, HasSortedView, SortMode, ExcludedCount; the write guard: First, Next, TakeFirst, ForEach*,
// InsertHead, Append, AddAll (a reader of the other list), Sort, Load, RemoveAll, Exclude, SetName, SetRecountOnSave.
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

    // The 28 operations in their virtual-table order, which derived lists extend.
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
    [[nodiscard]] virtual std::int32_t WriteTextFile(const wchar_t* path);
    virtual std::int32_t WriteText(FILE* stream);
    virtual std::int32_t LogAll();
    virtual void RemoveAll();
    [[nodiscard]] virtual std::int32_t Save(FILE* stream);
    [[nodiscard]] virtual std::int32_t Load(FILE* stream);
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
    // Prefer the scoped guards: ListLock::ReadGuard guard(list.Lock()).
    void AcquireRead() noexcept { m_lock.AcquireRead(); }
    void AcquireWrite() noexcept { m_lock.AcquireWrite(); }
    void ReleaseLock() noexcept { m_lock.Release(); }
    [[nodiscard]] ListLock& Lock() noexcept { return m_lock; }

    // Inspection, for tests and diagnostics.
    [[nodiscard]] bool HasSortedView() const noexcept { return m_hasView.load(std::memory_order_acquire); }
    [[nodiscard]] std::int32_t SortMode() const noexcept { return m_sortMode; }
    [[nodiscard]] std::int32_t ExcludedCount() const noexcept
    {
        return m_excludedCount.load(std::memory_order_relaxed);
    }

    // The order of the sorted view: nodes of different type codes by type code, nodes of one
    // type by a.Compare(b). Exposed so that searches and tests use the very same order.
    [[nodiscard]] static std::int32_t CompareNodes(const ListNodeData* a, const ListNodeData* b);

protected:
    // InsertHead for a node whose ordering never changes while it is linked (a string node):
    // the order of the last Sort is kept aside, so the next Sort with the same mode and key
    // sorts the new node into it instead of sorting the whole list again (and gives the sort
    // key to the new nodes only; the others got it from the Sort that made the order). The
    // view itself is dropped as by InsertHead.
    [[nodiscard]] bool InsertHeadKeepingOrder(ListNodeData* node);

private:
    [[nodiscard]] Link* LinkAtHead(ListNodeData* node) noexcept;
    // Drops the view and the order kept for the next Sort.
    void DropView() noexcept;
    // Sort without storing the mode, as a search under a read guard runs it.
    bool BuildView(std::int32_t mode, std::int32_t sortKey);
    [[nodiscard]] bool SortFromChain(bool descending, std::int32_t sortKey);
    [[nodiscard]] bool InsertPendingIntoOrder(bool descending, std::int32_t sortKey);
    // Moves the links set aside by InsertPendingIntoOrder into m_order. Only operations that
    // change the list call it: readers sharing the list walk the view through ViewAt.
    void MergeSetAside() noexcept;
    // Element index of the sorted view (m_order and m_setAside together), without changing them.
    [[nodiscard]] Link* ViewAt(std::size_t index) const noexcept;
    [[nodiscard]] Link* BinarySearch(const ListNodeData* key) const;
    [[nodiscard]] Link* BinarySearchName(const wchar_t* name) const;
    // Builds the view a search wants. Readers may search at once: the first of them builds it
    // under m_viewBuild while the others wait, instead of sorting the same arrays beside it.
    [[nodiscard]] bool EnsureViewForSearch();
    // Walks with First/Next, stops at the first negative result of visit, and puts the internal
    // iteration index back. Returns the last result (0 for an empty list).
    template <typename Visit>
    std::int32_t WalkRestoringIndex(Visit visit);
    // Calls visit for every node, in the order of First/Next, with a position of its own.
    template <typename Visit>
    void WalkOwnPosition(Visit visit);

    std::unique_ptr<wchar_t[]> m_name;
    ListLock m_lock;
    Link* m_tail = nullptr;
    Link* m_head = nullptr;
    Link* m_cursor = nullptr;
    std::int32_t m_count = 0;
    // Save with the recount flag stores its count here, also when readers save at once.
    std::atomic<std::int32_t> m_excludedCount{0};
    // The links in sorted order; the sorted view while m_hasView is set. A search may set
    // m_hasView under a read guard (EnsureViewForSearch): it is published after the view.
    std::vector<Link*> m_order;
    std::atomic<bool> m_hasView{false};
    std::int32_t m_iterationIndex = 0;
    std::int32_t m_sortMode = kAscending;
    std::uint8_t m_recountOnSave = 0;

    // While m_orderKept is set, m_order and m_setAside together hold every link except those in
    // m_pending, in the order of the last Sort with m_orderMode and m_orderKey; m_orderStrict
    // says that no two neighbours compare equal (then the sorted order is unique and can be
    // extended). m_setAside holds links already sorted in but not yet moved into m_order, each
    // with the number of m_order's links before it, in sorted order: moving every insertion
    // into the array at once would cost a shift of half the array per new text.
    struct SetAside {
        std::size_t before;
        Link* link;
    };
    bool m_orderKept = false;
    bool m_orderStrict = false;
    std::int32_t m_orderMode = kAscending;
    std::int32_t m_orderKey = 0;
    std::vector<Link*> m_pending;
    std::vector<SetAside> m_setAside;
    // Last: the fields that searches read keep their places.
    SRWLOCK m_viewBuild = SRWLOCK_INIT;
};

} // namespace Tallis::ImageUpdate
