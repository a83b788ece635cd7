#include "ListNodeData_REGKEYINFO.h"

#include "BlockFields.h"
#include "DiagnosticLog.h"
#include "ListNodeData_REGVALUE.h"
#include "RecordStream.h"
#include "SortedLinkList.h"
#include "TextCollation.h"
#include "WideTextOut.h"

#include <windows.h>

#include <climits>

namespace Tallis::ImageUpdate {
namespace {

constexpr std::size_t kSizeAt = 0x04;
constexpr std::size_t kConflictAt = 0x0C;
constexpr std::size_t kStateAt = 0x18;
constexpr std::size_t kPathAt = 0x20;
// The fixed part and at least the path's terminator.
constexpr std::uint32_t kMinimumLength = kPathAt + 2;

constexpr const wchar_t* kUnit = L"ListNodeData_REGKEYINFO";

thread_local int t_nesting = 0;

const wchar_t* StateName(std::uint32_t state) noexcept
{
    static const wchar_t* const kNames[] = {L"IGNORED", L"NEW", L"CHANGED", L"REMOVED", L"CREATE"};
    return state < 5 ? kNames[state] : L"UNKNOWN";
}

ListNodeData_REGVALUE* AsValue(ListNodeData* node) noexcept
{
    return node && node->TypeCode() == ListNodeData_REGVALUE::kTypeCode ? static_cast<ListNodeData_REGVALUE*>(node)
                                                                          : nullptr;
}

struct NestingGuard {
    NestingGuard() noexcept { ++t_nesting; }
    ~NestingGuard() { --t_nesting; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
};

} // namespace

ListNodeData_REGKEYINFO::ListNodeData_REGKEYINFO() = default;

// The value list goes first (its destructor releases the values), then the record.
ListNodeData_REGKEYINFO::~ListNodeData_REGKEYINFO() = default;

std::uint32_t ListNodeData_REGKEYINFO::Field(std::size_t offset) const noexcept
{
    return m_record ? BlockFields::LoadU32(m_record.get(), offset) : 0;
}

const wchar_t* ListNodeData_REGKEYINFO::Path() const noexcept
{
    return m_record ? BlockFields::TextAt(m_record.get(), kPathAt) : nullptr;
}

std::uint32_t ListNodeData_REGKEYINFO::State() const noexcept
{
    return Field(kStateAt);
}

std::int32_t ListNodeData_REGKEYINFO::TypeCode() const
{
    return kTypeCode;
}

void ListNodeData_REGKEYINFO::WriteText(FILE* stream) const
{
    if (!m_record)
        return;
    WriteWideText(stream, L"[%s]\n", Path());
    WriteWideText(stream, L"State     : %s\n", StateName(State()));
    WriteWideText(stream, L"Action-Conflict    : %d\n", std::int32_t(Field(kConflictAt)));
    WriteWideText(stream, L"\n\n");
    if (m_values)
        m_values->WriteText(stream);
}

void ListNodeData_REGKEYINFO::LogLine() const
{
    if (!m_record)
        return;
    KVO_LOG(LOG_INFO, kUnit, L"KEY >> %s, State:%d", Path(), std::int32_t(State()));
    if (m_values)
        m_values->LogAll();
}

std::int32_t ListNodeData_REGKEYINFO::Compare(const ListNodeData* other) const
{
    const wchar_t* otherPath = nullptr;
    if (other && other->TypeCode() == kTypeCode)
        otherPath = static_cast<const ListNodeData_REGKEYINFO*>(other)->Path();
    const wchar_t* ownPath = Path();
    const int result = CompareTextsNoCase(ownPath ? ownPath : L"", otherPath ? otherPath : L"");
    return result > 0 ? -1 : (result < 0 ? 1 : 0);
}

std::int32_t ListNodeData_REGKEYINFO::Save(FILE* stream) const
{
    if (!m_record || !m_values)
        return -1;
    const std::uint32_t length = Field(kSizeAt);
    if (!WriteValue(stream, length))
        return -1;
    if (std::fwrite(m_record.get(), 1, length, stream) != length)
        return -1;
    return m_values->Save(stream);
}

std::int64_t ListNodeData_REGKEYINFO::DataSize64() const
{
    return std::int64_t(Field(kSizeAt)) + (m_values ? m_values->DataSize() : 0);
}

std::int32_t ListNodeData_REGKEYINFO::DataSize() const
{
    const std::int64_t size = DataSize64();
    return size > INT32_MAX ? INT32_MAX : (size < INT32_MIN ? INT32_MIN : std::int32_t(size));
}

ListNodeData_REGVALUE* ListNodeData_REGKEYINFO::FindValue(const wchar_t* name) const
{
    if (!m_values)
        return nullptr;
    // A walk of its own: readers of the key's list look values up at once.
    SortedLinkList::Link* position = nullptr;
    std::int32_t index = 0;
    for (ListNodeData* node = m_values->FirstAt(position, index); node; node = m_values->NextAt(position, index)) {
        ListNodeData_REGVALUE* value = AsValue(node);
        if (!value)
            break;
        const wchar_t* valueName = value->GetValueName();
        if (CompareTextsNoCase(valueName ? valueName : L"", name ? name : L"") == 0)
            return value;
    }
    return nullptr;
}

ListNodeData_REGVALUE* ListNodeData_REGKEYINFO::FirstValue()
{
    return m_values ? AsValue(m_values->First()) : nullptr;
}

ListNodeData_REGVALUE* ListNodeData_REGKEYINFO::NextValue()
{
    return m_values ? AsValue(m_values->Next()) : nullptr;
}

ListNodeData* ListNodeData_REGKEYINFO::FromStream(FILE* stream) noexcept
{
    if (t_nesting >= kMaxNesting)
        return nullptr;
    const NestingGuard nested;
    try {
        std::unique_ptr<ListNodeData_REGKEYINFO> node(new ListNodeData_REGKEYINFO());
        std::uint32_t length = 0;
        node->m_record = ReadSizedBlock(stream, kMinimumLength, kVersion, length);
        // The path must end with a NUL inside the block.
        if (!node->m_record || !BlockFields::IsTerminated(node->m_record.get(), kPathAt, (length - kPathAt) / 2))
            return nullptr;
        node->m_values = std::make_unique<SortedLinkList>();
        // A value list that is not read whole leaves the stream inside it: the key is refused,
        // so the outer list stops instead of reading value records as records of its own.
        if (node->m_values->Load(stream) != 0)
            return nullptr;
        return node.release();
    } catch (...) {
        return nullptr;
    }
}

} // namespace Tallis::ImageUpdate
