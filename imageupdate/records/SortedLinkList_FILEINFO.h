#pragma once
// A sorted list of file records with typed look-ups; every folder record keeps its files in one.
#include "ListNodeData_FILEINFO.h"
#include "SortedLinkList.h"

namespace Tallis::ImageUpdate {

// Readers at once: FindFile, FindFileByName, FindFileByShortName and the reader calls of SortedLinkList; the write
// guard: TakeFirstFile, FirstFile, NextFile (the shared cursor) and the writer calls of SortedLinkList.
class SortedLinkList_FILEINFO : public SortedLinkList {
public:
    SortedLinkList_FILEINFO() = default;

    // Find, as a file record.
    virtual ListNodeData_FILEINFO* FindFile(const ListNodeData* key);
    // Find with a search key holding only the name (case-insensitive).
    virtual ListNodeData_FILEINFO* FindFileByName(const wchar_t* name);
    // Linear walk: the first record whose short name equals shortName case-insensitively.
    virtual ListNodeData_FILEINFO* FindFileByShortName(const wchar_t* shortName);
    virtual ListNodeData_FILEINFO* TakeFirstFile(bool remove);
    virtual ListNodeData_FILEINFO* FirstFile();
    virtual ListNodeData_FILEINFO* NextFile();

    // The node as a file record, or none for none and for a node of another type.
    [[nodiscard]] static ListNodeData_FILEINFO* AsFile(ListNodeData* node) noexcept;
};

} // namespace Tallis::ImageUpdate
