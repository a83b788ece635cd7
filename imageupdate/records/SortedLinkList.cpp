#include "SortedLinkList.h"

#include "DiagnosticLog.h"
#include "NodeFactory.h"
#include "RecordStream.h"
#include "UniqueHandles.h"

#include <share.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

namespace Tallis::ImageUpdate {
namespace {

constexpr const wchar_t* kUnit = L"SortedLinkList";
constexpr std::ptrdiff_t kInsertionSortBelow = 16;
constexpr std::size_t kSaveBufferBytes = 1 << 20;
// The index of a caller's walk that began on the chain: it stays there even when a reader's
// search builds the view meanwhile.
constexpr std::int32_t kChainWalk = INT32_MIN;

using Link = SortedLinkList::Link;

std::int32_t CompareLinks(const Link* a, const Link* b, bool descending)
{
    const std::int32_t result = SortedLinkList::CompareNodes(a->node, b->node);
    if (!descending)
        return result;
    return result > 0 ? -1 : (result < 0 ? 1 : 0);
}

// Every index stays inside [lo, hi] whatever the comparison answers, so a record type with an
// inconsistent Compare gives a poor order but never a read outside the view.
void InsertionSort(Link** view, std::ptrdiff_t lo, std::ptrdiff_t hi, bool descending)
{
    for (std::ptrdiff_t k = lo + 1; k <= hi; ++k) {
        Link* moving = view[k];
        std::ptrdiff_t m = k;
        while (m > lo && CompareLinks(view[m - 1], moving, descending) > 0) {
            view[m] = view[m - 1];
            --m;
        }
        view[m] = moving;
    }
}

// In-place quick sort (not stable), median of three, insertion sort for short ranges.
void QuickSort(Link** view, std::ptrdiff_t lo, std::ptrdiff_t hi, bool descending)
{
    while (hi - lo >= kInsertionSortBelow) {
        const std::ptrdiff_t mid = lo + (hi - lo) / 2;
        if (CompareLinks(view[mid], view[lo], descending) < 0)
            std::swap(view[mid], view[lo]);
        if (CompareLinks(view[hi], view[lo], descending) < 0)
            std::swap(view[hi], view[lo]);
        if (CompareLinks(view[hi], view[mid], descending) < 0)
            std::swap(view[hi], view[mid]);
        Link* const pivot = view[mid];
        std::ptrdiff_t i = lo;
        std::ptrdiff_t j = hi;
        while (i <= j) {
            while (i <= hi && CompareLinks(view[i], pivot, descending) < 0)
                ++i;
            while (j >= lo && CompareLinks(view[j], pivot, descending) > 0)
                --j;
            if (i <= j) {
                std::swap(view[i], view[j]);
                ++i;
                --j;
            }
        }
        if (j >= hi || i <= lo) {
            // No progress: only an inconsistent comparison gets here.
            break;
        }
        if (j - lo < hi - i) {
            QuickSort(view, lo, j, descending);
            lo = i;
        } else {
            QuickSort(view, i, hi, descending);
            hi = j;
        }
    }
    InsertionSort(view, lo, hi, descending);
}

class ExclusiveSection {
public:
    explicit ExclusiveSection(SRWLOCK& lock) noexcept : m_lock(lock) { AcquireSRWLockExclusive(&m_lock); }
    ~ExclusiveSection() { ReleaseSRWLockExclusive(&m_lock); }
    ExclusiveSection(const ExclusiveSection&) = delete;
    ExclusiveSection& operator=(const ExclusiveSection&) = delete;

private:
    SRWLOCK& m_lock;
};

} // namespace

std::int32_t SortedLinkList::CompareNodes(const ListNodeData* a, const ListNodeData* b)
{
    const std::int32_t typeA = a->TypeCode();
    const std::int32_t typeB = b->TypeCode();
    if (typeA != typeB)
        return typeA < typeB ? -1 : 1;
    return a->Compare(b);
}

SortedLinkList::SortedLinkList() = default;

SortedLinkList::~SortedLinkList()
{
    RemoveAll();
}

void SortedLinkList::DropView() noexcept
{
    m_hasView.store(false, std::memory_order_relaxed);
    m_orderKept = false;
    m_pending.clear();
    m_setAside.clear();
}

template <typename Visit>
std::int32_t SortedLinkList::WalkRestoringIndex(Visit visit)
{
    const std::int32_t remembered = m_iterationIndex;
    std::int32_t result = 0;
    for (ListNodeData* node = First(); node; node = Next()) {
        result = visit(node);
        if (result < 0)
            break;
    }
    m_iterationIndex = remembered;
    return result;
}

template <typename Visit>
void SortedLinkList::WalkOwnPosition(Visit visit)
{
    Link* position = nullptr;
    std::int32_t index = 0;
    for (ListNodeData* node = FirstAt(position, index); node; node = NextAt(position, index))
        visit(node);
}

std::int32_t SortedLinkList::ForEach5(Callback5 callback, void* a1, void* a2, void* a3, void* a4, void* a5)
{
    return WalkRestoringIndex([&](ListNodeData* node) { return callback(node, this, a1, a2, a3, a4, a5); });
}

std::int32_t SortedLinkList::ForEach4(Callback4 callback, void* a1, void* a2, void* a3, void* a4)
{
    return WalkRestoringIndex([&](ListNodeData* node) { return callback(node, this, a1, a2, a3, a4); });
}

std::int32_t SortedLinkList::ForEach3(Callback3 callback, void* a1, void* a2, void* a3)
{
    return WalkRestoringIndex([&](ListNodeData* node) { return callback(node, this, a1, a2, a3); });
}

std::int32_t SortedLinkList::ForEachNode(NodeCallback callback, void* a1, void* a2, void* a3)
{
    return WalkRestoringIndex([&](ListNodeData* node) { return callback(node, a1, a2, a3); });
}

SortedLinkList::Link* SortedLinkList::LinkAtHead(ListNodeData* node) noexcept
{
    Link* link = new (std::nothrow) Link{node, m_head};
    if (!link)
        return nullptr;
    if (!node->IsIncluded())
        m_excludedCount.fetch_add(1, std::memory_order_relaxed);
    node->AddRef();
    m_head = link;
    ++m_count;
    if (!m_tail)
        m_tail = link;
    return link;
}

bool SortedLinkList::InsertHead(ListNodeData* node)
{
    if (!LinkAtHead(node))
        return false;
    DropView();
    return true;
}

bool SortedLinkList::InsertHeadKeepingOrder(ListNodeData* node)
{
    const bool keep = HasSortedView() || m_orderKept;
    Link* link = LinkAtHead(node);
    if (!link)
        return false;
    m_hasView.store(false, std::memory_order_relaxed);
    if (!keep) {
        DropView();
        return true;
    }
    try {
        m_pending.push_back(link);
        m_orderKept = true;
    } catch (const std::bad_alloc&) {
        DropView();
    }
    return true;
}

bool SortedLinkList::Append(ListNodeData* node)
{
    if (!m_head) {
        m_tail = nullptr;
        return InsertHead(node);
    }
    Link* link = new (std::nothrow) Link{node, nullptr};
    if (!link)
        return false;
    if (!node->IsIncluded())
        m_excludedCount.fetch_add(1, std::memory_order_relaxed);
    node->AddRef();
    m_tail->next = link;
    m_tail = link;
    ++m_count;
    DropView();
    return true;
}

bool SortedLinkList::AddAll(SortedLinkList* other)
{
    // Its own walk of other, which others may be reading meanwhile.
    Link* position = nullptr;
    std::int32_t index = 0;
    for (ListNodeData* node = other->FirstAt(position, index); node; node = other->NextAt(position, index)) {
        if (!InsertHead(node))
            return false;
    }
    return true;
}

bool SortedLinkList::Sort(std::int32_t mode, std::int32_t sortKey)
{
    m_sortMode = mode;
    return BuildView(mode, sortKey);
}

bool SortedLinkList::BuildView(std::int32_t mode, std::int32_t sortKey)
{
    m_hasView.store(false, std::memory_order_relaxed);
    const bool descending = mode == kDescending;
    const bool extended = m_orderKept && !m_pending.empty() && mode == m_orderMode && sortKey == m_orderKey &&
                          InsertPendingIntoOrder(descending, sortKey);
    if (!extended && !SortFromChain(descending, sortKey)) {
        DropView();
        return false;
    }
    if (mode != kAscending && mode != kDescending)
        KVO_LOG(LOG_WARN, kUnit, L"Unspecified sorting mode, sorting in ascending order");
    m_pending.clear();
    m_orderKept = true;
    m_orderMode = mode;
    m_orderKey = sortKey;
    m_hasView.store(true, std::memory_order_release);
    return true;
}

bool SortedLinkList::SortFromChain(bool descending, std::int32_t sortKey)
{
    m_orderKept = false;
    m_pending.clear();
    m_setAside.clear();
    m_order.clear();
    try {
        m_order.reserve(std::size_t(m_count > 0 ? m_count : 1));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (Link* link = m_head; link && std::int32_t(m_order.size()) < m_count; link = link->next) {
        link->node->SetSortKey(sortKey);
        m_order.push_back(link);
    }
    const std::ptrdiff_t filled = std::ptrdiff_t(m_order.size());
    Link** view = m_order.data();
    // When every neighbour is strictly in order, or strictly against it (a loaded stream: the
    // chain is the reverse of the saved order), the sorted order is unique: quick sort would
    // give exactly this, so it need not run.
    std::ptrdiff_t ascending = 1;
    while (ascending < filled && CompareLinks(view[ascending - 1], view[ascending], descending) < 0)
        ++ascending;
    m_orderStrict = ascending >= filled;
    if (!m_orderStrict && ascending == 1) {
        std::ptrdiff_t against = 1;
        while (against < filled && CompareLinks(view[against - 1], view[against], descending) > 0)
            ++against;
        if (against >= filled) {
            std::reverse(view, view + filled);
            m_orderStrict = true;
        }
    }
    if (!m_orderStrict && filled > 1)
        QuickSort(view, 0, filled - 1, descending);
    return true;
}

bool SortedLinkList::InsertPendingIntoOrder(bool descending, std::int32_t sortKey)
{
    if (std::size_t(m_count) != m_order.size() + m_setAside.size() + m_pending.size())
        return false;
    if (!m_orderStrict) {
        for (std::size_t i = 1; i < m_order.size(); ++i) {
            if (CompareLinks(m_order[i - 1], m_order[i], descending) >= 0)
                return false;
        }
        m_orderStrict = true;
    }
    try {
        // Room for the merge too, so that MergeSetAside cannot fail; grown geometrically.
        if (m_order.capacity() < std::size_t(m_count))
            m_order.reserve(std::max(std::size_t(m_count), 2 * m_order.capacity()));
        if (m_setAside.capacity() < m_setAside.size() + m_pending.size())
            m_setAside.reserve(std::max(m_setAside.size() + m_pending.size(), 2 * m_setAside.capacity()));
    } catch (const std::bad_alloc&) {
        return false;
    }
    // An equal node makes the sorted order depend on the sort algorithm: the caller then sorts
    // the whole chain as before.
    const auto position = [&](Link* link, std::size_t size, auto&& at, std::size_t& place) {
        std::size_t lo = 0;
        std::size_t hi = size;
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            const std::int32_t result = CompareLinks(link, at(mid), descending);
            if (result == 0)
                return false;
            if (result < 0)
                hi = mid;
            else
                lo = mid + 1;
        }
        place = lo;
        return true;
    };
    for (Link* link : m_pending) {
        link->node->SetSortKey(sortKey);
        std::size_t before = 0;
        std::size_t slot = 0;
        if (!position(link, m_order.size(), [&](std::size_t k) { return m_order[k]; }, before) ||
            !position(link, m_setAside.size(), [&](std::size_t k) { return m_setAside[k].link; }, slot))
            return false;
        m_setAside.insert(m_setAside.begin() + std::ptrdiff_t(slot), SetAside{before, link});
    }
    m_pending.clear();
    // Merging costs a pass over the array: done once per about sqrt(n) insertions.
    std::size_t limit = 64;
    while (limit * limit < m_order.size())
        limit *= 2;
    if (m_setAside.size() > limit)
        MergeSetAside();
    return true;
}

SortedLinkList::Link* SortedLinkList::ViewAt(std::size_t index) const noexcept
{
    if (m_setAside.empty())
        return m_order[index];
    // Set-aside link j stands at before + j of the whole view; find how many stand before index.
    std::size_t lo = 0;
    std::size_t hi = m_setAside.size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (m_setAside[mid].before + mid < index)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < m_setAside.size() && m_setAside[lo].before + lo == index)
        return m_setAside[lo].link;
    return m_order[index - lo];
}

