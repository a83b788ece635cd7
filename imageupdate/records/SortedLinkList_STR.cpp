#include "SortedLinkList_STR.h"

#include <new>

namespace Tallis::ImageUpdate {
namespace {

const ListNodeData_STR* AsString(const ListNodeData* node)
{
    return dynamic_cast<const ListNodeData_STR*>(node);
}

} // namespace

ListNodeData_STR* SortedLinkList_STR::FindNode(const wchar_t* text)
{
    if (!text || text[0] == L'\0')
        return nullptr;
    const ListNodeData_STR key(ListNodeData_STR::BorrowTag{}, text);
    ListNodeData* found = Find(&key);
    // Find only returns a node of the key's type code; the cast guards foreign classes.
    return dynamic_cast<ListNodeData_STR*>(found);
}

const wchar_t* SortedLinkList_STR::FindText(const wchar_t* text)
{
    const ListNodeData_STR* node = FindNode(text);
    if (!node)
        return nullptr;
    return node->Text() ? node->Text() : L"";
}

const wchar_t* SortedLinkList_STR::TextForId(std::int32_t id)
{
    if (id == ListNodeData_STR::kEmptyTextId)
        return L"";
    if (id == ListNodeData_STR::kNoTextId)
        return nullptr;
    // A walk of its own: readers share the list under AcquireRead, so the list's internal
    // iteration state is not ours to move.
    Link* position = nullptr;
    std::int32_t index = 0;
    for (ListNodeData* node = FirstAt(position, index); node; node = NextAt(position, index)) {
        const ListNodeData_STR* text = AsString(node);
        if (!text)
            break;
        if (text->Id() == id)
            return text->Text() ? text->Text() : L"";
    }
    return nullptr;
}

std::int32_t SortedLinkList_STR::Intern(const wchar_t* text, bool unique)
{
    if (unique) {
        if (!text)
            return ListNodeData_STR::kNoTextId;
        if (text[0] == L'\0')
            return ListNodeData_STR::kEmptyTextId;
        if (const ListNodeData_STR* found = FindNode(text))
            return found->Id();
    }
    ListNodeData_STR* node = nullptr;
    try {
        node = new ListNodeData_STR(text);
    } catch (const std::bad_alloc&) {
        return ListNodeData_STR::kNoTextId;
    }
    if (!InsertHeadKeepingOrder(node)) {
        delete node;
        return ListNodeData_STR::kNoTextId;
    }
    // At 12 entries the table is sorted once, so the search of the next Intern is a binary one.
    if (unique && Count() == kLinearSearchLimit)
        Sort(kAscending, 0);
    return node->Id();
}

std::int32_t SortedLinkList_STR::AppendText(const wchar_t* text)
{
    ListNodeData_STR* node = nullptr;
    try {
        node = new ListNodeData_STR(text);
    } catch (const std::bad_alloc&) {
        return ListNodeData_STR::kNoTextId;
    }
    if (!Append(node)) {
        delete node;
        return ListNodeData_STR::kNoTextId;
    }
    return node->Id();
}

bool SortedLinkList_STR::MergeFrom(SortedLinkList_STR* other)
{
    // Its own walk of other, which others may be reading meanwhile.
    Link* position = nullptr;
    std::int32_t index = 0;
    for (ListNodeData* node = other->FirstAt(position, index); node; node = other->NextAt(position, index)) {
        const ListNodeData_STR* text = AsString(node);
        if (!text)
            break;
        Intern(text->Text() ? text->Text() : L"", true);
    }
    return true;
}

} // namespace Tallis::ImageUpdate
