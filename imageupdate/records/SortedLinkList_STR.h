#pragma once
// A string table: a SortedLinkList of string records that hands out one id per
// distinct text (case-insensitively) and gives the text back for an id.
#include "ListNodeData_STR.h"
#include "SortedLinkList.h"

#include <cstdint>

namespace Tallis::ImageUpdate {

// Readers at once: FindText, TextForId, FindNode and the reader calls of SortedLinkList; the write guard: Intern,
// AppendText, MergeFrom (a reader of the other table) and the writer calls of SortedLinkList.
class SortedLinkList_STR : public SortedLinkList {
public:
    SortedLinkList_STR() = default;

    // The stored text equal to text (case-insensitively), or none; none for none and "".
    virtual const wchar_t* FindText(const wchar_t* text);
    // "" for 0, none for 1; else the text of the first string node with that id, or none.
    virtual const wchar_t* TextForId(std::int32_t id);
    // unique false: always a new node (no search). unique true: 1 for none, 0 for "", else the
    // id of the equal stored text or of a new node. 1 when a node cannot be allocated.
    virtual std::int32_t Intern(const wchar_t* text, bool unique);
    // A new node behind the others (no search); its id, or 1 when it cannot be allocated.
    virtual std::int32_t AppendText(const wchar_t* text);
    // Interns (unique) every text of other into this table. Always true.
    virtual bool MergeFrom(SortedLinkList_STR* other);
    // The string node whose text equals text, or none.
    virtual ListNodeData_STR* FindNode(const wchar_t* text);
};

// The process-wide table of security-descriptor texts: created during static initialisation,
// emptied at exit. Use TextForId under AcquireRead and Intern(text, true) under AcquireWrite.
extern SortedLinkList_STR SharedSDPool;

} // namespace Tallis::ImageUpdate
