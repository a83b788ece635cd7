#include "SortedLinkList_FILEINFO.h"

#include "TextCollation.h"

#include <windows.h>

namespace Tallis::ImageUpdate {

ListNodeData_FILEINFO* SortedLinkList_FILEINFO::AsFile(ListNodeData* node) noexcept
{
    return dynamic_cast<ListNodeData_FILEINFO*>(node);
}

ListNodeData_FILEINFO* SortedLinkList_FILEINFO::FindFile(const ListNodeData* key)
{
    return AsFile(Find(key));
}

ListNodeData_FILEINFO* SortedLinkList_FILEINFO::FindFileByName(const wchar_t* name)
{
    const ListNodeData_FILEINFO key(ListNodeData_FILEINFO::SearchKeyTag{}, name);
    return AsFile(Find(&key));
}

ListNodeData_FILEINFO* SortedLinkList_FILEINFO::FindFileByShortName(const wchar_t* shortName)
{
    // A walk of its own: readers look files up at once.
    Link* position = nullptr;
    std::int32_t index = 0;
    for (ListNodeData* node = FirstAt(position, index); node; node = NextAt(position, index)) {
        ListNodeData_FILEINFO* file = AsFile(node);
        if (!file)
            break;
        const wchar_t* own = file->ShortName();
        if (own && CompareTextsNoCase(own, shortName ? shortName : L"") == 0)
            return file;
    }
    return nullptr;
}

ListNodeData_FILEINFO* SortedLinkList_FILEINFO::TakeFirstFile(bool remove)
{
    return AsFile(TakeFirst(remove));
}

ListNodeData_FILEINFO* SortedLinkList_FILEINFO::FirstFile()
{
    return AsFile(First());
}

ListNodeData_FILEINFO* SortedLinkList_FILEINFO::NextFile()
{
    return AsFile(Next());
}

} // namespace Tallis::ImageUpdate
