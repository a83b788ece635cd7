#pragma once
// The file record (type code 3): one file of a snapshot, held as a version 3 block that is both
// the in-memory and the stored form. Older stored versions (0, 1, 2) are upgraded on reading;
// every stored block is checked before use, since it comes from a file handed to us.
#include "ListNodeData.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace Tallis::ImageUpdate {

class SortedLinkList_STR;
class SortedLinkList_FILEINFO;

// Readers at once, under the lock of the file's list: the const calls and the static ones (they take SharedSDPool's
// own lock); the write guard: AdoptSecurity and AdoptRecord, which change the block.
class ListNodeData_FILEINFO : public ListNodeData {
public:
    using Block = std::unique_ptr<std::uint8_t[]>;

    static constexpr std::int32_t kTypeCode = 3;
    static constexpr std::uint32_t kVersion = 3;

    // Version 3 block offsets.
    static constexpr std::size_t kVersionAt = 0;
    static constexpr std::size_t kLengthAt = 4;
    static constexpr std::size_t kAuxValue1At = 8;
    static constexpr std::size_t kAuxValue2At = 12;
    static constexpr std::size_t kAuxValue3At = 16;
    static constexpr std::size_t kStateAt = 24;
    static constexpr std::size_t kAttributesAt = 32;
    static constexpr std::size_t kCreationTimeAt = 36;
    static constexpr std::size_t kLastAccessTimeAt = 44;
    static constexpr std::size_t kLastWriteTimeAt = 52;
    static constexpr std::size_t kSizeHighAt = 60;
    static constexpr std::size_t kSizeLowAt = 64;
    static constexpr std::size_t kShortNameAt = 68;
    static constexpr std::size_t kShortNameChars = 14; // 13 and the terminator
    static constexpr std::size_t kAuxTextAt = 96;
    static constexpr std::size_t kAuxTextChars = 16; // 15 and the terminator
    static constexpr std::size_t kSecurityIdAt = 128;
    static constexpr std::size_t kNameLengthAt = 132;
    static constexpr std::size_t kContentIdAt = 136;
    static constexpr std::size_t kNameAt = 144;
    // Blocks made here: the name, its NUL and 6 spare bytes behind the fixed part.
    static constexpr std::size_t kMadeBlockBase = 152;

    ListNodeData_FILEINFO();
    ~ListNodeData_FILEINFO() override;

    std::int32_t TypeCode() const override;
    void WriteText(FILE* stream) const override;
    void LogLine() const override;
    // By size when the other record's sort key is 1, else by name (lstrcmpiW).
    std::int32_t Compare(const ListNodeData* other) const override;
    std::int32_t Save(FILE* stream) const override;
    std::int32_t DataSize() const override;

    virtual bool MatchesFindData(const WIN32_FIND_DATAW& entry) const;
    virtual bool SameAs(const ListNodeData_FILEINFO* other, bool ignoreContentId) const;
    virtual bool IsOlderThan(const WIN32_FIND_DATAW& entry, bool& sameTime) const;
    // Translates the security id from the writer's table (source) into SharedSDPool. False,
    // and the block unchanged, when source has no text for an id of 1000 or more. Throws
    // std::bad_alloc when the text cannot be copied; no lock stays taken.
    [[nodiscard]] virtual bool AdoptSecurity(SortedLinkList_STR* source);
    // Size / unit, rounded toward zero; 0 for the unit 0.
    virtual std::int64_t SizeIn(std::uint32_t unit) const;
    virtual bool IsEmpty() const;

    // Gives the node a block of any stored version of blockBytes bytes (upgraded and checked as
    // the stream reader does). False, and the node unchanged, when the block is refused.
    [[nodiscard]] bool AdoptRecord(Block block, std::uint32_t blockBytes) noexcept;

    [[nodiscard]] const std::uint8_t* Record() const noexcept { return m_record.get(); }
    [[nodiscard]] const wchar_t* FileName() const noexcept;
    [[nodiscard]] const wchar_t* ShortName() const noexcept;
    [[nodiscard]] std::int32_t State() const noexcept;
    [[nodiscard]] std::uint32_t Attributes() const noexcept;
    [[nodiscard]] FILETIME LastWriteTime() const noexcept;
    [[nodiscard]] std::int64_t Size() const noexcept;
    [[nodiscard]] std::int32_t SecurityId() const noexcept;
    [[nodiscard]] std::uint64_t ContentId() const noexcept;
    // Name of a state value; "UNKNOWN(<value>)" outside 0 to 6.
    [[nodiscard]] static std::wstring StateName(std::int32_t state);

    // Stream reader for type code 3: a new node (reference count 0), or none when the block
    // cannot be read, has an unknown version or does not hold together.
    static ListNodeData* FromStream(FILE* stream) noexcept;

    // A new version 3 block from a directory entry; the text is interned into SharedSDPool.
    [[nodiscard]] static Block MakeFileRecord(const WIN32_FIND_DATAW& entry, const wchar_t* securityText,
                                              std::int32_t state) noexcept;
    // A checked version 3 block from a stored block of any version of blockBytes bytes, or none
    // (unknown version, or lengths that do not fit the block). Ownership passes in.
    [[nodiscard]] static Block UpgradeFileRecord(Block block, std::uint32_t blockBytes) noexcept;
    // The block's security-descriptor text in SharedSDPool, or none.
    [[nodiscard]] static const wchar_t* SecurityText(const std::uint8_t* block) noexcept;
    // True when a version 3 block of blockBytes bytes holds together.
    [[nodiscard]] static bool IsWellFormed(const std::uint8_t* block, std::size_t blockBytes) noexcept;

private:
    friend class SortedLinkList_FILEINFO;
    // A search key for FindFileByName: no block, no child list. It points at the caller's
    // name (none counts as ""), which outlives the key.
    ListNodeData_FILEINFO(SearchKeyTag tag, const wchar_t* lookupName) noexcept;

    [[nodiscard]] const wchar_t* KeyName() const noexcept;

    Block m_record;
    const wchar_t* m_lookupName = nullptr;
};

} // namespace Tallis::ImageUpdate
