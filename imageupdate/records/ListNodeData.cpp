#include "ListNodeData.h"

#include "RecordStream.h"
#include "SortedLinkList.h"
#include "TextCollation.h"

#include <new>

namespace Tallis::ImageUpdate {

ListNodeData::ListNodeData() = default;

ListNodeData::ListNodeData(SearchKeyTag) noexcept : m_mayHaveChildren(false) {}

SortedLinkList* ListNodeData::ChildList() const noexcept
{
    SortedLinkList* made = m_children.load(std::memory_order_acquire);
    if (made || !m_mayHaveChildren)
        return made;
    std::unique_ptr<SortedLinkList> fresh(new (std::nothrow) SortedLinkList());
    if (!fresh)
        return nullptr;
    // Of readers that ask at once, the first to publish its list wins; the others drop theirs.
    if (m_children.compare_exchange_strong(made, fresh.get(), std::memory_order_acq_rel))
        return fresh.release();
    return made;
}

ListNodeData::~ListNodeData()
{
    const std::unique_ptr<SortedLinkList> children(m_children.load(std::memory_order_acquire));
    if (children)
        children->RemoveAll();
}

bool ListNodeData::IsMarked() const { return m_marked != 0; }
void ListNodeData::Mark() { m_marked = 1; }
bool ListNodeData::IsIncluded() const { return m_included != 0; }
void ListNodeData::AddRef() { ++m_refCount; }
void ListNodeData::Release() { --m_refCount; }
std::int32_t ListNodeData::RefCount() const { return m_refCount; }

const wchar_t* ListNodeData::SetName(const wchar_t* name)
{
    m_name.reset();
    m_name = DuplicateText(name);
    return m_name.get();
}

std::int32_t ListNodeData::CompareName(const wchar_t* text) const
{
    if (!m_name)
        return -1;
    return CompareTextsNoCase(text ? text : L"", m_name.get());
}

void ListNodeData::SetSortKey(std::int32_t key) { m_sortKey.store(key, std::memory_order_relaxed); }
std::int32_t ListNodeData::GetSortKey() const { return m_sortKey.load(std::memory_order_relaxed); }
void ListNodeData::MarkExcluded() { m_included = 0; }

} // namespace Tallis::ImageUpdate
