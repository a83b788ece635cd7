#include "ListNodeData_GROUPINFO.h"

#include "BlockFields.h"
#include "DiagnosticLog.h"
#include "RecordStream.h"
#include "RecordTestSeams.h"
#include "TextCollation.h"
#include "WideTextOut.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <stdexcept>
#include <vector>

namespace Tallis::ImageUpdate {
namespace {

constexpr std::size_t kVersionAt = 0x00;
constexpr std::size_t kNameLengthAt = 0x04;
constexpr std::size_t kCommentLengthAt = 0x08;
constexpr std::size_t kMemberCountAt = 0x0C;
constexpr std::size_t kNameAt = 0x10;
// A SID without sub-authorities: revision, count, 6-byte authority.
constexpr std::uint32_t kSmallestSid = 8;

constexpr const wchar_t* kUnit = L"ListNodeData_GROUPINFO";

void* DefaultAllocate(std::size_t bytes)
{
    return std::malloc(bytes);
}

std::atomic<GroupAllocateFn> g_allocate{&DefaultAllocate};

// chars UTF-16 characters whose only NUL is the last one.
bool IsTerminatedText(const std::uint8_t* bytes, std::uint32_t chars) noexcept
{
    if (chars == 0)
        return false;
    for (std::uint32_t i = 0; i < chars; ++i) {
        const bool nul = bytes[2 * i] == 0 && bytes[2 * i + 1] == 0;
        if (nul != (i + 1 == chars))
            return false;
    }
    return true;
}

// A member is read only when its bytes are exactly one valid SID.
bool IsExactSid(const std::uint8_t* sid, std::uint32_t length) noexcept
{
    if (length < kSmallestSid || length > SECURITY_MAX_SID_SIZE)
        return false;
    // The sub-authority count decides how far IsValidSid reads: check it fits first.
    if (kSmallestSid + 4u * sid[1] != length)
        return false;
    PSID psid = const_cast<std::uint8_t*>(sid);
    return IsValidSid(psid) && GetLengthSid(psid) == length;
}

} // namespace

void SetGroupAllocatorForTest(GroupAllocateFn allocate) noexcept
{
    g_allocate = allocate ? allocate : &DefaultAllocate;
}

ListNodeData_GROUPINFO::ListNodeData_GROUPINFO(const wchar_t* name, const wchar_t* comment,
                                               std::uint32_t memberCount, const PSID* memberSids)
    : m_memberCount(memberCount)
{
    if (!name)
        name = L"";
    const std::size_t nameChars = std::wcslen(name) + 1;
    const std::size_t commentChars = comment ? std::wcslen(comment) + 1 : 0;
    std::uint64_t size = kHeaderSize + 2 * std::uint64_t(nameChars) + 2 * std::uint64_t(commentChars);
    for (std::uint32_t i = 0; i < memberCount; ++i)
        size += GetLengthSid(memberSids[i]) + 4u;

    const GroupAllocateFn allocate = g_allocate;
    if (memberCount != 0) {
        m_memberSids.reset(allocate(memberCount * sizeof(PSID)));
        if (!m_memberSids)
            throw std::runtime_error("Failed to allocate memory for SID list!");
    }
    if (size <= UINT32_MAX)
        m_record.reset(allocate(std::size_t(size)));
    if (!m_record)
        throw std::runtime_error("Failed to allocate memory for group info!");
    m_recordSize = std::uint32_t(size);

    auto* record = static_cast<std::uint8_t*>(m_record.get());
    BlockFields::StoreU32(record, kVersionAt, 0);
    BlockFields::StoreU32(record, kNameLengthAt, std::uint32_t(nameChars));
    BlockFields::StoreU32(record, kCommentLengthAt, std::uint32_t(commentChars));
    BlockFields::StoreU32(record, kMemberCountAt, memberCount);
    std::size_t at = kNameAt;
    std::memcpy(record + at, name, 2 * nameChars);
    m_name = reinterpret_cast<const wchar_t*>(record + at);
    at += 2 * nameChars;
    if (comment) {
        std::memcpy(record + at, comment, 2 * commentChars);
        m_comment = reinterpret_cast<const wchar_t*>(record + at);
        at += 2 * commentChars;
    }
    auto* sids = static_cast<PSID*>(m_memberSids.get());
    for (std::uint32_t i = 0; i < memberCount; ++i) {
        const DWORD sidLength = GetLengthSid(memberSids[i]);
        BlockFields::StoreU32(record, at, sidLength);
        at += 4;
        std::memcpy(record + at, memberSids[i], sidLength);
        sids[i] = record + at;
        at += sidLength;
    }
}

PSID ListNodeData_GROUPINFO::MemberSid(std::uint32_t index) const noexcept
{
    return index < m_memberCount ? static_cast<PSID*>(m_memberSids.get())[index] : nullptr;
}

std::int32_t ListNodeData_GROUPINFO::TypeCode() const
{
    return kTypeCode;
}

void ListNodeData_GROUPINFO::WriteText(FILE* stream) const
{
    WriteWideText(stream, L"[%s]\n", m_name);
    if (m_comment)
        WriteWideText(stream, L"Comment      : %s\n", m_comment);
    WriteWideText(stream, L"Member count : %d\n", std::int32_t(m_memberCount));
}

void ListNodeData_GROUPINFO::LogLine() const
{
    KVO_LOG(LOG_INFO, kUnit, L"Group name:%s, Comments:%s, MemberCount: %d", m_name, m_comment ? m_comment : L"-",
            std::int32_t(m_memberCount));
}

std::int32_t ListNodeData_GROUPINFO::Compare(const ListNodeData* other) const
{
    const wchar_t* otherName = L"";
    if (other && other->TypeCode() == kTypeCode)
        otherName = static_cast<const ListNodeData_GROUPINFO*>(other)->m_name;
    return CompareTextsNoCase(m_name, otherName);
}

std::int32_t ListNodeData_GROUPINFO::Save(FILE* stream) const
{
    if (!WriteValue(stream, m_recordSize))
        return -1;
    if (std::fwrite(m_record.get(), 1, m_recordSize, stream) != m_recordSize)
        return -1;
    return 0;
}

std::int32_t ListNodeData_GROUPINFO::DataSize() const
{
    return std::int32_t(m_recordSize);
}

ListNodeData* ListNodeData_GROUPINFO::FromStream(FILE* stream) noexcept
{
    try {
        return ReadGroup(stream);
    } catch (...) {
        // The constructor's allocation failures, and those of the buffers read here.
        return nullptr;
    }
}

ListNodeData* ListNodeData_GROUPINFO::ReadGroup(FILE* stream)
{
    std::uint32_t size = 0;
    std::uint8_t header[kHeaderSize];
    if (!ReadValue(stream, size) || !ReadExact(stream, header, sizeof header))
        return nullptr;
    const std::uint32_t nameChars = BlockFields::LoadU32(header, kNameLengthAt);
    const std::uint32_t commentChars = BlockFields::LoadU32(header, kCommentLengthAt);
    const std::uint32_t memberCount = BlockFields::LoadU32(header, kMemberCountAt);

    std::uint64_t used = kHeaderSize + 2 * std::uint64_t(nameChars);
    if (used > size)
        return nullptr;
    std::unique_ptr<std::uint8_t[]> name = ReadBlock(stream, 2 * nameChars);
    if (!name || !IsTerminatedText(name.get(), nameChars))
        return nullptr;

    std::unique_ptr<std::uint8_t[]> comment;
    if (commentChars != 0) {
        if (used + 2 * std::uint64_t(commentChars) > size)
            return nullptr;
        comment = ReadBlock(stream, 2 * commentChars);
        if (!comment || !IsTerminatedText(comment.get(), commentChars))
            return nullptr;
        used += 2 * std::uint64_t(commentChars);
    }

    // Each member takes its length word and at least the smallest SID.
    if (memberCount > (size - used) / (4 + kSmallestSid))
        return nullptr;
    std::vector<std::unique_ptr<std::uint8_t[]>> sidBuffers;
    std::vector<PSID> sids;
    for (std::uint32_t i = 0; i < memberCount; ++i) {
        std::uint32_t sidLength = 0;
        if (!ReadValue(stream, sidLength))
            return nullptr;
        used += 4;
        if (used + sidLength > size || sidLength < kSmallestSid || sidLength > SECURITY_MAX_SID_SIZE)
            return nullptr;
        std::unique_ptr<std::uint8_t[]> sid = ReadBlock(stream, sidLength);
        if (!sid || !IsExactSid(sid.get(), sidLength))
            return nullptr;
        used += sidLength;
        sids.push_back(sid.get());
        sidBuffers.push_back(std::move(sid));
    }
    // Bytes the header does not describe would be read as the next record: refuse them.
    if (used != size)
        return nullptr;

    return new ListNodeData_GROUPINFO(reinterpret_cast<const wchar_t*>(name.get()),
                                      reinterpret_cast<const wchar_t*>(comment.get()), memberCount, sids.data());
}

} // namespace Tallis::ImageUpdate