void SortedLinkList::MergeSetAside() noexcept
{
    if (m_setAside.empty())
        return;
    const std::size_t kept = m_order.size();
    // The capacity was reserved when the links were set aside.
    m_order.resize(kept + m_setAside.size());
    std::size_t end = m_order.size();
    std::size_t readEnd = kept;
    for (std::size_t j = m_setAside.size(); j-- > 0;) {
        const std::size_t before = m_setAside[j].before;
        const std::size_t moved = readEnd - before;
        std::memmove(m_order.data() + end - moved, m_order.data() + before, moved * sizeof(Link*));
        end -= moved;
        readEnd = before;
        m_order[--end] = m_setAside[j].link;
    }
    m_setAside.clear();
}

bool SortedLinkList::EnsureViewForSearch()
{
    if (HasSortedView())
        return true;
    if (m_count <= kLinearSearchLimit)
        return false;
    const ExclusiveSection building(m_viewBuild);
    if (!HasSortedView()) {
        BuildView(m_sortMode, 0);
        if (!HasSortedView())
            KVO_LOG(LOG_WARN, kUnit, L"Find Node called on unsorted list with number of nodes %d!!", m_count);
    }
    return HasSortedView();
}

SortedLinkList::Link* SortedLinkList::BinarySearch(const ListNodeData* key) const
{
    // Which of several equal nodes is found depends on the probes: they stay as they were.
    const auto search = [key](std::size_t size, auto&& at) -> Link* {
        std::ptrdiff_t lo = 0;
        std::ptrdiff_t hi = std::ptrdiff_t(size) - 1;
        while (lo <= hi) {
            const std::ptrdiff_t mid = lo + (hi - lo) / 2;
            Link* link = at(std::size_t(mid));
            const std::int32_t result = CompareNodes(key, link->node);
            if (result == 0)
                return link;
            if (result < 0)
                hi = mid - 1;
            else
                lo = mid + 1;
        }
        return nullptr;
    };
    if (Link* found = search(m_order.size(), [&](std::size_t k) { return m_order[k]; }))
        return found;
    return search(m_setAside.size(), [&](std::size_t k) { return m_setAside[k].link; });
}

