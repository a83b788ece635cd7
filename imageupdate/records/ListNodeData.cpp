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
    if (!m_children && m_mayHaveChildren)
        m_children.reset(new (std::nothrow) SortedLinkList());
    return m_children.get();
}

ListNodeData::~ListNodeData()
{
    if (m_children)
        m_children->RemoveAll();
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

void ListNodeData::SetSortKey(std::int32_t key) { m_sortKey = key; }
std::int32_t ListNodeData::GetSortKey() const { return m_sortKey; }
void ListNodeData::MarkExcluded() { m_included = 0; }

} // namespace Tallis::ImageUpdate
