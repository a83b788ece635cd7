#include "SortedLinkList_FOLDERINFO.h"

#include "ListNodeData_FILEINFO.h"
#include "PathBuilder.h"
#include "TextCollation.h"

#include <windows.h>

#include <cwchar>
#include <string>

namespace Tallis::ImageUpdate {

ListNodeData_FOLDERINFO* SortedLinkList_FOLDERINFO::AsFolder(ListNodeData* node) noexcept
{
    return dynamic_cast<ListNodeData_FOLDERINFO*>(node);
}

bool SortedLinkList_FOLDERINFO::InsertHead(ListNodeData* node)
{
    return SortedLinkList::InsertHead(node);
}

// A light key (no child list, no nested lists): an exact look-up then costs no kernel objects.
ListNodeData_FOLDERINFO* SortedLinkList_FOLDERINFO::FindByKeyText(const wchar_t* keyText)
{
    const ListNodeData_FOLDERINFO key(ListNodeData_FOLDERINFO::SearchKeyTag{}, keyText);
    return AsFolder(Find(&key));
}

ListNodeData_FILEINFO* SortedLinkList_FOLDERINFO::FindFileByPath(const wchar_t* path,
                                                                 ListNodeData_FOLDERINFO** folderOut)
{
    const PathBuilder copy(path, false);
    return SplitAndFindFile(copy.GetPath(), folderOut);
}

ListNodeData_FILEINFO* SortedLinkList_FOLDERINFO::FindFileInFolder(const ListNodeData_FOLDERINFO* keyFolder,
                                                                   const ListNodeData_FILEINFO* keyFile)
{
    if (!keyFolder)
        return nullptr;
    // Walks of their own here and below: readers look folders up at once.
    Link* position = nullptr;
    std::int32_t index = 0;
    for (ListNodeData* node = FirstAt(position, index); node; node = NextAt(position, index)) {
        ListNodeData_FOLDERINFO* folder = AsFolder(node);
        if (!folder)
            break;
        if (folder->Compare(keyFolder) != 0)
            continue;
        if (ListNodeData_FILEINFO* hit = folder->FindFile(keyFile))
            return hit;
    }
    return nullptr;
}

ListNodeData_FILEINFO* SortedLinkList_FOLDERINFO::SplitAndFindFile(const wchar_t* path,
                                                                   ListNodeData_FOLDERINFO** folderOut)
{
    if (folderOut)
        *folderOut = nullptr;
    if (!path)
        return nullptr;
    const wchar_t* lastSeparator = std::wcsrchr(path, L'\\');
    if (!lastSeparator)
        return nullptr;
    // The folder part with its separator, as its own text: on the stack when it is short.
    const std::size_t folderChars = std::size_t(lastSeparator - path) + 1;
    wchar_t shortPart[MAX_PATH];
    std::wstring longPart;
    wchar_t* folderPart = shortPart;
    if (folderChars < MAX_PATH) {
        std::wmemcpy(shortPart, path, folderChars);
        shortPart[folderChars] = L'\0';
    } else {
        longPart.assign(path, folderChars);
        folderPart = longPart.data();
    }
    ListNodeData_FOLDERINFO* folder = FindByKeyText(folderPart);
    if (folderOut)
        *folderOut = folder;
    if (!folder)
        return nullptr;
    return folder->FindFileByName(lastSeparator + 1);
}

ListNodeData_FOLDERINFO* SortedLinkList_FOLDERINFO::LookupFolder(wchar_t* keyText, bool nearest)
{
    if (!keyText)
        return nullptr;
    if (!nearest)
        return FindByKeyText(keyText);
    const std::size_t length = std::wcslen(keyText);
    for (std::size_t i = length; i-- > 1;) {
        if (keyText[i] != L'\\')
            continue;
        keyText[i + 1] = L'\0';
        if (ListNodeData_FOLDERINFO* found = FindFolderByPath(keyText, false))
            return found;
    }
    if (length >= 1 && keyText[0] == L'\\') {
        keyText[1] = L'\0';
        return FindFolderByPath(keyText, false);
    }
    return nullptr;
}

ListNodeData_FOLDERINFO* SortedLinkList_FOLDERINFO::FindFolder(const ListNodeData* key)
{
    return AsFolder(Find(key));
}

ListNodeData_FOLDERINFO* SortedLinkList_FOLDERINFO::FindFolderByPath(const wchar_t* path, bool nearest)
{
    const wchar_t* text = path ? path : L"";
    std::wstring copy;
    if (text[0] == L'\\') {
        const PathBuilder normalised(text, true);
        copy = normalised.GetPath();
    } else {
        const PathBuilder normalised(L"\\", text, true);
        copy = normalised.GetPath();
    }
    return LookupFolder(copy.data(), nearest);
}

ListNodeData_FOLDERINFO* SortedLinkList_FOLDERINFO::FindParentFolder(const wchar_t* path)
{
    const wchar_t* text = path ? path : L"";
    if (std::wcscmp(text, L"\\") == 0)
        return nullptr;
    const PathBuilder trimmed(text, false);
    std::wstring copy = trimmed.GetPath();
    if (!copy.empty() && copy.back() == L'\\')
        copy.pop_back();
    const std::size_t lastSeparator = copy.rfind(L'\\');
    if (!copy.empty() && lastSeparator != std::wstring::npos)
        copy.resize(lastSeparator + 1);
    return LookupFolder(copy.data(), false);
}

ListNodeData_FOLDERINFO* SortedLinkList_FOLDERINFO::FindFolderByShortName(const wchar_t* shortName)
{
    Link* position = nullptr;
    std::int32_t index = 0;
    for (ListNodeData* node = FirstAt(position, index); node; node = NextAt(position, index)) {
        ListNodeData_FOLDERINFO* folder = AsFolder(node);
        if (!folder)
            break;
        const wchar_t* own = folder->ShortName();
        if (own && CompareTextsNoCase(own, shortName ? shortName : L"") == 0)
            return folder;
    }
    return nullptr;
}

ListNodeData_FOLDERINFO* SortedLinkList_FOLDERINFO::TakeFirstFolder(bool remove)
{
    return AsFolder(TakeFirst(remove));
}

ListNodeData_FOLDERINFO* SortedLinkList_FOLDERINFO::FirstFolder()
{
    return AsFolder(First());
}

ListNodeData_FOLDERINFO* SortedLinkList_FOLDERINFO::NextFolder()
{
    return AsFolder(Next());
}

} // namespace Tallis::ImageUpdate