SortedLinkList::Link* SortedLinkList::BinarySearchName(const wchar_t* name) const
{
    std::int32_t lo = 0;
    std::int32_t hi = m_count - 1;
    while (lo <= hi) {
        const std::int32_t mid = lo + (hi - lo) / 2;
        Link* link = ViewAt(std::size_t(mid));
        const std::int32_t result = link->node->CompareName(name);
        if (result == 0)
            return link;
        if (result < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    return nullptr;
}

ListNodeData* SortedLinkList::Find(const ListNodeData* key)
{
    if (m_count == 0 || !key)
        return nullptr;
    if (EnsureViewForSearch()) {
        const Link* found = BinarySearch(key);
        return found ? found->node : nullptr;
    }
    for (Link* link = m_head; link; link = link->next) {
        if (CompareNodes(key, link->node) == 0)
            return link->node;
    }
    return nullptr;
}

ListNodeData* SortedLinkList::FindByName(const wchar_t* name)
{
    if (m_count == 0)
        return nullptr;
    if (EnsureViewForSearch()) {
        const Link* found = BinarySearchName(name);
        return found ? found->node : nullptr;
    }
    for (Link* link = m_head; link; link = link->next) {
        if (link->node->CompareName(name) == 0)
            return link->node;
    }
    return nullptr;
}

std::int32_t SortedLinkList::WriteTextFile(const wchar_t* path)
{
    const wchar_t* shown = path ? path : L"";
    // Text mode: line feeds become CR LF and wide text goes out as narrow characters of the
    // process locale. Others may read the file while it is open, but not write it.
    unique_file stream(path ? _wfsopen(path, L"wt+", _SH_DENYWR) : nullptr);
    if (!stream) {
        const int openError = path ? errno : EINVAL;
        const DWORD lastError = GetLastError();
        KVO_LOG(LOG_WARN, L"WSBaseObject", L"Failed to open %s, Error:%d", shown, openError);
        SetLastError(lastError);
        KVO_LOG(LOG_ERROR, kUnit, L"Failed to create %s, Error:%d", shown, int(GetLastError()));
        return -1;
    }
    return WriteText(stream.get());
}

std::int32_t SortedLinkList::WriteText(FILE* stream)
{
    std::int32_t visited = 0;
    WalkOwnPosition([&](ListNodeData* node) {
        node->WriteText(stream);
        ++visited;
    });
    return visited;
}

std::int32_t SortedLinkList::LogAll()
{
    std::int32_t visited = 0;
    WalkOwnPosition([&](ListNodeData* node) {
        node->LogLine();
        ++visited;
    });
    return visited;
}

void SortedLinkList::RemoveAll()
{
    while (m_head) {
        Link* link = m_head;
        m_head = link->next;
        ListNodeData* node = link->node;
        node->Release();
        if (node->RefCount() == 0)
            delete node;
        delete link;
        --m_count;
    }
    m_head = nullptr;
    m_tail = nullptr;
    m_cursor = nullptr;
    DropView();
    std::vector<Link*>().swap(m_order);
}

std::int32_t SortedLinkList::Save(FILE* stream)
{
    std::int32_t excluded = 0;
    if (m_recountOnSave) {
        WalkOwnPosition([&](const ListNodeData* node) { excluded += node->IsIncluded() ? 0 : 1; });
        // Readers saving at once all store the same count.
        m_excludedCount.store(excluded, std::memory_order_relaxed);
    } else {
        excluded = m_excludedCount.load(std::memory_order_relaxed);
    }
    const std::int32_t announced = m_count - excluded;
    // A snapshot is saved as hundreds of thousands of small writes. With the runtime's 4 KiB
    // buffer every few records cost a system call (a slow one under Wine), so a stream that
    // nothing has touched yet gets a large buffer; the runtime owns it and frees it on fclose.
    if (m_count > kLinearSearchLimit && std::ftell(stream) == 0)
        (void)std::setvbuf(stream, nullptr, _IOFBF, kSaveBufferBytes);
    // The count and type-code writes go unchecked: a stream that has failed once fails the
    // node's own write too, and that one is checked.
    (void)WriteValue(stream, announced);
    std::int32_t written = 0;
    Link* position = nullptr;
    std::int32_t index = 0;
    for (ListNodeData* node = FirstAt(position, index); node; node = NextAt(position, index)) {
        if (!node->IsIncluded())
            continue;
        (void)WriteValue(stream, node->TypeCode());
        if (node->Save(stream) < 0)
            return -1;
        ++written;
    }
    return written == announced ? 0 : -1;
}

std::int32_t SortedLinkList::Load(FILE* stream)
{
    std::int32_t announced = 0;
    if (!ReadValue(stream, announced))
        return -1;
    if (announced == 0)
        return 0;
    while (!std::feof(stream)) {
        std::int32_t code = 0;
        if (!ReadValue(stream, code))
            code = 0;
        const NodeReader reader = FindNodeReader(code);
        if (!reader)
            break;
        ListNodeData* node = reader(stream);
        if (!node)
            break;
        if (!InsertHead(node)) {
            delete node;
            break;
        }
        if (m_count == announced)
            break;
    }
    Sort(kAscending, 0);
    return m_count == announced ? 0 : -1;
}

std::int64_t SortedLinkList::DataSize()
{
    std::int64_t total = 0;
    WalkOwnPosition([&](const ListNodeData* node) { total += node->DataSize(); });
    return total;
}

ListNodeData* SortedLinkList::TakeFirst(bool remove)
{
    if (!remove)
        return First();
    Link* link = m_head;
    if (!link)
        return nullptr;
    m_head = link->next;
    if (m_tail == link)
        m_tail = nullptr;
    if (m_cursor == link)
        m_cursor = link->next;
    ListNodeData* node = link->node;
    delete link;
    --m_count;
    DropView();
    node->Release();
    return node;
}

ListNodeData* SortedLinkList::First()
{
    if (HasSortedView() && m_count != 0) {
        m_iterationIndex = 0;
        return ViewAt(0)->node;
    }
    if (!m_head)
        return nullptr;
    m_cursor = m_head->next;
    return m_head->node;
}

ListNodeData* SortedLinkList::FirstAt(Link*& position, std::int32_t& index)
{
    if (HasSortedView() && m_count != 0) {
        index = 0;
        return ViewAt(0)->node;
    }
    if (!m_head)
        return nullptr;
    position = m_head->next;
    index = kChainWalk;
    return m_head->node;
}

ListNodeData* SortedLinkList::Next()
{
    if (HasSortedView() && m_count != 0) {
        if (++m_iterationIndex < m_count)
            return ViewAt(std::size_t(m_iterationIndex))->node;
        m_iterationIndex = 0;
        return nullptr;
    }
    if (!m_cursor)
        return nullptr;
    ListNodeData* node = m_cursor->node;
    m_cursor = m_cursor->next;
    return node;
}

ListNodeData* SortedLinkList::NextAt(Link*& position, std::int32_t& index)
{
    if (index != kChainWalk && HasSortedView() && m_count != 0) {
        if (index < 0)
            index = -1;
        if (++index < m_count)
            return ViewAt(std::size_t(index))->node;
        index = 0;
        return nullptr;
    }
    if (!position)
        return nullptr;
    ListNodeData* node = position->node;
    position = position->next;
    return node;
}

void SortedLinkList::Exclude(ListNodeData* node)
{
    if (node && node->IsIncluded()) {
        m_excludedCount.fetch_add(1, std::memory_order_relaxed);
        node->MarkExcluded();
    }
}

std::int32_t SortedLinkList::Count() const
{
    return m_count;
}

const wchar_t* SortedLinkList::SetName(const wchar_t* name)
{
    m_name.reset();
    m_name = DuplicateText(name);
    return m_name.get();
}

const wchar_t* SortedLinkList::GetName() const
{
    return m_name.get();
}

void SortedLinkList::SetRecountOnSave()
{
    m_recountOnSave = 1;
}

} // namespace Tallis::ImageUpdate
