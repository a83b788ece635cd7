#include "RawBytes.h"

#include <cstring>
#include <cwchar>

namespace Tallis::ImageUpdate {
namespace {
constexpr DWORD kHexBytes = 16;
constexpr size_t kWideChars = 120;
} // namespace

CRawBytes::CRawBytes(const void* bytes, DWORD length)
    : m_data(new BYTE[size_t(length) + 2]()), m_length(bytes ? length : 0), m_text{}
{
    if (m_length != 0)
        std::memcpy(m_data.get(), bytes, m_length);
}

const wchar_t* CRawBytes::GetHexText() noexcept
{
    m_text[0] = L'\0';
    const DWORD shown = m_length < kHexBytes ? m_length : kHexBytes;
    for (DWORD i = 0; i < shown; ++i)
        _snwprintf(m_text + 3 * i, kTextChars - 3 * i, L"%02X ", unsigned(m_data[i]));
    m_text[3 * shown] = L'\0';
    return m_text;
}

const wchar_t* CRawBytes::GetWideText() noexcept
{
    // Only whole characters of the copy are read: with an odd length the trailing zero bytes
    // do not line up with a character, so the read is bounded by length / 2 instead.
    const size_t available = m_length / 2;
    const size_t limit = available < kWideChars ? available : kWideChars;
    size_t n = 0;
    for (; n < limit; ++n) {
        wchar_t c;
        std::memcpy(&c, m_data.get() + 2 * n, sizeof c);
        if (c == L'\0')
            break;
        m_text[n] = c;
    }
    m_text[n] = L'\0';
    return m_text;
}

} // namespace Tallis::ImageUpdate
