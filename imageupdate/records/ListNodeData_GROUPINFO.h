#pragma once
// The group record (type code 12): a group's name, an optional comment and the SIDs of its
// members, in one record the node builds itself; lists of them are ordered by group name.
#include "ListNodeData.h"
#include "UniqueHandles.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

namespace Tallis::ImageUpdate {

// Readers at once, under the lock of the record's list: every call (the record never changes once built).
class ListNodeData_GROUPINFO : public ListNodeData {
public:
    static constexpr std::int32_t kTypeCode = 12;
    static constexpr std::uint32_t kHeaderSize = 16;

    // Builds the record from the parts (comment may be none). Throws std::runtime_error with
    // "Failed to allocate memory for SID list!" or "Failed to allocate memory for group info!"
    // when an allocation fails.
    ListNodeData_GROUPINFO(const wchar_t* name, const wchar_t* comment, std::uint32_t memberCount,
                           const PSID* memberSids);
    ~ListNodeData_GROUPINFO() override = default;

    std::int32_t TypeCode() const override;
    void WriteText(FILE* stream) const override;
    void LogLine() const override;
    // lstrcmpiW of the group names (ascending).
    std::int32_t Compare(const ListNodeData* other) const override;
    // Record size, then the record.
    std::int32_t Save(FILE* stream) const override;
    std::int32_t DataSize() const override;

    [[nodiscard]] const wchar_t* Name() const noexcept { return m_name; }
    [[nodiscard]] const wchar_t* Comment() const noexcept { return m_comment; }
    [[nodiscard]] std::uint32_t MemberCount() const noexcept { return m_memberCount; }
    [[nodiscard]] PSID MemberSid(std::uint32_t index) const noexcept;
    [[nodiscard]] std::uint32_t RecordSize() const noexcept { return m_recordSize; }

    // Stream reader for type code 12: a new node, or none when the record cannot be read, does
    // not hold together (texts without their terminator, members that are not valid SIDs of
    // their stored length, or contents that do not add up to the stored size) or memory runs
    // out.
    static ListNodeData* FromStream(FILE* stream) noexcept;

private:
    static ListNodeData* ReadGroup(FILE* stream);

    const wchar_t* m_name = nullptr;
    const wchar_t* m_comment = nullptr;
    unique_block m_memberSids;
    unique_block m_record;
    std::uint32_t m_recordSize = 0;
    std::uint32_t m_memberCount = 0;
};

} // namespace Tallis::ImageUpdate
