#include "Win32FileSize.h"

#include <cwchar>

namespace Tallis::ImageUpdate {
namespace {
constexpr size_t kTextChars = 32;
constexpr ULONGLONG kKB = 1ull << 10;
constexpr ULONGLONG kMB = 1ull << 20;
constexpr ULONGLONG kGB = 1ull << 30;
} // namespace

CWin32FileSize::CWin32FileSize(DWORD sizeHigh, DWORD sizeLow) noexcept
    : m_text{}, m_sizeHigh(sizeHigh), m_sizeLow(sizeLow), m_size((ULONGLONG(sizeHigh) << 32) | sizeLow)
{
}

const wchar_t* CWin32FileSize::GetText() noexcept
{
    if (m_text[0] != L'\0')
        return m_text;
    // _snwprintf keeps the Microsoft runtime's formatting ("%f": six digits after the point).
    if (m_size >= kGB)
        _snwprintf(m_text, kTextChars, L"%f GB", double(m_size) / double(kGB));
    else if (m_size >= kMB)
        _snwprintf(m_text, kTextChars, L"%f MB", double(m_size) / double(kMB));
    else if (m_size >= kKB)
        _snwprintf(m_text, kTextChars, L"%f KB", double(m_size) / double(kKB));
    else
        _snwprintf(m_text, kTextChars, L"%d Bytes", int(m_size));
    m_text[kTextChars - 1] = L'\0';
    return m_text;
}

} // namespace Tallis::ImageUpdate
