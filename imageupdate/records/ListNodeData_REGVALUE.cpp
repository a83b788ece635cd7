#include "ListNodeData_REGVALUE.h"

#include "BlockFields.h"
#include "DiagnosticLog.h"
#include "RawBytes.h"
#include "RecordStream.h"
#include "RecordTestSeams.h"
#include "TextCollation.h"
#include "WideTextOut.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <new>

namespace Tallis::ImageUpdate {
namespace {

constexpr std::size_t kSizeAt = 0x04;
constexpr std::size_t kConflictAt = 0x0C;
constexpr std::size_t kDigestAt = 0x10;
constexpr std::size_t kDigestBytes = 16;
constexpr std::size_t kStateAt = 0x20;
constexpr std::size_t kTypeAt = 0x24;
constexpr std::size_t kDataSizeAt = 0x28;
constexpr std::size_t kDataAt = 0x2C;

constexpr const wchar_t* kUnit = L"ListNodeData_REGVALUE";
constexpr const wchar_t* kNameUnit = L"imageupdate_lib\\ListNodeData_REGVALUE";

std::atomic<unsigned> g_recordOffsetForTest{0};

// The value name follows the data and a filler byte that keeps it at an even offset.
std::uint64_t NameOffset(std::uint32_t dataSize) noexcept
{
    return kDataAt + std::uint64_t(dataSize) + (dataSize & 1u);
}

const wchar_t* StateName(std::uint32_t state) noexcept
{
    static const wchar_t* const kNames[] = {L"IGNORED", L"NEW", L"CHANGED", L"REMOVED"};
    return state < 4 ? kNames[state] : L"UNKNOWN";
}

// Version, size field and fixed part are checked by ReadSizedBlock; the data must fit and the
// value name end with a NUL inside the block.
bool HasTerminatedName(const std::uint8_t* block, std::uint32_t length) noexcept
{
    const std::uint64_t nameAt = NameOffset(BlockFields::LoadU32(block, kDataSizeAt));
    return nameAt <= length && BlockFields::IsTerminated(block, std::size_t(nameAt), (length - nameAt) / 2);
}

} // namespace

void SetValueRecordOffsetForTest(unsigned offset) noexcept
{
    g_recordOffsetForTest = offset;
}

std::uint32_t ListNodeData_REGVALUE::Field(std::size_t offset) const noexcept
{
    return m_record ? BlockFields::LoadU32(m_record, offset) : 0;
}

std::uint32_t ListNodeData_REGVALUE::State() const noexcept { return Field(kStateAt); }
std::uint32_t ListNodeData_REGVALUE::ValueType() const noexcept { return Field(kTypeAt); }
std::uint32_t ListNodeData_REGVALUE::ValueDataSize() const noexcept { return Field(kDataSizeAt); }

const std::uint8_t* ListNodeData_REGVALUE::NamePlace() const noexcept
{
    return m_record ? m_record + NameOffset(ValueDataSize()) : nullptr;
}

const wchar_t* ListNodeData_REGVALUE::GetValueName() const noexcept
{
    if (m_cachedName)
        return m_cachedName.get();
    return reinterpret_cast<const wchar_t*>(NamePlace());
}

void ListNodeData_REGVALUE::CopyUnalignedName()
{
    const std::uint8_t* place = NamePlace();
    if (!place || m_cachedName || reinterpret_cast<std::uintptr_t>(place) % alignof(wchar_t) == 0)
        return;
    KVO_LOG(LOG_ERROR, kNameUnit, L"Unaligned value name buffer!!!!");
    // The reader made sure that a NUL ends the name inside the record.
    std::size_t chars = 0;
    while (place[2 * chars] != 0 || place[2 * chars + 1] != 0)
        ++chars;
    auto copy = std::make_unique<wchar_t[]>(chars + 1);
    std::memcpy(copy.get(), place, 2 * chars);
    copy[chars] = L'\0';
    m_cachedName = std::move(copy);
}

std::int32_t ListNodeData_REGVALUE::TypeCode() const
{
    return kTypeCode;
}

void ListNodeData_REGVALUE::WriteText(FILE* stream) const
{
    if (!m_record)
        return;
    const std::uint32_t state = State();
    const std::uint32_t type = ValueType();
    const std::uint32_t dataSize = ValueDataSize();
    WriteWideText(stream, L"Value Name  : %s\n", GetValueName());
    WriteWideText(stream, L"State       : %s\n", StateName(state));
    WriteWideText(stream, L"Action-Conflict      : %d\n", std::int32_t(Field(kConflictAt)));
    WriteWideText(stream, L"Data Size            : %d\n", std::int32_t(dataSize));
    WriteWideText(stream, L"Data Type            : %d\n", std::int32_t(type));
    CRawBytes data(m_record + kDataAt, dataSize);
    const bool text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    WriteWideText(stream, L"Data Bytes            : %s\n", text ? data.GetWideText() : data.GetHexText());
    CRawBytes digest(m_record + kDigestAt, kDigestBytes);
    WriteWideText(stream, L"Data Bytes Prev (MD5): %s\n", digest.GetHexText());
    WriteWideText(stream, L"\n");
}

void ListNodeData_REGVALUE::LogLine() const
{
    if (!m_record)
        return;
    KVO_LOG(LOG_INFO, kUnit, L"Registry Value Name : %s, Type : %d, Size : %d, State : %s",
            reinterpret_cast<const wchar_t*>(NamePlace()), std::int32_t(ValueType()), std::int32_t(ValueDataSize()),
            StateName(State()));
}

std::int32_t ListNodeData_REGVALUE::Compare(const ListNodeData* other) const
{
    const wchar_t* otherName = nullptr;
    if (other && other->TypeCode() == kTypeCode)
        otherName = reinterpret_cast<const wchar_t*>(static_cast<const ListNodeData_REGVALUE*>(other)->NamePlace());
    const wchar_t* ownName = reinterpret_cast<const wchar_t*>(NamePlace());
    return CompareTextsNoCase(ownName ? ownName : L"", otherName ? otherName : L"");
}

std::int32_t ListNodeData_REGVALUE::Save(FILE* stream) const
{
    if (!m_record)
        return -1;
    const std::uint32_t length = std::uint32_t(DataSize());
    if (!WriteValue(stream, length))
        return -1;
    if (std::fwrite(m_record, 1, length, stream) != length)
        return -1;
    return 0;
}

std::int32_t ListNodeData_REGVALUE::DataSize() const
{
    return std::int32_t(Field(kSizeAt));
}

bool ListNodeData_REGVALUE::SameData(const ListNodeData_REGVALUE* other) const
{
    if (!other || !m_record || !other->m_record)
        return false;
    const std::uint32_t size = ValueDataSize();
    if (size != other->ValueDataSize() || ValueType() != other->ValueType())
        return false;
    return size == 0 || std::memcmp(m_record + kDataAt, other->m_record + kDataAt, size) == 0;
}

ListNodeData* ListNodeData_REGVALUE::FromStream(FILE* stream) noexcept
{
    const unsigned offset = g_recordOffsetForTest;
    std::uint32_t length = 0;
    std::unique_ptr<std::uint8_t[]> block = ReadSizedBlock(stream, std::uint32_t(kDataAt), kVersion, length, offset);
    if (!block || !HasTerminatedName(block.get(), length))
        return nullptr;
    try {
        std::unique_ptr<ListNodeData_REGVALUE> node(new ListNodeData_REGVALUE());
        if (offset != 0) {
            std::memmove(block.get() + offset, block.get(), length);
            node->m_storage = std::move(block);
            node->m_record = node->m_storage.get() + offset;
        } else {
            node->m_storage = std::move(block);
            node->m_record = node->m_storage.get();
        }
        node->CopyUnalignedName();
        // Lets the list's FindByName find values by value name.
        node->SetName(node->GetValueName());
        return node.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace Tallis::ImageUpdate
