#include "ListNodeData_STR.h"

#include "RecordStream.h"
#include "TextCollation.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

namespace Tallis::ImageUpdate {
namespace {

// Constant-initialised, so it works for string nodes made during static initialisation too.
SRWLOCK g_idLock = SRWLOCK_INIT;
std::int32_t g_lastId = 1000;

constexpr std::uint32_t kMinimumLength = 6; // the id and one NUL character

} // namespace

std::int32_t NextStringId() noexcept
{
    AcquireSRWLockExclusive(&g_idLock);
    const std::int32_t id = ++g_lastId;
    ReleaseSRWLockExclusive(&g_idLock);
    return id;
}

ListNodeData_STR::ListNodeData_STR(const wchar_t* text)
{
    if (text) {
        Adopt(DuplicateText(text));
        m_id = NextStringId();
    }
}

ListNodeData_STR::ListNodeData_STR(BorrowTag, const wchar_t* text) noexcept
    : ListNodeData(SearchKeyTag{}), m_text(text)
{
}

ListNodeData_STR::~ListNodeData_STR() = default;

void ListNodeData_STR::Adopt(std::unique_ptr<wchar_t[]> text) noexcept
{
    m_ownedText = std::move(text);
    m_text = m_ownedText.get();
}

std::int32_t ListNodeData_STR::TypeCode() const
{
    return kTypeCode;
}

void ListNodeData_STR::WriteText(FILE*) const {}

void ListNodeData_STR::LogLine() const {}

std::int32_t ListNodeData_STR::Compare(const ListNodeData* other) const
{
    const wchar_t* otherText = nullptr;
    if (other && other->TypeCode() == kTypeCode)
        otherText = static_cast<const ListNodeData_STR*>(other)->m_text;
    return CompareTextsNoCase(m_text ? m_text : L"", otherText ? otherText : L"");
}

std::int32_t ListNodeData_STR::DataSize() const
{
    if (!m_text)
        return 6;
    return std::int32_t(4 + 2 * (std::wcslen(m_text) + 1));
}

std::int32_t ListNodeData_STR::Save(FILE* stream) const
{
    const std::uint32_t length = std::uint32_t(DataSize());
    if (!WriteValue(stream, length))
        return -1;
    if (!WriteValue(stream, m_id))
        return -1;
    static const wchar_t kNul = L'\0';
    const wchar_t* text = m_text ? m_text : &kNul;
    const size_t textBytes = length - 4;
    if (std::fwrite(text, 1, textBytes, stream) != textBytes)
        return -1;
    return 0;
}

void* ListNodeData_STR::GetUserData() const
{
    return m_userData;
}

void ListNodeData_STR::SetUserData(void* userData)
{
    m_userData = userData;
}

ListNodeData* ListNodeData_STR::FromStream(FILE* stream) noexcept
{
    std::uint32_t length = 0;
    if (!ReadValue(stream, length))
        return nullptr;
    std::int32_t id = kNoId;
    if (!ReadValue(stream, id))
        return nullptr;
    // Rejected rather than repaired: no node may hold a text without its terminator.
    if (length < kMinimumLength || length % 2 != 0)
        return nullptr;
    const std::uint32_t textBytes = length - 4;
    std::unique_ptr<std::uint8_t[]> block = ReadBlock(stream, textBytes);
    if (!block)
        return nullptr;
    wchar_t last;
    std::memcpy(&last, block.get() + textBytes - sizeof last, sizeof last);
    if (last != L'\0')
        return nullptr;
    try {
        std::unique_ptr<ListNodeData_STR> node(new ListNodeData_STR());
        node->m_id = id;
        node->Adopt(DuplicateText(reinterpret_cast<const wchar_t*>(block.get())));
        return node.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace Tallis::ImageUpdate
