#pragma once
// The folder record (type code 2): one folder of a snapshot, held as its version 4 block, with
// the list of the file records in that folder (read and saved along with it) and a nested
// folder list that only callers fill. Older stored versions (0 to 3) are upgraded on reading.
#include "ListNodeData.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace Tallis::ImageUpdate {

class ListNodeData_FILEINFO;
class SortedLinkList_FILEINFO;
class SortedLinkList_FOLDERINFO;

// Readers at once, under the lock of the folder's list: the const calls, FindSubFolder, FindFile, FindFileByName,
// FindFileByShortName, Files and SubFolders; the write guard: FirstSubFolder, NextSubFolder, TakeFirstFile,
// FirstFile, NextFile (the shared cursors of the nested lists), AddFile, SortFiles and AdoptRecord.
class ListNodeData_FOLDERINFO : public ListNodeData {
public:
    using Block = std::unique_ptr<std::uint8_t[]>;

    static constexpr std::int32_t kTypeCode = 2;
    static constexpr std::uint32_t kVersion = 4;
    // Folder records nested in file lists deeper than this are refused, so a crafted stream
    // cannot exhaust the stack through the reader's recursion.
    static constexpr int kMaxNesting = 8;

    // Version 4 block offsets.
    static constexpr std::size_t kVersionAt = 0x00;
    static constexpr std::size_t kSizeAt = 0x04;
    static constexpr std::size_t kAuxValue1At = 0x08;
    static constexpr std::size_t kAuxValue2At = 0x0C;
    static constexpr std::size_t kTagTextAt = 0x10;
    static constexpr std::size_t kTagTextChars = 12; // 11 and the terminator
    static constexpr std::size_t kFileListSlotAt = 0x28;
    static constexpr std::size_t kStateAt = 0x30;
    static constexpr std::size_t kReservedAt = 0x34;
    static constexpr std::size_t kAttributesAt = 0x38;
    static constexpr std::size_t kTimeAt = 0x3C;
    static constexpr std::size_t kShortNameAt = 0x44;
    static constexpr std::size_t kShortNameChars = 14; // 13 and the terminator
    static constexpr std::size_t kNameLengthAt = 0x60;
    static constexpr std::size_t kTextLengthAt = 0x64;
    static constexpr std::size_t kExtraLengthAt = 0x68;
    static constexpr std::size_t kNameAt = 0x6C;

    ListNodeData_FOLDERINFO();
    // A key node: the same as above, with the lookup path set to a copy of path.
    explicit ListNodeData_FOLDERINFO(const wchar_t* path);
    ~ListNodeData_FOLDERINFO() override;

    std::int32_t TypeCode() const override;
    // The folder's dump, then the dump of every file record.
    void WriteText(FILE* stream) const override;
    // The folder's entry, then one entry per file record.
    void LogLine() const override;
    // lstrcmpiW of the keys: the lookup path when set, else the record's name.
    std::int32_t Compare(const ListNodeData* other) const override;
    // Record size, the record as it stands, then the file list's own stream.
    std::int32_t Save(FILE* stream) const override;
    // The record size field.
    std::int32_t DataSize() const override;

    virtual bool SameExtraData(const ListNodeData_FOLDERINFO* other) const;
    // True when the other record has no time, or both times agree to the second (UTC).
    virtual bool SameTime(const ListNodeData_FOLDERINFO* other) const;
    virtual ListNodeData_FOLDERINFO* FirstSubFolder();
    virtual ListNodeData_FOLDERINFO* NextSubFolder();
    virtual ListNodeData_FOLDERINFO* FindSubFolder(const wchar_t* path);
    // Null gives false. A node made without the reader gets its file list here.
    virtual bool AddFile(ListNodeData_FILEINFO* file);
    virtual bool SortFiles();
    virtual ListNodeData_FILEINFO* FindFile(const ListNodeData_FILEINFO* key);
    virtual ListNodeData_FILEINFO* FindFileByName(const wchar_t* name);
    virtual ListNodeData_FILEINFO* FindFileByShortName(const wchar_t* shortName);
    virtual ListNodeData_FILEINFO* TakeFirstFile(bool remove);
    virtual ListNodeData_FILEINFO* FirstFile();
    virtual ListNodeData_FILEINFO* NextFile();

    // Gives the node a block of any stored version of blockBytes bytes (upgraded and checked as
    // the stream reader does). False, and the node unchanged, when the block is refused.
    [[nodiscard]] bool AdoptRecord(Block block, std::uint32_t blockBytes) noexcept;

    [[nodiscard]] const std::uint8_t* Record() const noexcept { return m_record.get(); }
    [[nodiscard]] const wchar_t* Name() const noexcept;
    [[nodiscard]] const wchar_t* ShortName() const noexcept;
    [[nodiscard]] const wchar_t* TagText() const noexcept;
    // The security-descriptor text stored in the record, or none.
    [[nodiscard]] const wchar_t* SecurityText() const noexcept;
    [[nodiscard]] const std::uint8_t* ExtraData() const noexcept;
    [[nodiscard]] std::uint32_t ExtraDataLength() const noexcept;
    [[nodiscard]] std::uint32_t State() const noexcept;
    [[nodiscard]] std::uint32_t Attributes() const noexcept;
    [[nodiscard]] FILETIME Time() const noexcept;
    [[nodiscard]] const wchar_t* LookupPath() const noexcept;
    [[nodiscard]] SortedLinkList_FILEINFO* Files() const noexcept { return m_files.get(); }
    [[nodiscard]] SortedLinkList_FOLDERINFO* SubFolders() const noexcept { return m_subFolders.get(); }
    // Name of a state value; "UNKNOWN(<value>)" outside 0 to 5.
    [[nodiscard]] static std::wstring StateName(std::uint32_t state);

    // Stream reader for type code 2: a new node with its file list, or none when the record
    // does not hold together or its file list is not read whole.
    static ListNodeData* FromStream(FILE* stream) noexcept;

    // A checked version 4 block from a stored block of any version of blockBytes bytes, or
    // none. Ownership passes in.
    [[nodiscard]] static Block UpgradeFolderRecord(Block block, std::uint32_t blockBytes) noexcept;
    // True when a version 4 block of blockBytes bytes holds together.
    [[nodiscard]] static bool IsWellFormed(const std::uint8_t* block, std::size_t blockBytes) noexcept;

private:
    friend class SortedLinkList_FOLDERINFO;
    // A key node for the list's own look-ups: no child list, no nested lists. It points at the
    // caller's path, which outlives the key.
    ListNodeData_FOLDERINFO(SearchKeyTag tag, const wchar_t* path) noexcept;

    [[nodiscard]] const wchar_t* Key() const noexcept;
    [[nodiscard]] std::size_t TextAt() const noexcept;
    [[nodiscard]] std::size_t ExtraAt() const noexcept;

    // Destroyed in reverse: the file list, the record, the lookup path, the nested folders.
    std::unique_ptr<SortedLinkList_FOLDERINFO> m_subFolders;
    std::optional<std::wstring> m_lookupPath;
    const wchar_t* m_borrowedKey = nullptr;
    Block m_record;
    // The file list lives here, not in the record's slot: a block that gets saved never holds
    // an address, and the slot's stored bytes are written back as they were read.
    std::unique_ptr<SortedLinkList_FILEINFO> m_files;
};

} // namespace Tallis::ImageUpdate
