#pragma once
// A sorted list of folder records ordered by folder path, with path look-ups: a folder by its
// exact path, the nearest enclosing folder, the parent folder, and a file by its full path.
// Folder keys carry a leading and a trailing backslash; the root's key is a single backslash.
#include "ListNodeData_FOLDERINFO.h"
#include "SortedLinkList.h"

namespace Tallis::ImageUpdate {

class ListNodeData_FILEINFO;

// Readers at once: every Find* call, SplitAndFindFile, LookupFolder (it shortens the caller's text only) and the
// reader calls of SortedLinkList; the write guard: InsertHead, TakeFirstFolder, FirstFolder, NextFolder (the shared
// cursor) and the writer calls of SortedLinkList.
class SortedLinkList_FOLDERINFO : public SortedLinkList {
public:
    SortedLinkList_FOLDERINFO() = default;

    bool InsertHead(ListNodeData* node) override;

    // The file record of a full path (one trailing backslash removed first); folderOut gets the
    // folder found, or none.
    virtual ListNodeData_FILEINFO* FindFileByPath(const wchar_t* path, ListNodeData_FOLDERINFO** folderOut);
    // The first hit of keyFile in the file list of a folder equal to keyFolder.
    virtual ListNodeData_FILEINFO* FindFileInFolder(const ListNodeData_FOLDERINFO* keyFolder,
                                                    const ListNodeData_FILEINFO* keyFile);
    // Splits at the last backslash: folder part (with the backslash) and file name. The
    // caller's text is left unchanged.
    virtual ListNodeData_FILEINFO* SplitAndFindFile(const wchar_t* path, ListNodeData_FOLDERINFO** folderOut);
    // nearest false: the folder whose key equals keyText. nearest true: keyText is shortened in
    // place from its end, backslash by backslash, until a folder is found (the root last).
    virtual ListNodeData_FOLDERINFO* LookupFolder(wchar_t* keyText, bool nearest);
    virtual ListNodeData_FOLDERINFO* FindFolder(const ListNodeData* key);
    // The path with a leading and a trailing backslash made sure of, then LookupFolder on a
    // copy (the caller's text is never changed).
    virtual ListNodeData_FOLDERINFO* FindFolderByPath(const wchar_t* path, bool nearest);
    virtual ListNodeData_FOLDERINFO* FindParentFolder(const wchar_t* path);
    virtual ListNodeData_FOLDERINFO* FindFolderByShortName(const wchar_t* shortName);
    virtual ListNodeData_FOLDERINFO* TakeFirstFolder(bool remove);
    virtual ListNodeData_FOLDERINFO* FirstFolder();
    virtual ListNodeData_FOLDERINFO* NextFolder();

    // The node as a folder record, or none for none and for a node of another type.
    [[nodiscard]] static ListNodeData_FOLDERINFO* AsFolder(ListNodeData* node) noexcept;

private:
    [[nodiscard]] ListNodeData_FOLDERINFO* FindByKeyText(const wchar_t* keyText);
};

} // namespace Tallis::ImageUpdate
