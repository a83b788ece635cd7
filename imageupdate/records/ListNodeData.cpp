#include "ListNodeData.h"

#include "RecordStream.h"
#include "SortedLinkList.h"

#include <windows.h>

#include <cwchar>
#include <new>

namespace Tallis::ImageUpdate {

ListNodeData::ListNodeData() : m_children(new (std::nothrow) SortedLinkList()) {}

ListNodeData::ListNodeData(SearchKeyTag) noexcept {}

ListNodeData::~ListNodeData()
{
    if (m_children) {
        m_children->RemoveAll();
        delete m_children;
    }
    delete[] m_name;
}

bool ListNodeData::IsMarked() const { return m_marked != 0; }
void ListNodeData::Mark() { m_marked = 1; }
bool ListNodeData::IsIncluded() const { return m_included != 0; }
void ListNodeData::AddRef() { ++m_refCount; }
void ListNodeData::Release() { --m_refCount; }
std::int32_t ListNodeData::RefCount() const { return m_refCount; }

const wchar_t* ListNodeData::SetName(const wchar_t* name)
{
    delete[] m_name;
    m_name = nullptr;
    m_name = DuplicateText(name);
    return m_name;
}

std::int32_t ListNodeData::CompareName(const wchar_t* text) const
{
    if (!m_name)
        return -1;
    return lstrcmpiW(text ? text : L"", m_name);
}

void ListNodeData::SetSortKey(std::int32_t key) { m_sortKey = key; }
std::int32_t ListNodeData::GetSortKey() const { return m_sortKey; }
void ListNodeData::MarkExcluded() { m_included = 0; }

} // namespace Tallis::ImageUpdate
